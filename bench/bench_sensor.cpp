// PM2.5 sensor readings against the simulated sensor paced at 115200 baud:
// a reading the device answers (the cache never fresh), against the wire
// time of its two frames in the same run (goal: at most 1.10), and the
// readings the reading cache answers while it is fresh, against one full
// refresh (two commands) on the same line.
#include <benchmark/benchmark.h>

#include <cerrno>
#include <chrono>
#include <memory>

#include "accessory.h"
#include "paced.h"
#include "pcd.h"
#include "pm25.h"
#include "pm25_sensor.h"

namespace {

using vrbench::Clock;

void install_sensor(vrsim::Simulator &sim) {
    vrsim::install_pm25_commands(sim.firmware(), std::make_shared<vrsim::Pm25Sensor>(3));
}

property *find(accessory *acc, int id) { return accessory_getppe(acc, PM25_SERVICE_MONITOR, id); }

// A reading is good when the getter clears errno and leaves it so.
int read_pm25(property *p) {
    const float v = property_getval(p);
    return v >= 0 && errno == 0 ? 0 : -1;
}

void close_accessory(accessory *&acc) {
    if (acc) accessory_close(acc, nullptr, nullptr);
    acc = nullptr;
}

void BM_SensorReadingFromTheDevice(benchmark::State &state) {
    accessory *acc = nullptr;
    property *pm25 = nullptr;
    vrbench::paced(
        state, install_sensor,
        [&](vrsim::Simulator &sim) {
            acc = accessory_open("uart", sim.path().c_str());
            if (!acc) return false;
            // A validity of 0: the cache is never fresh, every reading asks.
            property *all = find(acc, PM25_ALL);
            pm25 = find(acc, PM25_PM25);
            return all->ctrl(all, PM25_CACHE_VALIDITY, 0u) == 0;
        },
        1, [&](vrsim::Simulator &) { return read_pm25(pm25); });
    state.counters["readings_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    close_accessory(acc);
}
BENCHMARK(BM_SensorReadingFromTheDevice)->ArgName("baud")->Arg(0)->Arg(115200)->UseRealTime()->Unit(benchmark::kMillisecond);

// The reference of the same run: a reader command of the same size on the
// same line (the firmware version, 16 bytes back), with no accessory in
// the way: what one exchange costs beyond its wire time here.
void BM_ReaderCommandOfTheSameSize(benchmark::State &state) {
    vrbench::paced(
        state, install_sensor,
        [&](vrsim::Simulator &sim) { return virt_com_open("uart", 0, nullptr, sim.path().c_str()) == 0; }, 1,
        [&](vrsim::Simulator &) {
            unsigned char version[16];
            return pcd_get_firmware_version(version);
        });
}
BENCHMARK(BM_ReaderCommandOfTheSameSize)->ArgName("baud")->Arg(0)->Arg(115200)->UseRealTime()->Unit(benchmark::kMillisecond);

// The full refresh: both "all" commands, every cached reading replaced.
void BM_SensorFullRefresh(benchmark::State &state) {
    accessory *acc = nullptr;
    property *all = nullptr;
    vrbench::paced(
        state, install_sensor,
        [&](vrsim::Simulator &sim) {
            acc = accessory_open("uart", sim.path().c_str());
            if (!acc) return false;
            all = find(acc, PM25_ALL);
            return all->ctrl(all, PM25_CACHE_VALIDITY, 0u) == 0;
        },
        2, [&](vrsim::Simulator &) { return property_getval(all) == 0.0f ? 0 : -1; });
    close_accessory(acc);
}
BENCHMARK(BM_SensorFullRefresh)->ArgName("baud")->Arg(0)->Arg(115200)->UseRealTime()->Unit(benchmark::kMillisecond);

// Readings the fresh cache answers: no traffic at all.
void BM_SensorReadingFromTheCache(benchmark::State &state) {
    auto sim = vrbench::paced_simulator(state);
    if (!sim) return;
    install_sensor(*sim);
    picc_regapi(VR_FAMILY_FIRST);
    accessory *acc = accessory_open("uart", sim->path().c_str());
    if (!acc) {
        state.SkipWithError("the sensor did not open");
        virt_com_close();
        return;
    }
    property *all = find(acc, PM25_ALL);
    property *pm25 = find(acc, PM25_PM25);
    // Fresh for the whole run.
    all->ctrl(all, PM25_CACHE_VALIDITY, 0xFFFFFFFFu);
    if (property_getval(all) != 0.0f) state.SkipWithError("the refresh failed");
    sim->clear_log();
    int64_t failures = 0;
    for (auto _ : state)
        if (read_pm25(pm25) != 0) ++failures;
    state.counters["readings_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["commands_sent"] = static_cast<double>(sim->requests().size());
    state.counters["failures"] = static_cast<double>(failures);
    close_accessory(acc);
    virt_com_close();
}
BENCHMARK(BM_SensorReadingFromTheCache)->ArgName("baud")->Arg(115200)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
