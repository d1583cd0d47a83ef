// Noise tolerance of the audio modem, per uplink algorithm and carrier
// width: the lowest signal-to-noise ratio (1 dB steps down from 30 dB) at
// which 10,000 random bytes come through without a single error, on a
// plain line with white noise and on a headset path. SNR is the power of
// the signal over the power of the white Gaussian noise where the noise is
// added; the signal is at -12 dBFS so that the noise is not clipped. A measurement, not a
// check: disabled by default; run with
//   build/bin/test_modem_snr --gtest_also_run_disabled_tests
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

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

void table(bool headset) {
    std::printf("\n%s: lowest SNR (dB) for %d bytes without error\n",
                headset ? "headset path (-12 dBFS, low-pass 2f, DC +600, inverted, +250 ppm)"
                        : "white noise only (-12 dBFS)",
                kBytes);
    std::printf("  w   Hz    alg0  alg1  alg2\n");
    for (int w = 2; w <= 22; ++w) {
        std::printf("%3d %5d", w, signal_width2freq(w));
        for (int alg = 0; alg <= 2; ++alg) {
            const int snr = lowest_snr(alg, w, headset);
            if (snr > kTopDb)
                std::printf("   >%2d", kTopDb);
            else
                std::printf("  %4d", snr);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
}

TEST(ModemSnr, DISABLED_WhiteNoiseTable) { table(false); }
TEST(ModemSnr, DISABLED_HeadsetPathTable) { table(true); }

}  // namespace
