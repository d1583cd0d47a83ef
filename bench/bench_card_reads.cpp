// Whole-card reads of the Ultralight C (authentication, then the 176
// readable bytes) and of the PRC identity card through the SAM (search,
// select, then text, photo and fingerprint) against the simulated reader
// paced at 115200 baud (paced.h).
#include <benchmark/benchmark.h>

#include <vector>

#include "identity.h"
#include "identity_card.h"
#include "paced.h"
#include "tessil.h"
#include "ultralight.h"
#include "ultralight_card.h"

namespace {

using vrbench::paced_reads;

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
