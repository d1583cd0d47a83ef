// Virtual MIFARE Ultralight (16 pages) and Ultralight C (48 pages) cards.
//
// Pages are 4 bytes. Pages 0..2 hold the 7-byte UID with its two check
// bytes and the two static lock bytes (page 2 bytes 2..3), page 3 the
// one-time-programmable bytes. The card enforces what it enforces in the
// field:
//   - pages 0 and 1 are read-only; a write to page 2 only sets lock bits
//     (bytes 0..1 are ignored); page 3 and the lock bytes are OTP (a write
//     ORs its bits in);
//   - lock bits lock pages for good, and block-lock bits freeze lock bits
//     (the layout is in README.md);
//   - READ answers four pages from the one asked, wrapping around at the
//     end of the readable memory.
// The Ultralight C adds pages 40 (dynamic lock bytes), 41 (a 16-bit one-way
// counter: a write adds its value), 42 (AUTH0, the first protected page;
// 0x30 protects nothing), 43 (AUTH1: bit 0 set protects writes only) and
// 44..47 (the 3DES key, never readable), and the three-pass mutual 3DES
// authentication that opens the protected pages until the card leaves the
// active state.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "card.h"

namespace vrsim {

using Page = std::array<uint8_t, 4>;
using UlcKey = std::array<uint8_t, 16>;

namespace ultralight {
constexpr int kPageSize = 4;
constexpr int kPages = 16;
constexpr int kPagesC = 48;
constexpr int kLockPageC = 40;
constexpr int kCounterPage = 41;
constexpr int kAuth0Page = 42;
constexpr int kAuth1Page = 43;
constexpr int kKeyPage = 44;
// AUTH0 at or above this page protects nothing.
constexpr uint8_t kNoProtection = 0x30;
// The key a new Ultralight C carries: the datasheet's transport key.
constexpr UlcKey kTransportKey{0x49, 0x45, 0x4D, 0x4B, 0x41, 0x45, 0x52, 0x42,
                               0x21, 0x4E, 0x41, 0x43, 0x55, 0x4F, 0x59, 0x46};

// The pieces of the three-pass authentication both sides use: two-key
// 3DES in CBC mode, and the one-byte rotation of the random numbers.
[[nodiscard]] Bytes tdes_cbc(bool decrypt, ByteView key, ByteView iv, ByteView data);
[[nodiscard]] Bytes rotate_left(ByteView bytes);
}  // namespace ultralight

class UltralightCard : public Card {
public:
    // A new card: UID pages, lock and OTP bytes zero, user pages zero; the
    // C with AUTH0 0x30 (nothing protected), AUTH1 0 and the transport key.
    static std::shared_ptr<UltralightCard> make(bool model_c, Bytes uid, uint16_t atqa, uint8_t sak,
                                                std::string* error);

    UltralightCard(bool model_c, uint16_t atqa, uint8_t sak, Bytes uid);

    [[nodiscard]] bool model_c() const { return model_c_; }
    [[nodiscard]] int page_count() const { return static_cast<int>(pages_.size()); }

    // ---- raw memory, for set-up and assertions (no rules applied)
    [[nodiscard]] Page page(int n) const;  // zeros outside the card
    void set_page(int n, const Page& data);
    // All pages in order (the binary dump layout).
    [[nodiscard]] Bytes memory() const;
    // Replaces all pages but the UID's; false (nothing changed) when the
    // size is not the card's.
    bool load_memory(ByteView bytes);
    // The Ultralight C's key as the host gives it (pages 44..47 hold it in
    // the card's own byte order).
    [[nodiscard]] UlcKey key() const;
    void set_key(const UlcKey& key);
    [[nodiscard]] bool authenticated() const;
    [[nodiscard]] uint16_t counter() const;

    // ---- commands of an active card (the reader model)
    // READ: 16 bytes, four pages from `page` on.
    [[nodiscard]] Answer read(int page, std::array<uint8_t, 16>& out);
    // WRITE (COMPATIBILITY WRITE alike): one page.
    [[nodiscard]] Answer write(int page, const Page& data);
    // Three-pass authentication, card side. Step one: the card's random
    // number enciphered (8 bytes). Step two takes the reader's 16 bytes
    // (its random number and the card's rotated, enciphered) and answers
    // the reader's random number rotated, enciphered; a wrong key is a NAK.
    [[nodiscard]] std::optional<Bytes> begin_authentication();
    [[nodiscard]] std::optional<Bytes> finish_authentication(ByteView reader_part);

private:
    [[nodiscard]] bool hears_locked();
    [[nodiscard]] Answer refuse_locked();
    [[nodiscard]] int readable_pages() const;
    [[nodiscard]] bool read_protected_locked(int page) const;
    [[nodiscard]] bool write_protected_locked(int page) const;
    [[nodiscard]] bool locked_locked(int page) const;
    [[nodiscard]] UlcKey key_locked() const;
    void or_lock_bytes_locked(int page, uint8_t first, uint8_t second);
    void end_session_locked() override;

    const bool model_c_;
    std::vector<Page> pages_;
    bool authenticated_ = false;
    // Between the two steps of an authentication: the card's random number
    // and the last cipher block it sent.
    std::optional<std::pair<Bytes, Bytes>> challenge_;
};

}  // namespace vrsim
