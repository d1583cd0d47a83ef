// What the reader driver for pcscd adds to an APDU: the same SELECT to the
// simulated CPU card through a private pcscd and the driver (a libpcsclite
// client's SCardTransmit) and through the library directly, alternately in
// the same run, each against its own simulated reader paced at the
// benchmark's argument (baud; 0 unpaced). Counters: the milliseconds of
// each path per APDU, the difference (goal: at most 1 ms) and the ratio.
//
// What the driver's presence poll costs on an empty field: the type A
// search alone (the poll before type B cards were searched) against the
// type A search followed by the type B request (the poll now), alternately
// through the library against one simulated reader paced at the argument.
// Counters: milliseconds of each per poll, their ratio, and the reader
// commands each sends.
#include <PCSC/winscard.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "cpu_card.h"
#include "cpucard.h"
#include "log.h"
#include "pcd.h"
#include "picc.h"
#include "private_pcscd.h"
#include "sim_harness.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

using Clock = std::chrono::steady_clock;

const unsigned char kSelect[] = {0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x01};

std::unique_ptr<vrsim::Simulator> card_reader(unsigned baud) {
    vrsim::SimOptions o;
    o.baud = baud;
    auto sim = vrsim::start_simulator(o);
    if (sim) sim->field().place(vrsim::CpuCard::make({0x08, 1, 2, 3}, vrsim::CpuCard::kAtqa, vrsim::CpuCard::kSak, nullptr));
    return sim;
}

// A client connected to the card of the private pcscd's reader.
struct Client {
    SCARDCONTEXT context = 0;
    SCARDHANDLE card = 0;
    bool connect() {
        if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return false;
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        DWORD protocol = 0;
        while (Clock::now() < deadline) {
            if (SCardConnect(context, vrtest::PrivatePcscd::kReaderName, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card,
                             &protocol) == SCARD_S_SUCCESS)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    bool transmit() {
        BYTE out[300];
        DWORD n = sizeof out;
        return SCardTransmit(card, SCARD_PCI_T1, kSelect, sizeof kSelect, nullptr, out, &n) == SCARD_S_SUCCESS && n == 2;
    }
    ~Client() {
        if (card) SCardDisconnect(card, SCARD_LEAVE_CARD);
        if (context) SCardReleaseContext(context);
    }
};

void BM_ApduThroughPcscd(benchmark::State &state) {
    const auto baud = static_cast<unsigned>(state.range(0));
    auto direct_sim = card_reader(baud), pcscd_sim = card_reader(baud);
    if (!direct_sim || !pcscd_sim) return state.SkipWithError("simulator did not start");
    vrtest::PrivatePcscd daemon;
    if (!daemon.start(pcscd_sim->path() + ":log=1", VR_IFD_PATH)) return state.SkipWithError(daemon.error().c_str());
    Client client;
    if (!client.connect()) return state.SkipWithError(("no card through pcscd\n" + daemon.log()).c_str());

    picc_regapi(VR_FAMILY_FIRST);
    picc *card = picc_open("cpu_card", "uart", 0, PICC_SEARCH_PLAIN, direct_sim->path().c_str());
    if (!card) return state.SkipWithError("no card through the library");
    const auto direct = [&] {
        unsigned char in[sizeof kSelect], out[4097];
        std::copy(std::begin(kSelect), std::end(kSelect), in);
        int length = sizeof in;
        return picc_ctrl(card, PICC_CTRL_APDU_BYTES, in, out, &length) == 0 && length == 2;
    };

    double direct_s = 0, pcscd_s = 0;
    int64_t failures = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        failures += !direct();
        direct_s += std::chrono::duration<double>(Clock::now() - t0).count();
        t0 = Clock::now();
        failures += !client.transmit();
        pcscd_s += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["direct_ms"] = direct_s / n * 1e3;
    state.counters["pcscd_ms"] = pcscd_s / n * 1e3;
    state.counters["added_ms"] = (pcscd_s - direct_s) / n * 1e3;
    state.counters["pcscd_per_direct"] = pcscd_s / direct_s;
    state.counters["failures"] = static_cast<double>(failures);
    virt_com_close();
}
// A fixed count: each run starts a daemon, which the search for an
// iteration count would repeat.
BENCHMARK(BM_ApduThroughPcscd)
    ->ArgName("baud")
    ->Arg(0)
    ->Arg(115200)
    ->Iterations(300)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_EmptyFieldPoll(benchmark::State &state) {
    vrsim::SimOptions o;
    o.baud = static_cast<unsigned>(state.range(0));
    auto sim = vrsim::start_simulator(o);
    if (!sim) return state.SkipWithError("simulator did not start");
    picc_regapi(VR_FAMILY_FIRST);
    log_set_level(0);  // every empty search is an error to the library's log
    if (virt_com_open("uart", 0, nullptr, sim->path().c_str()) != 0 || pcd_antenna_open() != 0)
        return state.SkipWithError("reader did not open");
    std::unique_ptr<picc, void (*)(picc *)> type_b(static_cast<picc *>(std::calloc(1, sizeof(picc))), picc_free);
    if (!type_b || cidcard_init(type_b.get()) != 0) return state.SkipWithError("no type B driver");
    const auto type_a_search = [] {
        picc probe{};
        const bool empty = pcd_search_type_A(&probe, 0) != 0;
        std::free(probe.picc_type);
        return empty;
    };
    double before_s = 0, now_s = 0;
    int64_t failures = 0;
    std::size_t before_commands = 0, now_commands = 0;
    for (auto _ : state) {
        auto at = sim->requests().size();
        auto t0 = Clock::now();
        failures += !type_a_search();
        before_s += std::chrono::duration<double>(Clock::now() - t0).count();
        before_commands += sim->requests().size() - at;
        at = sim->requests().size();
        t0 = Clock::now();
        failures += !type_a_search() + (type_b->anticoll(type_b.get(), 0) == 0);
        now_s += std::chrono::duration<double>(Clock::now() - t0).count();
        now_commands += sim->requests().size() - at;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["type_a_ms"] = before_s / n * 1e3;
    state.counters["type_a_and_b_ms"] = now_s / n * 1e3;
    state.counters["now_per_before"] = now_s / before_s;
    state.counters["commands_before"] = static_cast<double>(before_commands) / n;
    state.counters["commands_now"] = static_cast<double>(now_commands) / n;
    state.counters["failures"] = static_cast<double>(failures);
    virt_com_close();
}
BENCHMARK(BM_EmptyFieldPoll)
    ->ArgName("baud")
    ->Arg(0)
    ->Arg(115200)
    ->Iterations(200)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
