// Sample-stream channel model: see channel.h.
#include "channel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vrsim {

namespace {

uint64_t splitmix64(uint64_t &x) {
    uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

int16_t to_sample(double v) {
    const double r = std::nearbyint(v);
    return static_cast<int16_t>(std::clamp(r, -32768.0, 32767.0));
}

// One Butterworth section (RBJ cookbook biquad) at corner fc with quality q.
Channel::Biquad make_section(bool highpass, double fc, double q, int rate) {
    const double w0 = 2.0 * std::numbers::pi * fc / rate;
    const double alpha = std::sin(w0) / (2.0 * q);
    const double c = std::cos(w0);
    const double a0 = 1.0 + alpha;
    const double b1 = highpass ? -(1.0 + c) : 1.0 - c;
    const double b0 = highpass ? (1.0 + c) / 2.0 : (1.0 - c) / 2.0;
    return Channel::Biquad{b0 / a0, b1 / a0, b0 / a0, -2.0 * c / a0, (1.0 - alpha) / a0};
}

// A Butterworth filter of even order as order/2 sections with the poles'
// qualities 1 / (2 cos((2k - 1) pi / (2 order))).
void add_butterworth(std::vector<Channel::Biquad> &out, bool highpass, double fc, int order, int rate) {
    if (fc <= 0.0 || fc >= rate / 2.0) return;
    for (int k = 1; k <= order / 2; ++k) {
        const double q = 1.0 / (2.0 * std::cos((2.0 * k - 1.0) * std::numbers::pi / (2.0 * order)));
        out.push_back(make_section(highpass, fc, q, rate));
    }
}

}  // namespace

double Channel::Biquad::run(double x) {
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
}

Channel::Channel(const ChannelConfig &config) : cfg_(config) {
    const int order = std::clamp(cfg_.bandpass_order / 2 * 2, 2, 16);
    add_butterworth(band_, true, cfg_.bandpass_low_hz, order, cfg_.sample_rate);
    add_butterworth(band_, false, cfg_.bandpass_high_hz, order, cfg_.sample_rate);
    uint64_t s = cfg_.seed;
    for (uint64_t &word : rng_) word = splitmix64(s);
    if (cfg_.lowpass_hz > 0.0)
        lowpass_alpha_ =
            1.0 - std::exp(-2.0 * std::numbers::pi * cfg_.lowpass_hz / cfg_.sample_rate);
    if (cfg_.drop_burst < 1) cfg_.drop_burst = 1;
}

// xoshiro256**
uint64_t Channel::next() {
    const uint64_t result = rotl(rng_[1] * 5, 7) * 9;
    const uint64_t t = rng_[1] << 17;
    rng_[2] ^= rng_[0];
    rng_[3] ^= rng_[1];
    rng_[1] ^= rng_[2];
    rng_[0] ^= rng_[3];
    rng_[2] ^= t;
    rng_[3] = rotl(rng_[3], 45);
    return result;
}

double Channel::uniform() { return (static_cast<double>(next() >> 11) + 1.0) * 0x1.0p-53; }

// Box-Muller: two independent normal values per pair of uniforms.
double Channel::gaussian() {
    if (spare_ready_) {
        spare_ready_ = false;
        return spare_;
    }
    const double radius = std::sqrt(-2.0 * std::log(uniform()));
    const double angle = 2.0 * std::numbers::pi * uniform();
    spare_ = radius * std::sin(angle);
    spare_ready_ = true;
    return radius * std::cos(angle);
}

std::vector<int16_t> Channel::process(std::span<const int16_t> input) {
    // Drops.
    for (int16_t x : input) {
        if (dropping_ > 0) {
            --dropping_;
            continue;
        }
        if (cfg_.drop_probability > 0.0 && uniform() < cfg_.drop_probability) {
            dropping_ = cfg_.drop_burst - 1;
            ++drops_;
            continue;
        }
        pending_.push_back(x);
    }

    // Clock offset: read the input at a step of 1 / (1 + ppm) samples.
    std::vector<double> signal;
    if (cfg_.clock_ppm == 0.0) {
        signal.assign(pending_.begin(), pending_.end());
        pending_.clear();
    } else {
        const double step = 1.0 / (1.0 + cfg_.clock_ppm * 1e-6);
        while (position_ + 1.0 < static_cast<double>(pending_.size())) {
            const auto i = static_cast<std::size_t>(position_);
            const double frac = position_ - static_cast<double>(i);
            signal.push_back(pending_[i] * (1.0 - frac) + pending_[i + 1] * frac);
            position_ += step;
        }
        const auto used = std::min(static_cast<std::size_t>(position_), pending_.size());
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
        position_ -= static_cast<double>(used);
    }

    // Linear part: low-pass, gain, inversion.
    const double sign = cfg_.invert ? -1.0 : 1.0;
    for (double &v : signal) {
        if (!started_) {
            lowpass_state_ = v;  // no artificial step at the start
            started_ = true;
        }
        if (cfg_.lowpass_hz > 0.0) {
            lowpass_state_ += lowpass_alpha_ * (v - lowpass_state_);
            v = lowpass_state_;
        }
        for (Biquad &section : band_) v = section.run(v);
        v *= cfg_.gain * sign;
    }

    // Noise.
    double noise = cfg_.noise_rms;
    if (noise <= 0.0 && std::isfinite(cfg_.snr_db)) {
        const double reference = cfg_.signal_rms > 0.0 ? cfg_.signal_rms : ac_rms(signal);
        noise = reference / std::pow(10.0, cfg_.snr_db / 20.0);
    }
    last_noise_rms_ = noise;

    std::vector<int16_t> out(signal.size());
    for (std::size_t i = 0; i < signal.size(); ++i) {
        double v = signal[i];
        if (noise > 0.0) v += noise * gaussian();
        out[i] = to_sample(v + cfg_.dc_offset);
    }
    return out;
}

double Channel::rms(std::span<const int16_t> samples) {
    if (samples.empty()) return 0.0;
    double sum = 0.0;
    for (int16_t x : samples) sum += static_cast<double>(x) * x;
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

double Channel::ac_rms(std::span<const double> samples) {
    if (samples.empty()) return 0.0;
    double mean = 0.0;
    for (double x : samples) mean += x;
    mean /= static_cast<double>(samples.size());
    double sum = 0.0;
    for (double x : samples) sum += (x - mean) * (x - mean);
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

std::vector<int16_t> Channel::left(std::span<const int16_t> stereo) {
    std::vector<int16_t> out(stereo.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = stereo[2 * i];
    return out;
}

}  // namespace vrsim
