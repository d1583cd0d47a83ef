// Internal DES / triple-DES engine behind Run1Des, Run3Des and the link
// cipher. Other parts of the library use it directly when they hold binary
// keys and blocks.
//
// The block function works on 64-bit words; the byte order of blocks in
// memory is big-endian (the first byte holds bits 1..8 of the block). The
// 16 round keys are scheduled once per key and kept in both orders, so a
// schedule can be reused for any number of blocks in either direction.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vr::des {

// Round keys of one DES key, in encryption order and reversed.
struct KeySchedule {
    std::array<std::uint64_t, 16> enc;
    std::array<std::uint64_t, 16> dec;
};

// Schedules the first 8 bytes of key (parity bits ignored).
void set_key(KeySchedule &schedule, const std::uint8_t *key);

// Single DES (one key) or EDE triple DES (two or three keys: K3 = K1 for
// two keys). Built by init() from a key of 8, 16 or 24 bytes.
struct Cipher {
    KeySchedule k1;
    KeySchedule k2;
    KeySchedule k3;
    int keys = 0;  // 1 or 3 once initialised
};

// keys: 1 (single DES), 2 (K1,K2,K1) or 3 (K1,K2,K3); key holds 8*keys
// bytes. Returns false for any other count or a missing key.
bool init(Cipher &cipher, const std::uint8_t *key, int keys);

// One block in either direction; the block is the big-endian value of the
// 8 bytes.
std::uint64_t encrypt_block(const Cipher &cipher, std::uint64_t block);
std::uint64_t decrypt_block(const Cipher &cipher, std::uint64_t block);

// blocks * 8 bytes from in to out. in and out may be the same buffer; they
// must not overlap otherwise. The IV is not updated.
void ecb(const Cipher &cipher, bool encrypt, const std::uint8_t *in,
         std::uint8_t *out, std::size_t blocks);
void cbc(const Cipher &cipher, bool encrypt, const std::uint8_t *in,
         std::uint8_t *out, std::size_t blocks, const std::uint8_t *iv);

// Big-endian load/store of one block.
inline std::uint64_t load_block(const std::uint8_t *p) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}
inline void store_block(std::uint8_t *p, std::uint64_t v) {
    for (int i = 7; i >= 0; --i) {
        p[i] = static_cast<std::uint8_t>(v);
        v >>= 8;
    }
}

}  // namespace vr::des
