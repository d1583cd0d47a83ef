// Card work against the simulated reader paced at a baud rate: wall time
// against the wire time of the frames in both directions, measured in the
// same run (the benchmarks' goal is a ratio of at most 1.10). An unpaced
// run (baud 0) shows the host's own share.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "picc.h"
#include "sim_harness.h"
#include "tessil.h"
#include "virt_com.h"

namespace vrbench {

using Clock = std::chrono::steady_clock;

inline std::size_t wire_bytes(const vrsim::Simulator &sim) {
    std::size_t n = 0;
    for (const auto &f : sim.frames_received()) n += f.size();
    for (const auto &f : sim.frames_sent()) n += f.size();
    return n;
}

// A simulator paced at the benchmark's argument (baud, 0: unpaced); null,
// with the benchmark marked as skipped, when it does not start.
inline std::unique_ptr<vrsim::Simulator> paced_simulator(benchmark::State &state, int family = 1) {
    vrsim::SimOptions o;
    o.baud = static_cast<unsigned>(state.range(0));
    o.family = family;
    auto sim = vrsim::start_simulator(o);
    if (!sim) state.SkipWithError("simulator did not start");
    return sim;
}

// Runs `work(sim)` (0 on success) once per iteration against a simulator
// paced at the benchmark's argument (baud, 0: unpaced) after `place(sim)`
// and `prepare(sim)` (untimed, once), and reports wall and wire time per
// run and their ratio. `exchanges` is the number of reader commands one
// run sends: their replies are all logged before the wire bytes are
// counted. 0 stands for as many as `prepare` sent, for a preparation that
// runs the work once. `family` 2: a second-family reader, registered over
// the first family as a serial line needs it.
template <typename Place, typename Prepare, typename Work>
void paced(benchmark::State &state, Place place, Prepare prepare, size_t exchanges, Work work, int family = 1) {
    const unsigned baud = static_cast<unsigned>(state.range(0));
    auto sim = paced_simulator(state, family);
    if (!sim) return;
    place(*sim);
    picc_regapi(VR_FAMILY_FIRST);
    if (family == 2) picc_regapi(VR_FAMILY_SECOND);
    if (!prepare(*sim)) {
        state.SkipWithError("preparation failed");
        virt_com_close();
        return;
    }
    if (exchanges == 0) exchanges = sim->requests().size();
    double wall_s = 0, wire_s = 0;
    int64_t failures = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sim->clear_log();
        state.ResumeTiming();
        const auto t0 = Clock::now();
        if (work(*sim) != 0) ++failures;
        wall_s += std::chrono::duration<double>(Clock::now() - t0).count();
        state.PauseTiming();
        if (!sim->wait_sent(exchanges, std::chrono::seconds(2))) ++failures;
        if (baud) wire_s += static_cast<double>(wire_bytes(*sim)) * 10.0 / baud;
        state.ResumeTiming();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["wall_ms"] = wall_s / n * 1e3;
    if (baud) {
        state.counters["wire_ms"] = wire_s / n * 1e3;
        state.counters["wall_per_wire"] = wall_s / wire_s;
    }
    state.counters["failures"] = static_cast<double>(failures);
    virt_com_close();
}

// `read(card)` on a card of `type` opened once before the runs.
template <typename Place, typename Read>
void paced_reads(benchmark::State &state, Place place, const char *type, size_t exchanges, Read read,
                 int family = 1) {
    picc *card = nullptr;
    paced(
        state, place,
        [&](vrsim::Simulator &sim) {
            card = picc_open(type, "uart", 0, PICC_SEARCH_PLAIN, sim.path().c_str());
            return card != nullptr;
        },
        exchanges, [&](vrsim::Simulator &) { return read(card); }, family);
}

}  // namespace vrbench
