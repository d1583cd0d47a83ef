// The m-sequence generator against a bit-by-bit model of the register, its
// tap table and its byte-collection rule, written out here on its own.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "crypto.h"
#include "log_capture.h"

// A buffer that cannot exist must come back as a failed allocation, also
// under AddressSanitizer.
extern "C" const char *__asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

struct TapRow {
    std::vector<int> offsets;
    bool inclusive_or;
};

// The tap table, entry by entry.
const std::map<int, TapRow> &tap_table() {
    static const std::map<int, TapRow> table = [] {
        std::map<int, TapRow> t;
        auto add = [&t](std::initializer_list<int> orders, std::vector<int> offsets) {
            for (int o : orders) t[o] = {offsets, false};
        };
        t[2] = {{1, 0}, true};
        t[3] = {{2, 0}, true};
        add({4}, {3, 0});
        add({5}, {4, 1, 0});
        add({6}, {5, 0});
        add({7}, {6, 2});
        add({8, 19, 38, 43}, {5, 4, 0});
        add({9}, {8, 3, 0});
        add({10}, {9, 2, 0});
        add({11}, {10, 1});
        add({12}, {6, 3, 2});
        add({13, 24, 45}, {3, 2, 0});
        add({14}, {11, 10, 0});
        add({15}, {14, 0});
        add({16}, {15, 11, 2, 0});
        add({17}, {16, 2, 0});
        add({18}, {6});
        add({20, 25, 28, 31, 41, 52}, {2});
        add({21, 29, 35}, {1});
        add({23, 47}, {4});
        add({26, 27}, {7, 6, 0});
        add({30, 51, 53}, {15, 14, 0});
        add({32, 48}, {27, 26, 0});
        add({33}, {12});
        add({34}, {14, 13, 0});
        add({36}, {10});
        add({37}, {11, 9, 1});
        add({39}, {3});
        add({40}, {20, 18, 1});
        add({42}, {22, 21, 0});
        add({44, 50}, {26, 25, 0});
        add({46}, {20, 19, 0});
        add({49}, {28});
        add({54}, {36, 35, 0});
        add({55}, {23});
        add({56}, {21, 20, 0});
        return t;
    }();
    return table;
}

// The 64-bit register as 64 separate bits, bit k = V's bit k.
struct Model {
    std::array<int, 64> bits{};
    int order;
    const TapRow &taps;

    explicit Model(int n) : order(n), taps(tap_table().at(n)) { bits[63] = 1; }

    int feedback() const {
        int f = 0;
        for (int offset : taps.offsets) {
            const int b = bits[static_cast<std::size_t>(64 - order + offset)];
            f = taps.inclusive_or ? (f | b) : (f ^ b);
        }
        return f;
    }
    void step() {
        const int f = feedback();
        for (int k = 0; k < 63; ++k) bits[k] = bits[k + 1];
        bits[63] = f;
    }
    unsigned char byte(int index) const {
        unsigned v = 0;
        for (int j = 7; j >= 0; --j) v = (v << 1) | static_cast<unsigned>(bits[8 * index + j]);
        return static_cast<unsigned char>(v);
    }
    uint32_t low() const { return word(0); }
    uint32_t high() const { return word(32); }
    uint32_t word(int from) const {
        uint32_t v = 0;
        for (int j = 31; j >= 0; --j) v = (v << 1) | static_cast<uint32_t>(bits[from + j]);
        return v;
    }
};

// The whole sequence of an order, by the model.
std::vector<unsigned char> model_sequence(int order) {
    const uint64_t steps = (uint64_t{1} << order) - 1;
    const uint64_t length = steps / 8;
    std::vector<unsigned char> out(length);
    const int index = order % 8 == 0 ? 7 - order / 8 : 6 - order / 8;
    Model m(order);
    uint64_t next = length;
    for (uint64_t i = 0; i < steps; ++i) {
        m.step();
        if ((i & 7) == 7) out[--next] = m.byte(index);
    }
    EXPECT_EQ(next, 0u);
    return out;
}

TEST(Mserial, WholeSequencesMatchTheModel) {
    for (const auto &[order, taps] : tap_table()) {
        if (order > 18) break;  // the rest: register steps below
        SCOPED_TRACE(order);
        const std::vector<unsigned char> expected = model_sequence(order);
        ASSERT_EQ(mserial_length(order), expected.size());
        const unsigned char *got = mserial(order);
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(std::vector<unsigned char>(got, got + expected.size()), expected);
    }
}

TEST(Mserial, LengthsAtTheEdges) {
    EXPECT_EQ(mserial_length(2), 0u);
    EXPECT_EQ(mserial_length(3), 0u);
    EXPECT_EQ(mserial_length(4), 1u);
    EXPECT_EQ(mserial_length(16), 8191u);
    EXPECT_EQ(mserial_length(56), ((uint64_t{1} << 56) - 1) / 8);
    EXPECT_EQ(mserial_length(1), 0u);
    EXPECT_EQ(mserial_length(57), 0u);

    // Order 3 stores nothing, yet returns a buffer.
    EXPECT_NE(mserial(3), nullptr);
    // Order 16 fills 8191 bytes: its sequence has 2^16 - 1 steps.
    const unsigned char *seq = mserial(16);
    ASSERT_NE(seq, nullptr);
    const std::vector<unsigned char> expected = model_sequence(16);
    ASSERT_EQ(expected.size(), 8191u);
    EXPECT_EQ(std::vector<unsigned char>(seq, seq + 8191), expected);
}

// Orders too long to run whole: feedback and shift against the model from
// the start state and from random states.
TEST(Mserial, RegisterStepsOfEveryOrderMatchTheModel) {
    std::mt19937_64 rng(9);
    for (const auto &[order, taps] : tap_table()) {
        SCOPED_TRACE(order);
        Model m(order);
        for (int k = 0; k < 64; ++k) m.bits[static_cast<std::size_t>(k)] = static_cast<int>((rng() >> 7) & 1);
        if (order % 3 == 0) {  // some from the start state
            m.bits.fill(0);
            m.bits[63] = 1;
        }
        uint32_t reg[2] = {m.low(), m.high()};
        for (int i = 0; i < 300; ++i) {
            ASSERT_EQ(feedback(reg[0], reg[1], order), m.feedback()) << "step " << i;
            ASSERT_EQ(shift(reg, order), 0);
            m.step();
            ASSERT_EQ(reg[0], m.low()) << "step " << i;
            ASSERT_EQ(reg[1], m.high()) << "step " << i;
        }
    }
}

TEST(Mserial, BitReadsTheSixtyFourBitValue) {
    const uint32_t low = 0x80000001u, high = 0x40000002u;
    EXPECT_EQ(bit(low, high, 0), 1);
    EXPECT_EQ(bit(low, high, 1), 0);
    EXPECT_EQ(bit(low, high, 31), 1);
    EXPECT_EQ(bit(low, high, 32), 0);
    EXPECT_EQ(bit(low, high, 33), 1);
    EXPECT_EQ(bit(low, high, 62), 1);
    EXPECT_EQ(bit(low, high, 63), 0);
    errno = 0;
    EXPECT_EQ(bit(low, high, 64), -1);
    EXPECT_EQ(errno, -24);
    EXPECT_EQ(bit(low, high, -1), -1);
}

// Orders without taps used to end the process; now the call fails and the
// caller carries on.
TEST(Mserial, OrderWithoutTapsFailsWithoutEndingTheProcess) {
    for (int order : {22, 1, 0, -3, 57, 64}) {
        const vrtest::LogCapture log;
        errno = 0;
        EXPECT_EQ(mserial(order), nullptr) << order;
        EXPECT_EQ(errno, -24) << order;
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 1u) << order;
        const std::string text =
            "FATA ERROR: order " + std::to_string(order) + " exceed the max order 56\n";
        EXPECT_NE(lines[0].find(text), std::string::npos) << lines[0];

        EXPECT_EQ(feedback(0, 0x80000000u, order), -1);
        uint32_t reg[2] = {5, 0x80000000u};
        EXPECT_EQ(shift(reg, order), -1);
        EXPECT_EQ(reg[0], 5u);
        EXPECT_EQ(reg[1], 0x80000000u);
    }
    EXPECT_EQ(shift(nullptr, 8), -1);
}

TEST(Mserial, BufferThatCannotBeAllocatedFailsWithoutEndingTheProcess) {
    {
        const vrtest::LogCapture log;
        // 2^53 bytes: more than any address space offers.
        errno = 0;
        EXPECT_EQ(mserial(56), nullptr);
        EXPECT_EQ(errno, -40);
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("FATA ERROR: memory is full\n"), std::string::npos);
    }
    // The generator still works afterwards.
    EXPECT_NE(mserial(8), nullptr);
}

}  // namespace
