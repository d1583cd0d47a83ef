// A sample-stream channel between the modem's output and its input: what a
// headset cable, a codec and a second sample clock do to the signal. Used
// by the modem's loopback tests and by the simulator's audio front end.
// Deterministic: the same configuration and seed give the same output.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace vrsim {

struct ChannelConfig {
    int sample_rate = 44100;
    // Receiver clock offset in parts per million: positive means the
    // receiver takes more samples per second than the sender sent (linear
    // interpolation between input samples).
    double clock_ppm = 0.0;
    // Each input sample is lost with this probability, in bursts of
    // drop_burst samples (a codec or scheduler glitch).
    double drop_probability = 0.0;
    int drop_burst = 1;
    // First-order low-pass corner in Hz (a headset path); 0 for none.
    double lowpass_hz = 0.0;
    // A pass band: Butterworth high-pass at bandpass_low_hz and low-pass at
    // bandpass_high_hz, each of bandpass_order (even, 2..16); 0 for no
    // edge. A carrier outside the band arrives attenuated by the filter's
    // slope (6 dB per octave and order).
    double bandpass_low_hz = 0.0;
    double bandpass_high_hz = 0.0;
    int bandpass_order = 8;
    double gain = 1.0;
    bool invert = false;
    // Additive white Gaussian noise: either an absolute RMS level in sample
    // units, or a signal-to-noise ratio in dB against signal_rms (the RMS of
    // the signal where the noise is added; 0 measures it over each chunk
    // processed, without its DC part). noise_rms wins when both are set.
    double noise_rms = 0.0;
    double snr_db = std::numeric_limits<double>::infinity();
    double signal_rms = 0.0;
    // Added last, in sample units.
    double dc_offset = 0.0;
    uint64_t seed = 1;
};

// Processing order: drops, clock offset, low-pass, pass band, gain,
// inversion, noise, DC offset, rounding with clipping to 16 bits. State (filter, clock phase,
// random generator) carries from one process() call to the next, so a
// stream may be handed over in chunks.
class Channel {
public:
    explicit Channel(const ChannelConfig &config);

    std::vector<int16_t> process(std::span<const int16_t> input);

    // RMS of the noise added to the last chunk (0 without noise).
    double last_noise_rms() const { return last_noise_rms_; }
    // Drop events (bursts) so far.
    long drops() const { return drops_; }

    // Root mean square of samples, and of samples without their mean.
    static double rms(std::span<const int16_t> samples);
    static double ac_rms(std::span<const double> samples);
    // The left channel of interleaved stereo frames.
    static std::vector<int16_t> left(std::span<const int16_t> stereo);

    // One second-order filter section (direct form I).
    struct Biquad {
        double b0, b1, b2, a1, a2;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        double run(double x);
    };

private:
    double uniform();   // in (0, 1]
    double gaussian();  // zero mean, unit variance
    uint64_t next();

    ChannelConfig cfg_;
    uint64_t rng_[4];
    bool spare_ready_ = false;
    double spare_ = 0.0;
    int dropping_ = 0;
    long drops_ = 0;
    std::vector<double> pending_;  // input waiting for the resampler
    double position_ = 0.0;        // resampler read position in pending_
    double lowpass_state_ = 0.0;
    bool started_ = false;
    double lowpass_alpha_ = 1.0;
    std::vector<Biquad> band_;  // the pass band's sections, in order
    double last_noise_rms_ = 0.0;
};

}  // namespace vrsim
