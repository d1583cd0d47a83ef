// The reader's side of the audio line code, written for the reader model
// on its own (it shares no code with the library's modem, so that a fault
// there cannot hide behind the same fault here).
//
// The code: a carrier of half-cycles (lobes), short (half a period) or long
// (a whole period). A byte is a long start lobe, eight data lobes (most
// significant bit first; short when the bit equals the one before, long
// when it differs, the bit before the first counting as 0) and five short
// stop lobes; between bytes the carrier idles in short lobes.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "wire.h"

namespace vrsim {

// Turns bytes into the uplink carrier: sine-shaped lobes at any frequency
// (fractional sample lengths kept exact over time), polarity alternating
// on every lobe, the idle carrier when nothing is queued.
class LineEncoder {
public:
    explicit LineEncoder(double amplitude = 12000.0, int rate = 44100);

    // The carrier for the lobes that start from now on (Hz).
    void set_frequency(double hz);
    [[nodiscard]] double frequency() const { return frequency_; }
    void queue(ByteView bytes);
    // Idle lobes for this many samples before the queued bytes (a test
    // tone), at the given frequency; the carrier returns to its own after,
    // idling a moment before the next byte so that a receiver that took the
    // tone for symbols finds the byte boundaries again.
    void tone(double hz, int samples);
    // Bytes whose last lobe has been rendered, since the start.
    [[nodiscard]] uint64_t bytes_sent() const { return bytes_sent_; }
    void render(std::span<int16_t> out);

private:
    void next_lobe();

    double amplitude_;
    int rate_;
    double frequency_ = 5512.0;
    std::deque<uint8_t> bytes_;
    std::deque<bool> symbols_;      // true: long; the byte's lobes
    std::deque<bool> byte_ends_;    // marks the last lobe of a byte
    double tone_hz_ = 0.0;
    double tone_left_ = 0.0;        // samples of test tone still to play
    int gap_lobes_ = 0;             // idle lobes still due after a tone
    double lobe_length_ = 0.0;      // samples
    double lobe_at_ = 0.0;          // position inside the lobe
    double polarity_ = 1.0;
    bool lobe_ends_byte_ = false;
    uint64_t bytes_sent_ = 0;
};

// Turns one channel of the downlink back into bytes: removes the DC level,
// finds the zero crossings (with hysteresis against noise, interpolated
// between samples), and classifies each lobe against the short lobe width
// it learns from the carrier itself, so any carrier the host picks is
// understood.
class LineDecoder {
public:
    LineDecoder();

    // Feeds samples; the bytes completed meanwhile are appended to out.
    void feed(std::span<const int16_t> samples, Bytes& out);
    // The short lobe width learnt so far (samples), 0 before.
    [[nodiscard]] double short_width() const { return short_width_; }

private:
    void lobe(double width, Bytes& out);
    void symbol(bool long_lobe, Bytes& out);

    double position_ = 0.0;  // index of the next sample
    double dc_ = 0.0;
    double level_ = 0.0;     // mean absolute deviation
    double previous_ = 0.0;
    bool started_ = false;
    int side_ = 0;           // +1 / -1 once known
    double zero_at_ = -1.0;  // the latest raw crossing
    double edge_at_ = -1.0;  // the latest confirmed crossing
    std::vector<double> recent_;  // recent lobe widths
    std::size_t recent_next_ = 0;
    double short_width_ = 0.0;
    bool in_byte_ = false;
    int bits_ = 0;
    int value_ = 0;
    int previous_bit_ = 0;
};

}  // namespace vrsim
