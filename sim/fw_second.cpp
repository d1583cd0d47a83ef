// Reader commands of the second family (protocol 6, one-byte codes): the
// card protocol and the MIFARE Classic 1K command set. The reader keeps a
// key per key selector and sector (0x4C) and authenticates with it (0x44).
// What the card does becomes this family's status bytes:
//
//   no card answers a request, anticollision, select or halt   0x01 (-30)
//   authentication fails, or no key is loaded for the sector   0x04 (-34)
//   a read is refused or unanswered                            0x0B (-35)
//   a write or value operation is refused or unanswered        0x0F (-36)
//   data of the wrong length or form                           0x03 (-24)
#include <algorithm>

#include "card.h"
#include "firmware.h"
#include "fw_activation.h"

namespace vrsim {
namespace {

constexpr uint8_t kRequestIdle = 0x00;
constexpr uint8_t kRequestAll = 0x01;
constexpr uint8_t kSelectorKeyA = 0x00;
constexpr uint8_t kSelectorKeyB = 0x04;
constexpr size_t kKeySize = 6;
constexpr size_t kValueSize = 4;
constexpr size_t kUidLevel1 = 4;
constexpr uint8_t kAnticollData[] = {0x00, 0xB4, 0x00, 0x00, 0x00};

Reply bad_argument() { return Reply::error(status::dc_bad_argument); }
Reply fail(uint8_t s) { return Reply::error(s); }

int32_t value_of(const uint8_t* p) {
    uint32_t v = 0;
    for (size_t i = 0; i < kValueSize; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return static_cast<int32_t>(v);
}

// 0x87: card protocol 'A' or 'B'.
Reply set_picc_protocol(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1 || (rq.data[0] != 'A' && rq.data[0] != 'B')) return bad_argument();
    st.settings.picc_protocol = rq.data[0];
    return Reply::ok();
}

// 0x41 kind (0x00 idle cards, 0x01 all): the ATQA, low byte first. The
// request goes out twice, as the first family's activation sends it: a
// card that was still active drops back on the first and answers the
// second.
Reply request(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1 || (rq.data[0] != kRequestIdle && rq.data[0] != kRequestAll)) return bad_argument();
    const auto card = reachable_card(st);
    const bool all = rq.data[0] == kRequestAll;
    auto atqa = card ? card->request(all) : std::nullopt;
    if (card && !atqa) atqa = card->request(all);
    if (!atqa) return fail(status::dc_no_card);
    return Reply::ok({static_cast<uint8_t>(*atqa & 0xFF), static_cast<uint8_t>(*atqa >> 8)});
}

// 0x42 00 B4 00 00 00: the 4 bytes of the first cascade level.
Reply anticollision(FirmwareState& st, const Request& rq) {
    if (!std::ranges::equal(rq.data, kAnticollData)) return bad_argument();
    const auto card = reachable_card(st);
    const auto level1 = card ? card->anticollision() : std::nullopt;
    if (!level1) return fail(status::dc_no_card);
    return Reply::ok(*level1);
}

// 0x43 the first cascade level's 4 bytes.
Reply select(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != kUidLevel1) return bad_argument();
    const auto card = reachable_card(st);
    if (!card || !card->select(rq.data)) return fail(status::dc_no_card);
    return Reply::ok();
}

// 0x45: halts the active card.
Reply halt(FirmwareState& st, const Request& rq) {
    if (!rq.data.empty()) return bad_argument();
    const auto card = reachable_card(st);
    if (!card || !card->halt()) return fail(status::dc_no_card);
    return Reply::ok();
}

// 0x4C selector, sector, 6 bytes of no meaning, C0 F2, 6 key bytes, 8B 01.
Reply load_key(FirmwareState& st, const Request& rq) {
    const Bytes& d = rq.data;
    if (d.size() != 18 || (d[0] != kSelectorKeyA && d[0] != kSelectorKeyB) || d[8] != 0xC0 || d[9] != 0xF2 ||
        d[16] != 0x8B || d[17] != 0x01)
        return bad_argument();
    Key key{};
    std::copy_n(d.begin() + 10, kKeySize, key.begin());
    st.settings.sector_keys[{d[0], d[1]}] = key;
    return Reply::ok();
}

// 0x44 selector, sector: authenticates the sector with the loaded key. A
// card that is not active (a failed authentication or operation) is woken
// and selected first, as the first family's reader does.
Reply authenticate(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 2 || (rq.data[0] != kSelectorKeyA && rq.data[0] != kSelectorKeyB)) return bad_argument();
    const auto key = st.settings.sector_keys.find({rq.data[0], rq.data[1]});
    if (key == st.settings.sector_keys.end()) return fail(status::dc_auth_failed);
    const auto card = active_card(st);
    if (!card) return fail(status::dc_no_card);
    const KeyType type = rq.data[0] == kSelectorKeyA ? KeyType::a : KeyType::b;
    if (card->authenticate(type, classic::first_block(rq.data[1]), key->second) != Answer::ok)
        return fail(status::dc_auth_failed);
    return Reply::ok();
}

// 0x46 block: 16 bytes.
Reply read_block(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1) return bad_argument();
    const auto card = reachable_card(st);
    Block b{};
    if (!card || card->read(rq.data[0], b) != Answer::ok) return fail(status::dc_read_failed);
    return Reply::ok(Bytes(b.begin(), b.end()));
}

// 0x47 block, 16 bytes.
Reply write_block(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1 + classic::kBlockSize) return bad_argument();
    const auto card = reachable_card(st);
    Block b{};
    std::copy_n(rq.data.begin() + 1, classic::kBlockSize, b.begin());
    if (!card || card->write(rq.data[0], b) != Answer::ok) return fail(status::dc_write_failed);
    return Reply::ok();
}

// 0x48 / 0x49 block, 4 value bytes (least significant first).
template <Answer (Card::*operation)(int, int32_t)>
Reply value_change(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1 + kValueSize) return bad_argument();
    const auto card = reachable_card(st);
    if (!card || ((*card).*operation)(rq.data[0], value_of(&rq.data[1])) != Answer::ok)
        return fail(status::dc_write_failed);
    return Reply::ok();
}

// 0x4A restore / 0x4B transfer: block.
template <Answer (Card::*operation)(int)>
Reply block_operation(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1) return bad_argument();
    const auto card = reachable_card(st);
    if (!card || ((*card).*operation)(rq.data[0]) != Answer::ok) return fail(status::dc_write_failed);
    return Reply::ok();
}

}  // namespace

void install_second_family_commands(CommandTable& t) {
    t.add(0x41, request);
    t.add(0x42, anticollision);
    t.add(0x43, select);
    t.add(0x44, authenticate);
    t.add(0x45, halt);
    t.add(0x46, read_block);
    t.add(0x47, write_block);
    t.add(0x48, value_change<&Card::increment>);
    t.add(0x49, value_change<&Card::decrement>);
    t.add(0x4A, block_operation<&Card::restore>);
    t.add(0x4B, block_operation<&Card::transfer>);
    t.add(0x4C, load_key);
    t.add(0x87, set_picc_protocol);
}

}  // namespace vrsim
