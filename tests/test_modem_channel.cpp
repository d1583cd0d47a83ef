// The sample-stream channel model used by the modem's loopback tests: each
// impairment does what it says (the noise in particular is white Gaussian
// noise of the requested power, not a constant), and a seed reproduces it.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <set>
#include <vector>

#include "channel.h"

namespace {

using vrsim::Channel;
using vrsim::ChannelConfig;
using Samples = std::vector<int16_t>;

Samples ramp(std::size_t n) {
    Samples x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = static_cast<int16_t>((static_cast<int>(i) * 37) % 20000 - 10000);
    return x;
}

TEST(Channel, DefaultIsTransparent) {
    const Samples x = ramp(5000);
    EXPECT_EQ(Channel(ChannelConfig{}).process(x), x);
}

TEST(Channel, GainOffsetInversionAndClipping) {
    ChannelConfig c;
    c.gain = 0.5;
    c.dc_offset = 100;
    c.invert = true;
    const Samples x{1000, -1000, 3, 32766, -32768};
    EXPECT_EQ(Channel(c).process(x), (Samples{-400, 600, 98, -16283, 16484}));
    c = {};
    c.gain = 4;
    EXPECT_EQ(Channel(c).process(Samples{10000, -10000}), (Samples{32767, -32768}));
}

TEST(Channel, NoiseIsWhiteGaussianAtThePowerAsked) {
    ChannelConfig c;
    c.noise_rms = 1000;
    const std::size_t n = 200000;
    const Samples y = Channel(c).process(Samples(n, 0));
    double mean = 0, m2 = 0, m4 = 0, lag1 = 0;
    for (std::size_t i = 0; i < n; ++i) mean += y[i];
    mean /= n;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = y[i] - mean;
        m2 += d * d;
        m4 += d * d * d * d;
        if (i > 0) lag1 += d * (y[i - 1] - mean);
    }
    m2 /= n;
    m4 /= n;
    lag1 /= n * m2;
    EXPECT_NEAR(mean, 0.0, 10.0);                  // 4.5 standard errors
    EXPECT_NEAR(std::sqrt(m2), 1000.0, 10.0);       // power within 2 %
    EXPECT_NEAR(m4 / (m2 * m2), 3.0, 0.1);          // Gaussian kurtosis
    EXPECT_NEAR(lag1, 0.0, 0.02);                   // white: no correlation
    EXPECT_GT(std::set<int16_t>(y.begin(), y.end()).size(), 2000u);  // not a constant
    // Reproducible from the seed, different for another seed.
    EXPECT_EQ(Channel(c).process(Samples(1000, 0)), Samples(y.begin(), y.begin() + 1000));
    c.seed = 2;
    EXPECT_NE(Channel(c).process(Samples(1000, 0)), Samples(y.begin(), y.begin() + 1000));
}

TEST(Channel, SignalToNoiseRatio) {
    // A carrier-like signal, quiet enough that the noise is never clipped;
    // the noise added is measured against it.
    Samples x(100000);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = (i / 4) % 2 ? 5000 : -5000;
    for (double snr : {0.0, 10.0, 20.0}) {
        ChannelConfig c;
        c.snr_db = snr;
        const Samples y = Channel(c).process(x);
        double signal = 0, noise = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            signal += double(x[i]) * x[i];
            noise += (double(y[i]) - x[i]) * (double(y[i]) - x[i]);
        }
        EXPECT_NEAR(10 * std::log10(signal / noise), snr, 0.1) << snr;
    }
    // Against a given reference level instead of the measured one.
    ChannelConfig c;
    c.snr_db = 20;
    c.signal_rms = 5000;
    Channel ch(c);
    ch.process(x);
    EXPECT_NEAR(ch.last_noise_rms(), 500.0, 1e-9);
}

TEST(Channel, FirstOrderLowPass) {
    ChannelConfig c;
    c.lowpass_hz = 1000;
    Samples step(400, 0);
    std::fill(step.begin() + 1, step.end(), int16_t{10000});
    const Samples y = Channel(c).process(step);
    // Time constant 1 / (2 pi 1000) s = 7.02 samples: 63 % after it.
    EXPECT_NEAR(y[1 + 7], 10000 * (1 - std::exp(-8 * 2 * M_PI * 1000 / 44100)), 30);
    EXPECT_NEAR(y.back(), 10000, 1);
    // A tone at the corner loses 3 dB; far below it passes.
    auto gain_at = [&](double hz) {
        Samples tone(44100);
        for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(10000 * std::sin(2 * M_PI * hz * i / 44100));
        const Samples out = Channel(c).process(tone);
        return Channel::rms(std::span(out).subspan(4410)) / Channel::rms(std::span(tone).subspan(4410));
    };
    EXPECT_NEAR(20 * std::log10(gain_at(1000)), -3.0, 0.3);
    EXPECT_NEAR(gain_at(50), 1.0, 0.01);
}

TEST(Channel, SampleClockOffset) {
    for (double ppm : {300.0, -300.0}) {
        ChannelConfig c;
        c.clock_ppm = ppm;
        Channel ch(c);
        const Samples x = ramp(1000000);
        std::size_t total = 0;
        for (std::size_t at = 0; at < x.size(); at += 4096)  // in chunks, as a stream
            total += ch.process(std::span(x).subspan(at, std::min<std::size_t>(4096, x.size() - at))).size();
        EXPECT_NEAR(double(total), 1e6 * (1 + ppm * 1e-6), 2.0) << ppm;
    }
    // Between input samples the output interpolates.
    ChannelConfig c;
    c.clock_ppm = 1e6;  // twice as many samples
    EXPECT_EQ(Channel(c).process(Samples{0, 100, 200}), (Samples{0, 50, 100, 150}));
}

TEST(Channel, DroppedSamples) {
    ChannelConfig c;
    c.drop_probability = 0.01;
    c.drop_burst = 2;
    Channel ch(c);
    const Samples x = ramp(100000);
    const Samples y = ch.process(x);
    EXPECT_NEAR(double(ch.drops()), 1000 * 100000.0 / 101000, 120);  // bursts
    EXPECT_EQ(y.size(), x.size() - 2 * static_cast<std::size_t>(ch.drops()));
    // What is left is the input in order, gaps aside.
    std::size_t j = 0;
    for (int16_t v : y) {
        while (j < x.size() && x[j] != v) ++j;
        ASSERT_LT(j, x.size());
        ++j;
    }
}

}  // namespace
