// A failing reader: how long a call takes against a dead reader (silent, or
// answering line noise) once an earlier command has failed, and how long
// it takes until the eleventh consecutive failure closes the port, for each
// protocol with reply frames. The reference is measured in the same run:
// one attempt of the command (its frame sent, its reply waited for) against
// the same reader. Without any check of the link a command makes two
// attempts, so twice that is what the exchange's own rules allow it; the
// check before the next command may add at most one attempt at the same
// time-out (its ping's).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>

#include "link/link.h"
#include "picc.h"
#include "sim_harness.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

enum Reader { kSilent, kGarbage };
constexpr int kPingOwnTimeoutMs = 1000;

// A link to a simulated reader of the protocol's family that fails every
// reply the way `reader` says, with the given port default time-out.
struct DeadLink {
    std::unique_ptr<vrsim::Simulator> sim;
    virt_com_req req{};
    virt_com_rsp rsp{};

    bool open(int protocol, Reader reader, int port_timeout_ms) {
        vrsim::SimOptions o;
        o.family = protocol == 6 ? 2 : 1;
        o.protocol = protocol;
        sim = vrsim::start_simulator(o);
        if (!sim) return false;
        vr::link::reset_exchange_state();
        picc_regapi(VR_FAMILY_FIRST);
        if (protocol == 6) picc_regapi(VR_FAMILY_SECOND);
        virt_com_set_protocl(protocol);
        if (virt_com_open("uart", 0, nullptr, sim->path().c_str()) != 0) return false;
        tessil.s_com.timeout = port_timeout_ms;
        sim->inject_every(reader == kSilent ? vrsim::Fault::drop() : vrsim::Fault::garbage(), 1);
        // The card protocol command: the one reader command both families
        // send.
        req.cmd = protocol == 6 ? 0x87 : 0x0108;
        req.data[0] = 'A';
        req.len = 1;
        return true;
    }
    ~DeadLink() {
        virt_com_close();
        vr::link::reset_exchange_state();
    }

    int command(int timeout_ms) { return virt_com_command(&req, &rsp, timeout_ms); }

    // One attempt as the exchange makes it: the frame out, a reply waited
    // for at the time-out (0: the port default). Leaves the link as a
    // fresh one.
    double attempt_ms(int timeout_ms) {
        uint8_t body[3] = {static_cast<uint8_t>(req.cmd & 0xFF), static_cast<uint8_t>(req.cmd >> 8), 'A'};
        const int protocol = virt_com_get_protocl();
        if (protocol == 6) body[1] = 1;  // one-byte code, then the data length
        std::array<uint8_t, VIRT_COM_RSP_MAX> reply;
        const auto start = Clock::now();
        virt_com_flush(3);
        (void)virt_com_writemsg(body, 3, protocol);
        (void)virt_com_readmsg(reply.data(), protocol, timeout_ms ? timeout_ms : tessil.s_com.timeout);
        const double ms = ms_since(start);
        vr::link::reset_exchange_state();
        virt_com_setstat(VIRT_COM_OPEN);
        return ms;
    }
};

// A call after a failed command: `timeout_ms` is the call's own time-out
// (0 for the port default, set to `port_ms`).
void BM_CallAfterAFailure(benchmark::State &state) {
    const int protocol = static_cast<int>(state.range(0));
    const auto reader = static_cast<Reader>(state.range(1));
    const int timeout_ms = static_cast<int>(state.range(2));
    const int port_ms = static_cast<int>(state.range(3));
    const int effective_ms = timeout_ms ? timeout_ms : port_ms;
    double call = 0, attempt = 0, ping_attempt = 0;
    for (auto _ : state) {
        DeadLink link;
        if (!link.open(protocol, reader, port_ms)) {
            state.SkipWithError("the simulated reader or the link did not start");
            return;
        }
        const double a = link.attempt_ms(timeout_ms);
        const double p = link.attempt_ms(std::min(kPingOwnTimeoutMs, effective_ms));
        (void)link.command(100);  // the earlier command that failed
        const auto start = Clock::now();
        (void)link.command(timeout_ms);
        const double c = ms_since(start);
        state.SetIterationTime(c / 1000.0);
        call += c;
        attempt += a;
        ping_attempt += p;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["call_ms"] = call / n;
    state.counters["allowed_ms"] = 2 * attempt / n;
    state.counters["allowed_with_ping_ms"] = (2 * attempt + ping_attempt) / n;
    state.counters["call_per_allowed"] = call / (2 * attempt);
}
// protocol, reader, own time-out, port default: a command with its own
// 300 ms time-out (the antenna switched off) on a serial link's 3000 ms
// default, and one with the port default on a link whose default is 300 ms
// (Bluetooth's).
BENCHMARK(BM_CallAfterAFailure)
    ->ArgNames({"protocol", "garbage", "timeout", "port"})
    ->ArgsProduct({{3, 6, 1}, {kSilent, kGarbage}, {300}, {3000}})
    ->ArgsProduct({{3, 6, 1}, {kSilent, kGarbage}, {0}, {300}})
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Calls with the port default of 100 ms until the eleventh consecutive
// failure closes the port.
void BM_ElevenFailuresClose(benchmark::State &state) {
    const int protocol = static_cast<int>(state.range(0));
    const auto reader = static_cast<Reader>(state.range(1));
    constexpr int kPortMs = 100;
    double total = 0, attempt = 0, calls = 0;
    for (auto _ : state) {
        DeadLink link;
        if (!link.open(protocol, reader, kPortMs)) {
            state.SkipWithError("the simulated reader or the link did not start");
            return;
        }
        attempt += link.attempt_ms(0);
        const auto start = Clock::now();
        int k = 0;
        while (virt_com_status() != VIRT_COM_CLOSED && k < 100) {
            (void)link.command(0);
            ++k;
        }
        const double t = ms_since(start);
        state.SetIterationTime(t / 1000.0);
        total += t;
        calls += k;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["total_ms"] = total / n;
    state.counters["calls"] = calls / n;
    // Eleven failed attempts close the port when nothing else is sent.
    state.counters["allowed_ms"] = 11 * attempt / n;
    state.counters["total_per_allowed"] = total / (11 * attempt);
}
BENCHMARK(BM_ElevenFailuresClose)
    ->ArgNames({"protocol", "garbage"})
    ->ArgsProduct({{3, 6, 1}, {kSilent, kGarbage}})
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
