#include "ultralight_card.h"

#include <algorithm>

#include "crypto.h"

namespace vrsim {
namespace {

using namespace ultralight;

constexpr uint8_t kCascadeTag = 0x88;
constexpr uint8_t kInternalByte = 0x48;
constexpr int kStaticLockPage = 2;
constexpr int kOtpPage = 3;
constexpr int kReadablePagesC = kKeyPage;  // the key pages are never read
constexpr uint8_t kAuth1WritesOnly = 0x01;

// Static lock bytes (page 2, bytes 2 and 3) as one 16-bit word, byte 2 low:
// bit 0 block-locks bit 3, bit 1 the lock bits of pages 4..9, bit 2 those
// of pages 10..15; bit 3 locks page 3; bits 4..15 lock pages 4..15.
constexpr int static_lock_bit(int page) { return page == kOtpPage ? 3 : page; }
uint16_t frozen_static_bits(uint16_t lock) {
    uint16_t frozen = 0;
    if (lock & 0x0001) frozen |= 0x0008;
    if (lock & 0x0002) frozen |= 0x03F0;  // pages 4..9
    if (lock & 0x0004) frozen |= 0xFC00;  // pages 10..15
    return frozen;
}
// Dynamic lock bytes (page 40, bytes 0 and 1), byte 0 low: bits 1..3 lock
// pages 16..27 in groups of four and bit 0 block-locks them; bits 5..7 lock
// pages 28..39 and bit 4 block-locks them; bit 9 locks page 41, bit 10
// pages 42..43, bit 11 pages 44..47, and bit 8 block-locks those three.
int dynamic_lock_bit(int page) {
    if (page < 28) return 1 + (page - 16) / 4;
    if (page < 40) return 5 + (page - 28) / 4;
    if (page == kCounterPage) return 9;
    if (page < kKeyPage) return 10;
    return 11;
}
uint16_t frozen_dynamic_bits(uint16_t lock) {
    uint16_t frozen = 0;
    if (lock & 0x0001) frozen |= 0x000E;
    if (lock & 0x0010) frozen |= 0x00E0;
    if (lock & 0x0100) frozen |= 0x0E00;
    return frozen;
}

// The key's byte order in pages 44..47: each half reversed.
constexpr std::array<int, 16> kKeyByteAt{7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8};

}  // namespace

namespace ultralight {

Bytes rotate_left(ByteView b) {
    if (b.empty()) return {};
    Bytes r(b.begin() + 1, b.end());
    r.push_back(b[0]);
    return r;
}

Bytes tdes_cbc(bool decrypt, ByteView key, ByteView iv, ByteView data) {
    Bytes out(data.size());
    Run3Des(decrypt ? 1 : 0, 1, data.data(), static_cast<uint32_t>(data.size()), key.data(),
            static_cast<uint32_t>(key.size()), out.data(), static_cast<uint32_t>(out.size()), iv.data());
    return out;
}

}  // namespace ultralight

std::shared_ptr<UltralightCard> UltralightCard::make(bool model_c, Bytes uid, uint16_t atqa, uint8_t sak,
                                                     std::string* error) {
    if (uid.empty()) {
        uid = Card::random_uid(7);
        uid[0] = 0x04;  // the manufacturer code opens every double-size UID
    }
    if (uid.size() != 7) {
        if (error) *error = "UID must have 7 bytes";
        return nullptr;
    }
    return std::make_shared<UltralightCard>(model_c, atqa, sak, std::move(uid));
}

UltralightCard::UltralightCard(bool model_c, uint16_t atqa, uint8_t sak, Bytes uid)
    : Card(model_c ? CardKind::ultralight_c : CardKind::ultralight, model_c ? "mifare_ulc" : "mifare_ul", atqa,
           sak, std::move(uid)),
      model_c_(model_c),
      pages_(static_cast<size_t>(model_c ? kPagesC : kPages)) {
    const Bytes& u = this->uid();
    pages_[0] = {u[0], u[1], u[2], static_cast<uint8_t>(kCascadeTag ^ u[0] ^ u[1] ^ u[2])};
    pages_[1] = {u[3], u[4], u[5], u[6]};
    pages_[2] = {static_cast<uint8_t>(u[3] ^ u[4] ^ u[5] ^ u[6]), kInternalByte, 0x00, 0x00};
    if (!model_c_) return;
    pages_[kAuth0Page][0] = kNoProtection;
    for (int i = 0; i < 16; ++i)
        pages_[static_cast<size_t>(kKeyPage + i / 4)][static_cast<size_t>(i % 4)] =
            kTransportKey[static_cast<size_t>(kKeyByteAt[static_cast<size_t>(i)])];
}

// ------------------------------------------------------------ raw memory

Page UltralightCard::page(int n) const {
    std::lock_guard hold(mutex_);
    if (n < 0 || n >= page_count()) return Page{};
    return pages_[static_cast<size_t>(n)];
}

void UltralightCard::set_page(int n, const Page& data) {
    std::lock_guard hold(mutex_);
    if (n >= 0 && n < page_count()) pages_[static_cast<size_t>(n)] = data;
}

Bytes UltralightCard::memory() const {
    std::lock_guard hold(mutex_);
    Bytes out;
    for (const Page& p : pages_) out.insert(out.end(), p.begin(), p.end());
    return out;
}

bool UltralightCard::load_memory(ByteView bytes) {
    std::lock_guard hold(mutex_);
    if (bytes.size() != pages_.size() * kPageSize) return false;
    // The UID pages are the card's own; the rest takes the image.
    for (size_t p = 2; p < pages_.size(); ++p) std::copy_n(bytes.begin() + static_cast<long>(p * kPageSize), kPageSize, pages_[p].begin());
    return true;
}

UlcKey UltralightCard::key_locked() const {
    UlcKey k{};
    for (int i = 0; i < 16; ++i)
        k[static_cast<size_t>(kKeyByteAt[static_cast<size_t>(i)])] =
            pages_[static_cast<size_t>(kKeyPage + i / 4)][static_cast<size_t>(i % 4)];
    return k;
}

UlcKey UltralightCard::key() const {
    std::lock_guard hold(mutex_);
    return model_c_ ? key_locked() : UlcKey{};
}

void UltralightCard::set_key(const UlcKey& key) {
    std::lock_guard hold(mutex_);
    if (!model_c_) return;
    for (int i = 0; i < 16; ++i)
        pages_[static_cast<size_t>(kKeyPage + i / 4)][static_cast<size_t>(i % 4)] =
            key[static_cast<size_t>(kKeyByteAt[static_cast<size_t>(i)])];
}

bool UltralightCard::authenticated() const {
    std::lock_guard hold(mutex_);
    return authenticated_;
}

uint16_t UltralightCard::counter() const {
    std::lock_guard hold(mutex_);
    if (!model_c_) return 0;
    const Page& c = pages_[kCounterPage];
    return static_cast<uint16_t>(c[0] | c[1] << 8);
}

// ------------------------------------------------------------ rules

void UltralightCard::end_session_locked() {
    authenticated_ = false;
    challenge_.reset();
}

bool UltralightCard::hears_locked() {
    if (is_active_locked()) return true;
    if (state_ != CardState::idle && state_ != CardState::halted) drop_out_locked();
    return false;
}

Answer UltralightCard::refuse_locked() {
    drop_out_locked();
    return Answer::refused;
}

int UltralightCard::readable_pages() const { return model_c_ ? kReadablePagesC : kPages; }

bool UltralightCard::read_protected_locked(int page) const {
    if (!model_c_ || authenticated_) return false;
    return page >= pages_[kAuth0Page][0] && !(pages_[kAuth1Page][0] & kAuth1WritesOnly);
}

bool UltralightCard::write_protected_locked(int page) const {
    return model_c_ && !authenticated_ && page >= pages_[kAuth0Page][0];
}

bool UltralightCard::locked_locked(int page) const {
    const Page& s = pages_[kStaticLockPage];
    if (page == kOtpPage || (page >= 4 && page < 16)) return (s[2] | s[3] << 8) >> static_lock_bit(page) & 1;
    if (!model_c_ || page < 16 || page == kLockPageC) return false;
    const Page& d = pages_[kLockPageC];
    return (d[0] | d[1] << 8) >> dynamic_lock_bit(page) & 1;
}

// Lock bits only ever get set, and frozen ones not even that.
void UltralightCard::or_lock_bytes_locked(int page, uint8_t first, uint8_t second) {
    Page& p = pages_[static_cast<size_t>(page)];
    const int at = page == kStaticLockPage ? 2 : 0;
    const auto now = static_cast<uint16_t>(p[static_cast<size_t>(at)] | p[static_cast<size_t>(at + 1)] << 8);
    const uint16_t frozen = page == kStaticLockPage ? frozen_static_bits(now) : frozen_dynamic_bits(now);
    const auto wanted = static_cast<uint16_t>(first | second << 8);
    const auto next = static_cast<uint16_t>(now | (wanted & ~frozen));
    p[static_cast<size_t>(at)] = static_cast<uint8_t>(next & 0xFF);
    p[static_cast<size_t>(at + 1)] = static_cast<uint8_t>(next >> 8);
}

// ------------------------------------------------------------ commands

Answer UltralightCard::read(int page, std::array<uint8_t, 16>& out) {
    std::lock_guard hold(mutex_);
    if (!hears_locked()) return Answer::silent;
    const int end = readable_pages();
    if (page < 0 || page >= end || read_protected_locked(page)) return refuse_locked();
    // Reading runs on to page 0 at the end of what may be read: the end of
    // the memory, or the first protected page while it is closed.
    const int wrap = model_c_ && !authenticated_ && read_protected_locked(end - 1)
                         ? std::min<int>(end, pages_[kAuth0Page][0])
                         : end;
    for (int i = 0; i < 4; ++i) {
        const int p = (page + i) % wrap;
        std::copy_n(pages_[static_cast<size_t>(p)].begin(), kPageSize, out.begin() + 4 * i);
    }
    return Answer::ok;
}

Answer UltralightCard::write(int page, const Page& data) {
    std::lock_guard hold(mutex_);
    if (!hears_locked()) return Answer::silent;
    if (page < 2 || page >= page_count() || write_protected_locked(page) || locked_locked(page))
        return refuse_locked();
    Page& p = pages_[static_cast<size_t>(page)];
    if (page == kStaticLockPage) {
        or_lock_bytes_locked(page, data[2], data[3]);
    } else if (model_c_ && page == kLockPageC) {
        or_lock_bytes_locked(page, data[0], data[1]);
    } else if (page == kOtpPage) {
        for (size_t i = 0; i < p.size(); ++i) p[i] |= data[i];
    } else if (model_c_ && page == kCounterPage) {
        // A one-way counter: the value written is added; an overflow is
        // refused.
        const int sum = (p[0] | p[1] << 8) + (data[0] | data[1] << 8);
        if (sum > 0xFFFF) return refuse_locked();
        p[0] = static_cast<uint8_t>(sum & 0xFF);
        p[1] = static_cast<uint8_t>(sum >> 8);
    } else {
        p = data;
    }
    return Answer::ok;
}

std::optional<Bytes> UltralightCard::begin_authentication() {
    std::lock_guard hold(mutex_);
    if (!hears_locked()) return std::nullopt;
    if (!model_c_) {
        drop_out_locked();
        return std::nullopt;
    }
    authenticated_ = false;
    Bytes rnd_b = Card::random_uid(8);
    const Bytes zero_iv(8, 0);
    Bytes sent = tdes_cbc(false, key_locked(), zero_iv, rnd_b);
    challenge_ = std::pair{std::move(rnd_b), sent};
    return sent;
}

std::optional<Bytes> UltralightCard::finish_authentication(ByteView reader_part) {
    std::lock_guard hold(mutex_);
    if (!hears_locked()) return std::nullopt;
    if (!challenge_ || reader_part.size() != 16) {
        drop_out_locked();
        return std::nullopt;
    }
    const UlcKey key = key_locked();
    const auto [rnd_b, last_sent] = *challenge_;
    challenge_.reset();
    const Bytes plain = tdes_cbc(true, key, last_sent, reader_part);
    const ByteView rnd_a(plain.data(), 8);
    const ByteView rnd_b_rotated(plain.data() + 8, 8);
    if (!std::ranges::equal(rnd_b_rotated, rotate_left(rnd_b))) {
        drop_out_locked();
        return std::nullopt;
    }
    authenticated_ = true;
    return tdes_cbc(false, key, reader_part.subspan(8), rotate_left(rnd_a));
}

}  // namespace vrsim
