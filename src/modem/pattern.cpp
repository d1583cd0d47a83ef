// The pattern decoder (uplink algorithms 0 and 1): it repairs the list of
// pulse widths of a block before classifying it. A distorted channel turns
// a half-cycle into a spike plus a rest, two half-cycles into one, or moves
// a crossing so that one width is too short and its neighbour too long;
// the repairs move the excess between neighbours so that the sum of the
// widths (the time the lobes took) is kept wherever the neighbours allow.
// The last width of a block is carried to the next one, whose first width
// is its right-hand neighbour.
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "log.h"
#include "modem/modem.h"
#include "modem/symbols.h"

namespace {

using vr::modem::load;
using vr::modem::state;
using vr::modem::store;

constexpr int kMaxBlock = vr::modem::kPatternBlockLimit;
// Room for a block's widths after the merged ones are split: a block has at
// most kMaxBlock widths and every split adds at most 5 entries per merged
// width (more than 3w samples each).
constexpr int kListCapacity = 1024;
// A merged width splits into fewer than this many short widths.
constexpr int kMaxSplit = 512;

enum class Cls { kTiny, kHalf, kShort, kBetween, kLong, kWide, kMerged, kOver };

// Width classes relative to the carrier width w, compared in double
// precision: tiny <= 0.3w < half <= 0.7w < short <= 1.3w < between <= 1.7w
// < long <= 2.3w < wide <= 3w < merged <= 6w.
class Classes {
public:
    explicit Classes(int w) : w_(w) {
        constexpr std::array<double, 7> factors{0.3, 0.7, 1.3, 1.7, 2.3, 3.0, 6.0};
        for (std::size_t i = 0; i < factors.size(); ++i) bound_[i] = factors[i] * w;
    }
    Cls of(int x) const {
        const double v = x;
        for (std::size_t i = 0; i < bound_.size(); ++i)
            if (v <= bound_[i]) return static_cast<Cls>(i);
        return Cls::kOver;
    }
    bool is(int x, Cls c) const { return of(x) == c; }
    int w() const { return w_; }
    double times(double f) const { return f * w_; }

private:
    int w_;
    std::array<double, 7> bound_{};
};

// The width list: entry 0 is the width carried from the previous block,
// the block's own widths follow.
class Widths {
public:
    int count() const { return count_; }
    int &operator[](int i) { return v_[static_cast<std::size_t>(i)]; }
    int *data() { return v_.data(); }
    void push(int x) { v_[static_cast<std::size_t>(count_++)] = x; }
    void set_count(int n) { count_ = n; }
    // Removes n entries from index i on.
    void erase(int i, int n) {
        std::memmove(&v_[static_cast<std::size_t>(i)], &v_[static_cast<std::size_t>(i + n)],
                     static_cast<std::size_t>(count_ - i - n) * sizeof(int));
        count_ -= n;
    }
    // Replaces entry i by n copies of value; false when they do not fit.
    bool split(int i, int n, int value) {
        if (count_ + n - 1 > kListCapacity) return false;
        std::memmove(&v_[static_cast<std::size_t>(i + n)], &v_[static_cast<std::size_t>(i + 1)],
                     static_cast<std::size_t>(count_ - i - 1) * sizeof(int));
        std::fill_n(&v_[static_cast<std::size_t>(i)], n, value);
        count_ += n - 1;
        return true;
    }

private:
    std::array<int, kListCapacity> v_;  // entries from count_ on are unused
    int count_ = 0;
};

class PatternDecoder {
public:
    PatternDecoder(Widths &list, const Classes &c, bool verbose)
        : l_(list), c_(c), w_(c.w()), verbose_(verbose) {}

    // Spike merge: a tiny width inside a half-cycle is noise that split it
    // in three; the three become one again.
    void merge_spikes() {
        for (int i = 1; i < l_.count() - 1; ++i) {
            if (!c_.is(l_[i], Cls::kTiny)) continue;
            if (c_.is(l_[i + 1], Cls::kTiny) && i + 2 < l_.count() &&
                (c_.is(l_[i + 2], Cls::kHalf) || c_.is(l_[i + 2], Cls::kBetween)))
                continue;
            l_[i - 1] += l_[i] + l_[i + 1];
            l_.erase(i, 2);
            i = std::max(i - 2, 0);  // look again at the merged entry
        }
    }

    void repair_inner() {
        for (int i = 1; i < l_.count() - 1; ++i) {
            if (c_.is(l_[i], Cls::kMerged)) pattern_d(i);
            if (c_.is(l_[i], Cls::kHalf)) pattern_e(i);
            if (c_.is(l_[i], Cls::kWide)) pattern_f(i);
            if (c_.is(l_[i], Cls::kBetween)) pattern_g(i);
        }
    }

    void repair_first() {
        int &x = l_[0];
        const bool has_next = l_.count() > 1;
        switch (c_.of(x)) {
        case Cls::kHalf:
            if (x < c_.times(0.5) && verbose_) log_print(2, "err: pattern E length: %d", x);
            x = w_;
            break;
        case Cls::kWide:
            if (x > c_.times(2.5) && verbose_) log_print(2, "err: pattern F length: %d", x);
            x = 2 * w_;
            break;
        case Cls::kBetween:
            if (!has_next || !take_excess(x, l_[1])) {
                if (verbose_) log_print(2, "err: pattern G process: %d", x);
                x = x >= c_.times(1.5) ? 2 * w_ : w_;
            }
            break;
        case Cls::kMerged: split(0); break;
        default: break;
        }
    }

private:
    // Pattern D: two or more half-cycles that ran together split into
    // short widths.
    void pattern_d(int i) {
        if (verbose_)
            log_print(2, "pattern D: width_cnt:%d,%d, pattern:%d, %d", l_.count(), i, l_[i],
                      pieces(l_[i]));
        split(i);
    }

    // Number of short widths a merged width x stands for: whole carrier
    // widths, plus one for a rest of more than 0.7w.
    int pieces(int x) const { return x / w_ + (x % w_ > c_.times(0.7) ? 1 : 0); }

    void split(int i) {
        const int x = l_[i];
        const int rest = x % w_;
        const int n = pieces(x);
        if (rest <= c_.times(0.7) && rest > c_.times(0.3) && verbose_)
            log_print(2, "warning:   pattern D process warning");
        if (n >= kMaxSplit || !l_.split(i, n, w_)) {
            if (verbose_) log_print(2, "err: pattern D buffer overrun");
        }
    }

    // Pattern E: a half-width lobe takes what its neighbour has too much.
    void pattern_e(int i) {
        int &p = l_[i - 1];
        int &x = l_[i];
        int &n = l_[i + 1];
        trace("pattern E: width_cnt:%d, %d, pattern:%d, %d, %d", i);
        if (c_.is(p, Cls::kWide)) {
            p -= w_ - x;
            x = w_;
        } else if (c_.is(n, Cls::kWide)) {
            n -= w_ - x;
            x = w_;
        } else if (c_.is(p, Cls::kBetween)) {
            p -= w_ - x;
            x = w_;
        } else if (c_.is(n, Cls::kBetween)) {
            n -= w_ - x;
            x = w_;
        } else if (c_.is(n, Cls::kHalf)) {
            if (c_.is(p, Cls::kShort) && p > w_) {
                x += p - w_;
                p = w_;
            } else if (c_.is(p, Cls::kLong) && p > 2 * w_) {
                x += p - 2 * w_;
                p = 2 * w_;
            } else if (verbose_) {
                log_print(2, "err: pattern E process err!!!: %d, %d, %d", p, x, n);
            }
        } else {
            const int share = (w_ - x) / 2;
            p -= share;
            n -= share;
            x = w_;
        }
        trace3("pattern E change to: %d, %d, %d", i);
    }

    // Pattern F: a lobe between long and two lobes gives its excess to a
    // neighbour.
    void pattern_f(int i) {
        int &p = l_[i - 1];
        int &x = l_[i];
        int &n = l_[i + 1];
        trace("pattern F width_cnt:%d,%d,pattern: %d, %d, %d", i);
        const int excess = x - 2 * w_;
        if (c_.is(p, Cls::kBetween)) {
            p += excess;
        } else if (c_.is(n, Cls::kBetween)) {
            n += excess;
        } else {
            p += excess / 2;
            n += excess / 2;
        }
        x = 2 * w_;
        trace3("pattern F change to: %d, %d, %d", i);
    }

    // Pattern G: a lobe between short and long takes or gives the excess of
    // its neighbours; when they cannot settle it, it becomes short or long
    // and its right-hand neighbour absorbs the difference, so the sum of
    // the widths is kept.
    void pattern_g(int i) {
        int &p = l_[i - 1];
        int &x = l_[i];
        int &n = l_[i + 1];
        trace("pattern G width_cnt:%d,%d,pattern: %d, %d, %d", i);
        take_excess(x, p);
        take_excess(x, n);
        if (c_.is(x, Cls::kBetween)) {
            if (verbose_) log_print(2, "err: pattern G process: %d, %d, %d", p, x, n);
            if (c_.is(n, Cls::kBetween)) {
                n += x - 2 * w_;
                x = 2 * w_;
            }
            const int target = x >= c_.times(1.5) ? 2 * w_ : w_;
            n += x - target;
            x = target;
        }
        trace3("pattern G change to: %d, %d, %d", i);
    }

    // A short or long neighbour gives x what it has beyond its nominal width
    // (or takes what it lacks); false when the neighbour is neither.
    bool take_excess(int &x, int &neighbour) const {
        const Cls k = c_.of(neighbour);
        if (k != Cls::kShort && k != Cls::kLong) return false;
        const int nominal = k == Cls::kShort ? w_ : 2 * w_;
        x += neighbour - nominal;
        neighbour = nominal;
        return true;
    }

    void trace(const char *format, int i) {
        if (verbose_) log_print(2, format, l_.count(), i, l_[i - 1], l_[i], l_[i + 1]);
    }
    void trace3(const char *format, int i) {
        if (verbose_) log_print(2, format, l_[i - 1], l_[i], l_[i + 1]);
    }

    Widths &l_;
    const Classes &c_;
    int w_;
    bool verbose_;
};

}  // namespace

VR_API int signal_fetch_pulse_pattern(int16_t *d, int n) {
    if (!d || n <= 0) return 0;
    suart_state &s = state();
    const int w = vr::modem::up_short_width();
    const bool verbose = vr::modem::suart_debug() > 4;
    const Classes cls(w);

    // 1. The block's widths, from index 0 (the crossing where the last
    //    block stopped, which is the reference and not a width).
    Widths list;
    list.push(0);  // entry 0: the carried width
    int last = 0;
    if (n < kMaxBlock) {
        for (int i = 1; i < n; ++i) {
            if (d[i] == 0) continue;
            list.push(i - last);
            last = i;
        }
    } else if (verbose) {
        log_print(2, "fatal err: signal_fetch_pulse buffer overrun");
    }
    // A block whose mean width is far from the carrier's is not a signal.
    const int count = list.count();
    if (last > 1.5 * w * count * 2 || last < count * w / 3) return last;
    if (count > 1 && list[1] == 0) list[1] = 1;
    std::optional<Widths> backup;  // for the diagnostic dump only
    if (verbose) {
        backup = list;
        (*backup)[0] = s.last_width;
    }

    // 2. Carry-in. A tiny last width was kept together with the width
    //    before it; with this block's first width they make one lobe.
    if (s.last_width_pattern_c_flag && count > 1) {
        if (verbose)
            log_print(2, "warning : first width  pattern C: %d, %d, %d", s.last_width, list[1],
                      s.last_width + list[1]);
        list[1] += s.last_width;
        list.erase(0, 1);
    } else {
        list[0] = s.last_width;
    }
    s.last_width_pattern_c_flag = 0;

    if (w < 4) {
        // Narrow carriers are classified as measured; no width is carried,
        // so the one taken in now is not taken again.
        s.last_width = 0;
    } else {
        PatternDecoder decoder(list, cls, verbose);
        decoder.merge_spikes();   // 3.
        decoder.repair_inner();   // 4.
        decoder.repair_first();   // 5.
        // 6. Carry-out: the last width waits for its right-hand neighbour.
        const int final_index = list.count() - 1;
        if (cls.is(list[final_index], Cls::kTiny) && final_index > 0) {
            if (verbose)
                log_print(2, "warning : last width  pattern C: %d %d", list[final_index - 1],
                          list[final_index]);
            s.last_width = list[final_index - 1] + list[final_index];
            s.last_width_pattern_c_flag = 1;
            list.set_count(final_index - 1);
        } else {
            s.last_width = list[final_index];
            list.set_count(final_index);
        }
        // 7.
        if (verbose)
            for (int i = 0; i < list.count(); ++i)
                if (!cls.is(list[i], Cls::kShort) && !cls.is(list[i], Cls::kLong))
                    log_print(2, "err: pattern process err!!!:%d, %d", i, list[i]);
    }

    // 8. Classification.
    bool marked = false;
    {
        vr::modem::SymbolOut out;
        for (int i = 0; i < list.count(); ++i) {
            const Cls c = cls.of(list[i]);
            if (c == Cls::kShort) {
                out.short_lobe();
            } else if (c == Cls::kLong) {
                out.long_lobe();
                marked = true;
            }
        }
    }
    if (verbose && marked) {
        log_print(2, "signal_fetch_pulse %d", s.signal_fetch_pulse_cnt);
        log_print(2, "signal_fetch_pulse 22222");
        std::array<int16_t, kListCapacity> dump{};
        for (int i = 0; i < list.count(); ++i) dump[static_cast<std::size_t>(i)] = static_cast<int16_t>(list[i]);
        format_display(dump.data(), list.count(), 0);
        log_print(2, "width bak:");
        for (int i = 0; i < backup->count(); ++i)
            dump[static_cast<std::size_t>(i)] = static_cast<int16_t>((*backup)[i]);
        format_display(dump.data(), backup->count(), 0);
        log_print(2, "signal_fetch_pulse data 333333");
        format_display(s.rx_copy, s.rx_used, 0);
    }
    ++s.signal_fetch_pulse_cnt;
    return last;
}
