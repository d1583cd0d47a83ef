// Ultralight commands of the first family. The reader talks to a type A
// card in its field; the page commands reach an Ultralight (a card of
// another kind does not answer them). A page command finds the card active,
// or wakes and selects it first, as the reader does for every memory
// command: the library's Ultralight drivers select their card once.
//
//   0x0701 0x26 / 0x52    request (twice when the first gets no answer):
//                         the ATQA, low byte first                0x14 no answer
//   0x0702                anticollision and select of both cascade levels:
//                         SAK, UID length, UID                    0x0D
//   0x0705 page           READ: 16 bytes (four pages)             0x17
//   0x0704 page, 4 bytes  WRITE                                   0x18
//   0x070C a(2) n(2)      n bytes from byte a (big-endian), read page by
//                         page (a READ of each)                   0x17
//   0x070B a(2) n(2) data n bytes to byte a; pages only partly covered are
//                         read first and keep their other bytes   0x18
//   0x0714 / 0x0713       as 0x070C / 0x070B, the bytes enciphered on the
//                         card under the data-encryption key (0x0711)
//   0x0703 key(16)        3DES authentication with the key        0x16
//   0x0712                the same with the stored key (0x0710)   0x16
//   0x0706 old(16) new(16) authenticates with the old key, writes the new
//                         one to pages 44..47                    0x16 / 0x18
//   0x0707 page           sets AUTH0 (page 42 byte 0)            0x18
//
// The enciphered byte ranges: byte a of the card holds the plain byte
// XOR keystream[a], the keystream being the 3DES (two-key) encryption of
// the big-endian 64-bit block number a / 8, so that any range, at any
// offset, enciphers the same way.
#include <algorithm>

#include "crypto.h"
#include "fw_activation.h"
#include "ultralight_card.h"

namespace vrsim {
namespace {

using ultralight::kPageSize;
using ultralight::rotate_left;
using ultralight::tdes_cbc;

constexpr uint8_t kRequestIdle = 0x26;
constexpr uint8_t kWakeUp = 0x52;
constexpr size_t kKeySize = 16;

Reply wrong_length() { return Reply::error(status::cmd_length); }
Reply fail(uint8_t s) { return Reply::error(s); }

// The Ultralight in reach, active (woken and selected when it was not).
std::shared_ptr<UltralightCard> active_ultralight(FirmwareState& st) {
    return std::dynamic_pointer_cast<UltralightCard>(active_card(st));
}

// 0x0701: REQA or WUPA to whatever type A card is in the field, sent a
// second time when the first gets no answer (a card still active drops
// back on the first and answers the second), as in the one-shot
// activations.
Reply request(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1) return wrong_length();
    if (rq.data[0] != kRequestIdle && rq.data[0] != kWakeUp) return Reply::error(status::bad_argument);
    const auto card = reachable_card(st);
    const bool wake = rq.data[0] == kWakeUp;
    auto atqa = card ? card->request(wake) : std::nullopt;
    if (card && !atqa) atqa = card->request(wake);
    if (!atqa) return fail(status::request_failed);
    return Reply::ok({static_cast<uint8_t>(*atqa & 0xFF), static_cast<uint8_t>(*atqa >> 8)});
}

// 0x0702: anticollision and select of a ready card; SAK, UID length, UID.
Reply anticollision_select(FirmwareState& st, const Request& rq) {
    if (!rq.data.empty()) return wrong_length();
    const auto card = reachable_card(st);
    const auto level1 = card ? card->anticollision() : std::nullopt;
    if (!level1 || !card->select(*level1)) return fail(status::no_card);
    Bytes out{card->sak(), static_cast<uint8_t>(card->uid().size())};
    out.insert(out.end(), card->uid().begin(), card->uid().end());
    return Reply::ok(std::move(out));
}

// Reads `n` bytes from byte `a`, one READ a page: a READ answers four
// pages, but those past the end of what may be read come round from page
// 0, and only a READ of the page itself tells that it is there.
std::optional<Bytes> read_range(UltralightCard& card, size_t a, size_t n) {
    Bytes out;
    size_t at = a;
    while (out.size() < n) {
        std::array<uint8_t, 16> four{};
        if (card.read(static_cast<int>(at / kPageSize), four) != Answer::ok) return std::nullopt;
        const size_t from = at % kPageSize;
        const size_t take = std::min(kPageSize - from, n - out.size());
        out.insert(out.end(), four.begin() + static_cast<long>(from), four.begin() + static_cast<long>(from + take));
        at += take;
    }
    return out;
}

// Writes bytes from byte `a`; a partly covered page is read first.
bool write_range(UltralightCard& card, size_t a, ByteView bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t at = a + done;
        const auto page = static_cast<int>(at / kPageSize);
        const size_t from = at % kPageSize;
        const size_t take = std::min(kPageSize - from, bytes.size() - done);
        Page p{};
        if (from != 0 || take != kPageSize) {
            std::array<uint8_t, 16> four{};
            if (card.read(page, four) != Answer::ok) return false;
            std::copy_n(four.begin(), kPageSize, p.begin());
        }
        std::copy_n(bytes.begin() + static_cast<long>(done), take, p.begin() + static_cast<long>(from));
        if (card.write(page, p) != Answer::ok) return false;
        done += take;
    }
    return true;
}

// XORs bytes at card byte `a` on with the data-encryption keystream.
void apply_keystream(const std::array<uint8_t, 16>& key, size_t a, Bytes& bytes) {
    uint64_t block = UINT64_MAX;
    std::array<uint8_t, 8> stream{};
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint64_t b = (a + i) / 8;
        if (b != block) {
            std::array<uint8_t, 8> counter{};
            for (int k = 0; k < 8; ++k) counter[static_cast<size_t>(k)] = static_cast<uint8_t>(b >> (56 - 8 * k));
            Run3Des(0, 0, counter.data(), 8, key.data(), static_cast<uint32_t>(key.size()), stream.data(), 8, nullptr);
            block = b;
        }
        bytes[i] ^= stream[(a + i) % 8];
    }
}

struct Range {
    size_t address;
    size_t length;
};
std::optional<Range> range_of(const Request& rq) {
    if (rq.data.size() < 4) return std::nullopt;
    return Range{static_cast<size_t>(rq.data[0] << 8 | rq.data[1]), static_cast<size_t>(rq.data[2] << 8 | rq.data[3])};
}

template <bool enciphered>
Reply read_bytes(FirmwareState& st, const Request& rq) {
    const auto r = range_of(rq);
    if (!r || rq.data.size() != 4) return wrong_length();
    const auto card = active_ultralight(st);
    auto bytes = card ? read_range(*card, r->address, r->length) : std::nullopt;
    if (!bytes) return fail(status::read_failed);
    if (enciphered) apply_keystream(st.settings.dataenc_key, r->address, *bytes);
    return Reply::ok(std::move(*bytes));
}

template <bool enciphered>
Reply write_bytes(FirmwareState& st, const Request& rq) {
    const auto r = range_of(rq);
    if (!r || rq.data.size() != 4 + r->length) return wrong_length();
    Bytes bytes(rq.data.begin() + 4, rq.data.end());
    if (enciphered) apply_keystream(st.settings.dataenc_key, r->address, bytes);
    const auto card = active_ultralight(st);
    if (!card || !write_range(*card, r->address, bytes)) return fail(status::write_failed);
    return Reply::ok();
}

// 0x0705 page: 16 bytes.
Reply read_page(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1) return wrong_length();
    const auto card = active_ultralight(st);
    std::array<uint8_t, 16> four{};
    if (!card || card->read(rq.data[0], four) != Answer::ok) return fail(status::read_failed);
    return Reply::ok(Bytes(four.begin(), four.end()));
}

// 0x0704 page, 4 bytes.
Reply write_page(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1 + kPageSize) return wrong_length();
    const auto card = active_ultralight(st);
    Page p{};
    std::copy_n(rq.data.begin() + 1, kPageSize, p.begin());
    if (!card || card->write(rq.data[0], p) != Answer::ok) return fail(status::write_failed);
    return Reply::ok();
}

// The reader's side of the three-pass authentication: it deciphers the
// card's challenge, answers with its own random number and the card's
// rotated, and checks the card's proof that it holds the key too.
bool authenticate(FirmwareState& st, UltralightCard& card, ByteView key) {
    const auto challenge = card.begin_authentication();
    if (!challenge || challenge->size() != 8) return false;
    const Bytes zero_iv(8, 0);
    const Bytes rnd_b = tdes_cbc(true, key, zero_iv, *challenge);
    Bytes rnd_a(8);
    for (auto& b : rnd_a) b = static_cast<uint8_t>(st.rng());
    Bytes plain = rnd_a;
    const Bytes rotated_b = rotate_left(rnd_b);
    plain.insert(plain.end(), rotated_b.begin(), rotated_b.end());
    const Bytes sent = tdes_cbc(false, key, *challenge, plain);
    const auto proof = card.finish_authentication(sent);
    if (!proof || proof->size() != 8) return false;
    return tdes_cbc(true, key, ByteView(sent).subspan(8), *proof) == rotate_left(rnd_a);
}

Reply auth_with(FirmwareState& st, ByteView key) {
    const auto card = active_ultralight(st);
    if (!card || !authenticate(st, *card, key)) return fail(status::auth_failed);
    return Reply::ok();
}

// 0x0703 key (16 bytes).
Reply auth_with_key(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != kKeySize) return wrong_length();
    return auth_with(st, rq.data);
}

// 0x0712: the key stored with 0x0710.
Reply auth_with_stored_key(FirmwareState& st, const Request& rq) {
    if (!rq.data.empty()) return wrong_length();
    const auto key = st.settings.ulc_key;
    return auth_with(st, key);
}

// 0x0706 current key (16), new key (16): the new key goes to pages 44..47
// in the card's byte order (each half reversed).
Reply change_key(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 2 * kKeySize) return wrong_length();
    const auto card = active_ultralight(st);
    if (!card || !card->model_c() || !authenticate(st, *card, ByteView(rq.data).first(kKeySize)))
        return fail(status::auth_failed);
    const uint8_t* k = rq.data.data() + kKeySize;
    const Page pages[] = {{k[7], k[6], k[5], k[4]}, {k[3], k[2], k[1], k[0]}, {k[15], k[14], k[13], k[12]},
                          {k[11], k[10], k[9], k[8]}};
    for (int i = 0; i < 4; ++i)
        if (card->write(ultralight::kKeyPage + i, pages[i]) != Answer::ok) return fail(status::write_failed);
    return Reply::ok();
}

// 0x0707 page: AUTH0, the first page the authentication protects.
Reply protect_from(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1) return wrong_length();
    const auto card = active_ultralight(st);
    std::array<uint8_t, 16> four{};
    if (!card || !card->model_c() || card->read(ultralight::kAuth0Page, four) != Answer::ok)
        return fail(status::write_failed);
    const Page p{rq.data[0], four[1], four[2], four[3]};
    if (card->write(ultralight::kAuth0Page, p) != Answer::ok) return fail(status::write_failed);
    return Reply::ok();
}

}  // namespace

void install_ultralight_commands(CommandTable& t) {
    t.add(0x0701, request);
    t.add(0x0702, anticollision_select);
    t.add(0x0703, auth_with_key);
    t.add(0x0704, write_page);
    t.add(0x0705, read_page);
    t.add(0x0706, change_key);
    t.add(0x0707, protect_from);
    t.add(0x070B, write_bytes<false>);
    t.add(0x070C, read_bytes<false>);
    t.add(0x0712, auth_with_stored_key);
    t.add(0x0713, write_bytes<true>);
    t.add(0x0714, read_bytes<true>);
}

}  // namespace vrsim
