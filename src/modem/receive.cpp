// The uplink analysis pipelines and the receive loop's block handling.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "modem/modem.h"
#include "sys.h"

namespace {

using vr::modem::load;
using vr::modem::state;
using vr::modem::store;

// The longest block the pattern decoder takes.
constexpr int kPatternBlock = vr::modem::kPatternBlockLimit - 1;

// Index of the last crossing in d(from, to], or -1.
int last_crossing(const int16_t *d, int from, int to) {
    for (int i = to; i > from; --i)
        if (d[i] != 0) return i;
    return -1;
}

// Index of the first crossing in d(from, n), or -1.
int next_crossing(const int16_t *d, int from, int n) {
    for (int i = from + 1; i < n; ++i)
        if (d[i] != 0) return i;
    return -1;
}

// Feeds the crossings of a whole block to the pattern decoder in sub-blocks
// of fewer than 544 samples. Each sub-block starts at the crossing where
// the one before stopped and ends at the last crossing that fits, so every
// width lies in exactly one sub-block, the first measured from that
// reference crossing; the decoder's carried width joins the sub-blocks as
// it joins blocks. A gap longer than a sub-block holds no lobe of any
// carrier: decoding resumes at the crossing after it. The carried width is
// kept (it is a whole lobe), but a glitch kept for joining with the next
// width is not joined across the gap.
// Returns the index of the last crossing.
int fetch_pattern_blocks(int16_t *d, int n) {
    suart_state &s = state();
    int start = 0;
    while (start < n - 1) {
        const int end = last_crossing(d, start, std::min(n - 1, start + kPatternBlock - 1));
        if (end < 0) {
            const int resume = next_crossing(d, start + kPatternBlock - 1, n);
            if (resume < 0) break;
            s.last_width_pattern_c_flag = 0;
            start = resume;
            continue;
        }
        signal_fetch_pulse_pattern(d + start, end - start + 1);
        start = end;
    }
    return start;
}

// Index of the first sample on the other side of level than the sample
// before it, or -1.
int first_crossing(const int16_t *x, int n, int level) {
    for (int i = 1; i < n - 1; ++i)
        if ((x[i - 1] > level) != (x[i] > level)) return i;
    return -1;
}

// The sample mirrored across level, strictly onto the other side where the
// 16-bit range allows.
int16_t mirror(int16_t v, int level) {
    int m = 2 * level - v;
    if (v <= level && m <= level) m = level + 1;
    return static_cast<int16_t>(std::clamp(m, -32768, 32767));
}

// The last `context` samples of a block only give the filter their values
// as right-hand neighbours: afterwards they take the filtered value of the
// sample before them, so they make no crossing of their own. (A filter
// keeps a block's last sample as it is; a raw sample there may lie on the
// other side of the level than the filtered signal — a noise spike, or the
// biquad's delayed output — and would pass for a crossing.)
void settle_tail(int16_t *x, int n, int context) {
    if (context <= 0 || context >= n) return;
    std::fill(x + n - context, x + n, x[n - context - 1]);
}

int simple_pipeline(int16_t *x, int n, int context) {
    if (!x || n <= 0) return 0;
    signal_low_filter(x, n);
    settle_tail(x, n, context);
    signal_thresholding(x, n);
    signal_difference(x, n);
    return signal_fetch_pulse(x, n);
}

int pattern_pipeline(int16_t *x, int n, int context) {
    if (!x || n <= 0) return 0;
    const int alg = vr::modem::uplink_alg();
    if (alg == 0) {
        signal_band_filter(x, n);
        settle_tail(x, n, context);
        // The biquad's output is at half scale, and so is the level it
        // carries through from the input: slice at half the level.
        vr::modem::slice(x, n, load(state().level_mid) / 2, load(state().up_long_width) == 4);
    } else {
        if (alg == 1) signal_low_filter(x, n);
        settle_tail(x, n, context);
        signal_thresholding(x, n);
    }
    signal_difference(x, n);
    return fetch_pattern_blocks(x, n);
}

// The pipeline chosen by uplink_alg.
int analyse(int16_t *x, int n, int context) {
    return vr::modem::uplink_alg() == 2 ? simple_pipeline(x, n, context)
                                        : pattern_pipeline(x, n, context);
}

}  // namespace

VR_API int signal_analysis_a_algrothom(int16_t *samples, int n) {
    return simple_pipeline(samples, n, 0);
}

VR_API int signal_analysis_a_algrothom_pattern(int16_t *samples, int n) {
    return pattern_pipeline(samples, n, 0);
}

VR_API int signal_analysis(int16_t *samples, int n, int flag) {
    if (flag) return 0;
    return analyse(samples, n, 0);
}

namespace vr::modem {

void append_symbols(const char *symbols, int n) {
    ringbuf *ring = &state().recv_ring;
    const int room = ringbuf_free(ring);
    const int take = std::min(n, room);
    if (take > 0) ringbuf_insert(ring, symbols, static_cast<uint32_t>(take));
}

// The block is analysed up to its last falling crossing, looked for within
// this many samples from its end: at least a full period of the slowest
// lobes (two long ones), and never less than 32.
int lookback_window(int w) { return std::max(32, 4 * w + 2); }

// What is left after the last crossing found (the look-back window and the
// last half-cycle) is carried to the next block when shorter than this; a
// longer rest is no signal and is dropped. The limit grows with the width
// so that a slow carrier's lobes are not cut at every block boundary.
int carry_limit(int w) { return std::max(33, 6 * w + 4); }

int receive_block(signal_read_fn read, void *context, int block) {
    suart_state &s = state();
    const int w = std::clamp(up_short_width(), SUART_WIDTH_MIN, SUART_WIDTH_MAX);
    const int carried = std::clamp(s.rx_carry, 0, SUART_RX_CARRY_MAX);
    // A block shorter than the look-back window has no room for a crossing.
    block = std::clamp(block, std::min(2 * carry_limit(w), SUART_RX_BLOCK), SUART_RX_BLOCK);
    store(s.recv_stage, int32_t{1});
    if (!read || read(context, s.rx_block + carried, block) != block) return -1;
    int16_t *x = s.rx_block;
    const int total = carried + block;
    if (suart_debug() > 1) {
        log_print(2, "recv_thread_data len: 0x%04x", block);
        for (int at = 0; at < block; at += 512) format_display(x + carried + at, std::min(512, block - at), 0);
    }
    std::memcpy(s.rx_copy, x, static_cast<std::size_t>(total) * sizeof *x);
    s.rx_used = total;

    // End the analysis at the last falling crossing, so that the block ends
    // on a whole high half-cycle. The crossing is the slicer's: from above
    // level_mid to at or below it (a lobe that starts on the level itself
    // still ends the half-cycle before it). The first low sample goes with
    // the block as context for the filters only.
    const int mid = load(s.level_mid);
    const int window = lookback_window(w);
    int end = total - window + 1;
    for (int j = 1; j < window; ++j) {
        if (x[total - j - 1] > mid && x[total - j] <= mid) {
            end = total - j + 1;
            break;
        }
    }
    // With samples carried, the block starts on the crossing where the last
    // analysis stopped: its first sample opens a new half-cycle, on the side
    // of the level that analysis found (after smoothing). On a slow, noisy
    // edge the raw sample may still lie on the other side and would make a
    // one-sample pulse; it is then mirrored across the level. (For a rising
    // crossing at level 0 this is the absolute value of a negative first
    // sample; the last crossing is not always a rising one.)
    // Without carried samples (the first block, or after a rest too long to
    // carry) the block starts inside a half-cycle whose beginning is lost:
    // the analysis starts at the first crossing instead, so that fragment
    // is not taken for a lobe.
    int start = 0;
    if (carried > 0) {
        const bool high = x[0] > mid;
        if ((s.rx_carry_side > 0 && !high) || (s.rx_carry_side < 0 && high))
            x[0] = mirror(x[0], mid);
    } else {
        start = std::max(first_crossing(x, end, mid), 0);
    }

    const int analysed = end - start;
    constexpr int kContext = 1;
    const int consumed =
        start + std::clamp(analyse(x + start, analysed, kContext), 0, analysed - kContext);
    // The analysis leaves the crossings in place: remember on which side the
    // carried samples start.
    s.rx_carry_side = consumed > start ? (x[consumed] > 0) - (x[consumed] < 0) : 0;
    const int rest = total - consumed;
    if (rest < std::min(carry_limit(w), SUART_RX_CARRY_MAX + 1)) {
        std::memcpy(x, s.rx_copy + consumed, static_cast<std::size_t>(rest) * sizeof *x);
        s.rx_carry = rest;
    } else {
        s.rx_carry = 0;
    }
    return consumed;
}

Calibration calibration_step(signal_read_fn read, void *context, unsigned retry_sleep_us) {
    constexpr int kTries = 4;
    constexpr int kCalibrationFailed = 187;
    constexpr int kReady = 255;
    suart_state &s = state();
    store(s.recv_stage, int32_t{3});
    int result = -1;
    for (int attempt = 1; attempt <= kTries && result != 0; ++attempt) {
        result = signal_process(read, context);
        if (result != 0 && attempt <= 2) sys_delay_nus(retry_sleep_us);
    }
    if (result != 0) {
        suart_set_calistat(kCalibrationFailed);
        return Calibration::kFailed;
    }
    if (signal_pulse_buff_init() != 0) return Calibration::kAgain;
    const int32_t next = load(s.analysis_state) - 1;
    store(s.analysis_state, next);
    if (next != 0) return Calibration::kAgain;
    suart_set_calistat(kReady);
    s.level_low = 0;
    return Calibration::kReady;
}

}  // namespace vr::modem
