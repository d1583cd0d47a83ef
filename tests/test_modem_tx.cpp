// Audio modem downlink: configuration defaults, carrier tables, lobe
// buffers, the byte line code, the idle pattern and the send path.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "modem/modem.h"
#include "modem_harness.h"
#include "suart.h"
#include "suart_signal.h"
#include "tessil.h"

namespace {

using vr::modem::state;

// Frames (left, right) of a lobe buffer.
using Frames = std::vector<std::pair<int, int>>;
Frames frames_of(const int16_t *buffer, int n) {
    Frames out;
    for (int k = 0; k < n; ++k) out.emplace_back(buffer[2 * k], buffer[2 * k + 1]);
    return out;
}

void use_width(int w) {
    ASSERT_EQ(suart_init(0), 0);
    state().down_pending_width = w;
    state().down_pending_us = 500000 / signal_width2freq(w);
    vr::modem::apply_pending_downlink();
}

TEST(ModemConfig, InitSetsEveryDefault) {
    ASSERT_EQ(suart_init(0), 0);
    const suart_state &s = state();
    EXPECT_EQ(s.uplink_alg, 2);
    EXPECT_EQ(s.suart_debug, 1);
    EXPECT_EQ(s.level_high, 32767);
    EXPECT_EQ(s.level_low, -32768);
    EXPECT_EQ(s.level_mid, 0);
    const std::array<int, 8> widths{s.down_short_width, s.down_long_width, s.down_short_us,
                                    s.down_long_us,     s.up_short_width,  s.up_long_width,
                                    s.up_short_us,      s.up_long_us};
    EXPECT_EQ(widths, (std::array<int, 8>{4, 8, 100, 200, 4, 8, 100, 200}));
    EXPECT_EQ(s.up_pending_width, 4);
    EXPECT_EQ(s.up_pending_us, 100);
    const std::array<int, 8> formats{s.play_channels, s.play_sample_bytes, s.play_bits,
                                     s.play_rate,     s.rec_channels,      s.rec_sample_bytes,
                                     s.rec_bits,      s.rec_rate};
    EXPECT_EQ(formats, (std::array<int, 8>{2, 2, 16, 44100, 1, 2, 16, 44100}));
    EXPECT_EQ(s.short_run_suppress, 0);
    EXPECT_EQ(s.play_attach, '3');
    EXPECT_EQ(s.rec_attach, '3');
    ASSERT_NE(tessil.s_com.dev_name, nullptr);
    EXPECT_STREQ(tessil.s_com.dev_name, "android audio");
    // The port's device operations are the modem device's.
    EXPECT_EQ(tessil.s_com.ops.open, suart_open);
    EXPECT_EQ(tessil.s_com.ops.write, suart_write);
}

TEST(ModemConfig, SecondInitKeepsTheMutexUsableAndReplacesTheName) {
    ASSERT_EQ(suart_init(0), 0);
    ASSERT_EQ(suart_set_calistat(255), 0);
    vr::modem::set_uplink_alg(0);
    ASSERT_EQ(suart_init(1), 0);  // the old name is freed (ASan checks the leak)
    EXPECT_EQ(vr::modem::uplink_alg(), 2);
    EXPECT_EQ(suart_get_calistat(), 255);  // status words are not configuration
    EXPECT_EQ(pthread_mutex_trylock(&state().lock), 0);
    pthread_mutex_unlock(&state().lock);
}

TEST(ModemConfig, PlatformVariants) {
    EXPECT_EQ(suart_init_linux(0), -1);
    EXPECT_EQ(suart_init_macosx(0), -1);
    errno = 0;
    EXPECT_EQ(suart_init_win(0), -1);
    EXPECT_EQ(errno, -22);
}

TEST(ModemConfig, ControlCodeAccessors) {
    ASSERT_EQ(suart_init(0), 0);
    EXPECT_EQ(vr::modem::set_uplink_alg(1), 1);
    EXPECT_EQ(vr::modem::uplink_alg(), 1);
    EXPECT_EQ(vr::modem::set_suart_debug(5), 5);
    EXPECT_EQ(vr::modem::suart_debug(), 5);
    EXPECT_EQ(vr::modem::up_short_width(), 4);
    state().level_mid = -123;
    EXPECT_EQ(vr::modem::level_mid(), -123);
}

TEST(Carrier, WidthToFrequencyTable) {
    const std::array<int, 21> expected{11025, 7350, 5512, 4410, 3675, 3150, 2756,
                                       2450,  2205, 2004, 1837, 1696, 1575, 1470,
                                       1378,  1297, 1225, 1160, 1102, 1050, 1002};
    for (int w = 2; w <= 22; ++w) {
        EXPECT_EQ(signal_width2freq(w), expected[static_cast<std::size_t>(w - 2)]) << w;
        // Every supported carrier maps back to its own width.
        EXPECT_EQ(signal_freq2width(signal_width2freq(w)), w) << w;
        EXPECT_EQ(signal_selfreq(signal_width2freq(w)), signal_width2freq(w)) << w;
    }
    for (int w : {-4, 0, 1, 23, 1000}) EXPECT_EQ(signal_width2freq(w), -1) << w;
}

TEST(Carrier, FrequencyWindows) {
    struct Case {
        int freq, width;
    };
    const Case cases[] = {
        {5000, 4},  {5512, 4},  {1025, 22},  {972, 22},   {971, -1},   {1032, 21},
        {1080, 20}, {1130, 20}, {1132, 19},  {1190, -1},  {1440, 15},  {1500, -1},
        {1635, -1}, {1636, 13}, {4909, -1},  {4910, 4},   {5090, -1},  {5421, -1},
        {5601, 4},  {7300, 3},  {10935, 2},  {11114, 2},  {11115, -1}, {0, -1},
        {-5512, -1}, {20000, -1}};
    for (const Case &c : cases) EXPECT_EQ(signal_freq2width(c.freq), c.width) << c.freq;
}

TEST(Carrier, SnapToSupportedFrequency) {
    struct Case {
        int freq, snapped;
    };
    const Case cases[] = {{19, -1},    {20001, -1}, {1000, 1002}, {5000, 5512},
                          {20, -1},    {20000, -1}, {11025, 11025}, {7000, 7350},
                          {1100, 1102}, {3000, 3150}};
    for (const Case &c : cases) EXPECT_EQ(signal_selfreq(c.freq), c.snapped) << c.freq;
}

TEST(Carrier, FramesAndBytes) {
    EXPECT_EQ(byte2frame(400), -1);  // no playback format before init
    ASSERT_EQ(suart_init(0), 0);
    EXPECT_EQ(frame2byte(10), 40);
    EXPECT_EQ(byte2frame(43), 10);
    EXPECT_EQ(idle_frames(), 16);
}

TEST(Lobes, SineFilterReplacesOnlyLengths8And16) {
    std::array<int16_t, 8> s8{};
    ASSERT_EQ(signal_sin_filter(s8.data(), 8), 0);
    EXPECT_EQ(s8, (std::array<int16_t, 8>{0, -23170, -32768, -23170, 0, 23169, 32767, 23169}));
    std::array<int16_t, 16> s16{};
    ASSERT_EQ(signal_sin_filter(s16.data(), 16), 0);
    EXPECT_EQ(s16, (std::array<int16_t, 16>{0, -8360, -15446, -20182, -21845, -20182, -15446,
                                            -8360, 0, 8359, 15446, 20182, 21844, 20182, 15446,
                                            8359}));
    std::array<int16_t, 10> s10;
    s10.fill(7);
    ASSERT_EQ(signal_sin_filter(s10.data(), 10), 0);
    for (int16_t v : s10) EXPECT_EQ(v, 7);
    EXPECT_EQ(signal_sin_filter(nullptr, 8), -1);
}

TEST(Lobes, AntiphaseAtWidth4) {
    use_width(4);
    ASSERT_EQ(signal_pulse_buff_init(), 0);
    const suart_state &s = state();
    const Frames short_plus{{0, 0}, {-23170, 23169}, {-32768, 32767}, {-23170, 23169}};
    EXPECT_EQ(frames_of(s.lobe_short_plus, 4), short_plus);
    Frames short_minus;
    for (auto [l, r] : short_plus) short_minus.emplace_back(r, l);
    EXPECT_EQ(frames_of(s.lobe_short_minus, 4), short_minus);
    const Frames long_plus{{0, 0},           {-8360, 8359},   {-15446, 15446}, {-20182, 20182},
                           {-21845, 21844},  {-20182, 20182}, {-15446, 15446}, {-8360, 8359}};
    EXPECT_EQ(frames_of(s.lobe_long_plus, 8), long_plus);
    Frames long_minus;
    for (auto [l, r] : long_plus) long_minus.emplace_back(r, l);
    EXPECT_EQ(frames_of(s.lobe_long_minus, 8), long_minus);
}

TEST(Lobes, SameLayoutAtWidth4) {
    use_width(4);
    ASSERT_EQ(signal_pulse_buff_init_same(), 0);
    const suart_state &s = state();
    EXPECT_EQ(frames_of(s.lobe_short_plus, 4),
              (Frames{{0, 0}, {-23170, -23170}, {-32768, -32768}, {-23170, -23170}}));
    EXPECT_EQ(frames_of(s.lobe_short_minus, 4),
              (Frames{{0, 0}, {23169, 23169}, {32767, 32767}, {23169, 23169}}));
    // open_device_signal builds both layouts; the same layout stands.
    ASSERT_EQ(open_device_signal(), 0);
    EXPECT_EQ(s.lobe_layout, 0);
    EXPECT_EQ(frames_of(s.lobe_short_plus, 4)[2], std::make_pair(-32768, -32768));
}

TEST(Lobes, SquareAtOtherWidths) {
    for (int w : {2, 3, 5, 22}) {
        use_width(w);
        ASSERT_EQ(signal_pulse_buff_init(), 0) << w;
        const suart_state &s = state();
        EXPECT_EQ(frames_of(s.lobe_short_plus, w), Frames(static_cast<std::size_t>(w), {-32768, 32767})) << w;
        EXPECT_EQ(frames_of(s.lobe_long_minus, 2 * w), Frames(static_cast<std::size_t>(2 * w), {32767, -32768})) << w;
    }
}

TEST(Lobes, BuilderRefusesWidthsWithoutRoom) {
    ASSERT_EQ(suart_init(0), 0);
    for (int w : {0, 1, 23, 100}) {
        state().down_short_width = w;
        state().down_long_width = 2 * w;
        EXPECT_EQ(signal_pulse_buff_init(), -1) << w;
        EXPECT_EQ(send_signal_init(1), -1) << w;
    }
    EXPECT_EQ(state().lobe_short_frames, 0);
}

TEST(Lobes, InsertPeriodKindsAndPolarity) {
    use_width(4);
    std::array<int16_t, 40> out;
    EXPECT_EQ(insert_period(0, out.data(), 1), -1);  // nothing built yet
    ASSERT_EQ(signal_pulse_buff_init(), 0);
    const suart_state &s = state();
    struct Case {
        int kind, polarity;
        const int16_t *lobe;
        int samples;
    };
    const Case cases[] = {
        {0, 1, s.lobe_short_plus, 8},   {0, -1, s.lobe_short_minus, 8},
        {0, 255, s.lobe_short_minus, 8}, {1, 1, s.lobe_short_minus, 8},
        {2, 1, s.lobe_long_plus, 16},   {2, -1, s.lobe_long_minus, 16},
        {3, 1, s.lobe_long_minus, 16},  {2, 0x1FF, s.lobe_long_minus, 16},
    };
    for (const Case &c : cases) {
        out.fill(0x5A5A);
        ASSERT_EQ(insert_period(c.kind, out.data(), c.polarity), c.samples) << c.kind;
        EXPECT_EQ(std::memcmp(out.data(), c.lobe, static_cast<std::size_t>(c.samples) * 2), 0) << c.kind;
        EXPECT_EQ(out[static_cast<std::size_t>(c.samples)], 0x5A5A) << c.kind;
    }
    EXPECT_EQ(insert_period(4, out.data(), 1), -1);
    EXPECT_EQ(insert_period(-1, out.data(), 1), -1);
    EXPECT_EQ(insert_period(0, nullptr, 1), -1);
    EXPECT_EQ(insert_short_period(out.data(), -1), 8);
    EXPECT_EQ(insert_long_period(out.data(), -1), 16);
}

// The lobes of a byte, as (kind, polarity) read back from the samples.
std::vector<std::string> lobes_of(const int16_t *samples, int n, int w) {
    const suart_state &s = state();
    std::vector<std::string> out;
    int at = 0;
    while (at < n) {
        struct Option {
            const char *name;
            const int16_t *lobe;
            int frames;
        };
        const Option options[] = {{"S+", s.lobe_short_plus, w},
                                  {"S-", s.lobe_short_minus, w},
                                  {"L+", s.lobe_long_plus, 2 * w},
                                  {"L-", s.lobe_long_minus, 2 * w}};
        bool found = false;
        // Long lobes first: at square widths a long lobe starts like a short one.
        for (int o = 3; o >= 0 && !found; --o) {
            const Option &op = options[o];
            if (at + 2 * op.frames <= n &&
                std::memcmp(samples + at, op.lobe, static_cast<std::size_t>(op.frames) * 4) == 0) {
                out.emplace_back(op.name);
                at += 2 * op.frames;
                found = true;
            }
        }
        if (!found) return {"?"};
    }
    return out;
}

TEST(LineCode, KnownBytes) {
    use_width(4);
    ASSERT_EQ(signal_pulse_buff_init(), 0);
    struct Case {
        unsigned char byte;
        int frames;
        std::vector<std::string> lobes;
    };
    const std::vector<std::string> stop{"S+", "S-", "S+", "S-", "S+"};
    auto with_stop = [&](std::vector<std::string> v) {
        v.insert(v.end(), stop.begin(), stop.end());
        return v;
    };
    const Case cases[] = {
        {0x00, 15, with_stop({"L-", "S+", "S-", "S+", "S-", "S+", "S-", "S+", "S-"})},
        {0xFF, 16, with_stop({"L-", "L+", "S-", "S+", "S-", "S+", "S-", "S+", "S-"})},
        {0xAA, 23, with_stop({"L-", "L+", "L-", "L+", "L-", "L+", "L-", "L+", "L-"})},
        {0x81, 18, with_stop({"L-", "L+", "L-", "S+", "S-", "S+", "S-", "S+", "L-"})},
    };
    std::array<int16_t, 2 * SUART_SEND_FRAMES_MAX> out;
    for (const Case &c : cases) {
        const int n = char2sample(out.data(), c.byte);
        EXPECT_EQ(n, 2 * c.frames * 4) << int(c.byte);
        EXPECT_EQ(lobes_of(out.data(), n, 4), c.lobes) << int(c.byte);
    }
}

TEST(LineCode, EveryByteAtEveryWidthFitsTheSendBuffer) {
    // Bytes last 15w (0x00) to 23w (0xAA) frames; nothing is written past
    // the returned count.
    for (int w = 2; w <= 22; ++w) {
        use_width(w);
        ASSERT_EQ(signal_pulse_buff_init(), 0);
        std::vector<int16_t> out(2 * SUART_SEND_FRAMES_MAX + 64);
        int shortest = 1 << 30, longest = 0;
        for (int b = 0; b < 256; ++b) {
            std::fill(out.begin(), out.end(), int16_t{0x7B7B});
            const int n = char2sample(out.data(), static_cast<unsigned char>(b));
            ASSERT_GT(n, 0);
            ASSERT_EQ(n % (2 * w), 0);
            ASSERT_LE(n, 2 * 24 * w);
            for (std::size_t i = static_cast<std::size_t>(n); i < out.size(); ++i)
                ASSERT_EQ(out[i], 0x7B7B) << "w " << w << " byte " << b;
            shortest = std::min(shortest, n);
            longest = std::max(longest, n);
        }
        EXPECT_EQ(shortest, 30 * w) << w;
        EXPECT_EQ(longest, 46 * w) << w;
    }
}

TEST(LineCode, CarrierAlternatesAcrossBytesAndIdle) {
    // Bytes back to back and idle patterns keep one continuous carrier:
    // every lobe has the opposite sign of the one before.
    for (int w : {3, 4, 7}) {
        vrtest::modem_setup(w, 2);
        vrtest::Framing framing;
        framing.burst = 3;
        framing.lead = 2;
        framing.tail = 2;
        const std::vector<uint8_t> bytes{0x00, 0xFF, 0xAA, 0x55, 0x81, 0x7E};
        const auto stereo = vrtest::modulate(bytes, framing);
        int previous_sign = 0, lobes = 0;
        for (std::size_t i = 0; i < stereo.size(); i += 2) {
            EXPECT_EQ(stereo[i + 1], w == 4 ? stereo[i + 1] : -1 - stereo[i]);  // antiphase
            const int sign = stereo[i] > 0 ? 1 : stereo[i] < 0 ? -1 : 0;
            if (sign == 0 || sign == previous_sign) continue;
            previous_sign = sign;
            ++lobes;
        }
        // lead + tail + one idle between the two bursts, 4 lobes each; 14 per byte
        EXPECT_EQ(lobes, 4 * 5 + 14 * 6) << w;
        vrtest::modem_teardown();
    }
}

TEST(Idle, PatternAndPulls) {
    use_width(4);
    int more = 7;
    EXPECT_EQ(idle_samples(4, nullptr, &more), -1);  // nothing built
    ASSERT_EQ(signal_pulse_buff_init(), 0);
    const suart_state &s = state();
    // Four short lobes -1, +1, -1, +1.
    EXPECT_EQ(std::memcmp(s.idle_buf, s.lobe_short_minus, 16), 0);
    EXPECT_EQ(std::memcmp(s.idle_buf + 8, s.lobe_short_plus, 16), 0);
    EXPECT_EQ(std::memcmp(s.idle_buf + 16, s.lobe_short_minus, 16), 0);
    EXPECT_EQ(std::memcmp(s.idle_buf + 24, s.lobe_short_plus, 16), 0);

    std::array<int16_t, 64> out;
    out.fill(0x3C3C);
    EXPECT_EQ(idle_samples(0, nullptr, &more), 0);
    EXPECT_EQ(more, 0);
    EXPECT_EQ(idle_samples(5, out.data(), &more), 5);
    EXPECT_EQ(more, 1);
    EXPECT_EQ(std::memcmp(out.data(), s.idle_buf, 20), 0);
    EXPECT_EQ(out[10], 0x3C3C);
    EXPECT_EQ(idle_samples(0, nullptr, &more), 0);
    EXPECT_EQ(more, 1);
    // The rest of the pattern (11 frames) even when more is asked for.
    EXPECT_EQ(idle_samples(20, out.data(), &more), 11);
    EXPECT_EQ(std::memcmp(out.data(), s.idle_buf + 10, 44), 0);
    EXPECT_EQ(more, 0);
    EXPECT_EQ(idle_samples(16, out.data(), nullptr), 16);
    EXPECT_EQ(std::memcmp(out.data(), s.idle_buf, 64), 0);
    EXPECT_EQ(idle_samples(3, nullptr, &more), -1);
    EXPECT_EQ(idle_samples(-1, out.data(), &more), -1);
    EXPECT_EQ(poll_audio_samples(4, out.data()), -1);
    EXPECT_EQ(push_audio_samples(9, out.data()), 9);
}

struct Collected {
    std::vector<int16_t> samples;
    int calls = 0;
};
int collect(void *context, const int16_t *samples, int n) {
    auto *c = static_cast<Collected *>(context);
    c->samples.insert(c->samples.end(), samples, samples + n);
    ++c->calls;
    return n;
}
int refuse(void *, const int16_t *, int) { return -1; }

TEST(SendPath, QueuedBytesBackToBackElseOneIdlePattern) {
    vrtest::modem_setup(4, 2);
    suart_state &s = state();
    Collected out;
    ASSERT_EQ(vr::modem::send_pass(collect, &out), 32);  // 8w samples of idle
    EXPECT_EQ(std::vector<int16_t>(s.idle_buf, s.idle_buf + 32), out.samples);

    const uint8_t bytes[] = {0x12, 0xFE, 0x00};
    ASSERT_EQ(ringbuf_insert(&s.send_ring, bytes, 3), 3);
    out = {};
    const int n = vr::modem::send_pass(collect, &out);
    std::vector<int16_t> expected;
    std::array<int16_t, 2 * SUART_SEND_FRAMES_MAX> one;
    for (uint8_t b : bytes) {
        const int k = char2sample(one.data(), b);
        expected.insert(expected.end(), one.begin(), one.begin() + k);
    }
    EXPECT_EQ(n, static_cast<int>(expected.size()));
    EXPECT_EQ(out.samples, expected);
    EXPECT_EQ(out.calls, 3);  // one write per byte
    EXPECT_EQ(ringbuf_len(&s.send_ring), 0);
    vrtest::modem_teardown();
}

TEST(SendPath, SilentWhileCalibratingAndRefusedWithoutLobes) {
    ASSERT_EQ(suart_init(0), 0);
    Collected out;
    EXPECT_EQ(vr::modem::send_pass(collect, &out), -1);  // no lobes yet
    ASSERT_EQ(signal_pulse_buff_init(), 0);
    ASSERT_EQ(suart_set_calistat(170), 0);
    EXPECT_EQ(vr::modem::send_pass(collect, &out), 0);
    EXPECT_TRUE(out.samples.empty());
    ASSERT_EQ(suart_set_calistat(255), 0);
    EXPECT_EQ(vr::modem::send_pass(refuse, nullptr), -1);
    EXPECT_EQ(vr::modem::send_pass(nullptr, nullptr), -1);
}

TEST(FrequencyChange, SendCarrierRebuildsTheLobes) {
    ASSERT_EQ(suart_init(0), 0);
    ASSERT_EQ(signal_pulse_buff_init(), 0);
    const suart_state &s = state();
    ASSERT_EQ(set_local_send_freq(1000), 0);  // snapped to 1002 Hz
    EXPECT_EQ(s.send_freq, 1002);
    EXPECT_EQ(s.down_pending_width, 22);
    EXPECT_EQ(s.down_pending_us, 499);
    EXPECT_EQ(s.down_short_width, 22);
    EXPECT_EQ(s.down_long_width, 44);
    EXPECT_EQ(s.down_short_us, 499);
    EXPECT_EQ(s.down_long_us, 998);
    EXPECT_EQ(s.lobe_short_frames, 22);  // rebuilt at once, same layout kept
    EXPECT_EQ(s.lobe_layout, 1);
    std::array<int16_t, 2 * SUART_SEND_FRAMES_MAX> out;
    EXPECT_EQ(char2sample(out.data(), 0xAA), 46 * 22);
    EXPECT_EQ(idle_frames(), 88);
    // The uplink is untouched.
    EXPECT_EQ(s.up_short_width, 4);
}

TEST(FrequencyChange, ReceiveCarrierAndRefusals) {
    ASSERT_EQ(suart_init(0), 0);
    const suart_state &s = state();
    ASSERT_EQ(set_local_recv_freq(2205), 0);
    EXPECT_EQ(s.recv_freq, 2205);
    EXPECT_EQ(s.up_short_width, 10);
    EXPECT_EQ(s.up_long_width, 20);
    EXPECT_EQ(s.up_short_us, 226);
    EXPECT_EQ(s.up_long_us, 452);
    EXPECT_EQ(s.down_short_width, 4);
    for (int bad : {19, 20001, 20}) {
        errno = 0;
        EXPECT_EQ(set_local_send_freq(bad), -1) << bad;
        EXPECT_EQ(errno, -24);
        EXPECT_EQ(set_local_recv_freq(bad), -1) << bad;
    }
    EXPECT_EQ(s.down_short_width, 4);
    EXPECT_EQ(s.up_short_width, 10);
}

}  // namespace
