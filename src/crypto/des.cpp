// Table-driven DES and EDE triple DES.
//
// Working form of a 32-bit half: the half is kept as its 48-bit expansion
// E(R). The six bits that feed S-box j (j = 0..7) sit in bits 0..5 of byte
// j of a 64-bit word, the group's first bit in bit 5; round keys use the
// same layout. E and P only move and copy bits, so E(L ^ P(S(x))) =
// E(L) ^ E(P(S(x))): the lookup tables return S-box outputs already
// permuted by P and expanded by E, and a round is one XOR with the round
// key, eight lookups and XORs into the other half. The halves enter the
// working form once (initial permutation and expansion, by nibble tables)
// and leave it once (final permutation), also between the three stages of
// triple DES, where the final and the next initial permutation cancel.
//
// All lookup tables are computed at compile time from the FIPS tables in
// des_tables.h.
#include "crypto/des.h"

#include <utility>

#include "crypto/des_tables.h"

namespace vr::des {
namespace {

// ------------------------------------------------------------ table build

// Bit mask, in working form, of every copy of bit q (1..32) of a half.
constexpr std::uint64_t expanded_bit(int q) {
    std::uint64_t mask = 0;
    for (int e = 0; e < 48; ++e)
        if (E_Table[e] == q) mask |= std::uint64_t{1} << (8 * (e / 6) + 5 - e % 6);
    return mask;
}

// Bit mask, in working form, of round-key bit r (1..48).
constexpr std::uint64_t key_bit(int r) {
    return std::uint64_t{1} << (8 * ((r - 1) / 6) + 5 - (r - 1) % 6);
}

using SpTable = std::array<std::array<std::uint64_t, 64>, 8>;
using NibbleTable = std::array<std::array<std::uint64_t, 16>, 16>;
using ChunkTable = std::array<std::array<std::uint64_t, 128>, 8>;

// kSp[j][x]: E(P(S-box j+1 output for the six bits x)), x in working-form
// bit order (bit 5 = first bit of the group).
constexpr SpTable make_sp() {
    SpTable t{};
    for (int j = 0; j < 8; ++j) {
        for (int x = 0; x < 64; ++x) {
            const int row = ((x >> 4) & 2) | (x & 1);
            const int col = (x >> 1) & 15;
            const int value = S_Box[j][row][col];
            std::uint64_t mask = 0;
            for (int o = 1; o <= 32; ++o) {
                const int from = P_Table[o - 1];
                if (from < 4 * j + 1 || from > 4 * j + 4) continue;
                if ((value >> (3 - (from - 4 * j - 1))) & 1) mask |= expanded_bit(o);
            }
            t[j][x] = mask;
        }
    }
    return t;
}

// A table per input nibble p (0 = bits 1..4 of the 64-bit input): entry
// [p][v] combines the masks that mask_of gives for the input positions
// (1..64) whose bits are set in v.
template <class MaskOf>
constexpr NibbleTable per_nibble(MaskOf mask_of) {
    NibbleTable t{};
    for (int p = 0; p < 16; ++p)
        for (int v = 0; v < 16; ++v)
            for (int b = 0; b < 4; ++b)
                if ((v >> b) & 1) t[p][v] |= mask_of(4 * p + 4 - b);
    return t;
}

// Initial permutation followed by expansion: the working form of L
// (right = false) or R.
constexpr NibbleTable make_ip(bool right) {
    return per_nibble([right](int pos) {
        std::uint64_t mask = 0;
        for (int o = 1; o <= 64; ++o) {
            if (IP_Table[o - 1] != pos) continue;
            if (!right && o <= 32) mask |= expanded_bit(o);
            if (right && o > 32) mask |= expanded_bit(o - 32);
        }
        return mask;
    });
}

// Final permutation, per nibble of the pre-output R16 || L16 (p 0..7 are
// the nibbles of R16, 8..15 those of L16): the output block as a 64-bit
// big-endian value.
constexpr NibbleTable make_fp() {
    return per_nibble([](int pos) {
        std::uint64_t out = 0;
        for (int o = 1; o <= 64; ++o)
            if (IPR_Table[o - 1] == pos) out |= std::uint64_t{1} << (64 - o);
        return out;
    });
}

// Permuted choice 1 per key nibble: C || D as a 56-bit value, position 1 of
// C in bit 55.
constexpr NibbleTable make_pc1() {
    return per_nibble([](int pos) {
        std::uint64_t cd = 0;
        for (int c = 1; c <= 56; ++c)
            if (PC1_Table[c - 1] == pos) cd |= std::uint64_t{1} << (56 - c);
        return cd;
    });
}

// Permuted choice 2 per 7-bit chunk k of C || D (k 0..3 from C, 4..7 from
// D): the round key in working form.
// The round-key bits that each C || D position (1..56) feeds; inverting
// PC2 once keeps the chunk table within every compiler's constant-
// evaluation budget.
constexpr std::array<std::uint64_t, 57> make_pc2_by_position() {
    std::array<std::uint64_t, 57> by_position{};
    for (int r = 1; r <= 48; ++r) by_position[PC2_Table[r - 1]] |= key_bit(r);
    return by_position;
}

constexpr ChunkTable make_pc2() {
    constexpr auto by_position = make_pc2_by_position();
    ChunkTable t{};
    for (int k = 0; k < 8; ++k) {
        for (int v = 0; v < 128; ++v) {
            std::uint64_t key = 0;
            for (int b = 0; b < 7; ++b)
                if ((v >> b) & 1) key |= by_position[7 * k + 7 - b];
            t[k][v] = key;
        }
    }
    return t;
}

constexpr SpTable kSp = make_sp();
constexpr NibbleTable kIpLeft = make_ip(false);
constexpr NibbleTable kIpRight = make_ip(true);
constexpr NibbleTable kFp = make_fp();
constexpr NibbleTable kPc1 = make_pc1();
constexpr ChunkTable kPc2 = make_pc2();

// Rotation of C and D before round i, counted from the start.
constexpr std::array<int, 16> make_total_shift() {
    std::array<int, 16> total{};
    int s = 0;
    for (int i = 0; i < 16; ++i) total[i] = s += LOOP_Table[i];
    return total;
}
constexpr std::array<int, 16> kTotalShift = make_total_shift();

// ------------------------------------------------- sanity of the FIPS data

// Every value lies in 1..n and none repeats (with as many values as n, the
// table is a permutation).
constexpr bool distinct_within(const auto &table, int n) {
    std::array<bool, 65> seen{};
    for (auto v : table) {
        if (v < 1 || v > n || seen[v]) return false;
        seen[v] = true;
    }
    return true;
}

constexpr bool final_inverts_initial() {
    for (int i = 1; i <= 64; ++i)
        if (IPR_Table[IP_Table[i - 1] - 1] != i) return false;
    return true;
}

constexpr bool sbox_rows_are_permutations() {
    for (const auto &box : S_Box) {
        for (const auto &row : box) {
            std::array<bool, 16> seen{};
            for (auto v : row) {
                if (v > 15 || seen[v]) return false;
                seen[v] = true;
            }
        }
    }
    return true;
}

constexpr bool pc1_skips_parity() {
    for (auto v : PC1_Table)
        if (v % 8 == 0) return false;
    return distinct_within(PC1_Table, 64);
}

constexpr int total_rotation() {
    int s = 0;
    for (auto v : LOOP_Table) s += v;
    return s;
}

static_assert(distinct_within(IP_Table, 64));
static_assert(final_inverts_initial());
static_assert(distinct_within(P_Table, 32));
static_assert(sbox_rows_are_permutations());
static_assert(pc1_skips_parity());
static_assert(distinct_within(PC2_Table, 56));
static_assert(total_rotation() == 28, "C and D return to their start after 16 rounds");

// ------------------------------------------------------------ block function

// Keeps the compiler from re-associating a XOR tree into one long chain:
// the eight lookups of a round are combined pairwise so that the next
// round can start three XORs after the last load instead of eight.
inline void keep(std::uint64_t &v) {
#if defined(__GNUC__)
    __asm__("" : "+r"(v));
#else
    (void)v;
#endif
}

// The round function of the working form: base ^ SP(x), where x is the
// keyed right half and base the left half (already keyed for the next
// round by the caller).
inline std::uint64_t round_function(std::uint64_t x, std::uint64_t base) {
    std::uint64_t a = kSp[0][x & 0x3f] ^ kSp[1][(x >> 8) & 0x3f];
    std::uint64_t b = kSp[2][(x >> 16) & 0x3f] ^ kSp[3][(x >> 24) & 0x3f];
    std::uint64_t c = kSp[4][(x >> 32) & 0x3f] ^ kSp[5][(x >> 40) & 0x3f];
    std::uint64_t d = kSp[6][(x >> 48) & 0x3f] ^ kSp[7][x >> 56];
    keep(a);
    keep(b);
    keep(c);
    keep(d);
    std::uint64_t ab = a ^ b;
    std::uint64_t cd = c ^ d;
    keep(ab);
    keep(cd);
    return (ab ^ base) ^ cd;
}

inline void initial_permutation(std::uint64_t block, std::uint64_t &l, std::uint64_t &r) {
    std::uint64_t a = 0, b = 0;
    for (int p = 0; p < 16; ++p) {
        const unsigned nibble = static_cast<unsigned>(block >> (60 - 4 * p)) & 15;
        a |= kIpLeft[p][nibble];
        b |= kIpRight[p][nibble];
    }
    l = a;
    r = b;
}

// (l, r) = (L16, R16); the output is FP(R16 || L16).
inline std::uint64_t final_permutation(std::uint64_t l, std::uint64_t r) {
    std::uint64_t out = 0;
    for (int j = 0; j < 8; ++j) {
        out |= kFp[j][(r >> (8 * j + 1)) & 15];
        out |= kFp[8 + j][(l >> (8 * j + 1)) & 15];
    }
    return out;
}

// Sixteen rounds over N independent blocks (N > 1 lets the processor
// overlap the table loads of different blocks). The next round's key is
// folded into the left half while this round's lookups are in flight, so
// the key XOR is off the chain from one round's lookups to the next.
template <int N>
inline void sixteen_rounds(std::uint64_t (&l)[N], std::uint64_t (&r)[N],
                           const std::uint64_t *k) {
    std::uint64_t keyed[N];
    for (int n = 0; n < N; ++n) keyed[n] = r[n] ^ k[0];
#pragma GCC unroll 15
    for (int i = 0; i < 15; ++i) {
        for (int n = 0; n < N; ++n) {
            const std::uint64_t right = keyed[n] ^ k[i];
            keyed[n] = round_function(keyed[n], l[n] ^ k[i + 1]);
            l[n] = right;
        }
    }
    for (int n = 0; n < N; ++n) {
        const std::uint64_t right = keyed[n] ^ k[15];
        r[n] = round_function(keyed[n], l[n]);
        l[n] = right;
    }
}

// The round-key arrays of each stage for one direction.
struct Stages {
    const std::uint64_t *key[3];
    int count;
};

Stages stages_for(const Cipher &c, bool encrypt) {
    if (c.keys == 1) return {{encrypt ? c.k1.enc.data() : c.k1.dec.data()}, 1};
    if (encrypt) return {{c.k1.enc.data(), c.k2.dec.data(), c.k3.enc.data()}, 3};
    return {{c.k3.dec.data(), c.k2.enc.data(), c.k1.dec.data()}, 3};
}

template <int N>
inline void crypt_blocks(const Stages &s, std::uint64_t (&blocks)[N]) {
    std::uint64_t l[N], r[N];
    for (int n = 0; n < N; ++n) initial_permutation(blocks[n], l[n], r[n]);
    sixteen_rounds<N>(l, r, s.key[0]);
    for (int st = 1; st < s.count; ++st) {
        // FP then IP cancel: the next stage starts from (R16, L16).
        for (int n = 0; n < N; ++n) std::swap(l[n], r[n]);
        sixteen_rounds<N>(l, r, s.key[st]);
    }
    for (int n = 0; n < N; ++n) blocks[n] = final_permutation(l[n], r[n]);
}

// Blocks processed together in ECB and CBC decryption.
constexpr int kLanes = 4;

}  // namespace

// ------------------------------------------------------------------ API

void set_key(KeySchedule &schedule, const std::uint8_t *key) {
    const std::uint64_t k = load_block(key);
    std::uint64_t cd = 0;
    for (int p = 0; p < 16; ++p) cd |= kPc1[p][(k >> (60 - 4 * p)) & 15];
    constexpr std::uint64_t kMask28 = 0x0FFFFFFF;
    // C and D each held twice side by side: C rotated left by s is then
    // the 28 bits at shift 28 - s, so no rotation is ever computed and the
    // chunk shifts are constants once the loop is unrolled.
    const std::uint64_t c = cd >> 28, d = cd & kMask28;
    const std::uint64_t cc = (c << 28) | c, dd = (d << 28) | d;
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i) {
        const int base = 28 - kTotalShift[i];
        std::uint64_t round_key = 0;
        for (int chunk = 0; chunk < 4; ++chunk) {
            round_key |= kPc2[chunk][(cc >> (base + 21 - 7 * chunk)) & 0x7f];
            round_key |= kPc2[4 + chunk][(dd >> (base + 21 - 7 * chunk)) & 0x7f];
        }
        schedule.enc[i] = round_key;
        schedule.dec[15 - i] = round_key;
    }
}

bool init(Cipher &cipher, const std::uint8_t *key, int keys) {
    if (!key || keys < 1 || keys > 3) return false;
    set_key(cipher.k1, key);
    if (keys == 1) {
        cipher.keys = 1;
        return true;
    }
    set_key(cipher.k2, key + 8);
    if (keys == 3)
        set_key(cipher.k3, key + 16);
    else
        cipher.k3 = cipher.k1;
    cipher.keys = 3;
    return true;
}

std::uint64_t encrypt_block(const Cipher &cipher, std::uint64_t block) {
    std::uint64_t b[1] = {block};
    crypt_blocks<1>(stages_for(cipher, true), b);
    return b[0];
}

std::uint64_t decrypt_block(const Cipher &cipher, std::uint64_t block) {
    std::uint64_t b[1] = {block};
    crypt_blocks<1>(stages_for(cipher, false), b);
    return b[0];
}

void ecb(const Cipher &cipher, bool encrypt, const std::uint8_t *in, std::uint8_t *out,
         std::size_t blocks) {
    const Stages s = stages_for(cipher, encrypt);
    std::size_t i = 0;
    for (; i + kLanes <= blocks; i += kLanes) {
        std::uint64_t b[kLanes];
        for (int n = 0; n < kLanes; ++n) b[n] = load_block(in + 8 * (i + n));
        crypt_blocks<kLanes>(s, b);
        for (int n = 0; n < kLanes; ++n) store_block(out + 8 * (i + n), b[n]);
    }
    for (; i < blocks; ++i) {
        std::uint64_t b[1] = {load_block(in + 8 * i)};
        crypt_blocks<1>(s, b);
        store_block(out + 8 * i, b[0]);
    }
}

void cbc(const Cipher &cipher, bool encrypt, const std::uint8_t *in, std::uint8_t *out,
         std::size_t blocks, const std::uint8_t *iv) {
    const Stages s = stages_for(cipher, encrypt);
    std::uint64_t chain = load_block(iv);
    std::size_t i = 0;
    if (encrypt) {
        // Each block depends on the previous ciphertext: one at a time.
        for (; i < blocks; ++i) {
            std::uint64_t b[1] = {load_block(in + 8 * i) ^ chain};
            crypt_blocks<1>(s, b);
            chain = b[0];
            store_block(out + 8 * i, chain);
        }
        return;
    }
    // All ciphertext of a group is read before any plaintext is written, so
    // in-place decryption keeps the chaining values it needs.
    for (; i + kLanes <= blocks; i += kLanes) {
        std::uint64_t c[kLanes], b[kLanes];
        for (int n = 0; n < kLanes; ++n) b[n] = c[n] = load_block(in + 8 * (i + n));
        crypt_blocks<kLanes>(s, b);
        store_block(out + 8 * i, b[0] ^ chain);
        for (int n = 1; n < kLanes; ++n) store_block(out + 8 * (i + n), b[n] ^ c[n - 1]);
        chain = c[kLanes - 1];
    }
    for (; i < blocks; ++i) {
        const std::uint64_t c = load_block(in + 8 * i);
        std::uint64_t b[1] = {c};
        crypt_blocks<1>(s, b);
        store_block(out + 8 * i, b[0] ^ chain);
        chain = c;
    }
}

}  // namespace vr::des
