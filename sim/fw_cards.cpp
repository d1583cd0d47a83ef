// Type A card commands of the first family: the reader's side of ISO
// 14443-3 activation and of MIFARE Classic. The reader talks to the card
// in its field (field.h) through the card's air interface (card.h) and
// turns what the card does into status bytes:
//
//   no card answers a search, anticollision, select or halt   0x0D (-30)
//   no card answers a request (0x0201)                        0x14 (-32)
//   authentication fails                                      0x16 (-34)
//   a read (block or value) is refused or unanswered          0x17 (-35)
//   a write or value operation is refused or unanswered       0x18 (-36)
//   0x0606 finds no downloaded key for the sector             0x23 (-57)
//   an argument the reader itself rejects                     0x0C (-24)
//   data of the wrong length for the command                  0x8E (-114)
//
// The reader hears nothing from the card unless its antenna is on and its
// card protocol is type A.
#include <algorithm>

#include "card.h"
#include "firmware.h"
#include "fw_activation.h"

namespace vrsim {

std::shared_ptr<Card> reachable_card(FirmwareState& st) {
    if (!st.settings.antenna_on || st.settings.picc_protocol != 'A') return nullptr;
    return st.field.card();
}

std::shared_ptr<Card> activate(FirmwareState& st, bool wake_up) {
    auto card = reachable_card(st);
    if (!card) return nullptr;
    if (!card->request(wake_up) && !card->request(wake_up)) return nullptr;
    const auto level1 = card->anticollision();
    if (!level1 || !card->select(*level1)) return nullptr;
    return card;
}

std::shared_ptr<Card> active_card(FirmwareState& st) {
    auto card = reachable_card(st);
    if (!card) return nullptr;
    const CardState s = card->state();
    if (s == CardState::active || s == CardState::authenticated) return card;
    return activate(st, true);
}

namespace {

constexpr uint8_t kRequestIdle = 0x26;
constexpr uint8_t kWakeUp = 0x52;
constexpr uint8_t kKeyA = 0x60;
constexpr uint8_t kKeyB = 0x61;
constexpr size_t kKeySize = 6;
constexpr size_t kValueSize = 4;
constexpr uint8_t kFallbackKeySlot = 0;

Reply wrong_length() { return Reply::error(status::cmd_length); }
Reply bad_argument() { return Reply::error(status::bad_argument); }
Reply fail(uint8_t s) { return Reply::error(s); }

uint8_t lo(unsigned v) { return static_cast<uint8_t>(v & 0xFF); }
uint8_t hi(unsigned v) { return static_cast<uint8_t>((v >> 8) & 0xFF); }

// The data byte of a request-kind command: REQA or WUPA.
std::optional<bool> wake_up_kind(const Request& rq) {
    if (rq.data[0] == kRequestIdle) return false;
    if (rq.data[0] == kWakeUp) return true;
    return std::nullopt;
}

int32_t value_of(const uint8_t* p) {
    uint32_t v = 0;
    for (size_t i = 0; i < kValueSize; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return static_cast<int32_t>(v);
}

// ------------------------------------------------------------ activation

// 0x0201 kind: REQA (0x26) or WUPA (0x52); the ATQA, low byte first.
Reply request(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1) return wrong_length();
    const auto wake = wake_up_kind(rq);
    if (!wake) return bad_argument();
    const auto card = reachable_card(st);
    const auto atqa = card ? card->request(*wake) : std::nullopt;
    if (!atqa) return fail(status::request_failed);
    return Reply::ok({lo(*atqa), hi(*atqa)});
}

// 0x0202: the 4 bytes of the first cascade level.
Reply anticollision(FirmwareState& st, const Request& rq) {
    if (!rq.data.empty()) return wrong_length();
    const auto card = reachable_card(st);
    const auto level1 = card ? card->anticollision() : std::nullopt;
    if (!level1) return fail(status::no_card);
    return Reply::ok(*level1);
}

// 0x0203 UID bytes 0..3 (the first cascade level); no reply data.
Reply select(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 4) return wrong_length();
    const auto card = reachable_card(st);
    if (!card || !card->select(rq.data)) return fail(status::no_card);
    return Reply::ok();
}

// 0x0204: halts the active card. The reader knows whether it has an
// active card: without one there is nothing to halt.
Reply halt(FirmwareState& st, const Request& rq) {
    if (!rq.data.empty()) return wrong_length();
    const auto card = reachable_card(st);
    if (!card || !card->halt()) return fail(status::no_card);
    return Reply::ok();
}

// 0x0212 kind: activation in one command; SAK, UID length, UID.
Reply activate_one(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1) return wrong_length();
    const auto wake = wake_up_kind(rq);
    if (!wake) return bad_argument();
    const auto card = activate(st, *wake);
    if (!card) return fail(status::no_card);
    Bytes out{card->sak(), static_cast<uint8_t>(card->uid().size())};
    out.insert(out.end(), card->uid().begin(), card->uid().end());
    return Reply::ok(std::move(out));
}

// 0x0213 kind: type A search; count of the bytes that follow, ATQA (low
// byte first), UID, SAK.
Reply search_type_a(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1) return wrong_length();
    const auto wake = wake_up_kind(rq);
    if (!wake) return bad_argument();
    const auto card = activate(st, *wake);
    if (!card) return fail(status::no_card);
    const Bytes& uid = card->uid();
    Bytes out{static_cast<uint8_t>(2 + uid.size() + 1), lo(card->atqa()), hi(card->atqa())};
    out.insert(out.end(), uid.begin(), uid.end());
    out.push_back(card->sak());
    return Reply::ok(std::move(out));
}

// ------------------------------------------------------------ MIFARE Classic

// Authenticates the card in the field. A card that is not active (it
// failed an authentication or an operation, or was halted) is woken and
// selected first: the library selects a 1K card once and expects the
// reader to keep it reachable.
Reply authenticate(FirmwareState& st, uint8_t key_type, uint8_t block, const Key& key) {
    const auto card = active_card(st);
    if (!card) return fail(status::no_card);
    const KeyType type = key_type == kKeyA ? KeyType::a : KeyType::b;
    if (card->authenticate(type, block, key) != Answer::ok) return fail(status::auth_failed);
    return Reply::ok();
}

bool valid_key_type(uint8_t t) { return t == kKeyA || t == kKeyB; }

// 0x0207 key type, block, 6 key bytes.
Reply auth_with_key(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 2 + kKeySize) return wrong_length();
    if (!valid_key_type(rq.data[0])) return bad_argument();
    Key key{};
    std::copy_n(rq.data.begin() + 2, kKeySize, key.begin());
    return authenticate(st, rq.data[0], rq.data[1], key);
}

// The downloaded key (0x0605) for a block: slot index = the block's sector
// number, else slot 0; a slot holds a key per key type. Keys longer than
// six bytes give their first six.
std::optional<Key> stored_key(const Settings& s, uint8_t key_type, uint8_t block) {
    const auto sector = static_cast<uint8_t>(classic::sector_of(block));
    for (const uint8_t slot : {sector, kFallbackKeySlot}) {
        const auto it = s.keys.find({slot, key_type});
        if (it != s.keys.end() && it->second.size() >= kKeySize) {
            Key key{};
            std::copy_n(it->second.begin(), kKeySize, key.begin());
            return key;
        }
    }
    return std::nullopt;
}

// 0x0606 key type, block: authenticates with the downloaded key.
Reply auth_with_stored_key(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 2) return wrong_length();
    if (!valid_key_type(rq.data[0])) return bad_argument();
    const auto key = stored_key(st.settings, rq.data[0], rq.data[1]);
    if (!key) return fail(status::no_stored_key);
    return authenticate(st, rq.data[0], rq.data[1], *key);
}

// 0x0208 block: 16 bytes.
Reply read_block(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1) return wrong_length();
    const auto card = reachable_card(st);
    Block b{};
    if (!card || card->read(rq.data[0], b) != Answer::ok) return fail(status::read_failed);
    return Reply::ok(Bytes(b.begin(), b.end()));
}

// 0x0209 block, 16 bytes.
Reply write_block(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1 + classic::kBlockSize) return wrong_length();
    const auto card = reachable_card(st);
    Block b{};
    std::copy_n(rq.data.begin() + 1, classic::kBlockSize, b.begin());
    if (!card || card->write(rq.data[0], b) != Answer::ok) return fail(status::write_failed);
    return Reply::ok();
}

// 0x020A block, 4 value bytes (little endian): the reader builds the value
// block (value, ~value, value, address, ~address, address, ~address) and
// writes it. A sector trailer is no place for a value.
Reply write_value(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1 + kValueSize) return wrong_length();
    const uint8_t block = rq.data[0];
    if (classic::access_index(block) == 3) return bad_argument();
    const auto card = reachable_card(st);
    const Block b = classic::value_block(value_of(&rq.data[1]), block);
    if (!card || card->write(block, b) != Answer::ok) return fail(status::write_failed);
    return Reply::ok();
}

// 0x020B block: the 4 value bytes of a block in value format.
Reply read_value(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1) return wrong_length();
    const auto card = reachable_card(st);
    Block b{};
    if (!card || card->read(rq.data[0], b) != Answer::ok) return fail(status::read_failed);
    const auto value = classic::parse_value_block(b);
    if (!value) return fail(status::read_failed);
    return Reply::ok(Bytes(b.begin(), b.begin() + kValueSize));
}

// 0x020C / 0x020D block, 4 value bytes: into the transfer buffer.
template <Answer (Card::*operation)(int, int32_t)>
Reply value_change(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1 + kValueSize) return wrong_length();
    const auto card = reachable_card(st);
    if (!card || ((*card).*operation)(rq.data[0], value_of(&rq.data[1])) != Answer::ok)
        return fail(status::write_failed);
    return Reply::ok();
}

// 0x020E restore / 0x020F transfer: block.
template <Answer (Card::*operation)(int)>
Reply block_operation(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1) return wrong_length();
    const auto card = reachable_card(st);
    if (!card || ((*card).*operation)(rq.data[0]) != Answer::ok) return fail(status::write_failed);
    return Reply::ok();
}

}  // namespace

void install_card_commands(CommandTable& t) {
    t.add(0x0201, request);
    t.add(0x0202, anticollision);
    t.add(0x0203, select);
    t.add(0x0204, halt);
    t.add(0x0207, auth_with_key);
    t.add(0x0208, read_block);
    t.add(0x0209, write_block);
    t.add(0x020A, write_value);
    t.add(0x020B, read_value);
    t.add(0x020C, value_change<&Card::decrement>);
    t.add(0x020D, value_change<&Card::increment>);
    t.add(0x020E, block_operation<&Card::restore>);
    t.add(0x020F, block_operation<&Card::transfer>);
    t.add(0x0212, activate_one);
    t.add(0x0213, search_type_a);
    t.add(0x0606, auth_with_stored_key);
}

}  // namespace vrsim
