// The reader-link key: the one place that fixes the constants the reader
// firmware shares with the library. The link cipher (link_cipher.cpp) and
// the reader simulator both build the key from here.
//
// Link key (two-key 3DES, 16 bytes) = K1 || K2 with
//   K1[i] = kKeySrc[i] ^ kKeyMask   (fixed; made at run time, never stored)
//   K2    = first 8 bytes of the session key (tessil.s_com.enc_key, the 8
//           random bytes the reader returned when link encryption was
//           switched on).
#pragma once

#include <array>
#include <cstdint>

namespace vr::link_key {

inline constexpr std::array<std::uint8_t, 8> key_src = {0x0C, 0x1B, 0x14, 0x0E,
                                                        0x1F, 0x16, 0x08, 0x1C};
inline constexpr std::uint8_t kKeyMask = 0x5A;

inline constexpr std::size_t kSessionKeySize = 8;
inline constexpr std::size_t kLinkKeySize = 16;

// Fills link_key (16 bytes) from the first 8 bytes of session_key.
inline void make(const std::uint8_t *session_key, std::uint8_t *link_key) {
    for (std::size_t i = 0; i < key_src.size(); ++i)
        link_key[i] = static_cast<std::uint8_t>(key_src[i] ^ kKeyMask);
    for (std::size_t i = 0; i < kSessionKeySize; ++i) link_key[8 + i] = session_key[i];
}

}  // namespace vr::link_key
