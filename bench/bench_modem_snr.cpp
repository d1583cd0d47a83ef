// Noise tolerance of the audio modem, per uplink algorithm and carrier
// width: the lowest signal-to-noise ratio (1 dB steps down from 30 dB) at
// which 10,000 random bytes come through without a single error, on a
// plain line with white noise and on a headset path (low-pass at twice the
// carrier, DC +600, inverted, +250 ppm). SNR is the power of the signal
// over the power of the white Gaussian noise where the noise is added; the
// signal is at -12 dBFS so that the noise is not clipped. Counter
// "snr_db": the lowest passing SNR (31 when even 30 dB fails); "Hz": the
// carrier. A measurement of the modem, not of time: each case runs once.
// Arguments: uplink algorithm, carrier width, headset path (0 or 1); a
// filter narrows the run, e.g.
// --benchmark_filter='alg:2/w:4/'.
#include <benchmark/benchmark.h>

#include <algorithm>

#include "channel.h"
#include "modem_harness.h"
#include "suart_signal.h"

namespace {

constexpr int kBytes = 10000;
constexpr int kTopDb = 30;
constexpr int kBottomDb = -10;

bool passes(int alg, int w, int snr_db, bool headset) {
    vrtest::modem_setup(w, alg);
    const auto bytes = vrtest::random_bytes(kBytes, static_cast<uint32_t>(1000 * w + snr_db + 50));
    vrtest::Framing framing;
    framing.burst = 16;
    framing.idle = 2;
    const auto left = vrsim::Channel::left(vrtest::modulate(bytes, framing));
    vrsim::ChannelConfig config;
    config.snr_db = snr_db;
    config.gain = 0.25;  // -12 dBFS: the noise is not clipped at the rails
    config.seed = static_cast<uint64_t>(7919 * w + snr_db + 100 * alg + 1000);
    if (headset) {
        config.lowpass_hz = std::min(2.0 * signal_width2freq(w), 16000.0);
        config.dc_offset = 600;
        config.invert = true;
        config.clock_ppm = 250;
    }
    const auto line = vrsim::Channel(config).process(left);
    vrtest::calibrate(line);
    const bool ok = vrtest::decode_symbols(vrtest::receive(line)) == bytes;
    vrtest::modem_teardown();
    return ok;
}

// Lowest passing SNR, or kTopDb + 1 when even kTopDb fails.
int lowest_snr(int alg, int w, bool headset) {
    int best = kTopDb + 1;
    for (int snr = kTopDb; snr >= kBottomDb && passes(alg, w, snr, headset); --snr) best = snr;
    return best;
}

void BM_LowestSnr(benchmark::State &state) {
    const int alg = static_cast<int>(state.range(0));
    const int w = static_cast<int>(state.range(1));
    const bool headset = state.range(2) != 0;
    int snr = 0;
    for (auto _ : state) snr = lowest_snr(alg, w, headset);
    state.counters["snr_db"] = snr;
    state.counters["Hz"] = signal_width2freq(w);
}
BENCHMARK(BM_LowestSnr)
    ->ArgNames({"alg", "w", "headset"})
    ->ArgsProduct({{0, 1, 2}, benchmark::CreateDenseRange(2, 22, 1), {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
