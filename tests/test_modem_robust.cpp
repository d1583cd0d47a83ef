// Audio modem robustness: hostile and degenerate sample blocks never crash
// the uplink, never touch memory outside the buffers they are given, and
// leave the receive state (carry, pattern carry, symbol ring) valid.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "channel.h"
#include "core/platform.h"
#include "modem/modem.h"
#include "modem_harness.h"
#include "suart.h"
#include "suart_signal.h"

namespace {

using vr::modem::state;
using Samples = std::vector<int16_t>;

// Hostile block shapes, each SUART_RX_BLOCK samples long.
Samples make_block(int kind, std::mt19937 &rng) {
    Samples x(SUART_RX_BLOCK);
    std::uniform_int_distribution<int> any(-32768, 32767);
    auto square = [&](int half) {
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = (i / static_cast<std::size_t>(half)) % 2 ? int16_t{-32768} : int16_t{32767};
    };
    switch (kind) {
    case 0: std::fill(x.begin(), x.end(), int16_t{0}); break;           // silence
    case 1: square(1); break;                                            // full scale, every sample
    case 2: square(2); break;
    case 3: square(3); break;
    case 4: square(7); break;
    case 5: square(64); break;
    case 6: square(1500); break;
    case 7:                                                              // clipped noise
        for (auto &v : x) v = static_cast<int16_t>(std::clamp(any(rng) * 4, -32768, 32767));
        break;
    case 8:                                                              // impulses in silence
        std::fill(x.begin(), x.end(), int16_t{0});
        for (int k = 0; k < 40; ++k)
            x[static_cast<std::size_t>(rng() % x.size())] = rng() % 2 ? int16_t{32767} : int16_t{-32768};
        break;
    case 9: std::fill(x.begin(), x.end(), int16_t{-32768}); break;     // stuck low
    case 10: std::fill(x.begin(), x.end(), int16_t{32767}); break;     // stuck high
    case 11:                                                             // sawtooth
        for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<int16_t>((i * 977) % 65536 - 32768);
        break;
    case 12:                                                             // random widths
    {
        std::size_t i = 0;
        int16_t v = 32767;
        while (i < x.size()) {
            const std::size_t run = 1 + rng() % 100;
            for (std::size_t k = 0; k < run && i < x.size(); ++k) x[i++] = v;
            v = static_cast<int16_t>(-1 - v);
        }
        break;
    }
    default:
        for (auto &v : x) v = static_cast<int16_t>(any(rng));
    }
    return x;
}
constexpr int kKinds = 14;

// The receive state is whole after any block.
void expect_valid_state(int w) {
    const suart_state &s = state();
    ASSERT_GE(s.rx_carry, 0);
    ASSERT_LE(s.rx_carry, SUART_RX_CARRY_MAX);
    ASSERT_LT(s.rx_carry, vr::modem::carry_limit(w));
    ASSERT_TRUE(s.rx_carry_side >= -1 && s.rx_carry_side <= 1);
    ASSERT_TRUE(s.last_width_pattern_c_flag == 0 || s.last_width_pattern_c_flag == 1);
    ASSERT_TRUE(s.short_run_suppress == 0 || s.short_run_suppress == 1);
    ASSERT_GE(s.last_width, -2 * SUART_RX_BUFFER);
    ASSERT_LE(s.last_width, 2 * SUART_RX_BUFFER);
    for (char c : vrtest::drain_ring()) ASSERT_TRUE(c == 'S' || c == 'L') << int(c);
}

struct Feed {
    std::vector<Samples> blocks;
    std::size_t next = 0;
    static int read(void *context, int16_t *dst, int n) {
        auto *f = static_cast<Feed *>(context);
        if (f->next >= f->blocks.size() || n != SUART_RX_BLOCK) return -1;
        std::copy(f->blocks[f->next].begin(), f->blocks[f->next].end(), dst);
        ++f->next;
        return n;
    }
};

class HostileBlocks : public ::testing::TestWithParam<int> {};

TEST_P(HostileBlocks, ReceiveLoopStaysValid) {
    const int alg = GetParam();
    // The diagnostics of verbosity 5 run too, into a silent log.
    vr::platform::set_log_sink([](std::string_view) {});
    std::mt19937 rng(static_cast<uint32_t>(alg + 1));
    for (int w : {2, 4, 11, 22}) {
        for (int debug : {1, 5}) {
            vrtest::modem_setup(w, alg);
            vr::modem::set_suart_debug(debug);
            for (int16_t mid : {int16_t{0}, int16_t{32767}, int16_t{-32768}, int16_t{-1200}}) {
                state().level_mid = mid;
                Feed feed;
                for (int round = 0; round < 3; ++round)
                    for (int kind = 0; kind < kKinds; ++kind) feed.blocks.push_back(make_block(kind, rng));
                std::shuffle(feed.blocks.begin() + kKinds, feed.blocks.end(), rng);
                while (true) {
                    const int consumed = vr::modem::receive_block(Feed::read, &feed);
                    if (consumed < 0) break;
                    ASSERT_LE(consumed, SUART_RX_BUFFER);
                    expect_valid_state(w);
                }
                // The state is still usable: a clean signal that follows
                // decodes (after whatever the garbage before it made).
                state().level_mid = 0;
                const std::vector<uint8_t> bytes{0x3C, 0xA5, 0x00, 0xFF};
                const auto line = vrsim::Channel::left(vrtest::modulate(bytes, vrtest::Framing{}));
                const auto got = vrtest::decode_symbols(vrtest::receive(line, false));
                ASSERT_GE(got.size(), bytes.size());
                EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), got.end() - 4))
                    << "alg " << alg << " w " << w << " debug " << debug << " mid " << mid;
            }
            vrtest::modem_teardown();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Modem, HostileBlocks, ::testing::Values(0, 1, 2, 3),
                         [](const auto &info) { return "alg" + std::to_string(info.param); });

// Runs f on n hostile samples placed between two guard zones and checks
// that the guards are untouched.
void guarded(int n, const std::function<void(int16_t *, int)> &f, std::mt19937 &rng) {
    constexpr int kGuard = 64;
    constexpr int16_t kSentinel = 0x5A5A;
    Samples buffer(static_cast<std::size_t>(n + 2 * kGuard), kSentinel);
    std::uniform_int_distribution<int> any(-32768, 32767);
    for (int i = 0; i < n; ++i) {
        // Mostly a carrier with noise, sometimes anything.
        const int base = ((i / 4) % 2 ? 20000 : -20000) + any(rng) / 8;
        buffer[static_cast<std::size_t>(kGuard + i)] =
            static_cast<int16_t>(rng() % 16 ? std::clamp(base, -32768, 32767) : any(rng));
    }
    f(buffer.data() + kGuard, n);
    for (int i = 0; i < kGuard; ++i) {
        ASSERT_EQ(buffer[static_cast<std::size_t>(i)], kSentinel) << "before, n " << n;
        ASSERT_EQ(buffer[static_cast<std::size_t>(kGuard + n + i)], kSentinel) << "after, n " << n;
    }
}

TEST(ModemStages, StayInsideTheirBuffers) {
    ASSERT_EQ(suart_init(0), 0);
    ASSERT_EQ(ringbuf_create(&state().recv_ring, 2926), 0);
    std::mt19937 rng(3);
    const std::vector<std::pair<const char *, std::function<void(int16_t *, int)>>> stages = {
        {"low_filter", [](int16_t *x, int n) { signal_low_filter(x, n); }},
        {"band_filter", [](int16_t *x, int n) { signal_band_filter(x, n); }},
        {"thresholding", [](int16_t *x, int n) { signal_thresholding(x, n); }},
        {"difference", [](int16_t *x, int n) { signal_difference(x, n); }},
        {"fetch_pulse", [](int16_t *x, int n) { signal_fetch_pulse(x, n); }},
        {"fetch_pulse_pattern", [](int16_t *x, int n) { signal_fetch_pulse_pattern(x, n); }},
        {"analysis_simple", [](int16_t *x, int n) { signal_analysis_a_algrothom(x, n); }},
        {"analysis_pattern", [](int16_t *x, int n) { signal_analysis_a_algrothom_pattern(x, n); }},
        {"analysis", [](int16_t *x, int n) { signal_analysis(x, n, 0); }},
        {"freq_pattern", [](int16_t *x, int n) { signal_analysis_freq_pattern(x, n, 5512); }},
        {"width_detect", [](int16_t *x, int n) { signal_pulse_width_detect(x, n, 5512); }},
        {"energy", [](int16_t *x, int n) { caculate_signal_energy(x, n); }},
    };
    for (int w : {2, 4, 22}) {
        state().up_short_width = w;
        state().up_long_width = 2 * w;
        for (int alg : {0, 1, 2}) {
            vr::modem::set_uplink_alg(alg);
            for (int n : {0, 1, 2, 3, 4, 543, 544, 2079, 2080, 5000}) {
                for (const auto &[name, f] : stages) {
                    SCOPED_TRACE(name);
                    guarded(n, f, rng);
                    ringbuf_flush(&state().recv_ring);
                }
            }
        }
    }
    for (const auto &[name, f] : stages) f(nullptr, 16);  // no block: no effect, no crash
    EXPECT_EQ(signal_analysis(nullptr, 100, 0), 0);
    ringbuf_destroy(&state().recv_ring);
}

TEST(ModemStages, PatternDecoderOnRandomWidthLists) {
    // Width lists of every kind (spikes, halves, merged runs, huge gaps)
    // and carries from earlier lists: the decoder's list never overflows
    // and its carry stays bounded.
    ASSERT_EQ(suart_init(0), 0);
    ASSERT_EQ(ringbuf_create(&state().recv_ring, 2926), 0);
    std::mt19937 rng(17);
    for (int w = 2; w <= 22; ++w) {
        state().up_short_width = w;
        state().up_long_width = 2 * w;
        for (int trial = 0; trial < 200; ++trial) {
            Samples d(static_cast<std::size_t>(1 + rng() % 543), 0);
            const int style = static_cast<int>(rng() % 4);
            std::size_t at = 0;
            while (true) {
                int width;
                switch (style) {
                case 0: width = 1 + static_cast<int>(rng() % 3); break;                // spikes
                case 1: width = 3 * w + 1 + static_cast<int>(rng() % (3 * w)); break;  // merged
                case 2: width = 1 + static_cast<int>(rng() % (4 * w)); break;          // anything
                default: width = rng() % 2 ? w / 2 + 1 : 5 * w / 2; break;              // half, wide
                }
                at += static_cast<std::size_t>(width);
                if (at >= d.size()) break;
                d[at] = 1;
            }
            signal_fetch_pulse_pattern(d.data(), static_cast<int>(d.size()));
            ASSERT_NO_FATAL_FAILURE(expect_valid_state(w));
        }
    }
    ringbuf_destroy(&state().recv_ring);
}

TEST(ModemStages, CalibrationOnExtremeInput) {
    ASSERT_EQ(suart_init(0), 0);
    for (int16_t v : {int16_t{-32768}, int16_t{32767}, int16_t{0}}) {
        struct Constant {
            int16_t v;
            static int read(void *c, int16_t *dst, int n) {
                std::fill(dst, dst + n, static_cast<Constant *>(c)->v);
                return n;
            }
        } source{v};
        ASSERT_EQ(signal_process(Constant::read, &source), 0);
        EXPECT_EQ(state().level_mid, v);
        EXPECT_EQ(state().level_low, v);
        EXPECT_EQ(state().level_high, v);
    }
}

}  // namespace
