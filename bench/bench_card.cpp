// Reading a whole MIFARE Classic 1K card (16 authentications, 64 reads)
// against the simulated reader, unpaced and paced at 115200 baud: wall
// time against the wire time the frames need, and the library's CPU per
// exchange.
#include <benchmark/benchmark.h>

#include <ctime>

#include "cpu_clock.h"
#include "card.h"
#include "field.h"
#include "paced.h"
#include "picc.h"
#include "sim_harness.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

using vrbench::thread_cpu_seconds;

// Bytes on the wire in both directions since the log was cleared.
using vrbench::wire_bytes;

void BM_Dump1K(benchmark::State &state) {
    const unsigned baud = static_cast<unsigned>(state.range(0));
    auto sim = vrbench::paced_simulator(state);
    if (!sim) return;
    sim->field().place(vrsim::Card::classic_1k({0x01, 0x02, 0x03, 0x04}));
    picc_regapi(VR_FAMILY_FIRST);
    picc *card = picc_open("mifare_s50", "uart", 0, PICC_SEARCH_PLAIN, sim->path().c_str());
    if (!card) {
        state.SkipWithError("card did not open");
        return;
    }
    const unsigned char key[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    unsigned char block[16];
    double lib_cpu = 0;
    double wire_s = 0;
    int64_t failures = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sim->clear_log();
        state.ResumeTiming();
        const double cpu0 = thread_cpu_seconds();
        for (int b = 0; b < 64; ++b) {
            if (b % 4 == 0 && picc_auth(card, key, 0x60, static_cast<uint8_t>(b)) != 0) ++failures;
            if (picc_read(card, block, static_cast<uint8_t>(b)) != 0) ++failures;
        }
        lib_cpu += thread_cpu_seconds() - cpu0;
        state.PauseTiming();
        if (!sim->wait_sent(80, std::chrono::seconds(1))) ++failures;
        if (baud) wire_s += static_cast<double>(wire_bytes(*sim)) * 10.0 / baud;
        state.ResumeTiming();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["exchanges"] = 80;
    state.counters["lib_cpu_us_per_exchange"] = lib_cpu / n / 80 * 1e6;
    if (baud) {
        state.counters["wire_ms"] = wire_s / n * 1e3;
        state.counters["lib_cpu_percent_of_wire"] = lib_cpu / wire_s * 100.0;
    }
    state.counters["failures"] = static_cast<double>(failures);
    picc_close(card);
    virt_com_close();
}
BENCHMARK(BM_Dump1K)->ArgName("baud")->Arg(0)->Arg(115200)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
