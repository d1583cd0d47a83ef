// The control channel's accessory commands:
//
//   accessory pm25 [SEED]        the device becomes a PM2.5 sensor (its
//                                readings' walk seeded with SEED)
//   sensor show                  power state, transform time, work mode and
//                                the current sample
//   sensor power running|halted|low-power
//   sensor spoil ITEM TEXT [xN]  measurement item ITEM (hexadecimal, 03 for
//                                PM2.5) answers TEXT the next N times
#include <cstdio>

#include "card_words.h"
#include "control.h"
#include "pm25_sensor.h"
#include "words.h"

namespace vrsim {
namespace {

constexpr const char* kSensorUsage =
    "usage: sensor show | sensor power running|halted|low-power | sensor spoil ITEM TEXT [xN]";

ControlReply ok(std::string text) { return {true, false, std::move(text)}; }
ControlReply error(std::string text) { return {false, false, "error: " + std::move(text)}; }

const char* power_name(Pm25Sensor::Power p) {
    switch (p) {
    case Pm25Sensor::Power::running: return "running";
    case Pm25Sensor::Power::halted: return "halted";
    case Pm25Sensor::Power::low_power: return "low-power";
    }
    return "?";
}

std::string describe(Pm25Sensor& sensor) {
    const Pm25Sensor::Sample s = sensor.sample();
    char text[256];
    std::snprintf(text, sizeof text,
                  "power %s transform %u mode %u pm1 %.1f pm2.5 %.1f pm10 %.1f particles %u %u %u "
                  "temperature %.1f humidity %.1f",
                  power_name(sensor.power()), sensor.transform_time(), sensor.work_mode(), s.pm1, s.pm25, s.pm10,
                  s.pm1_n, s.pm25_n, s.pm10_n, s.temperature, s.humidity);
    return text;
}

ControlReply accessory_command(Simulator& sim, const Control::Args& args) {
    if (args.size() < 2 || args.size() > 3 || args[1] != "pm25")
        return error("usage: accessory pm25 [SEED]");
    uint64_t seed = 1;
    if (args.size() == 3) {
        const auto n = parse_unsigned(args[2]);
        if (!n) return error("usage: accessory pm25 [SEED]");
        seed = *n;
    }
    install_pm25_commands(sim.firmware(), std::make_shared<Pm25Sensor>(seed));
    return ok("ok");
}

ControlReply sensor_command(Simulator& sim, const Control::Args& args) {
    const auto sensor = sim.firmware().sensor();
    if (!sensor) return error("the device is no sensor (accessory pm25 makes it one)");
    const std::string_view what = args.size() > 1 ? args[1] : "";
    if (what == "show" && args.size() == 2) return ok("ok " + describe(*sensor));
    if (what == "power" && args.size() == 3) {
        for (auto p : {Pm25Sensor::Power::running, Pm25Sensor::Power::halted, Pm25Sensor::Power::low_power}) {
            if (args[2] != power_name(p)) continue;
            sensor->set_power(p);
            return ok("ok");
        }
        return error(kSensorUsage);
    }
    if (what == "spoil" && (args.size() == 4 || args.size() == 5)) {
        const auto item = parse_hex(args[2]);
        unsigned count = 1;
        if (args.size() == 5) {
            const auto n = args[4].size() > 1 && args[4][0] == 'x' ? parse_unsigned(args[4].substr(1)) : std::nullopt;
            if (!n || *n == 0 || *n > 1000) return error(kSensorUsage);
            count = static_cast<unsigned>(*n);
        }
        if (!item || item->size() != 1) return error(kSensorUsage);
        sensor->spoil((*item)[0], std::string(args[3]), count);
        return ok("ok");
    }
    return error(kSensorUsage);
}

}  // namespace

void install_sensor_control(Control& control) {
    control.add("accessory", "accessory pm25 [SEED] (the device becomes a PM2.5 sensor)", accessory_command);
    control.add("sensor",
                "sensor show | sensor power running|halted|low-power | sensor spoil ITEM TEXT [xN] (the PM2.5 sensor)",
                sensor_command);
}

}  // namespace vrsim
