// The bank card against the simulated reader paced at 115200 baud
// (paced.h): the work of `bank info` (the card information read and all
// items taken, the payment application found and selected) and a whole
// purchase start (control code 50: selection, processing options, four
// records, the first GENERATE AC and the online message).
#include <benchmark/benchmark.h>

#include <vector>

#include "bank_card.h"
#include "emv.h"
#include "paced.h"
#include "pboc.h"

namespace {

using vrbench::paced;

constexpr const char *kTransaction = "9F02060000000001009F0306000000000000950500000000009A032405179C0100";

void place_bank_card(vrsim::Simulator &sim) { sim.field().place(vrsim::BankCard::make({0x62, 1, 2, 3}, nullptr)); }

// What `bank info` does on the opened card: the information read again
// (SELECT, the records, GET DATA), every item taken, the payment
// application found and selected. Opening the card is left out: its field
// reset waits 300 ms, which is no traffic.
int bank_info(picc *card) {
    int rc = pboc_get_info(card);
    for (int item = PBOC_ITEM_MSD2; item <= PBOC_ITEM_IDENNUMASCIIMASK && rc == 0; ++item) {
        const char *text = nullptr;
        rc = picc_ctrl(card, PICC_CTRL_BANK_INFO, item, &text);
    }
    emv_application app{};
    if (rc == 0 && (!get_application(&app) || !select_application(&app))) rc = -1;
    return rc;
}

// The card opened once; the preparation runs the work once to count its
// exchanges.
template <typename Work>
void on_open_card(benchmark::State &state, Work work) {
    picc *card = nullptr;
    paced(
        state, place_bank_card,
        [&](vrsim::Simulator &sim) {
            card = picc_open("pboc_card", "uart", 0, PICC_SEARCH_PLAIN, sim.path().c_str());
            if (!card) return false;
            sim.clear_log();
            return work(card) == 0;
        },
        0, [&](vrsim::Simulator &) { return work(card); });
}

void BM_BankInfo(benchmark::State &state) { on_open_card(state, bank_info); }
BENCHMARK(BM_BankInfo)->ArgName("baud")->Arg(0)->Arg(115200)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_PurchaseStart(benchmark::State &state) {
    std::vector<char> out(2 * EMV_OUT_SIZE + 1);
    on_open_card(state, [&](picc *card) {
        int length = 0;
        return picc_ctrl(card, PICC_CTRL_PURCHASE_INIT, kTransaction, out.data(), &length);
    });
}
BENCHMARK(BM_PurchaseStart)->ArgName("baud")->Arg(0)->Arg(115200)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
