// The reader link's cost: exchanges per second and CPU time per exchange
// over a pseudo-terminal against the in-process simulator, and CRC16
// throughput.
#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>
#include <vector>

#include "cpu_clock.h"
#include "pcd.h"
#include "picc.h"
#include "sim_harness.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

using vrbench::cpu_seconds;

// One reader command with `data_len` data bytes per iteration (the echo
// command answers with the same bytes, so request and reply grow together).
void BM_Exchange(benchmark::State &state) {
    vrsim::SimOptions o;
    o.baud = static_cast<unsigned>(state.range(1));
    auto sim = vrsim::start_simulator(o);
    if (!sim) {
        state.SkipWithError("simulator did not start");
        return;
    }
    picc_regapi(VR_FAMILY_FIRST);
    if (virt_com_open("uart", 0, nullptr, sim->path().c_str()) != 0) {
        state.SkipWithError("port did not open");
        return;
    }
    virt_com_req req{};
    virt_com_rsp rsp{};
    req.cmd = 0x0F02;
    req.len = static_cast<int32_t>(state.range(0));
    for (int i = 0; i < req.len; ++i) req.data[i] = static_cast<uint8_t>(i);

    sim->clear_log();
    const double lib_cpu0 = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
    const double cpu0 = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
    int64_t failures = 0;
    for (auto _ : state) {
        if (virt_com_command(&req, &rsp, 0) != 0) ++failures;
    }
    const double lib_cpu = cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - lib_cpu0;
    const double cpu = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    const double n = static_cast<double>(state.iterations());
    state.counters["exchanges_per_s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
    // The calling thread is the library; the rest of the process is the
    // simulator's thread.
    state.counters["lib_cpu_us_per_exchange"] = lib_cpu / n * 1e6;
    state.counters["total_cpu_us_per_exchange"] = cpu / n * 1e6;
    state.counters["failures"] = static_cast<double>(failures);
    if (o.baud) {
        // Both directions' frames at 10 bits a byte: the time the exchange
        // needs on the line, against which the library's CPU is set.
        std::size_t bytes = 0;
        for (const auto &f : sim->frames_received()) bytes += f.size();
        for (const auto &f : sim->frames_sent()) bytes += f.size();
        const double wire_us = static_cast<double>(bytes) * 10.0 / o.baud * 1e6 / n;
        state.counters["wire_us_per_exchange"] = wire_us;
        state.counters["lib_cpu_percent_of_wire"] = lib_cpu / n * 1e6 / wire_us * 100.0;
    }
    virt_com_close();
}
BENCHMARK(BM_Exchange)
    ->ArgNames({"data", "baud"})
    ->Args({0, 0})
    ->Args({16, 0})
    ->Args({256, 0})
    ->Args({16, 115200})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// The reference for the paced exchange: the CPU one blocking wait of the
// calling thread costs on this machine (a sleep of about a frame's wire
// time), since a paced exchange is mostly waits for its reply.
void BM_BlockingWait(benchmark::State &state) {
    const double cpu0 = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
    for (auto _ : state) {
        timespec ts{0, 300000};
        nanosleep(&ts, nullptr);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["cpu_us_per_wait"] = (cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - cpu0) / n * 1e6;
}
BENCHMARK(BM_BlockingWait)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_Crc16(benchmark::State &state) {
    std::vector<uint8_t> data(static_cast<std::size_t>(state.range(0)));
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31);
    for (auto _ : state) benchmark::DoNotOptimize(CRC16(data.data(), static_cast<int>(data.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc16)->Arg(16)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
