// Shift-register sequence generator ("m-sequence"): a register of order n
// in the top n bits of a 64-bit value, shifted right with the feedback bit
// entering at bit 63. The taps are the product's fixed table; for some
// orders they do not give a maximal-length sequence, and callers rely on
// the exact bytes, so they stay as they are.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "core/errors.h"
#include "crypto.h"
#include "log.h"

namespace {

constexpr int kMinOrder = 2;
constexpr int kMaxOrder = 56;

struct Taps {
    std::uint64_t mask = 0;  // register bits that feed back; 0: no taps
    bool inclusive = false;  // combine by OR instead of XOR
};

// One line of the tap table: the orders that share it and the offsets of
// their taps from bit 64 - order. Lists end at the first 0 order / -1
// offset.
struct TapRow {
    int orders[7];
    int offsets[5];
};

constexpr std::array<Taps, kMaxOrder + 1> make_taps() {
    // Order 22 has no entry.
    constexpr TapRow rows[] = {
        {{4}, {3, 0, -1}},
        {{5}, {4, 1, 0, -1}},
        {{6}, {5, 0, -1}},
        {{7}, {6, 2, -1}},
        {{8, 19, 38, 43}, {5, 4, 0, -1}},
        {{9}, {8, 3, 0, -1}},
        {{10}, {9, 2, 0, -1}},
        {{11}, {10, 1, -1}},
        {{12}, {6, 3, 2, -1}},
        {{13, 24, 45}, {3, 2, 0, -1}},
        {{14}, {11, 10, 0, -1}},
        {{15}, {14, 0, -1}},
        {{16}, {15, 11, 2, 0, -1}},
        {{17}, {16, 2, 0, -1}},
        {{18}, {6, -1}},
        {{20, 25, 28, 31, 41, 52}, {2, -1}},
        {{21, 29, 35}, {1, -1}},
        {{23, 47}, {4, -1}},
        {{26, 27}, {7, 6, 0, -1}},
        {{30, 51, 53}, {15, 14, 0, -1}},
        {{32, 48}, {27, 26, 0, -1}},
        {{33}, {12, -1}},
        {{34}, {14, 13, 0, -1}},
        {{36}, {10, -1}},
        {{37}, {11, 9, 1, -1}},
        {{39}, {3, -1}},
        {{40}, {20, 18, 1, -1}},
        {{42}, {22, 21, 0, -1}},
        {{44, 50}, {26, 25, 0, -1}},
        {{46}, {20, 19, 0, -1}},
        {{49}, {28, -1}},
        {{54}, {36, 35, 0, -1}},
        {{55}, {23, -1}},
        {{56}, {21, 20, 0, -1}},
    };
    std::array<Taps, kMaxOrder + 1> taps{};
    for (const auto &row : rows) {
        for (int order : row.orders) {
            if (order == 0) break;
            for (int offset : row.offsets) {
                if (offset < 0) break;
                taps[order].mask |= std::uint64_t{1} << (64 - order + offset);
            }
        }
    }
    // Orders 2 and 3 combine their two bits by inclusive or.
    taps[2] = {(std::uint64_t{1} << (62 + 1)) | (std::uint64_t{1} << 62), true};
    taps[3] = {(std::uint64_t{1} << (61 + 2)) | (std::uint64_t{1} << 61), true};
    return taps;
}

constexpr std::array<Taps, kMaxOrder + 1> kTaps = make_taps();

const Taps *taps_of(int order) {
    if (order < kMinOrder || order > kMaxOrder || kTaps[order].mask == 0) {
        log_print(LOG_LEVEL_E, "FATA ERROR: order %d exceed the max order 56\n", order);
        errno = vr::kEArg;
        return nullptr;
    }
    return &kTaps[order];
}

inline int feedback_bit(std::uint64_t v, const Taps &t) {
    const std::uint64_t tapped = v & t.mask;
    if (t.inclusive) return tapped != 0;
    return __builtin_parityll(tapped);
}

inline std::uint64_t step(std::uint64_t v, const Taps &t) {
    return (v >> 1) | (static_cast<std::uint64_t>(feedback_bit(v, t)) << 63);
}

inline std::uint64_t join(std::uint32_t low, std::uint32_t high) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

// The module-owned result of the last mserial call.
std::mutex g_sequence_lock;
unsigned char *g_sequence = nullptr;

}  // namespace

VR_API int bit(uint32_t low, uint32_t high, int index) {
    if (index < 0 || index > 63) return vr::fail(vr::kEArg);
    return static_cast<int>((join(low, high) >> index) & 1);
}

VR_API int feedback(uint32_t low, uint32_t high, int order) {
    const Taps *t = taps_of(order);
    if (!t) return -1;
    return feedback_bit(join(low, high), *t);
}

VR_API int shift(uint32_t reg[2], int order) {
    if (!reg) return vr::fail(vr::kEArg);
    const Taps *t = taps_of(order);
    if (!t) return -1;
    const std::uint64_t v = step(join(reg[0], reg[1]), *t);
    reg[0] = static_cast<uint32_t>(v);
    reg[1] = static_cast<uint32_t>(v >> 32);
    return 0;
}

VR_API uint64_t mserial_length(int order) {
    if (order < kMinOrder || order > kMaxOrder) return 0;
    return ((std::uint64_t{1} << order) - 1) / 8;
}

VR_API unsigned char *mserial(int order) {
    std::lock_guard<std::mutex> hold(g_sequence_lock);
    std::free(g_sequence);
    g_sequence = nullptr;
    const Taps *t = taps_of(order);
    if (!t) return nullptr;

    const std::uint64_t length = mserial_length(order);
    if (static_cast<std::size_t>(length) != length) {
        log_print(LOG_LEVEL_E, "FATA ERROR: memory is full\n");
        errno = vr::kENoMem;
        return nullptr;
    }
    // One byte more than needed, so that an empty sequence is still a
    // buffer and a null result always means failure.
    auto *buffer = static_cast<unsigned char *>(std::malloc(static_cast<std::size_t>(length) + 1));
    if (!buffer) {
        log_print(LOG_LEVEL_E, "FATA ERROR: memory is full\n");
        errno = vr::kENoMem;
        return nullptr;
    }
    // The byte just below the register when n is a multiple of 8, else the
    // one below that.
    const int byte_index = order % 8 == 0 ? 7 - order / 8 : 6 - order / 8;
    const int byte_shift = 8 * byte_index;
    const std::uint64_t steps = (std::uint64_t{1} << order) - 1;
    std::uint64_t v = std::uint64_t{1} << 63;
    std::uint64_t next = length;  // filled from the end
    for (std::uint64_t i = 0; i < steps; ++i) {
        v = step(v, *t);
        if ((i & 7) == 7) buffer[--next] = static_cast<unsigned char>(v >> byte_shift);
    }
    buffer[length] = 0;
    g_sequence = buffer;
    return buffer;
}
