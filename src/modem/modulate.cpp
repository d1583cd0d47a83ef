// Downlink modulation: bytes become half-cycles ("lobes") of a carrier in a
// differential width code, as interleaved stereo frames. Lobes are never
// computed per byte; they are copied from four buffers prepared for the
// width in force, which live in the modem state and have room for the
// widest carrier, so the send path never allocates.
#include <algorithm>
#include <array>
#include <cstring>

#include "log.h"
#include "modem/modem.h"

namespace {

using vr::modem::state;

// One full sine cycle at full scale, negative half first: replaces the
// square seed of the short lobes at width 4.
constexpr std::array<int16_t, 8> kSine8{0, -23170, -32768, -23170, 0, 23169, 32767, 23169};

// The 16-point cycle scaled to two thirds (truncating toward zero): the
// long lobes at width 4 have two thirds of the short lobes' amplitude.
constexpr std::array<int16_t, 16> kSine16 = [] {
    constexpr std::array<int, 16> cycle{0,     -12540, -23170, -30274, -32768, -30274,
                                        -23170, -12540, 0,     12539,  23169,  30273,
                                        32767, 30273,  23169,  12539};
    std::array<int16_t, 16> out{};
    for (std::size_t i = 0; i < cycle.size(); ++i)
        out[i] = static_cast<int16_t>(cycle[i] * 2 / 3);
    return out;
}();

constexpr int kPlus = 1;
constexpr int kMinus = -1;

// The sine shapes belong to the default carrier (width 4); every other
// carrier sends square lobes. (Shaping by seed length alone would also turn
// the long lobes of width 2, whose seed has 8 values, into a sine, and a
// slicer then sees them 3 samples high, like a short lobe.)
constexpr int kShapedWidth = 4;

// Fills the plus and minus buffers of a lobe of n frames from its seed: the
// A half is the seed's first n values, the B half its last n.
void build_lobe(int n, bool shaped, bool antiphase, int16_t *plus, int16_t *minus) {
    std::array<int16_t, 2 * SUART_LOBE_FRAMES_MAX> seed{};
    std::fill_n(seed.begin(), n, int16_t{-32768});
    std::fill_n(seed.begin() + n, n, int16_t{32767});
    if (shaped) signal_sin_filter(seed.data(), 2 * n);
    for (int k = 0; k < n; ++k) {
        const int16_t a = seed[static_cast<std::size_t>(k)];
        const int16_t b = seed[static_cast<std::size_t>(n + k)];
        plus[2 * k] = a;
        plus[2 * k + 1] = antiphase ? b : a;
        minus[2 * k] = b;
        minus[2 * k + 1] = antiphase ? a : b;
    }
}

// Four short lobes -1, +1, -1, +1: continues the alternation after a
// byte's last (+1) lobe and leads into the next byte's (-1) start lobe.
void build_idle(suart_state &s) {
    int16_t *at = s.idle_buf;
    for (int polarity : {kMinus, kPlus, kMinus, kPlus}) at += insert_short_period(at, polarity);
    s.idle_total = 4 * s.lobe_short_frames;
    s.idle_remaining = s.idle_total;
}

int build_buffers(bool antiphase) {
    suart_state &s = state();
    const int short_frames = vr::modem::load(s.down_short_width);
    const int long_frames = vr::modem::load(s.down_long_width);
    if (!vr::modem::valid_width(short_frames) || long_frames < 2 * SUART_WIDTH_MIN ||
        long_frames > SUART_LOBE_FRAMES_MAX)
        return -1;
    const bool shaped = short_frames == kShapedWidth;
    build_lobe(short_frames, shaped, antiphase, s.lobe_short_plus, s.lobe_short_minus);
    build_lobe(long_frames, shaped, antiphase, s.lobe_long_plus, s.lobe_long_minus);
    s.lobe_short_frames = short_frames;
    s.lobe_long_frames = long_frames;
    s.lobe_layout = antiphase ? 1 : 0;
    build_idle(s);
    return 0;
}

bool lobes_built(const suart_state &s) { return s.lobe_short_frames > 0; }

}  // namespace

VR_API int signal_sin_filter(int16_t *seed, int length) {
    if (!seed) return -1;
    if (length == static_cast<int>(kSine8.size()))
        std::copy(kSine8.begin(), kSine8.end(), seed);
    else if (length == static_cast<int>(kSine16.size()))
        std::copy(kSine16.begin(), kSine16.end(), seed);
    return 0;
}

VR_API int signal_pulse_buff_init(void) { return build_buffers(true); }
VR_API int signal_pulse_buff_init_same(void) { return build_buffers(false); }

VR_API int send_signal_init(int mode) {
    log_print(3, "send_signal_init:%x", static_cast<unsigned>(mode));
    return mode ? signal_pulse_buff_init() : signal_pulse_buff_init_same();
}

VR_API int open_device_signal(void) {
    if (send_signal_init(1) != 0) return -1;
    return send_signal_init(0);
}

VR_API int insert_period(int kind, int16_t *dst, int polarity) {
    const suart_state &s = state();
    if ((polarity & 0xFF) == 0xFF && (kind == 0 || kind == 2)) ++kind;
    const int16_t *lobe;
    int frames;
    switch (kind) {
    case 0: lobe = s.lobe_short_plus; frames = s.lobe_short_frames; break;
    case 1: lobe = s.lobe_short_minus; frames = s.lobe_short_frames; break;
    case 2: lobe = s.lobe_long_plus; frames = s.lobe_long_frames; break;
    case 3: lobe = s.lobe_long_minus; frames = s.lobe_long_frames; break;
    default: return -1;
    }
    if (!dst || frames <= 0) return -1;
    std::memcpy(dst, lobe, static_cast<std::size_t>(frames) * 2 * sizeof *dst);
    return 2 * frames;
}

VR_API int insert_short_period(int16_t *dst, int polarity) { return insert_period(0, dst, polarity); }
VR_API int insert_long_period(int16_t *dst, int polarity) { return insert_period(2, dst, polarity); }

VR_API int char2sample(int16_t *dst, unsigned char byte) {
    if (!dst || !lobes_built(state())) return -1;
    int16_t *at = dst;
    at += insert_long_period(at, kMinus);  // start lobe
    // Most significant bit first; a short lobe repeats the previous bit, a
    // long lobe changes it; the bit before the first counts as 0.
    int previous = 0;
    int polarity = kPlus;
    for (int bit = 7; bit >= 0; --bit) {
        const int value = (byte >> bit) & 1;
        at += value == previous ? insert_short_period(at, polarity) : insert_long_period(at, polarity);
        previous = value;
        polarity = -polarity;
    }
    for (int stop = 0; stop < 5; ++stop) {
        at += insert_short_period(at, polarity);
        polarity = -polarity;
    }
    return static_cast<int>(at - dst);
}

VR_API int idle_samples(int frames, int16_t *dst, int *more) {
    suart_state &s = state();
    if (!lobes_built(s) || frames < 0) return -1;
    if (frames == 0) {
        if (more) *more = s.idle_remaining != s.idle_total;
        return 0;
    }
    if (!dst) return -1;
    const int count = std::min(frames, s.idle_remaining);
    const int start = s.idle_total - s.idle_remaining;
    std::memcpy(dst, s.idle_buf + 2 * start, static_cast<std::size_t>(count) * 2 * sizeof *dst);
    s.idle_remaining -= count;
    if (s.idle_remaining == 0) s.idle_remaining = s.idle_total;
    if (more) *more = s.idle_remaining != s.idle_total;
    return count;
}

VR_API int poll_audio_samples(int frames, int16_t *dst) {
    (void)frames;
    (void)dst;
    return -1;
}

VR_API int push_audio_samples(int frames, const int16_t *src) {
    (void)src;
    return frames;
}

namespace {

int frame_bytes() {
    const suart_state &s = state();
    return s.play_bits / 8 * s.play_channels;
}

}  // namespace

VR_API int frame2byte(int frames) { return frames * frame_bytes(); }

VR_API int byte2frame(int bytes) {
    const int per_frame = frame_bytes();
    return per_frame > 0 ? bytes / per_frame : -1;
}

VR_API int idle_frames(void) { return 4 * vr::modem::load(state().down_short_width); }

namespace vr::modem {

int send_pass(SampleSink sink, void *context, int idle_patterns) {
    constexpr int kCalibrating = 170;
    if (suart_get_calistat() == kCalibrating) return 0;
    suart_state &s = state();
    if (!sink || !lobes_built(s)) return -1;
    if (ringbuf_len(&s.send_ring) == 0) {
        // Several idle patterns go out in one write, back to back as single
        // passes would write them (the send buffer holds six at width 22).
        const int per_pattern = 2 * s.idle_total;
        const int patterns = std::clamp(idle_patterns, 1, 2 * SUART_SEND_FRAMES_MAX / per_pattern);
        if (patterns == 1) return sink(context, s.idle_buf, per_pattern) == per_pattern ? per_pattern : -1;
        for (int i = 0; i < patterns; ++i)
            std::memcpy(s.send_buf + i * per_pattern, s.idle_buf, static_cast<std::size_t>(per_pattern) * sizeof *s.idle_buf);
        const int n = patterns * per_pattern;
        return sink(context, s.send_buf, n) == n ? n : -1;
    }
    // Bytes queued together go out back to back, with no idle pattern
    // between them.
    int written = 0;
    uint8_t byte;
    while (ringbuf_delete(&s.send_ring, &byte, 1) == 1) {
        const int n = char2sample(s.send_buf, byte);
        if (n < 0 || sink(context, s.send_buf, n) != n) return -1;
        written += n;
    }
    return written;
}

}  // namespace vr::modem
