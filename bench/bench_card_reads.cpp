// Whole-card reads of the Ultralight C (authentication, then the 176
// readable bytes) and of the PRC identity card through the SAM (search,
// select, then text, photo and fingerprint) against the simulated reader
// paced at 115200 baud: wall time against the wire time of the frames in
// both directions, measured in the same run. The goal is a ratio of at
// most 1.10. The unpaced run shows the host's own share.
#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "identity.h"
#include "identity_card.h"
#include "picc.h"
#include "sim_harness.h"
#include "tessil.h"
#include "ultralight.h"
#include "ultralight_card.h"
#include "virt_com.h"

namespace {

using Clock = std::chrono::steady_clock;

std::size_t wire_bytes(const vrsim::Simulator &sim) {
    std::size_t n = 0;
    for (const auto &f : sim.frames_received()) n += f.size();
    for (const auto &f : sim.frames_sent()) n += f.size();
    return n;
}

// Runs `read` once per iteration against a simulator paced at `baud` (0:
// unpaced) and reports wall and wire time per read and their ratio.
// `exchanges` is the number of reader commands one read sends: their
// replies are all logged before the wire bytes are counted.
template <typename Place, typename Read>
void paced_reads(benchmark::State &state, Place place, const char *type, size_t exchanges, Read read) {
    const unsigned baud = static_cast<unsigned>(state.range(0));
    vrsim::SimOptions o;
    o.baud = baud;
    auto sim = vrsim::start_simulator(o);
    if (!sim) {
        state.SkipWithError("simulator did not start");
        return;
    }
    place(*sim);
    picc_regapi(VR_FAMILY_FIRST);
    picc *card = picc_open(type, "uart", 0, PICC_SEARCH_PLAIN, sim->path().c_str());
    if (!card) {
        state.SkipWithError("card did not open");
        return;
    }
    double wall_s = 0, wire_s = 0;
    int64_t failures = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sim->clear_log();
        state.ResumeTiming();
        const auto t0 = Clock::now();
        if (read(card) != 0) ++failures;
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
    picc_close(card);
    virt_com_close();
}

const vrsim::UlcKey kKey = vrsim::ultralight::kTransportKey;

void BM_UltralightCFullRead(benchmark::State &state) {
    paced_reads(
        state,
        [](vrsim::Simulator &sim) {
            auto card = vrsim::UltralightCard::make(true, {0x04, 1, 2, 3, 4, 5, 6}, 0x0044, 0x00, nullptr);
            // Everything from page 4 on protected, reads too: the read needs
            // the authentication.
            card->set_page(vrsim::ultralight::kAuth0Page, {0x04, 0, 0, 0});
            sim.field().place(card);
        },
        "mifare_ulc", 2,
        [](picc *card) {
            unsigned char memory[176];
            if (picc_auth(card, kKey.data(), 0, 0) != 0) return -1;
            return picc_readdata(card, 0, sizeof memory, memory);
        });
}
BENCHMARK(BM_UltralightCFullRead)->ArgName("baud")->Arg(0)->Arg(115200)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_IdentityCardFullRead(benchmark::State &state) {
    paced_reads(
        state, [](vrsim::Simulator &sim) { sim.field().place(vrsim::IdentityCard::make({}, nullptr)); }, "id_sam", 3,
        [](picc *card) {
            std::vector<unsigned char> text(SAM_TEXT_MAX), photo(SAM_PHOTO_MAX), finger(SAM_FINGER_MAX);
            int tl = SAM_TEXT_MAX, pl = SAM_PHOTO_MAX, fl = SAM_FINGER_MAX;
            return picc_ctrl(card, PICC_CTRL_ID_EXCHANGE6, text.data(), &tl, photo.data(), &pl, finger.data(), &fl);
        });
}
BENCHMARK(BM_IdentityCardFullRead)->ArgName("baud")->Arg(0)->Arg(115200)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
