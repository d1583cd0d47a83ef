// Infrared waveform conversion: the stages' known answers, the compressed
// stream's round trip, and the conversion behind the IR control code with
// its work-buffer limits, on sentinel-filled buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "card/ir_convert.h"
#include "core/platform.h"
#include "ir.h"

namespace {

using Values = std::vector<uint16_t>;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kSentinel = 0xCC;

// The host's form of a waveform: each duration most significant byte first.
Bytes big_endian(const Values &values) {
    Bytes out;
    for (uint16_t v : values) {
        out.push_back(static_cast<uint8_t>(v >> 8));
        out.push_back(static_cast<uint8_t>(v & 0xFF));
    }
    return out;
}

// An output buffer with sentinel bytes around the part the code may use.
class Guarded {
public:
    explicit Guarded(std::size_t usable) : bytes_(usable + 2 * kGuard, kSentinel) {}
    uint8_t *data() { return bytes_.data() + kGuard; }
    Bytes first(std::size_t n) const {
        return Bytes(bytes_.begin() + kGuard, bytes_.begin() + kGuard + static_cast<long>(n));
    }
    // True when nothing before the buffer and nothing from offset on changed.
    bool untouched_from(std::size_t offset) const {
        auto is_sentinel = [](uint8_t b) { return b == kSentinel; };
        return std::all_of(bytes_.begin(), bytes_.begin() + kGuard, is_sentinel) &&
               std::all_of(bytes_.begin() + kGuard + static_cast<long>(offset), bytes_.end(),
                           is_sentinel);
    }

private:
    static constexpr std::size_t kGuard = 16;
    Bytes bytes_;
};

// 33 durations, each more than 18% above the one before: no two can share
// a cluster.
Values distinct_durations(int n) {
    Values v;
    double d = 100.0;
    for (int i = 0; i < n; ++i, d *= 1.2) v.push_back(static_cast<uint16_t>(d));
    return v;
}

// Silences the debug lines of the clustering stage.
struct QuietLog {
    QuietLog() { vr::platform::set_log_sink([](std::string_view) {}); }
    ~QuietLog() { vr::platform::set_log_sink(nullptr); }
};

// ---------------------------------------------------------------- stages

TEST(IrStages, EndianSwap) {
    Values v{0x1234, 0xABCD, 0x0000, 0x00FF};
    EXPECT_EQ(endian_swap(v.data(), 4), 0);
    EXPECT_EQ(v, (Values{0x3412, 0xCDAB, 0x0000, 0xFF00}));
    EXPECT_EQ(endian_swap(nullptr, 0), 0);
    errno = 0;
    EXPECT_EQ(endian_swap(nullptr, 3), -1);
    EXPECT_EQ(errno, -24);
}

TEST(IrStages, ClusteringSnapsToCentres) {
    QuietLog quiet;
    const struct {
        Values in, out;
    } cases[] = {
        {{560, 565, 1690, 1680, 0}, {562, 562, 1685, 1685, 0}},
        // Zeros are placeholders; an all-zero waveform is left as it is.
        {{0, 0, 0}, {0, 0, 0}},
        // One value: its own centre.
        {{9000}, {9000}},
        // Within 18% of the first centre joins it.
        {{1000, 1179}, {1089, 1089}},
        // 180/1000 in single precision lies just above 0.18: a second
        // cluster.
        {{1000, 1180}, {1000, 1180}},
    };
    for (const auto &c : cases) {
        Values v = c.in;
        EXPECT_EQ(ir_data_adjustment(v.data(), static_cast<int>(v.size())), 0);
        EXPECT_EQ(v, c.out);
    }
}

TEST(IrStages, ClusteringMergesDriftedClusters) {
    QuietLog quiet;
    // 100 opens a cluster; 119 (19% off) opens a second, which 118 joins.
    // 100, 117 and 116 pull the first up to 108.25, within 18% of the
    // second's 118.5: the two merge at 111.67, and every duration snaps to
    // 111. Without the merge 119 and 118 would become 118, the rest 108.
    Values v{100, 119, 118, 100, 117, 116};
    ASSERT_EQ(ir_data_adjustment(v.data(), static_cast<int>(v.size())), 0);
    EXPECT_EQ(v, Values(6, 111));
}

TEST(IrStages, MoreThan32ClustersFail) {
    QuietLog quiet;
    Values ok = distinct_durations(32);
    const Values ok_before = ok;
    EXPECT_EQ(ir_data_adjustment(ok.data(), 32), 0);
    EXPECT_EQ(ok, ok_before);

    Values too_many = distinct_durations(33);
    const Values before = too_many;
    errno = 0;
    EXPECT_EQ(ir_data_adjustment(too_many.data(), 33), -1);
    EXPECT_EQ(errno, -99);
    EXPECT_EQ(too_many, before);
}

TEST(IrStages, ScalingToCarrierCycles) {
    const struct {
        uint16_t us, cycles;
    } cases[] = {{560, 21}, {1690, 64}, {0, 0}, {13, 0}, {14, 1}, {9000, 342}, {65535, 2490}};
    for (const auto &c : cases) {
        uint16_t v = c.us;
        EXPECT_EQ(ir_data_analyzer(&v, 1), 0);
        EXPECT_EQ(v, c.cycles) << c.us;
    }
}

// ---------------------------------------------------------------- stream

TEST(IrStream, KnownCompression) {
    const Values v{21, 255, 300};
    Guarded out(9);
    uint16_t reported = 0xFFFF;
    EXPECT_EQ(ir_data_zip(v.data(), 3, out.data(), &reported), 5);
    EXPECT_EQ(reported, 5);
    EXPECT_EQ(out.first(6), (Bytes{0x15, 0xFF, 0xFF, 0xFF, 0x01, 0x2C}));
    EXPECT_TRUE(out.untouched_from(6));

    Guarded none(0);
    EXPECT_EQ(ir_data_zip(v.data(), 0, none.data(), &reported), 0);
    EXPECT_EQ(reported, 0);
    EXPECT_TRUE(none.untouched_from(0));
}

TEST(IrStream, KnownDecompression) {
    const Bytes in{0x15, 0xFF, 0xFF, 0xFF, 0x01, 0x2C};
    Values out(in.size(), 0xCCCC);
    int count = -1;
    EXPECT_EQ(ir_data_unzip(in.data(), static_cast<int>(in.size()), out.data(), &count), 3);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(Values(out.begin(), out.begin() + 3), (Values{21, 255, 300}));
    EXPECT_EQ(out[3], 0xCCCC);
}

// The reported length is the number of bytes written minus one (the offset
// of the last byte): the round trip decompresses reported + 1 bytes.
TEST(IrStream, RoundTripBelowFF00) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pick(0, 0xFEFF);
    std::vector<Values> inputs{{0},   {254}, {255}, {256}, {0xFEFF}, {1, 255, 256, 254, 0, 0xFEFF},
                               {255, 255}};
    for (int i = 0; i < 200; ++i) {
        Values v(static_cast<std::size_t>(1 + i % 40));
        for (auto &x : v) x = static_cast<uint16_t>(i % 2 ? pick(rng) : pick(rng) % 300);
        inputs.push_back(v);
    }
    for (const Values &x : inputs) {
        Guarded stream(3 * x.size());
        uint16_t reported = 0;
        const int r = ir_data_zip(x.data(), static_cast<int>(x.size()), stream.data(), &reported);
        ASSERT_EQ(r, reported);
        const std::size_t written = std::size_t{reported} + 1;
        ASSERT_TRUE(stream.untouched_from(written));

        const Bytes bytes = stream.first(written);
        Values back(bytes.size());
        int count = 0;
        ir_data_unzip(bytes.data(), static_cast<int>(bytes.size()), back.data(), &count);
        back.resize(static_cast<std::size_t>(count));
        ASSERT_EQ(back, x);
    }
}

// Durations of 0xFF00 and above collide with the 255 escape: the stream
// reads back as 255 followed by the low byte.
TEST(IrStream, ValuesFromFF00DoNotRoundTrip) {
    const Values v{0xFF10};
    uint8_t out[3];
    uint16_t reported = 0;
    ASSERT_EQ(ir_data_zip(v.data(), 1, out, &reported), 2);
    Values back(3);
    int count = 0;
    ir_data_unzip(out, 3, back.data(), &count);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(back[0], 255);
    EXPECT_EQ(back[1], 0x10);
}

// Streams cut inside an escape produce the complete values only and never
// read past their end.
TEST(IrStream, TruncatedAndRandomStreams) {
    const struct {
        Bytes in;
        Values out;
    } cases[] = {{{}, {}},
                 {{0xFF}, {}},
                 {{0xFF, 0x01}, {}},
                 {{0x15, 0xFF}, {21}},
                 {{0x15, 0xFF, 0x01}, {21}},
                 {{0x15, 0xFF, 0xFF}, {21, 255}},
                 {{0xFF, 0x00, 0x07}, {7}}};
    for (const auto &c : cases) {
        std::unique_ptr<uint8_t[]> exact(new uint8_t[std::max<std::size_t>(c.in.size(), 1)]);
        std::copy(c.in.begin(), c.in.end(), exact.get());
        Values out(c.in.size() + 1, 0xCCCC);
        int count = -1;
        EXPECT_EQ(ir_data_unzip(exact.get(), static_cast<int>(c.in.size()), out.data(), &count),
                  static_cast<int>(c.out.size()));
        out.resize(static_cast<std::size_t>(count));
        EXPECT_EQ(out, c.out);
    }

    // Random streams: output bounded by the input size (the documented room).
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> byte(0, 255), size(0, 64);
    for (int round = 0; round < 2000; ++round) {
        const std::size_t n = static_cast<std::size_t>(size(rng));
        std::unique_ptr<uint8_t[]> in(new uint8_t[std::max<std::size_t>(n, 1)]);
        for (std::size_t i = 0; i < n; ++i) in[i] = static_cast<uint8_t>(round % 2 ? 0xFF : byte(rng));
        for (std::size_t i = 0; round % 2 && i < n; i += 2) in[i] = static_cast<uint8_t>(byte(rng));
        std::unique_ptr<uint16_t[]> out(new uint16_t[std::max<std::size_t>(n, 1)]);
        int count = -1;
        const int r = ir_data_unzip(in.get(), static_cast<int>(n), out.get(), &count);
        ASSERT_EQ(r, count);
        ASSERT_GE(count, 0);
        ASSERT_LE(static_cast<std::size_t>(count), n);
    }

    errno = 0;
    EXPECT_EQ(ir_data_unzip(nullptr, 3, nullptr, nullptr), -1);
    EXPECT_EQ(errno, -24);
}

// ---------------------------------------------------------------- pipeline

struct Conversion {
    int result;
    int error;
    int length;
    Bytes out;
};

Conversion convert(const Bytes &samples, std::size_t room = vr::kIrWorkBufferSize) {
    QuietLog quiet;
    std::unique_ptr<uint8_t[]> in(new uint8_t[std::max<std::size_t>(samples.size(), 1)]);
    std::copy(samples.begin(), samples.end(), in.get());
    Guarded out(room);
    int length = static_cast<int>(samples.size());
    errno = 0;
    Conversion c{vr::ir_convert_waveform(in.get(), out.data(), &length), errno, length, {}};
    const std::size_t used = c.result == 0 ? static_cast<std::size_t>(length) : 0;
    EXPECT_TRUE(out.untouched_from(used)) << "wrote past the reported length";
    c.out = out.first(used);
    return c;
}

TEST(IrPipeline, ConvertsARecordedWaveform) {
    const Conversion c = convert(big_endian({560, 565, 1690, 1680, 0}));
    ASSERT_EQ(c.result, 0);
    // 562, 562, 1685, 1685, 0 -> cycles 21, 21, 64, 64, 0 -> five bytes
    // written, four reported and handed back.
    EXPECT_EQ(c.length, 4);
    EXPECT_EQ(c.out, (Bytes{21, 21, 64, 64}));

    // A waveform with long durations: three-byte items.
    const Conversion wide = convert(big_endian({9000, 560, 9000}));
    ASSERT_EQ(wide.result, 0);
    EXPECT_EQ(wide.out, (Bytes{0xFF, 0x01, 0x56, 21, 0xFF, 0x01}));
}

TEST(IrPipeline, OddLengthsAndZeros) {
    Bytes odd = big_endian({560, 565, 1690, 1680, 0});
    odd.push_back(0x42);  // half a duration: ignored
    const Conversion c = convert(odd);
    ASSERT_EQ(c.result, 0);
    EXPECT_EQ(c.out, (Bytes{21, 21, 64, 64}));

    const Conversion one_byte = convert(Bytes{0x42});
    EXPECT_EQ(one_byte.result, 0);
    EXPECT_EQ(one_byte.length, 0);

    const Conversion empty = convert(Bytes{});
    EXPECT_EQ(empty.result, 0);
    EXPECT_EQ(empty.length, 0);

    const Conversion zeros = convert(Bytes(100, 0));
    ASSERT_EQ(zeros.result, 0);
    EXPECT_EQ(zeros.length, 49);
    EXPECT_EQ(zeros.out, Bytes(49, 0));
}

TEST(IrPipeline, WorkBufferLimits) {
    // 2048 bytes in is the most the work buffer takes.
    const Conversion full = convert(Bytes(2048, 0));
    EXPECT_EQ(full.result, 0);
    EXPECT_EQ(full.length, 1023);

    const Conversion too_long = convert(Bytes(2049, 0));
    EXPECT_EQ(too_long.result, -1);
    EXPECT_EQ(too_long.error, -24);

    // 10000 us become 380 cycles, three bytes each: 682 durations fill
    // 2046 bytes, 683 would need 2049.
    const Conversion fits = convert(big_endian(Values(682, 10000)));
    EXPECT_EQ(fits.result, 0);
    EXPECT_EQ(fits.length, 2045);
    const Conversion overflow = convert(big_endian(Values(683, 10000)));
    EXPECT_EQ(overflow.result, -1);
    EXPECT_EQ(overflow.error, -24);
}

TEST(IrPipeline, Failures) {
    const Conversion clusters = convert(big_endian(distinct_durations(33)));
    EXPECT_EQ(clusters.result, -1);
    EXPECT_EQ(clusters.error, -99);

    uint8_t in[2] = {1, 2}, out[4];
    int length = 2;
    errno = 0;
    EXPECT_EQ(vr::ir_convert_waveform(nullptr, out, &length), -1);
    EXPECT_EQ(errno, -24);
    EXPECT_EQ(vr::ir_convert_waveform(in, nullptr, &length), -1);
    EXPECT_EQ(vr::ir_convert_waveform(in, out, nullptr), -1);
    length = -2;
    errno = 0;
    EXPECT_EQ(vr::ir_convert_waveform(in, out, &length), -1);
    EXPECT_EQ(errno, -24);
}

}  // namespace
