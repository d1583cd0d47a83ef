// Real-time factor of the audio modem's signal path: seconds of 44100 Hz
// audio handled per second of CPU time on one core ("audio_s" counter).
// Demodulation runs the receive loop (2048-sample blocks, carry, analysis)
// per uplink algorithm over ten seconds of modulated random bytes at the
// default carrier (width 4) with noise at 30 dB SNR; modulation runs the
// send path over queued random bytes.
#include <benchmark/benchmark.h>

#include <vector>

#include "channel.h"
#include "modem/modem.h"
#include "modem_harness.h"
#include "suart_signal.h"

namespace {

constexpr double kRate = 44100.0;

struct Cursor {
    const std::vector<int16_t> *samples;
    std::size_t at = 0;
};

int read_block(void *context, int16_t *dst, int n) {
    auto *c = static_cast<Cursor *>(context);
    if (c->samples->size() - c->at < static_cast<std::size_t>(n)) return -1;
    std::copy_n(c->samples->begin() + static_cast<std::ptrdiff_t>(c->at), n, dst);
    c->at += static_cast<std::size_t>(n);
    return n;
}

std::vector<int16_t> test_signal() {
    vrtest::Framing framing;
    framing.burst = 16;
    framing.idle = 8;
    framing.tail = 8;
    std::vector<int16_t> mono;
    uint32_t seed = 1;
    while (mono.size() < static_cast<std::size_t>(10 * kRate)) {
        const auto stereo = vrtest::modulate(vrtest::random_bytes(256, seed++), framing);
        const auto left = vrsim::Channel::left(stereo);
        mono.insert(mono.end(), left.begin(), left.end());
    }
    vrsim::ChannelConfig config;
    config.snr_db = 30.0;
    return vrsim::Channel(config).process(mono);
}

void BM_Demodulate(benchmark::State &state) {
    const int alg = static_cast<int>(state.range(0));
    const int w = static_cast<int>(state.range(1));
    vrtest::modem_setup(w, alg);
    const std::vector<int16_t> signal = test_signal();
    ringbuf *ring = &vr::modem::state().recv_ring;
    std::size_t samples = 0;
    for (auto _ : state) {
        Cursor cursor{&signal};
        while (vr::modem::receive_block(read_block, &cursor) >= 0) ringbuf_flush(ring);
        samples += cursor.at;
    }
    state.counters["audio_s"] =
        benchmark::Counter(static_cast<double>(samples) / kRate, benchmark::Counter::kIsRate);
    vrtest::modem_teardown();
}
BENCHMARK(BM_Demodulate)
    ->ArgNames({"alg", "w"})
    ->Args({2, 4})
    ->Args({1, 4})
    ->Args({0, 4})
    ->Args({2, 22})
    ->Args({1, 22})
    ->Args({0, 22})
    ->Unit(benchmark::kMillisecond);

int count_samples(void *context, const int16_t *, int n) {
    *static_cast<std::size_t *>(context) += static_cast<std::size_t>(n);
    return n;
}

void BM_Modulate(benchmark::State &state) {
    const int w = static_cast<int>(state.range(0));
    vrtest::modem_setup(w, 2);
    const std::vector<uint8_t> bytes = vrtest::random_bytes(64, 3);
    ringbuf *ring = &vr::modem::state().send_ring;
    std::size_t samples = 0;
    for (auto _ : state) {
        ringbuf_insert(ring, bytes.data(), static_cast<uint32_t>(bytes.size()));
        vr::modem::send_pass(count_samples, &samples);  // the bytes
        vr::modem::send_pass(count_samples, &samples);  // one idle pattern
    }
    // Two interleaved samples per frame; a frame is one sample period.
    state.counters["audio_s"] =
        benchmark::Counter(static_cast<double>(samples) / 2.0 / kRate, benchmark::Counter::kIsRate);
    vrtest::modem_teardown();
}
BENCHMARK(BM_Modulate)->ArgName("w")->Arg(4)->Arg(22);

}  // namespace

BENCHMARK_MAIN();
