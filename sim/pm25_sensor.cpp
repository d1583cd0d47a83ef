#include "pm25_sensor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vrsim {

namespace {

constexpr uint16_t kReadItem = 0x0F24;
constexpr uint16_t kWriteItem = 0x0F25;
constexpr uint8_t kMeasurement = 0x01;
constexpr uint8_t kControl = 0x02;
constexpr uint8_t kIdentity = 0x03;
// Catching up after a long silence: the walk's last steps are all that
// matter, and a bounded loop keeps a reply prompt.
constexpr unsigned kMaxStepsPerReply = 1000;

std::string number(double v, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string list(std::initializer_list<std::string> fields) {
    std::string out;
    for (const std::string& f : fields) out += (out.empty() ? "" : ",") + f;
    return out;
}

Reply text_reply(const std::string& text) { return Reply::ok(Bytes(text.begin(), text.end())); }

}  // namespace

Pm25Sensor::Pm25Sensor(uint64_t seed) : rng_(seed), last_step_(Clock::now()) {
    now_ = {};
    now_.pm25 = 35;
    now_.temperature = 22.5;
    now_.humidity = 45;
    step_locked();
}

void Pm25Sensor::seed(uint64_t seed) {
    std::lock_guard hold(mutex_);
    rng_.seed(seed);
}

// One step of the walk: PM2.5 wanders (reflected inside 1..500); the shares
// of PM1.0 (60-80 %) and PM10 (120-180 %) drift slowly; counts follow the
// masses.
void Pm25Sensor::step_locked() {
    std::normal_distribution<double> mass_step(0.0, 2.0);
    std::normal_distribution<double> temperature_step(0.0, 0.1);
    std::normal_distribution<double> humidity_step(0.0, 0.4);
    std::normal_distribution<double> share_step(0.0, 0.01);
    Sample& s = now_;
    s.pm25 += mass_step(rng_);
    if (s.pm25 < 1) s.pm25 = 2 - s.pm25;
    if (s.pm25 > 500) s.pm25 = 1000 - s.pm25;
    s.pm25 = std::round(s.pm25 * 10) / 10;
    fine_share_ = std::clamp(fine_share_ + share_step(rng_), 0.6, 0.8);
    coarse_factor_ = std::clamp(coarse_factor_ + share_step(rng_), 1.2, 1.8);
    s.pm1 = std::round(s.pm25 * fine_share_ * 10) / 10;
    s.pm10 = std::round(s.pm25 * coarse_factor_ * 10) / 10;
    s.pm1_n = static_cast<unsigned>(s.pm1 * 60);
    s.pm25_n = s.pm1_n + static_cast<unsigned>((s.pm25 - s.pm1) * 25);
    s.pm10_n = s.pm25_n + static_cast<unsigned>((s.pm10 - s.pm25) * 4);
    s.temperature = std::clamp(s.temperature + temperature_step(rng_), 10.0, 35.0);
    s.humidity = std::clamp(s.humidity + humidity_step(rng_), 20.0, 90.0);
    s.adc = static_cast<uint8_t>(std::min(255.0, s.pm25 * 255 / 500));
}

Pm25Sensor::Sample Pm25Sensor::advance_locked() {
    const auto now = Clock::now();
    const auto period = std::chrono::milliseconds(std::max<uint16_t>(transform_ms_, 1));
    unsigned steps = 0;
    while (now - last_step_ >= period && steps < kMaxStepsPerReply) {
        step_locked();
        last_step_ += period;
        ++steps;
    }
    if (now - last_step_ >= period) last_step_ = now;
    return now_;
}

Pm25Sensor::Sample Pm25Sensor::sample() {
    std::lock_guard hold(mutex_);
    return advance_locked();
}

Reply Pm25Sensor::measurement_locked(uint8_t item) {
    if (power_ == Power::low_power) return Reply::none();
    if (power_ == Power::halted) return Reply::error(status::general);
    if (auto it = spoiled_.find(item); it != spoiled_.end() && !it->second.empty()) {
        const std::string text = it->second.front();
        it->second.pop_front();
        ++measurements_;
        return text_reply(text);
    }
    const Sample s = advance_locked();
    std::string text;
    switch (item) {
    case 0x01: text = number(s.temperature, 1); break;
    case 0x02: text = number(s.humidity, 1); break;
    case 0x03: text = number(s.pm25, 1); break;
    case 0x04: text = number(s.pm10, 1); break;
    case 0x05: ++measurements_; return Reply::ok({s.adc});
    case 0x06: text = number(s.pm1, 1); break;
    case 0x0A:
        text = list({number(s.pm1, 1), number(s.pm25, 1), number(s.pm10, 1), number(s.temperature, 1),
                     number(s.humidity, 1)});
        break;
    case 0x13: text = std::to_string(s.pm25_n); break;
    case 0x14: text = std::to_string(s.pm10_n); break;
    case 0x16: text = std::to_string(s.pm1_n); break;
    case 0x1A:
        text = list({std::to_string(s.pm1_n), std::to_string(s.pm25_n), std::to_string(s.pm10_n),
                     number(s.temperature, 1), number(s.humidity, 1)});
        break;
    default: return Reply::error(status::bad_argument);
    }
    ++measurements_;
    return text_reply(text);
}

Reply Pm25Sensor::control_read_locked(uint8_t item) const {
    if (power_ == Power::low_power) return Reply::none();
    switch (item) {
    case 0x01: return Reply::ok({static_cast<uint8_t>(transform_ms_ >> 8), static_cast<uint8_t>(transform_ms_)});
    case 0x02: return Reply::ok({work_mode_});
    default: return Reply::error(status::bad_argument);
    }
}

Reply Pm25Sensor::identity_locked(uint8_t item) const {
    switch (item) {
    case 0x01: return Reply::ok({kType & 0xFF, kType >> 8});
    case 0x02: return Reply::ok({kVersion & 0xFF, kVersion >> 8});
    case 0x03: return Reply::ok(Bytes(uid.begin(), uid.end()));
    default: return Reply::error(status::bad_argument);
    }
}

Reply Pm25Sensor::read_item(const Request& request) {
    if (request.data.size() != 2) return Reply::error(status::bad_argument);
    std::lock_guard hold(mutex_);
    const uint8_t item = request.data[0];
    switch (request.data[1]) {
    case kMeasurement: return measurement_locked(item);
    case kControl: return control_read_locked(item);
    case kIdentity: return identity_locked(item);
    default: return Reply::error(status::bad_argument);
    }
}

Reply Pm25Sensor::write_item(const Request& request) {
    const Bytes& d = request.data;
    if (d.size() < 3 || d[1] != kControl) return Reply::error(status::bad_argument);
    std::lock_guard hold(mutex_);
    switch (d[0]) {
    case 0x03:  // power
        if (d.size() != 3) return Reply::error(status::bad_argument);
        switch (d[2]) {
        case 0x02:
            if (power_ != Power::running) last_step_ = Clock::now();
            power_ = Power::running;
            return Reply::ok();
        case 0x03: power_ = Power::halted; return Reply::ok();
        case 0x04: power_ = Power::low_power; return Reply::ok();
        default: return Reply::error(status::bad_argument);
        }
    case 0x01:  // transform time, low byte first
        if (power_ == Power::low_power) return Reply::none();
        if (d.size() != 4) return Reply::error(status::bad_argument);
        transform_ms_ = static_cast<uint16_t>(d[2] | d[3] << 8);
        return Reply::ok();
    case 0x02:  // work mode
        if (power_ == Power::low_power) return Reply::none();
        if (d.size() != 3) return Reply::error(status::bad_argument);
        work_mode_ = d[2];
        return Reply::ok();
    default: return Reply::error(status::bad_argument);
    }
}

Pm25Sensor::Power Pm25Sensor::power() const {
    std::lock_guard hold(mutex_);
    return power_;
}

void Pm25Sensor::set_power(Power power) {
    std::lock_guard hold(mutex_);
    power_ = power;
}

uint16_t Pm25Sensor::transform_time() const {
    std::lock_guard hold(mutex_);
    return transform_ms_;
}

uint8_t Pm25Sensor::work_mode() const {
    std::lock_guard hold(mutex_);
    return work_mode_;
}

void Pm25Sensor::spoil(uint8_t item, std::string text, unsigned count) {
    std::lock_guard hold(mutex_);
    for (unsigned i = 0; i < count; ++i) spoiled_[item].push_back(text);
}

unsigned Pm25Sensor::measurements() const {
    std::lock_guard hold(mutex_);
    return measurements_;
}

void install_pm25_commands(Firmware& firmware, std::shared_ptr<Pm25Sensor> sensor) {
    firmware.add_command(kReadItem, [sensor](FirmwareState&, const Request& r) { return sensor->read_item(r); });
    firmware.add_command(kWriteItem, [sensor](FirmwareState&, const Request& r) { return sensor->write_item(r); });
    firmware.set_sensor(std::move(sensor));
}

}  // namespace vrsim
