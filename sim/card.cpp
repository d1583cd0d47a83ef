#include "card.h"

#include "bank_card.h"
#include "cpu_card.h"
#include "identity_card.h"
#include "type_b_card.h"
#include "ultralight_card.h"

#include <algorithm>
#include <random>

namespace vrsim {
namespace classic {

std::array<uint8_t, 3> encode_access(const AccessCodes& codes) {
    std::array<uint8_t, 3> b{};
    for (int i = 0; i < 4; ++i) {
        const int c1 = codes[i] & 1, c2 = (codes[i] >> 1) & 1, c3 = (codes[i] >> 2) & 1;
        const auto low = static_cast<uint8_t>(1u << i);
        const auto high = static_cast<uint8_t>(1u << (4 + i));
        // byte 6: ~C2 high, ~C1 low; byte 7: C1 high, ~C3 low; byte 8: C3 high, C2 low
        if (c1) b[1] |= high; else b[0] |= low;
        if (c2) b[2] |= low; else b[0] |= high;
        if (c3) b[2] |= high; else b[1] |= low;
    }
    return b;
}

std::optional<AccessCodes> decode_access(const Block& t) {
    AccessCodes codes{};
    for (int i = 0; i < 4; ++i) {
        const int c1 = (t[7] >> (4 + i)) & 1, c2 = (t[8] >> i) & 1, c3 = (t[8] >> (4 + i)) & 1;
        const int n1 = (t[6] >> i) & 1, n2 = (t[6] >> (4 + i)) & 1, n3 = (t[7] >> i) & 1;
        if (c1 == n1 || c2 == n2 || c3 == n3) return std::nullopt;
        codes[i] = static_cast<uint8_t>(c1 | c2 << 1 | c3 << 2);
    }
    return codes;
}

Block value_block(int32_t value, uint8_t address) {
    Block b{};
    const auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<uint8_t>(v >> (8 * i));
        b[i] = byte;
        b[4 + i] = static_cast<uint8_t>(~byte);
        b[8 + i] = byte;
    }
    b[12] = address;
    b[13] = static_cast<uint8_t>(~address);
    b[14] = address;
    b[15] = static_cast<uint8_t>(~address);
    return b;
}

std::optional<std::pair<int32_t, uint8_t>> parse_value_block(const Block& b) {
    for (int i = 0; i < 4; ++i)
        if (b[i] != b[8 + i] || b[i] != static_cast<uint8_t>(~b[4 + i])) return std::nullopt;
    if (b[12] != b[14] || b[13] != b[15] || b[12] != static_cast<uint8_t>(~b[13])) return std::nullopt;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(b[i]) << (8 * i);
    return std::pair{static_cast<int32_t>(v), b[12]};
}

}  // namespace classic

namespace {

using classic::access_index;
using classic::sector_of;
using classic::trailer_of;

// Who may do something under an access condition.
enum class Who : uint8_t { never, a, b, ab };

struct DataRights {
    Who read, write, increment, decrement;  // decrement: also transfer and restore
};
// Indexed by the code C1 | C2 << 1 | C3 << 2.
constexpr std::array<DataRights, 8> kDataRights{{
    {Who::ab, Who::ab, Who::ab, Who::ab},           // 000 transport
    {Who::ab, Who::b, Who::never, Who::never},      // 100
    {Who::ab, Who::never, Who::never, Who::never},  // 010 read only
    {Who::ab, Who::b, Who::b, Who::ab},             // 110 value block
    {Who::ab, Who::never, Who::never, Who::ab},     // 001 value block, no recharge
    {Who::b, Who::never, Who::never, Who::never},   // 101
    {Who::b, Who::b, Who::never, Who::never},       // 011
    {Who::never, Who::never, Who::never, Who::never},  // 111
}};

struct TrailerRights {
    Who write_key_a, read_access, write_access, read_key_b, write_key_b;  // key A is never read
};
constexpr std::array<TrailerRights, 8> kTrailerRights{{
    {Who::a, Who::a, Who::never, Who::a, Who::a},              // 000
    {Who::b, Who::ab, Who::never, Who::never, Who::b},         // 100
    {Who::never, Who::a, Who::never, Who::a, Who::never},      // 010
    {Who::never, Who::ab, Who::never, Who::never, Who::never}, // 110
    {Who::a, Who::a, Who::a, Who::a, Who::a},                  // 001 transport
    {Who::never, Who::ab, Who::b, Who::never, Who::never},     // 101
    {Who::b, Who::ab, Who::b, Who::never, Who::b},             // 011
    {Who::never, Who::ab, Who::never, Who::never, Who::never}, // 111
}};

// Under these trailer codes key B can be read with key A: it is data, and
// an authentication with it opens nothing.
constexpr bool key_b_readable(uint8_t trailer_code) {
    return kTrailerRights[trailer_code].read_key_b != Who::never;
}

bool permits(Who who, KeyType key) {
    switch (who) {
    case Who::never: return false;
    case Who::a: return key == KeyType::a;
    case Who::b: return key == KeyType::b;
    case Who::ab: return true;
    }
    return false;
}

constexpr uint16_t kUltralightAtqa = 0x0044;

std::mt19937_64& uid_generator() {
    static thread_local std::mt19937_64 gen{std::random_device{}()};
    return gen;
}

// Manufacturer bytes after UID, BCC, SAK and ATQA in block 0.
constexpr std::array<uint8_t, 8> kManufacturerData{0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69};

int classic_sectors(CardKind kind) {
    switch (kind) {
    case CardKind::classic_mini: return 5;
    case CardKind::classic_1k: return 16;
    case CardKind::classic_4k: return 40;
    default: return 0;
    }
}

std::shared_ptr<Card> fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return nullptr;
}

// The UID given, or a random one of `size` bytes; null when the size is
// not one of `sizes`.
std::optional<Bytes> uid_or_random(Bytes uid, size_t size, std::initializer_list<size_t> sizes,
                                   std::string* error) {
    if (uid.empty()) {
        uid = Card::random_uid(size);
        if (size == 7) uid[0] = 0x04;  // double-size UIDs begin with the manufacturer code
        return uid;
    }
    if (std::ranges::find(sizes, uid.size()) == sizes.end()) {
        std::string allowed;
        for (size_t s : sizes) allowed += (allowed.empty() ? "" : " or ") + std::to_string(s);
        if (error) *error = "UID must have " + allowed + " bytes";
        return std::nullopt;
    }
    return uid;
}

std::shared_ptr<Card> make_card(CardKind kind, const char* name, uint16_t atqa, uint8_t sak, Bytes uid,
                                size_t size, std::initializer_list<size_t> sizes, std::string* error) {
    auto u = uid_or_random(std::move(uid), size, sizes, error);
    if (!u) return nullptr;
    return std::make_shared<Card>(kind, name, atqa, sak, std::move(*u));
}

}  // namespace

const char* to_string(CardState s) {
    switch (s) {
    case CardState::idle: return "idle";
    case CardState::ready: return "ready";
    case CardState::active: return "active";
    case CardState::authenticated: return "authenticated";
    case CardState::halted: return "halted";
    }
    return "?";
}

// ------------------------------------------------------------ making cards

Bytes Card::random_uid(size_t n) {
    Bytes uid(n);
    do {
        for (auto& b : uid) b = static_cast<uint8_t>(uid_generator()());
    } while (!uid.empty() && uid[0] == 0x88);
    return uid;
}

std::shared_ptr<Card> Card::classic_mini(Bytes uid, std::string* error) {
    return make_card(CardKind::classic_mini, "mifare_s20", 0x0004, 0x09, std::move(uid), 4, {4}, error);
}
std::shared_ptr<Card> Card::classic_1k(Bytes uid, std::string* error) {
    return make_card(CardKind::classic_1k, "mifare_s50", 0x0004, 0x08, std::move(uid), 4, {4}, error);
}
std::shared_ptr<Card> Card::classic_4k(Bytes uid, std::string* error) {
    return make_card(CardKind::classic_4k, "mifare_s70", 0x0002, 0x18, std::move(uid), 4, {4}, error);
}
std::shared_ptr<Card> Card::ultralight(Bytes uid, std::string* error) {
    return UltralightCard::make(false, std::move(uid), kUltralightAtqa, 0x00, error);
}
std::shared_ptr<Card> Card::ultralight_c(Bytes uid, std::string* error) {
    return UltralightCard::make(true, std::move(uid), kUltralightAtqa, 0x00, error);
}
std::shared_ptr<Card> Card::mifare_plus(Bytes uid, uint8_t sak, std::string* error) {
    auto u = uid_or_random(std::move(uid), 4, {4, 7}, error);
    if (!u) return nullptr;
    const uint16_t atqa = u->size() == 7 ? 0x0044 : 0x0004;
    return std::make_shared<Card>(CardKind::mifare_plus, "mifare_plus", atqa, sak, std::move(*u));
}
std::shared_ptr<Card> Card::desfire(Bytes uid, std::string* error) {
    return make_card(CardKind::desfire, "mifare_desfire", 0x0344, 0x20, std::move(uid), 7, {7}, error);
}
std::shared_ptr<Card> Card::type_a(uint16_t atqa, uint8_t sak, Bytes uid, std::string* error) {
    return make_card(CardKind::generic, "iso14443a", atqa, sak, std::move(uid), 4, {4, 7, 10}, error);
}

std::string Card::kind_names() {
    return "mifare_s20 mifare_s50 mifare_s70 mifare_ul mifare_ulc mifare_plus mifare_desfire iso14443a cpu_card "
           "pboc_card cid_card id_card";
}

std::shared_ptr<Card> Card::make(std::string_view name, Bytes uid, std::optional<uint16_t> atqa,
                                 std::optional<uint8_t> sak, std::string* error) {
    const auto is = [&](std::initializer_list<std::string_view> names) {
        return std::ranges::find(names, name) != names.end();
    };
    // Cards whose identity the ATQA and SAK do not describe.
    if (is({"cid_card", "cid", "id_card", "identity"})) {
        if (atqa || sak) return fail(error, std::string(name) + " is a type B card: it has no ATQA or SAK");
        if (is({"cid_card", "cid"})) return CidCard::make(std::move(uid), error);
        return IdentityCard::make(std::move(uid), error);
    }
    // Kinds with memory or a file system of their own take the ATQA and
    // SAK given in place of theirs.
    if (is({"mifare_ul", "ultralight"}))
        return UltralightCard::make(false, std::move(uid), atqa.value_or(kUltralightAtqa), sak.value_or(0x00), error);
    if (is({"mifare_ulc", "ultralight_c"}))
        return UltralightCard::make(true, std::move(uid), atqa.value_or(kUltralightAtqa), sak.value_or(0x00), error);
    if (is({"cpu_card", "cpu"}))
        return CpuCard::make(std::move(uid), atqa.value_or(CpuCard::kAtqa), sak.value_or(CpuCard::kSak), error);
    if (is({"pboc_card", "bank"})) {
        if (atqa || sak) return fail(error, std::string(name) + " keeps the ATQA and SAK of a CPU card");
        return BankCard::make(std::move(uid), error);
    }
    std::shared_ptr<Card> card;
    if (is({"mifare_s20", "mini"}))
        card = classic_mini(std::move(uid), error);
    else if (is({"mifare_s50", "classic1k"}))
        card = classic_1k(std::move(uid), error);
    else if (is({"mifare_s70", "classic4k"}))
        card = classic_4k(std::move(uid), error);
    else if (is({"mifare_plus", "plus"}))
        card = mifare_plus(std::move(uid), sak.value_or(0x20), error);
    else if (is({"mifare_desfire", "desfire"}))
        card = desfire(std::move(uid), error);
    else if (is({"iso14443a", "typea"}))
        return atqa && sak ? type_a(*atqa, *sak, std::move(uid), error)
                           : fail(error, "iso14443a needs atqa= and sak=");
    else
        return fail(error, "unknown card type: " + std::string(name) + " (one of: " + kind_names() + ")");
    if (!card || (!atqa && !sak)) return card;
    // Another ATQA or SAK on a known kind: same memory, other identity.
    return std::make_shared<Card>(card->kind(), card->name(), atqa.value_or(card->atqa()),
                                  sak.value_or(card->sak()), card->uid());
}

Card::Card(CardKind kind, std::string name, uint16_t atqa, uint8_t sak, Bytes uid)
    : kind_(kind), name_(std::move(name)), atqa_(atqa), sak_(sak), uid_(std::move(uid)) {
    const int sectors = classic_sectors(kind_);
    if (sectors == 0) return;
    memory_.resize(static_cast<size_t>(classic::trailer_of(sectors - 1) + 1));
    // Manufacturer block: UID, BCC, SAK, ATQA (low byte first), maker data.
    Block& b0 = memory_[0];
    const size_t n = std::min<size_t>(uid_.size(), 4);
    std::copy_n(uid_.begin(), n, b0.begin());
    uint8_t bcc = 0;
    for (size_t i = 0; i < n; ++i) bcc ^= uid_[i];
    b0[4] = bcc;
    b0[5] = sak_;
    b0[6] = static_cast<uint8_t>(atqa_ & 0xFF);
    b0[7] = static_cast<uint8_t>(atqa_ >> 8);
    std::ranges::copy(kManufacturerData, b0.begin() + 8);
    for (int s = 0; s < sectors; ++s) {
        Block& t = memory_[static_cast<size_t>(classic::trailer_of(s))];
        std::ranges::copy(classic::kTransportKey, t.begin());
        std::ranges::copy(classic::kTransportAccess, t.begin() + 6);
        std::ranges::copy(classic::kTransportKey, t.begin() + 10);
    }
}

bool Card::is_classic() const { return !memory_.empty(); }

Bytes Card::cascade_level1() const {
    if (uid_.size() == 4) return uid_;
    return Bytes{0x88, uid_[0], uid_[1], uid_[2]};
}

// ------------------------------------------------------------ observation

CardState Card::state() const {
    std::lock_guard hold(mutex_);
    return state_;
}

std::optional<std::pair<int, KeyType>> Card::authentication() const {
    std::lock_guard hold(mutex_);
    return auth_;
}

int Card::sector_count() const { return classic_sectors(kind_); }

Block Card::block(int n) const {
    std::lock_guard hold(mutex_);
    if (n < 0 || n >= block_count()) return Block{};
    return memory_[static_cast<size_t>(n)];
}

void Card::set_block(int n, const Block& data) {
    std::lock_guard hold(mutex_);
    if (n >= 0 && n < block_count()) memory_[static_cast<size_t>(n)] = data;
}

Key Card::key_a(int sector) const {
    const Block t = block(trailer_of(sector));
    Key k{};
    std::copy_n(t.begin(), 6, k.begin());
    return k;
}

Key Card::key_b(int sector) const {
    const Block t = block(trailer_of(sector));
    Key k{};
    std::copy_n(t.begin() + 10, 6, k.begin());
    return k;
}

void Card::set_keys(int sector, const Key& a, const Key& b) {
    if (sector < 0 || sector >= sector_count()) return;
    std::lock_guard hold(mutex_);
    Block& t = memory_[static_cast<size_t>(trailer_of(sector))];
    std::ranges::copy(a, t.begin());
    std::ranges::copy(b, t.begin() + 10);
}

std::optional<AccessCodes> Card::access(int sector) const {
    if (sector < 0 || sector >= sector_count()) return std::nullopt;
    return classic::decode_access(block(trailer_of(sector)));
}

void Card::set_access(int sector, const AccessCodes& codes) {
    if (sector < 0 || sector >= sector_count()) return;
    std::lock_guard hold(mutex_);
    const auto bytes = classic::encode_access(codes);
    std::ranges::copy(bytes, memory_[static_cast<size_t>(trailer_of(sector))].begin() + 6);
}

Bytes Card::image() const {
    std::lock_guard hold(mutex_);
    Bytes out;
    out.reserve(memory_.size() * classic::kBlockSize);
    for (const Block& b : memory_) out.insert(out.end(), b.begin(), b.end());
    return out;
}

bool Card::load_image(ByteView bytes) {
    std::lock_guard hold(mutex_);
    if (memory_.empty() || bytes.size() != memory_.size() * classic::kBlockSize) return false;
    for (size_t i = 0; i < memory_.size(); ++i)
        std::copy_n(bytes.begin() + static_cast<long>(i * classic::kBlockSize), classic::kBlockSize,
                    memory_[i].begin());
    return true;
}

// ------------------------------------------------------------ ISO 14443-3

void Card::power_off() {
    std::lock_guard hold(mutex_);
    state_ = CardState::idle;
    woken_from_halt_ = false;
    auth_.reset();
    transfer_buffer_.reset();
    end_session_locked();
}

void Card::drop_out_locked() {
    state_ = woken_from_halt_ ? CardState::halted : CardState::idle;
    auth_.reset();
    transfer_buffer_.reset();
    end_session_locked();
}

bool Card::is_active_locked() const {
    return state_ == CardState::active || state_ == CardState::authenticated;
}

std::optional<uint16_t> Card::request(bool wake_up) {
    std::lock_guard hold(mutex_);
    if (state_ == CardState::idle || (wake_up && state_ == CardState::halted)) {
        woken_from_halt_ = state_ == CardState::halted;
        state_ = CardState::ready;
        return atqa_;
    }
    // Ready or active: a request is not valid there.
    if (state_ != CardState::idle && state_ != CardState::halted) drop_out_locked();
    return std::nullopt;
}

std::optional<Bytes> Card::anticollision() {
    std::lock_guard hold(mutex_);
    if (state_ == CardState::ready) return cascade_level1();
    if (is_active_locked()) drop_out_locked();
    return std::nullopt;
}

bool Card::select(ByteView level1) {
    std::lock_guard hold(mutex_);
    if (state_ == CardState::ready && std::ranges::equal(level1, cascade_level1())) {
        state_ = CardState::active;
        return true;
    }
    if (state_ == CardState::ready || is_active_locked()) drop_out_locked();
    return false;
}

bool Card::halt() {
    std::lock_guard hold(mutex_);
    if (!is_active_locked()) {
        if (state_ == CardState::ready) drop_out_locked();
        return false;
    }
    state_ = CardState::halted;
    woken_from_halt_ = false;
    auth_.reset();
    transfer_buffer_.reset();
    end_session_locked();
    return true;
}

// ------------------------------------------------------------ MIFARE Classic

bool Card::hears_classic_command_locked() {
    if (is_classic() && is_active_locked()) return true;
    if (state_ != CardState::idle && state_ != CardState::halted) drop_out_locked();
    return false;
}

Answer Card::authenticate(KeyType type, int block, const Key& key) {
    std::lock_guard hold(mutex_);
    if (!hears_classic_command_locked()) return Answer::silent;
    if (block < 0 || block >= block_count()) {
        drop_out_locked();
        return Answer::refused;
    }
    const Block& t = memory_[static_cast<size_t>(trailer_of(sector_of(block)))];
    const auto stored = type == KeyType::a ? t.begin() : t.begin() + 10;
    if (!std::equal(key.begin(), key.end(), stored)) {
        drop_out_locked();
        return Answer::refused;
    }
    state_ = CardState::authenticated;
    auth_ = std::pair{sector_of(block), type};
    transfer_buffer_.reset();
    return Answer::ok;
}

std::optional<Answer> Card::check_access_locked(int block) {
    if (!hears_classic_command_locked()) return Answer::silent;
    // Active but not authenticated: the card does not take memory
    // commands in the clear.
    if (state_ != CardState::authenticated || !auth_) {
        drop_out_locked();
        return Answer::silent;
    }
    if (block < 0 || block >= block_count() || sector_of(block) != auth_->first) {
        drop_out_locked();
        return Answer::refused;
    }
    const auto codes = classic::decode_access(memory_[static_cast<size_t>(trailer_of(auth_->first))]);
    // Malformed access bytes block the sector for good; a key B that can
    // be read opens nothing.
    if (!codes || (auth_->second == KeyType::b && key_b_readable((*codes)[3]))) {
        drop_out_locked();
        return Answer::refused;
    }
    return std::nullopt;
}

bool Card::allowed_locked(int block, Right right) const {
    const auto codes = classic::decode_access(memory_[static_cast<size_t>(trailer_of(sector_of(block)))]);
    if (!codes || !auth_) return false;
    const DataRights& r = kDataRights[(*codes)[access_index(block)]];
    const Who who = right == Right::read        ? r.read
                    : right == Right::write     ? r.write
                    : right == Right::increment ? r.increment
                                                : r.decrement;
    return permits(who, auth_->second);
}

// A block as the card sends it: a trailer never shows key A, and shows
// the access bytes and key B only to a key allowed to read them.
Block Card::read_view_locked(int block) const {
    Block b = memory_[static_cast<size_t>(block)];
    if (access_index(block) != 3) return b;
    const auto codes = classic::decode_access(b);
    const TrailerRights& r = kTrailerRights[(*codes)[3]];
    std::fill_n(b.begin(), 6, 0x00);
    if (!permits(r.read_access, auth_->second)) std::fill_n(b.begin() + 6, 4, 0x00);
    if (!permits(r.read_key_b, auth_->second)) std::fill_n(b.begin() + 10, 6, 0x00);
    return b;
}

Answer Card::read(int block, Block& out) {
    std::lock_guard hold(mutex_);
    if (const auto fail = check_access_locked(block)) return *fail;
    if (access_index(block) != 3 && !allowed_locked(block, Right::read)) {
        drop_out_locked();
        return Answer::refused;
    }
    out = read_view_locked(block);
    return Answer::ok;
}

// A trailer write changes the parts the key may write (key A, access bytes
// with byte 9, key B) and keeps the others; with none writable it is
// refused.
Answer Card::write_trailer_locked(int block, const Block& data) {
    Block& t = memory_[static_cast<size_t>(block)];
    const TrailerRights& r = kTrailerRights[(*classic::decode_access(t))[3]];
    const KeyType key = auth_->second;
    const bool key_a = permits(r.write_key_a, key);
    const bool access = permits(r.write_access, key);
    const bool key_b = permits(r.write_key_b, key);
    if (!key_a && !access && !key_b) {
        drop_out_locked();
        return Answer::refused;
    }
    if (key_a) std::copy_n(data.begin(), 6, t.begin());
    if (access) std::copy_n(data.begin() + 6, 4, t.begin() + 6);
    if (key_b) std::copy_n(data.begin() + 10, 6, t.begin() + 10);
    return Answer::ok;
}

Answer Card::write(int block, const Block& data) {
    std::lock_guard hold(mutex_);
    if (const auto fail = check_access_locked(block)) return *fail;
    if (access_index(block) == 3) return write_trailer_locked(block, data);
    // Block 0 holds the manufacturer data and is read-only.
    if (block == 0 || !allowed_locked(block, Right::write)) {
        drop_out_locked();
        return Answer::refused;
    }
    memory_[static_cast<size_t>(block)] = data;
    return Answer::ok;
}

Answer Card::value_operation(int block, Op op, int32_t amount) {
    std::lock_guard hold(mutex_);
    if (const auto fail = check_access_locked(block)) return *fail;
    const Right right = op == Op::value_add ? Right::increment : Right::decrement;
    const auto value = classic::parse_value_block(memory_[static_cast<size_t>(block)]);
    if (access_index(block) == 3 || !allowed_locked(block, right) || !value) {
        drop_out_locked();
        return Answer::refused;
    }
    // The card's adder works modulo 2^32, as the value's two's complement.
    const auto v = static_cast<uint32_t>(value->first);
    const auto a = static_cast<uint32_t>(amount);
    const uint32_t result = op == Op::value_add ? v + a : op == Op::value_sub ? v - a : v;
    transfer_buffer_ = std::pair{static_cast<int32_t>(result), value->second};
    return Answer::ok;
}

Answer Card::increment(int block, int32_t amount) { return value_operation(block, Op::value_add, amount); }
Answer Card::decrement(int block, int32_t amount) { return value_operation(block, Op::value_sub, amount); }
Answer Card::restore(int block) { return value_operation(block, Op::value_copy, 0); }

Answer Card::transfer(int block) {
    std::lock_guard hold(mutex_);
    if (const auto fail = check_access_locked(block)) return *fail;
    if (!transfer_buffer_ || block == 0 || access_index(block) == 3 ||
        !allowed_locked(block, Right::decrement)) {
        drop_out_locked();
        return Answer::refused;
    }
    memory_[static_cast<size_t>(block)] = classic::value_block(transfer_buffer_->first, transfer_buffer_->second);
    return Answer::ok;
}

}  // namespace vrsim
