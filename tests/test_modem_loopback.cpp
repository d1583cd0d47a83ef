// Audio modem loopback: bytes through the send path, a line or a channel
// model, the receive loop and the byte reader, for every uplink algorithm
// and every carrier width.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "channel.h"
#include "modem_harness.h"
#include "suart_signal.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Link {
    int alg, w;
};

std::string link_name(const ::testing::TestParamInfo<Link> &info) {
    return "alg" + std::to_string(info.param.alg) + "_w" + std::to_string(info.param.w);
}

std::vector<Link> links(int min_w_pattern, int min_w_simple) {
    std::vector<Link> out;
    for (int alg = 0; alg <= 2; ++alg)
        for (int w = alg == 2 ? min_w_simple : min_w_pattern; w <= 22; ++w) out.push_back({alg, w});
    return out;
}

Bytes through(const Bytes &bytes, const vrtest::Framing &framing, const vrsim::ChannelConfig *channel) {
    std::vector<int16_t> line = vrsim::Channel::left(vrtest::modulate(bytes, framing));
    if (channel) {
        line = vrsim::Channel(*channel).process(line);
        EXPECT_EQ(vrtest::calibrate(line), 0);
    }
    return vrtest::decode_symbols(vrtest::receive(line));
}

// Equal byte streams; otherwise where they part.
::testing::AssertionResult same_bytes(const Bytes &got, const Bytes &want) {
    if (got == want) return ::testing::AssertionSuccess();
    const auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
    return ::testing::AssertionFailure()
           << "got " << got.size() << " bytes, want " << want.size() << "; first difference at "
           << (diff.first - got.begin());
}

// Length of the longest common subsequence: the bytes that came through in
// order, whatever was lost or added around them.
std::size_t in_order(const Bytes &a, const Bytes &b) {
    std::vector<std::size_t> row(b.size() + 1, 0), next(b.size() + 1, 0);
    for (uint8_t x : a) {
        for (std::size_t j = 0; j < b.size(); ++j)
            next[j + 1] = x == b[j] ? row[j] + 1 : std::max(row[j + 1], next[j]);
        std::swap(row, next);
    }
    return row.back();
}

class CleanLine : public ::testing::TestWithParam<Link> {};

TEST_P(CleanLine, EveryByteAloneAndBackToBack) {
    const Link link = GetParam();
    vrtest::modem_setup(link.w, link.alg);
    // The biquad of algorithm 0 puts its cut-off at twice the carrier; at
    // width 3 that is 14.7 kHz, where the first output sample after each
    // edge of an ideal square wave lies on the slicing level. Any real audio
    // path is band-limited; give this case a 15 kHz one.
    vrsim::ChannelConfig band_limited;
    band_limited.lowpass_hz = 15000;
    const vrsim::ChannelConfig *channel = link.alg == 0 && link.w == 3 ? &band_limited : nullptr;

    Bytes all(256);
    std::iota(all.begin(), all.end(), uint8_t{0});
    vrtest::Framing alone;  // one idle pattern between bytes
    EXPECT_TRUE(same_bytes(through(all, alone, channel), all));

    Bytes shuffled = all;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(link.w));
    vrtest::Framing bursts;
    bursts.burst = 32;  // back to back
    bursts.idle = 3;
    EXPECT_TRUE(same_bytes(through(shuffled, bursts, channel), shuffled));
    vrtest::modem_teardown();
}

INSTANTIATE_TEST_SUITE_P(Modem, CleanLine, ::testing::ValuesIn(links(2, 2)), link_name);

// A headset path: quiet, offset, band-limited, inverted, a second sample
// clock a few hundred ppm off, and noise. Width 2 is left out: with its
// 2- and 4-sample lobes a drifting sample clock puts edges mid-sample,
// where one sample of resolution cannot tell the two apart; the pattern
// decoder (no tolerance below width 4) needs locked clocks at width 3 too.
class HeadsetChannel : public ::testing::TestWithParam<Link> {};

TEST_P(HeadsetChannel, RandomBytesThroughImpairments) {
    const Link link = GetParam();
    vrtest::modem_setup(link.w, link.alg);
    struct Impairments {
        double ppm, gain, dc;
        bool invert;
    };
    const Impairments cases[] = {{250, 0.25, 600, true}, {-250, 0.4, -600, false}};
    uint32_t seed = static_cast<uint32_t>(100 * link.alg + link.w);
    for (const Impairments &im : cases) {
        vrsim::ChannelConfig config;
        config.clock_ppm = im.ppm;
        config.gain = im.gain;
        config.dc_offset = im.dc;
        config.invert = im.invert;
        config.lowpass_hz = std::min(2.0 * signal_width2freq(link.w), 16000.0);
        config.snr_db = 28;
        config.seed = ++seed;
        const Bytes bytes = vrtest::random_bytes(2000, seed);
        vrtest::Framing framing;
        framing.burst = 16;
        framing.idle = 2;
        EXPECT_TRUE(same_bytes(through(bytes, framing, &config), bytes)) << "ppm " << im.ppm;
    }
    vrtest::modem_teardown();
}

INSTANTIATE_TEST_SUITE_P(Modem, HeadsetChannel, ::testing::ValuesIn(links(4, 3)), link_name);

// Lost samples break the bytes they fall in; the byte reader finds the
// byte starts again (at the latest at the next idle pattern), so each loss
// costs a few bytes and no more.
class DroppedSamples : public ::testing::TestWithParam<int> {};

TEST_P(DroppedSamples, ReceiverRecovers) {
    const int alg = GetParam();
    constexpr int kBurst = 16;
    for (int w : {4, 9}) {
        vrtest::modem_setup(w, alg);
        vrsim::ChannelConfig config;
        config.drop_probability = 2e-5;
        config.drop_burst = 3;
        config.snr_db = 30;
        config.seed = static_cast<uint64_t>(w);
        const Bytes bytes = vrtest::random_bytes(3000, 11);
        vrtest::Framing framing;
        framing.burst = kBurst;
        framing.idle = 2;
        vrsim::Channel channel(config);
        const auto line = channel.process(vrsim::Channel::left(vrtest::modulate(bytes, framing)));
        ASSERT_GT(channel.drops(), 2);
        const Bytes got = vrtest::decode_symbols(vrtest::receive(line));
        const std::size_t lost = static_cast<std::size_t>(4 * channel.drops());
        EXPECT_GE(in_order(got, bytes), bytes.size() - lost) << w;
        EXPECT_LE(got.size(), bytes.size() + static_cast<std::size_t>(channel.drops())) << w;
        vrtest::modem_teardown();
    }
}

INSTANTIATE_TEST_SUITE_P(Modem, DroppedSamples, ::testing::Values(0, 1, 2),
                         [](const auto &info) { return "alg" + std::to_string(info.param); });

}  // namespace
