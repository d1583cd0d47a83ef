// Audio modem uplink: the cleaning, slicing and differencing stages, both
// classifiers (bounds, suppression, the pattern repairs and the carry
// between blocks), the tone width detector, calibration and the receive
// loop's block carry.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "channel.h"
#include "log_capture.h"
#include "modem/modem.h"
#include "modem_harness.h"
#include "suart.h"
#include "suart_signal.h"

namespace {

using vr::modem::state;
using Samples = std::vector<int16_t>;

class Uplink : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(suart_init(0), 0);
        ASSERT_EQ(ringbuf_create(&state().recv_ring, 2926), 0);
    }
    void TearDown() override { ringbuf_destroy(&state().recv_ring); }

    static void set_width(int w) {
        state().up_short_width = w;
        state().up_long_width = 2 * w;
    }
    static std::string symbols() { return vrtest::drain_ring(); }
    // A difference block whose crossings are the given widths apart, from
    // the reference at index 0; it ends on its last crossing.
    static Samples crossings(const std::vector<int> &widths) {
        Samples d(1, 0);
        int16_t sign = 1;
        for (int w : widths) {
            d.insert(d.end(), static_cast<std::size_t>(w - 1), int16_t{0});
            d.push_back(sign);
            sign = static_cast<int16_t>(-sign);
        }
        return d;
    }
    // Samples at +/- amplitude whose half-cycles have the given widths.
    static Samples square(const std::vector<int> &widths, int amplitude = 10000) {
        Samples x;
        int sign = 1;
        for (int w : widths) {
            x.insert(x.end(), static_cast<std::size_t>(w), static_cast<int16_t>(sign * amplitude));
            sign = -sign;
        }
        return x;
    }
};

TEST_F(Uplink, SmootherKnownValues) {
    struct Case {
        Samples in, out;
    };
    const Case cases[] = {
        {{0, 0, 5, 0, 0}, {0, 1, 3, 1, 0}},
        {{0, 0, -5, 0, 0}, {0, -1, -3, -1, 0}},  // truncation toward zero
        {{32767, 32767, 32767, 32767}, {32767, 32767, 32767, 32767}},
        {{-32768, -32768, -32768}, {-32768, -32768, -32768}},
        {{-32768, 32767, -32768}, {-32768, 6553, -32768}},
        {{9, 1}, {9, 1}},
    };
    for (const Case &c : cases) {
        Samples x = c.in;
        EXPECT_EQ(signal_low_filter(x.data(), static_cast<int>(x.size())), 0);
        EXPECT_EQ(x, c.out);
    }
}

TEST_F(Uplink, SlicerAtLevelMid) {
    struct Case {
        int16_t mid;
        Samples in, out;
    };
    const Case cases[] = {
        {0, {-5, 0, 1, 32767, -32768}, {0, 0, 1, 1, 0}},
        {100, {100, 101, -100}, {0, 1, 0}},
        {-50, {-50, -49, -51}, {0, 1, 0}},
    };
    for (const Case &c : cases) {
        state().level_mid = c.mid;
        Samples x = c.in;
        signal_thresholding(x.data(), static_cast<int>(x.size()));
        EXPECT_EQ(x, c.out) << c.mid;
    }
}

TEST_F(Uplink, Width2RunRepair) {
    auto runs = [](const std::vector<int> &r) {
        Samples x;
        int16_t v = 1;
        for (int n : r) {
            x.insert(x.end(), static_cast<std::size_t>(n), v);
            v = static_cast<int16_t>(1 - v);
        }
        return x;
    };
    set_width(2);
    Samples x = runs({5, 3, 5, 2});
    signal_thresholding(x.data(), static_cast<int>(x.size()));
    EXPECT_EQ(x, runs({4, 4, 5, 2}));
    x = runs({2, 4, 5, 3, 5, 3, 5});  // the repaired runs count as 4, 4
    signal_thresholding(x.data(), static_cast<int>(x.size()));
    EXPECT_EQ(x, runs({2, 4, 4, 4, 4, 4, 5}));
    x = runs({5, 3, 4, 2});
    signal_thresholding(x.data(), static_cast<int>(x.size()));
    EXPECT_EQ(x, runs({5, 3, 4, 2}));
    set_width(4);  // only width 2 is repaired
    x = runs({5, 3, 5});
    signal_thresholding(x.data(), static_cast<int>(x.size()));
    EXPECT_EQ(x, runs({5, 3, 5}));
}

TEST_F(Uplink, Difference) {
    Samples x{0, 1, 1, 0, 0, 1};
    EXPECT_EQ(signal_difference(x.data(), 6), 0);
    EXPECT_EQ(x, (Samples{0, 1, 0, -1, 0, 1}));
    x = {1, 1, 0};
    signal_difference(x.data(), 3);
    EXPECT_EQ(x, (Samples{1, 0, -1}));
}

TEST_F(Uplink, SimpleClassifierBounds) {
    struct Case {
        int w, width;
        const char *symbol;
    };
    const Case cases[] = {
        {4, 1, ""},   {4, 2, "S"},  {4, 6, "S"},  {4, 7, "L"},  {4, 10, "L"}, {4, 11, "L"},
        {4, 14, "L"}, {4, 15, ""},  {4, 40, ""},  {5, 1, ""},   {5, 2, "S"},  {5, 7, "S"},
        {5, 8, "L"},  {5, 17, "L"}, {5, 18, ""},  {22, 10, ""}, {22, 11, "S"}, {22, 33, "S"},
        {22, 34, "L"}, {22, 77, "L"}, {22, 78, ""}, {2, 1, "S"}, {2, 3, "S"}, {2, 4, "L"},
        {2, 7, "L"},  {2, 8, ""},
    };
    for (const Case &c : cases) {
        set_width(c.w);
        Samples d = crossings({c.width});
        EXPECT_EQ(signal_fetch_pulse(d.data(), static_cast<int>(d.size())), c.width);
        EXPECT_EQ(symbols(), c.symbol) << "w " << c.w << " width " << c.width;
    }
}

TEST_F(Uplink, ShortRunSuppression) {
    Samples d = crossings(std::vector<int>(18, 4));
    signal_fetch_pulse(d.data(), static_cast<int>(d.size()));
    EXPECT_EQ(symbols(), std::string(17, 'S'));
    EXPECT_EQ(state().short_run_suppress, 1);
    // The flag outlives the block; a long lobe clears it.
    d = crossings({4, 4, 8, 4, 4});
    signal_fetch_pulse(d.data(), static_cast<int>(d.size()));
    EXPECT_EQ(symbols(), "LSS");
    EXPECT_EQ(state().short_run_suppress, 0);
    // The pattern decoder suppresses the same way.
    vr::modem::set_uplink_alg(1);
    d = crossings(std::vector<int>(20, 4));
    signal_fetch_pulse_pattern(d.data(), static_cast<int>(d.size()));
    EXPECT_EQ(symbols(), std::string(17, 'S'));
}

TEST_F(Uplink, FullRingLosesSymbolsNotMemory) {
    ringbuf_destroy(&state().recv_ring);
    ASSERT_EQ(ringbuf_create(&state().recv_ring, 5), 0);
    Samples d = crossings({8, 4, 8, 4, 8, 4, 8, 4});
    signal_fetch_pulse(d.data(), static_cast<int>(d.size()));
    EXPECT_EQ(symbols(), "LSLSL");
}

// Pattern decoder at width 4: each case is a sequence of blocks (widths
// after the reference crossing) and the symbols they give together. The
// last width of a block waits for the next block.
struct PatternCase {
    const char *name;
    int w;
    std::vector<std::vector<int>> blocks;
    std::string symbols;
    int carried;  // last_width after the last block
};

void PrintTo(const PatternCase &c, std::ostream *os) { *os << c.name; }

class PatternDecoder : public Uplink, public ::testing::WithParamInterface<PatternCase> {};

TEST_P(PatternDecoder, RepairsAndCarry) {
    const PatternCase &c = GetParam();
    set_width(c.w);
    std::string got;
    for (const auto &widths : c.blocks) {
        Samples d = crossings(widths);
        const int last = signal_fetch_pulse_pattern(d.data(), static_cast<int>(d.size()));
        EXPECT_EQ(last, static_cast<int>(d.size()) - 1);
        got += symbols();
    }
    EXPECT_EQ(got, c.symbols);
    EXPECT_EQ(state().last_width, c.carried);
}

const PatternCase kPatternCases[] = {
    {"clean", 4, {{4, 8, 4, 4, 8}, {4, 4}}, "SLSS" "LS", 4},
    {"spike_merged_into_its_lobe", 4, {{4, 3, 1, 4, 4, 4}}, "SLS", 4},
    {"merged_splits_down", 4, {{4, 13, 4, 4}}, "SSSSS", 4},
    {"merged_splits_up", 4, {{4, 15, 4, 4}}, "SSSSSS", 4},
    {"half_after_carried_wide", 4, {{4, 11}, {2, 4, 4}}, "S" "LSS", 4},
    {"half_before_wide", 4, {{4, 4, 2, 11, 4, 4}}, "SSSLS", 4},
    {"wide_after_carried_between", 4, {{4, 6}, {11, 4, 4}}, "S" "LLS", 4},
    {"wide_before_between", 4, {{4, 11, 6, 4, 4}}, "SLLS", 4},
    {"wide_shares_with_both", 4, {{4, 11, 4, 4, 4}}, "SLSS", 4},
    {"between_long_keeps_sum", 4, {{4, 6, 4}}, "SL", 2},
    {"between_short_keeps_sum", 10, {{10, 14, 10}}, "SS", 14},
    {"between_long_wide_carrier", 10, {{10, 16, 10}}, "SL", 6},
    {"glitch_at_block_end", 4, {{4, 8, 4, 1}, {3, 4, 4}}, "SL" "LS", 4},
    {"block_too_slow_is_no_signal", 4, {{20, 20, 20}}, "", 0},
    {"narrow_carrier_as_measured", 3, {{3, 6, 3}}, "SLS", 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, PatternDecoder, ::testing::ValuesIn(kPatternCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Uplink, PatternDecoderTakesOnlyShortBlocks) {
    Samples d(544, 0);
    for (std::size_t i = 4; i < d.size(); i += 4) d[i] = 1;
    EXPECT_EQ(signal_fetch_pulse_pattern(d.data(), 544), 0);
    EXPECT_EQ(symbols(), "");
    EXPECT_EQ(signal_fetch_pulse_pattern(d.data(), 543), 540);
    EXPECT_EQ(symbols(), std::string(17, 'S'));
    EXPECT_EQ(signal_fetch_pulse_pattern(nullptr, 10), 0);
}

TEST_F(Uplink, PatternPipelineFeedsLongBlocksInPieces) {
    // A 5000-sample block of known lobes, with a silent gap longer than any
    // sub-block in the middle, through the pattern pipeline without filter.
    vr::modem::set_uplink_alg(3);
    std::vector<int> first, second;
    std::string expected_first, expected_second;
    uint32_t seed = 5;
    auto make = [&](std::vector<int> &widths, std::string &expected, int n) {
        for (int i = 0; i < n; ++i) {
            seed = seed * 1103515245u + 12345u;
            const bool is_long = (seed >> 16) % 3 == 0 || i % 9 == 0;  // no 17 "S" in a row
            widths.push_back(is_long ? 8 : 4);
            expected += is_long ? 'L' : 'S';
        }
    };
    make(first, expected_first, 400);
    make(second, expected_second, 300);
    Samples x = square(first);
    const Samples gap(700, -10000);  // continues the last (negative) lobe of first
    x.insert(x.end(), gap.begin(), gap.end());
    Samples tail = square(second);
    x.insert(x.end(), tail.begin(), tail.end());
    const int last = signal_analysis(x.data(), static_cast<int>(x.size()), 0);
    EXPECT_EQ(last, static_cast<int>(x.size()) - second.back());
    const std::string got = symbols();
    // The last lobe before the gap runs into it; after the gap decoding
    // resumes at the first crossing. The last lobe has no closing crossing
    // and the one before it waits for a later block.
    EXPECT_EQ(got, expected_first.substr(0, expected_first.size() - 1) +
                       expected_second.substr(0, expected_second.size() - 2));
}

TEST_F(Uplink, AnalysisFlagSkips) {
    Samples x = square({4, 4, 4, 4});
    EXPECT_EQ(signal_analysis(x.data(), 16, 1), 0);
    EXPECT_EQ(x, square({4, 4, 4, 4}));
}

TEST_F(Uplink, ToneWidthDetector) {
    auto tone = [](int half, int n) {
        Samples x(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            x[static_cast<std::size_t>(i)] =
                static_cast<int16_t>(20000 * std::sin(M_PI * (i + 0.5) / half));
        return x;
    };
    Samples x = tone(4, 2048);
    EXPECT_EQ(signal_analysis_freq_pattern(x.data(), 2048, 0), 5512);
    x = tone(4, 2048);
    signal_low_filter(x.data(), 2048);
    signal_thresholding(x.data(), 2048);
    signal_difference(x.data(), 2048);
    EXPECT_EQ(signal_pulse_width_detect(x.data(), 2048, 0), 4);
    x = tone(10, 2000);
    set_width(10);  // no effect on the detector
    EXPECT_EQ(signal_analysis_freq_pattern(x.data(), 2000, 0), 2205);
    x = tone(4, 2080);  // block too large
    EXPECT_EQ(signal_analysis_freq_pattern(x.data(), 2080, 0), -1);
    x = tone(4, 70);  // fewer than 19 crossings
    EXPECT_EQ(signal_analysis_freq_pattern(x.data(), 70, 0), -1);
    // Widths alternating 1 and 7: the mean is 4, but they scatter too far;
    // 2 and 6 stay within the tolerance of 2.
    std::vector<int> widths;
    for (int i = 0; i < 10; ++i) widths.insert(widths.end(), {1, 7});
    Samples d = crossings(widths);
    EXPECT_EQ(signal_pulse_width_detect(d.data(), static_cast<int>(d.size()), 0), -1);
    for (int &w : widths) w = w == 1 ? 2 : 6;
    d = crossings(widths);
    EXPECT_EQ(signal_pulse_width_detect(d.data(), static_cast<int>(d.size()), 0), 4);
    d = crossings(std::vector<int>(20, 7));
    EXPECT_EQ(signal_pulse_width_detect(d.data(), static_cast<int>(d.size()), 0), 7);
}

TEST_F(Uplink, BiquadHalfScaleAndEnds) {
    set_width(4);
    Samples x(200, 10000);
    x[0] = 123;
    x[199] = -77;
    signal_band_filter(x.data(), 200);
    EXPECT_EQ(x[0], 123);
    EXPECT_EQ(x[199], -77);
    EXPECT_NEAR(x[150], 5000, 2);  // unit DC gain at half scale
    Samples full(100, 32767);
    signal_band_filter(full.data(), 100);
    for (std::size_t i = 1; i < 99; ++i) ASSERT_LE(full[i], 16384);
}

TEST_F(Uplink, SignalEnergy) {
    const Samples a{3, 4};
    EXPECT_EQ(caculate_signal_energy(a.data(), 2), 25u);
    const Samples b{-32768};
    EXPECT_EQ(caculate_signal_energy(b.data(), 1), 1073741824u);
    const Samples loud(2048, 32767);
    EXPECT_EQ(caculate_signal_energy(loud.data(), 2048), std::numeric_limits<uint32_t>::max());
    EXPECT_EQ(caculate_signal_energy(nullptr, 3), 0u);
}

struct Source {
    Samples samples;
    std::size_t at = 0;
    static int read(void *context, int16_t *dst, int n) {
        auto *s = static_cast<Source *>(context);
        if (s->samples.size() - s->at < static_cast<std::size_t>(n)) return -1;
        std::copy_n(s->samples.begin() + static_cast<std::ptrdiff_t>(s->at), n, dst);
        s->at += static_cast<std::size_t>(n);
        return n;
    }
};

TEST_F(Uplink, LevelCalibration) {
    set_width(10);
    Source src;
    for (int i = 0; i < 4410; ++i) src.samples.push_back(i % 2 ? 3000 : -1000);
    ASSERT_EQ(signal_process(Source::read, &src), 0);
    EXPECT_EQ(src.at, 4410u);
    const suart_state &s = state();
    EXPECT_EQ(s.level_mid, 1000);
    // Split at index 240 (the first 2205 sorted samples are -1000).
    EXPECT_EQ(s.level_low, -1000);
    EXPECT_EQ(s.level_high, (1955 * -1000 + 2195 * 3000) / 4150);
    EXPECT_EQ(s.up_short_width, 4);
    EXPECT_EQ(s.up_long_width, 8);
    EXPECT_EQ(s.up_short_us, 90);
    EXPECT_EQ(s.up_long_us, 180);

    // Negative mean truncates toward zero.
    src = {};
    src.samples.assign(4410, -3);
    src.samples[0] = 2;
    ASSERT_EQ(signal_process(Source::read, &src), 0);
    EXPECT_EQ(s.level_mid, -2);
}

TEST_F(Uplink, CalibrationNearTheEnds) {
    // No sample at or below zero: the split falls off the low end and the
    // low level takes the lowest sample.
    Source src;
    for (int i = 0; i < 4410; ++i) src.samples.push_back(static_cast<int16_t>(500 + i % 7));
    ASSERT_EQ(signal_process(Source::read, &src), 0);
    EXPECT_EQ(state().level_low, 500);
    EXPECT_GT(state().level_high, 500);
    EXPECT_LT(state().level_high, 507);
    Source empty;
    EXPECT_EQ(signal_process(Source::read, &empty), -1);
    EXPECT_EQ(signal_process(nullptr, nullptr), -1);
}

TEST_F(Uplink, CalibrationStepRunsTwiceThenReady) {
    Source src;
    src.samples.assign(2 * 4410, 0);
    state().analysis_state = 2;
    EXPECT_EQ(vr::modem::calibration_step(Source::read, &src, 0), vr::modem::Calibration::kAgain);
    EXPECT_EQ(state().analysis_state, 1);
    EXPECT_EQ(state().recv_stage, 3);
    EXPECT_EQ(state().lobe_short_frames, 4);  // downlink lobes built
    EXPECT_EQ(vr::modem::calibration_step(Source::read, &src, 0), vr::modem::Calibration::kReady);
    EXPECT_EQ(state().analysis_state, 0);
    EXPECT_EQ(suart_get_calistat(), 255);
    EXPECT_EQ(state().level_low, 0);
    // The source is exhausted: four attempts fail.
    state().analysis_state = 1;
    EXPECT_EQ(vr::modem::calibration_step(Source::read, &src, 0), vr::modem::Calibration::kFailed);
    EXPECT_EQ(suart_get_calistat(), 187);
}

TEST_F(Uplink, ReceiveLoopCarriesTheTailOfEachBlock) {
    // Whatever a block leaves after its last crossing is the front of the
    // next block, sample for sample, and never more than the carry room.
    for (int w : {2, 4, 9, 22}) {
        vrtest::modem_setup(w, 2);
        const auto stereo = vrtest::modulate(vrtest::random_bytes(200, 9), vrtest::Framing{});
        vrsim::ChannelConfig config;
        config.snr_db = 15;
        const Samples mono = vrsim::Channel(config).process(vrsim::Channel::left(stereo));
        Source src{mono};
        const suart_state &s = state();
        int blocks = 0, carried = 0;
        while (vr::modem::receive_block(Source::read, &src) >= 0) {
            ASSERT_GE(s.rx_carry, 0);
            ASSERT_LT(s.rx_carry, vr::modem::carry_limit(w));
            ASSERT_LE(s.rx_carry, SUART_RX_CARRY_MAX);
            for (int i = 0; i < s.rx_carry; ++i)
                ASSERT_EQ(s.rx_block[i], mono[src.at - static_cast<std::size_t>(s.rx_carry - i)]);
            carried += s.rx_carry > 0;
            ++blocks;
            symbols();
        }
        EXPECT_GE(blocks, 5) << w;
        EXPECT_GT(carried, blocks / 2) << w;  // the tail is normally carried
        vrtest::modem_teardown();
    }
}

TEST_F(Uplink, SilentBlockConsumesNothingAndCarriesNothing) {
    Source src;
    src.samples.assign(4096, 0);
    EXPECT_EQ(vr::modem::receive_block(Source::read, &src), 0);
    EXPECT_EQ(state().rx_carry, 0);
    EXPECT_EQ(state().recv_stage, 1);
    EXPECT_EQ(vr::modem::receive_block(nullptr, nullptr), -1);
}

TEST_F(Uplink, SimplePipelineDecodesTheLeftChannel) {
    // The left channel of six bytes at width 4, idle before and after,
    // through smoother, slicer, difference and simple classifier in one
    // block, then the modem's byte reader.
    vrtest::modem_setup(4, 2);
    const std::vector<uint8_t> bytes{0x5A, 0x00, 0xFF, 0xAA, 0x81, 0x3C};
    vrtest::Framing framing;
    framing.lead = 2;
    framing.tail = 2;
    Samples left = vrsim::Channel::left(vrtest::modulate(bytes, framing));
    signal_analysis_a_algrothom(left.data(), static_cast<int>(left.size()));
    std::array<uint8_t, 6> out{};
    ASSERT_EQ(ringbuf_suart_delchr(&state().recv_ring, out.data(), 6), 6);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.end()), bytes);
    vrtest::modem_teardown();
}

TEST(SymbolDecoding, LongAndShortSymbolsToBytes) {
    const std::pair<const char *, int> rows[] = {
        {"LLLLLLLL", 0xAA}, {"SSSSSSSS", 0x00}, {"LSSSSSSS", 0xFF}, {"SLSSSSSS", 0x7F},
        {"LLSSSSSS", 0x80}, {"SSSSSSSL", 0x01}, {"LSSSSSSL", 0xFE}, {"LSSSXSSS", 0xF0},
    };
    for (auto [symbols, byte] : rows) EXPECT_EQ(ringbuf_suart_number(symbols, 8), byte) << symbols;
}

TEST(SymbolDecoding, ReaderSkipsNoiseBeforeTheStartSymbol) {
    ringbuf ring{};
    ASSERT_EQ(ringbuf_create(&ring, 64), 0);
    // Noise, then start symbol 'L' and the 8 symbols of 0xFF, then the
    // start symbol and symbols of 0xAA.
    const std::string symbols = "SSxLLSSSSSSSLLLLLLLLL";
    ringbuf_insert(&ring, symbols.data(), static_cast<uint32_t>(symbols.size()));
    uint8_t out[2] = {};
    EXPECT_EQ(ringbuf_suart_delchr(&ring, out, 2), 2);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0xAA);
    ringbuf_destroy(&ring);
}

TEST(SymbolDecoding, ByteTimeoutFailsManyButSkipsOne) {
    ringbuf ring{};
    ASSERT_EQ(ringbuf_create(&ring, 64), 0);
    vrtest::LogCapture log;
    uint8_t out[2] = {};
    // Only an incomplete byte: a two-byte read fails after 400 ms.
    ringbuf_insert(&ring, "LSS", 3);
    EXPECT_EQ(ringbuf_suart_delchr(&ring, out, 2), -1);
    EXPECT_TRUE(log.contains("!!!! err inter byte timeout !!!!!!!!!!!  "));
    // A one-byte read skips the missing byte and reports none.
    EXPECT_EQ(ringbuf_suart_delchr(&ring, out, 1), -1);
    ringbuf_destroy(&ring);
}

}  // namespace
