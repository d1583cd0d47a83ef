// Uplink demodulation stages: cleaning, slicing and differencing a block of
// recorded samples in place, the simple pulse classifier, the tone width
// detector and the level calibration.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "log.h"
#include "modem/modem.h"
#include "modem/symbols.h"

namespace {

using vr::modem::load;
using vr::modem::state;

// The level before a block, against which its first sample is
// differenced: a block's first crossing is measured from index 0.
constexpr int16_t kLevelBeforeBlock = 0;

}  // namespace

VR_API int signal_low_filter(int16_t *samples, int n) {
    if (!samples || n < 3) return 0;
    // In place: keep the two unfiltered neighbours of the sample being
    // replaced. 5 x 32768 fits in 32 bits, so the sum is exact.
    int previous = samples[0];
    int current = samples[1];
    for (int i = 1; i < n - 1; ++i) {
        const int next = samples[i + 1];
        samples[i] = static_cast<int16_t>((previous + 3 * current + next) / 5);
        previous = current;
        current = next;
    }
    return 0;
}

VR_API int signal_band_filter(int16_t *samples, int n) {
    const int w = vr::modem::up_short_width();
    if (!samples || n < 3 || !vr::modem::valid_width(w)) return 0;
    // Second-order Butterworth low-pass (bilinear transform) with its
    // cut-off at twice the carrier, in single precision.
    const float pi = 3.1415925f;
    const float fs = 44100.0f;
    const float fc = 2.0f * static_cast<float>(signal_width2freq(w));
    const float a = std::tan(pi * fc / fs);
    const float cs = std::cos(3.0f * pi / 4.0f);
    const float a2 = a * a;
    const float d = 1.0f - 2.0f * cs * a + a2;
    const float g = a2 / d;
    const float d1 = 2.0f * (a2 - 1.0f) / d;
    const float d2 = (1.0f + 2.0f * cs * a + a2) / d;

    const int16_t first = samples[0];
    const int16_t last = samples[n - 1];
    // The filter starts from rest for every block.
    float x1 = 0.0f, x2 = 0.0f, y1 = 0.0f, y2 = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float x = static_cast<float>(samples[i]) / 32767.0f;
        float y = g * (x + 2.0f * x1 + x2) - d1 * y1 - d2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        // Output at half scale; a value that is not a number (an unstable
        // filter) becomes silence rather than an undefined conversion.
        if (y > 1.0f)
            y = 1.0f;
        else if (y < -1.0f)
            y = -1.0f;
        else if (y != y)
            y = 0.0f;
        samples[i] = static_cast<int16_t>(y * 16384.0f);
    }
    samples[0] = first;
    samples[n - 1] = last;
    return 0;
}

namespace vr::modem {

// Slices samples at level: 1 above, else 0. With repair (width 2, whose
// long lobes are a sine and arrive one sample short), a run pattern
// 5, 3, 5 becomes 4, 4, 5 once the first run longer than 2 has been seen.
void slice(int16_t *samples, int n, int level, bool repair) {
    for (int i = 0; i < n; ++i) samples[i] = samples[i] > level ? 1 : 0;
    if (!repair) return;
    constexpr int kSyncRun = 2;
    bool synced = false;
    int run = 0, previous = 0, before = 0;
    for (int i = 0; i < n; ++i) {
        if (i > 0 && samples[i] == samples[i - 1]) {
            ++run;
        } else {
            before = previous;
            previous = run;
            run = 1;
        }
        if (!synced) {
            synced = run > kSyncRun;
            continue;
        }
        if (run == 5 && previous == 3 && before == 5) {
            samples[i - 8] = static_cast<int16_t>(!samples[i]);
            previous = 4;
            before = 4;
        }
    }
}

}  // namespace vr::modem

VR_API int signal_thresholding(int16_t *samples, int n) {
    if (!samples || n <= 0) return 0;
    const suart_state &s = state();
    vr::modem::slice(samples, n, load(s.level_mid), load(s.up_long_width) == 4);
    return 0;
}

VR_API int signal_difference(int16_t *samples, int n) {
    if (!samples || n <= 0) return 0;
    for (int i = n - 1; i > 0; --i) samples[i] = static_cast<int16_t>(samples[i] - samples[i - 1]);
    samples[0] = static_cast<int16_t>(samples[0] - kLevelBeforeBlock);
    return 0;
}

namespace {

// Width bounds of the simple classifier, integer arithmetic on w.
struct SimpleBounds {
    int short_min, short_max, long_max, very_long_max;
    explicit SimpleBounds(int w)
        : short_min(w / 2), short_max(3 * w / 2), long_max(5 * w / 2), very_long_max(7 * w / 2) {}
};

}  // namespace

VR_API int signal_fetch_pulse(int16_t *d, int n) {
    if (!d || n <= 0) return 0;
    const SimpleBounds b(vr::modem::up_short_width());
    const bool verbose = vr::modem::suart_debug() > 4;
    vr::modem::SymbolOut out;
    std::vector<int16_t> widths;  // kept for the diagnostic dump only
    bool marked = false;
    int last = 0;
    // Index 0 is the block's reference point (the crossing where the last
    // block stopped), so widths are measured from the crossings after it.
    for (int i = 1; i < n; ++i) {
        if (d[i] == 0) continue;
        const int width = i - last;
        bool recorded = true;
        if (width >= b.short_min && width <= b.short_max) {
            recorded = out.short_lobe();
        } else if (width > b.short_max && width <= b.long_max) {
            out.long_lobe();
            marked |= verbose;
        } else if (width > b.long_max && width <= b.very_long_max) {
            out.long_lobe();
            if (verbose) {
                marked = true;
                log_print(2, "warning:very long pulse %d", width);
            }
        } else if (width > b.very_long_max) {
            if (verbose) {
                log_print(2, "err: over long pulse %d", width);
                marked = true;
            }
        } else if (verbose) {
            log_print(2, "error: over short pulse %d", width);
            if (width != 1) marked = true;
        }
        if (recorded && verbose) widths.push_back(static_cast<int16_t>(width));
        last = i;
    }
    out.finish();
    if (marked && !widths.empty()) {
        log_print(2, "signal_fetch_pulse");
        format_display(widths.data(), static_cast<int>(widths.size()), 0);
        log_print(2, "signal_fetch_pulse data");
        format_display(state().rx_copy, state().rx_used, 0);
    }
    return last;
}

VR_API int signal_pulse_width_detect(const int16_t *d, int n, int freq) {
    (void)freq;
    constexpr int kMaxBlock = 2080;
    constexpr int kMinCrossings = 19;
    constexpr int kFirstChecked = 4;  // widths 4..19 (1-based) are checked
    constexpr int kLastChecked = 19;
    constexpr int kMaxDeviation = 2;
    constexpr int kMaxError = 36;
    if (!d || n <= 0 || n >= kMaxBlock) return -1;

    std::array<int, kLastChecked - kFirstChecked + 1> checked{};
    std::vector<int16_t> widths;  // diagnostic dump only
    const bool verbose = vr::modem::suart_debug() > 4;
    int crossings = 0, second = 0, last = 0;
    for (int i = 1; i < n; ++i) {
        if (d[i] == 0) continue;
        ++crossings;
        const int width = i - last;
        if (crossings == 2) second = i;
        if (crossings >= kFirstChecked && crossings <= kLastChecked)
            checked[static_cast<std::size_t>(crossings - kFirstChecked)] = width;
        if (verbose) widths.push_back(static_cast<int16_t>(width));
        last = i;
    }
    if (verbose) {
        log_print(2, "signal_pulse_width_detect:");
        format_display(widths.data(), static_cast<int>(widths.size()), 0);
    }
    if (crossings < kMinCrossings) return -1;
    const float mean = static_cast<float>(last - second) / static_cast<float>(crossings - 2);
    const int m = static_cast<int>(mean + 0.5f);
    int error = 0;
    for (int width : checked) {
        const int dev = width - m;
        if (std::abs(dev) > kMaxDeviation) error += dev * dev;
    }
    return error <= kMaxError ? m : -1;
}

VR_API int signal_analysis_freq_pattern(int16_t *samples, int n, int freq) {
    if (!samples || n <= 0) return -1;
    signal_low_filter(samples, n);
    signal_thresholding(samples, n);
    signal_difference(samples, n);
    return signal_width2freq(signal_pulse_width_detect(samples, n, freq));
}

VR_API uint32_t caculate_signal_energy(const int16_t *samples, int n) {
    if (!samples || n <= 0) return 0;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += static_cast<double>(samples[i]) * samples[i];
    // A loud block exceeds 32 bits; saturate instead of an undefined
    // conversion.
    constexpr double kMax = std::numeric_limits<uint32_t>::max();
    return sum >= kMax ? std::numeric_limits<uint32_t>::max() : static_cast<uint32_t>(sum);
}

namespace {

// Mean of sorted[from, to), or fallback when the range holds no sample.
int16_t range_mean(const int16_t *sorted, int from, int to, int16_t fallback) {
    if (from >= to) return fallback;
    int64_t sum = 0;
    for (int i = from; i < to; ++i) sum += sorted[i];
    return static_cast<int16_t>(sum / (to - from));
}

}  // namespace

VR_API int signal_process(signal_read_fn read, void *context) {
    constexpr int kMaxSamples = 4410;  // one tenth of a second at 44100 Hz
    constexpr int kTrim = 10;          // extreme samples left out of a level
    log_print(3, "signal_process 1111");
    suart_state &s = state();
    const int n = s.rec_rate / 10;
    if (!read || n <= 0 || n > kMaxSamples) return -1;

    vr::modem::store(s.up_short_width, static_cast<int32_t>(signal_freq2width(5512)));
    vr::modem::store(s.up_long_width, int32_t{8});
    vr::modem::store(s.up_short_us, int32_t{90});
    vr::modem::store(s.up_long_us, int32_t{180});

    std::array<int16_t, kMaxSamples> block;
    if (read(context, block.data(), n) != n) return -1;
    int64_t sum = 0;
    for (int i = 0; i < n; ++i) sum += block[static_cast<std::size_t>(i)];
    vr::modem::store(s.level_mid, static_cast<int16_t>(sum / n));

    std::sort(block.begin(), block.begin() + n);
    // Split between the negative and the positive samples, looking down
    // from a little above the lowest twentieth.
    int z = std::min(n / 20 + 20, n - 1);
    while (z >= 0 && block[static_cast<std::size_t>(z)] > 0) --z;
    // A split too close to an end leaves a level without samples: that
    // level then takes the extreme sample of its side.
    s.level_low = range_mean(block.data(), kTrim, z - kTrim, block[0]);
    s.level_high = range_mean(block.data(), z + kTrim, n - kTrim,
                              block[static_cast<std::size_t>(n - 1)]);
    return 0;
}
