// The cost of a link trace: recording the two frames of an exchange (the
// request and its reply, as pcapng blocks written to a file) set against
// the library's own CPU time for that exchange without a trace, measured
// in the same run over a pseudo-terminal against the in-process simulator.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "cpu_clock.h"
#include "core/pcapng.h"
#include "pcd.h"
#include "picc.h"
#include "sim_harness.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

using vrbench::thread_cpu_seconds;

// The library's CPU per echo exchange of `data` bytes, untraced.
double exchange_cpu_us(int data, int rounds) {
    auto sim = vrsim::start_simulator(vrsim::SimOptions{});
    if (!sim) return -1;
    picc_regapi(VR_FAMILY_FIRST);
    if (virt_com_open("uart", 0, nullptr, sim->path().c_str()) != 0) return -1;
    virt_com_req req{};
    virt_com_rsp rsp{};
    req.cmd = 0x0F02;
    req.len = data;
    const double cpu0 = thread_cpu_seconds();
    for (int i = 0; i < rounds; ++i) virt_com_command(&req, &rsp, 0);
    const double cpu = thread_cpu_seconds() - cpu0;
    virt_com_close();
    return cpu / rounds * 1e6;
}

void BM_TraceAgainstExchange(benchmark::State &state) {
    const int data = static_cast<int>(state.range(0));
    // Protocol 3 frames of the echo: 7 + 2 + data bytes out, 6 + 1 + data in.
    const std::vector<uint8_t> request(static_cast<std::size_t>(9 + data), 0x5A);
    const std::vector<uint8_t> reply(static_cast<std::size_t>(7 + data), 0xA5);
    char path[] = "/tmp/vr_bench_trace_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        state.SkipWithError("no temporary file");
        return;
    }
    ::close(fd);
    vr::trace::Capture capture;
    if (!capture.open(path, vr::trace::Side::host)) {
        state.SkipWithError("trace file did not open");
        return;
    }
    const double cpu0 = thread_cpu_seconds();
    for (auto _ : state) {
        capture.record(vr::trace::Direction::to_reader, 3, 1, request.data(), request.size());
        capture.record(vr::trace::Direction::from_reader, 3, 1, reply.data(), reply.size());
    }
    const double trace_us = (thread_cpu_seconds() - cpu0) / static_cast<double>(state.iterations()) * 1e6;
    ::unlink(path);
    const double exchange_us = exchange_cpu_us(data, 2000);
    state.counters["trace_cpu_us_per_exchange"] = trace_us;
    state.counters["exchange_cpu_us"] = exchange_us;
    state.counters["trace_percent_of_exchange"] = trace_us / exchange_us * 100.0;
}
BENCHMARK(BM_TraceAgainstExchange)->ArgName("data")->Arg(0)->Arg(16)->Arg(256)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
