// Whole-card reads of the Ultralight C (authentication, then the 176
// readable bytes) and of the PRC identity card through the SAM (search,
// select, then text, photo and fingerprint) against the simulated reader
// paced at 115200 baud (paced.h).
#include <benchmark/benchmark.h>

#include <vector>

#include "identity.h"
#include "identity_card.h"
#include "card.h"
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

// A whole MIFARE Classic 1K through the second family: per sector its key
// loaded (0x4C) and the sector authenticated (0x44), then four reads (0x46),
// all over protocol 6.
void BM_Dump1KSecondFamily(benchmark::State &state) {
    paced_reads(
        state, [](vrsim::Simulator &sim) { sim.field().place(vrsim::Card::classic_1k({0x01, 0x02, 0x03, 0x04})); },
        "mifare_s50", 16 * 2 + 64,
        [](picc *card) {
            const unsigned char key[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
            unsigned char block[16];
            for (int b = 0; b < 64; ++b) {
                if (b % 4 == 0 && picc_auth(card, key, 0x60, static_cast<uint8_t>(b)) != 0) return -1;
                if (picc_read(card, block, static_cast<uint8_t>(b)) != 0) return -1;
            }
            return 0;
        },
        2);
}
BENCHMARK(BM_Dump1KSecondFamily)->ArgName("baud")->Arg(0)->Arg(115200)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
