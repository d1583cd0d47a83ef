// The reader's side of the audio line code: see line_code.h.
#include "line_code.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vrsim {

namespace {

constexpr int kStopLobes = 5;
// Idle lobes between a test tone and the next byte: more than a byte's
// nine symbols.
constexpr int kGapAfterTone = 16;
// Lobe widths the decoder learns the short width from.
constexpr std::size_t kLearnWindow = 32;
constexpr std::size_t kLearnMinimum = 8;
// A lobe longer than this many short widths is a break in the carrier.
constexpr double kBreak = 3.0;
constexpr double kLongFrom = 1.5;
// The crossing is confirmed once the signal is this far past zero, as a
// share of its mean level; quieter input is no carrier at all.
constexpr double kHysteresis = 0.25;
constexpr double kQuietLevel = 300.0;

}  // namespace

LineEncoder::LineEncoder(double amplitude, int rate) : amplitude_(amplitude), rate_(rate) {}

void LineEncoder::set_frequency(double hz) {
    if (hz > 0.0) frequency_ = hz;
}

void LineEncoder::queue(ByteView bytes) { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }

void LineEncoder::tone(double hz, int samples) {
    if (hz <= 0.0 || samples <= 0) return;
    tone_hz_ = hz;
    tone_left_ = samples;
    gap_lobes_ = kGapAfterTone;
}

void LineEncoder::next_lobe() {
    if (lobe_ends_byte_) ++bytes_sent_;
    lobe_at_ = lobe_length_ > 0.0 ? lobe_at_ - lobe_length_ : 0.0;
    polarity_ = -polarity_;
    lobe_ends_byte_ = false;
    double hz = frequency_;
    bool long_lobe = false;
    if (tone_left_ > 0.0) {
        hz = tone_hz_;
        tone_left_ -= 0.5 * rate_ / hz;
    } else if (gap_lobes_ > 0) {
        --gap_lobes_;
    } else {
        if (symbols_.empty() && !bytes_.empty()) {
            const uint8_t byte = bytes_.front();
            bytes_.pop_front();
            symbols_.push_back(true);
            byte_ends_.push_back(false);
            int previous = 0;
            for (int bit = 7; bit >= 0; --bit) {
                const int value = (byte >> bit) & 1;
                symbols_.push_back(value != previous);
                byte_ends_.push_back(false);
                previous = value;
            }
            for (int i = 0; i < kStopLobes; ++i) {
                symbols_.push_back(false);
                byte_ends_.push_back(i == kStopLobes - 1);
            }
        }
        if (!symbols_.empty()) {
            long_lobe = symbols_.front();
            lobe_ends_byte_ = byte_ends_.front();
            symbols_.pop_front();
            byte_ends_.pop_front();
        }
    }
    lobe_length_ = (long_lobe ? 1.0 : 0.5) * rate_ / hz;
}

void LineEncoder::render(std::span<int16_t> out) {
    for (int16_t& sample : out) {
        while (lobe_at_ >= lobe_length_) next_lobe();
        const double v = polarity_ * amplitude_ * std::sin(std::numbers::pi * lobe_at_ / lobe_length_);
        sample = static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
        lobe_at_ += 1.0;
    }
}

LineDecoder::LineDecoder() { recent_.reserve(kLearnWindow); }

void LineDecoder::feed(std::span<const int16_t> samples, Bytes& out) {
    for (int16_t x : samples) {
        if (!started_) {
            dc_ = x;
            started_ = true;
        }
        dc_ += (x - dc_) / 2048.0;
        const double v = x - dc_;
        level_ += (std::fabs(v) - level_) / 256.0;
        // The raw crossing, between the previous sample and this one.
        if ((previous_ > 0.0) != (v > 0.0)) {
            const double span = previous_ - v;
            const double t = span != 0.0 ? previous_ / span : 0.0;
            zero_at_ = position_ - 1.0 + std::clamp(t, 0.0, 1.0);
        }
        const double h = kHysteresis * level_;
        const int side = v > h ? 1 : v < -h ? -1 : 0;
        if (level_ >= kQuietLevel && side != 0 && side != side_) {
            const double edge = zero_at_ >= 0.0 ? zero_at_ : position_;
            if (side_ != 0 && edge_at_ >= 0.0) lobe(edge - edge_at_, out);
            edge_at_ = edge;
            side_ = side;
        }
        previous_ = v;
        position_ += 1.0;
    }
}

void LineDecoder::lobe(double width, Bytes& out) {
    if (recent_.size() < kLearnWindow)
        recent_.push_back(width);
    else
        recent_[recent_next_] = width;
    recent_next_ = (recent_next_ + 1) % kLearnWindow;
    if (recent_.size() >= kLearnMinimum) {
        std::vector<double> sorted = recent_;
        const auto quarter = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 4);
        std::nth_element(sorted.begin(), quarter, sorted.end());
        short_width_ = *quarter;
    }
    if (short_width_ <= 0.0) return;
    if (width > kBreak * short_width_) {
        in_byte_ = false;
        return;
    }
    symbol(width > kLongFrom * short_width_, out);
}

void LineDecoder::symbol(bool long_lobe, Bytes& out) {
    if (!in_byte_) {
        if (long_lobe) {
            in_byte_ = true;
            bits_ = 0;
            value_ = 0;
            previous_bit_ = 0;
        }
        return;
    }
    const int bit = long_lobe ? 1 - previous_bit_ : previous_bit_;
    value_ = value_ << 1 | bit;
    previous_bit_ = bit;
    if (++bits_ == 8) {
        out.push_back(static_cast<uint8_t>(value_));
        in_byte_ = false;
    }
}

}  // namespace vrsim
