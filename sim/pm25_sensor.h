// The PM2.5 sensor accessory: what the device behind the link answers when
// it is a sensor instead of a card reader. It answers reader command
// 0x0F24 (read an item) and 0x0F25 (write one), the first two data bytes
// naming the item and its group (1 measurement, 2 control, 3 identity).
//
// Its readings follow a seeded random walk: a new sample every transform
// time (milliseconds of the sensor's clock), PM10 >= PM2.5 >= PM1.0, the
// particle counts made from the masses, temperature and humidity drifting
// slowly. Halted, it answers measurements with the reader's general error;
// in ultra-low-power its measuring part sleeps and measurement and setting
// items get no answer at all. A restart (power item 2) wakes it; identity
// and power items are always answered.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <string>

#include "firmware.h"
#include "wire.h"

namespace vrsim {

class Pm25Sensor {
public:
    enum class Power { running, halted, low_power };

    struct Sample {
        double pm1, pm25, pm10;           // µg/m³
        unsigned pm1_n, pm25_n, pm10_n;   // particles per 0.1 l
        double temperature, humidity;     // °C, %
        uint8_t adc;
    };

    static constexpr uint16_t kType = 257;
    static constexpr uint16_t kVersion = 0x0102;

    explicit Pm25Sensor(uint64_t seed = 1);

    // 0x0F24 and 0x0F25.
    [[nodiscard]] Reply read_item(const Request& request);
    [[nodiscard]] Reply write_item(const Request& request);

    // ---- for the control channel and tests (thread-safe)
    [[nodiscard]] Power power() const;
    void set_power(Power power);
    [[nodiscard]] uint16_t transform_time() const;
    [[nodiscard]] uint8_t work_mode() const;
    // The sample the next measurement reports (the walk moved on to now).
    [[nodiscard]] Sample sample();
    void seed(uint64_t seed);
    // Measurement item `item` answers `text` instead of its reading, the
    // next `count` times (a sensor whose measuring part talks nonsense).
    void spoil(uint8_t item, std::string text, unsigned count);
    // How many measurement items were answered (readings taken).
    [[nodiscard]] unsigned measurements() const;
    std::array<uint8_t, 8> uid{0x50, 0x4D, 0x32, 0x35, 0x00, 0x00, 0x00, 0x01};

private:
    using Clock = std::chrono::steady_clock;
    Sample advance_locked();
    void step_locked();
    Reply measurement_locked(uint8_t item);
    Reply control_read_locked(uint8_t item) const;
    Reply identity_locked(uint8_t item) const;

    mutable std::mutex mutex_;
    std::mt19937_64 rng_;
    Power power_ = Power::running;
    uint16_t transform_ms_ = 1000;
    uint8_t work_mode_ = 0;
    Sample now_{};
    double fine_share_ = 0.7;     // PM1.0 / PM2.5
    double coarse_factor_ = 1.5;  // PM10 / PM2.5
    Clock::time_point last_step_;
    std::map<uint8_t, std::deque<std::string>> spoiled_;
    unsigned measurements_ = 0;
};

// Makes the firmware's device a PM2.5 sensor: 0x0F24 and 0x0F25 go to it
// (the link's own commands and the power commands stay the reader's).
void install_pm25_commands(Firmware& firmware, std::shared_ptr<Pm25Sensor> sensor);

}  // namespace vrsim
