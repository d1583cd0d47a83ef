// MIFARE Classic 1K on the second reader family. This family's firmware
// has a command set of its own (one-byte codes 0x41..0x4C over the
// command exchange), in which request, anticollision and select are
// separate steps, a key is loaded into the reader before the card is
// authenticated, and value blocks are built and checked by the host.
#include <cstring>

#include "core/errors.h"
#include "drivers/card_steps.h"
#include "drivers/mifare_classic.h"
#include "link/reader_command.h"
#include "mifare.h"
#include "pcd.h"

namespace {

using namespace vr::mfc;

constexpr uint16_t kCmdRequest = 0x41;
constexpr uint16_t kCmdAnticoll = 0x42;
constexpr uint16_t kCmdSelect = 0x43;
constexpr uint16_t kCmdAuth = 0x44;
constexpr uint16_t kCmdHalt = 0x45;
constexpr uint16_t kCmdRead = 0x46;
constexpr uint16_t kCmdWrite = 0x47;
constexpr uint16_t kCmdIncrement = 0x48;
constexpr uint16_t kCmdDecrement = 0x49;
constexpr uint16_t kCmdRestore = 0x4A;
constexpr uint16_t kCmdTransfer = 0x4B;
constexpr uint16_t kCmdLoadKey = 0x4C;

constexpr uint8_t kRequestAll = 0x01;
// The first byte of a 1K card's ATQA; a 4K or an Ultralight answers
// otherwise.
constexpr uint8_t kAtqa1k = 0x04;
constexpr uint8_t kAnticollData[] = {0x00, 0xB4, 0x00, 0x00, 0x00};
constexpr int kUidLen = 4;
constexpr int kValueSize = 4;

// The reader's key slots: one per key type.
constexpr uint8_t kSelectorKeyA = 0x00;
constexpr uint8_t kSelectorKeyB = 0x04;

int block_command(uint16_t code, uint8_t block) {
    vr::ReaderCommand c(code, {block});
    return c.send();
}

int value_command(uint16_t code, const unsigned char *value, uint8_t block) {
    if (!value) return vr::fail(vr::kEArg);
    vr::ReaderCommand c(code, {block});
    c.append(value, kValueSize);
    return c.send();
}

// Loads the key into the reader's slot for the sector: selector, sector,
// six bytes of no meaning to the reader, C0 F2, the key, 8B 01.
int load_key(const unsigned char *key, uint8_t selector, uint8_t sector) {
    vr::ReaderCommand c(kCmdLoadKey, {selector, sector, 0, 0, 0, 0, 0, 0, 0xC0, 0xF2});
    c.append(key, kKeySize);
    c.append({0x8B, 0x01});
    return c.send();
}

}  // namespace

VR_API int dclk_m1s50_req(void) {
    if (pcd_set_picc_protocol('A') != 0) return -1;
    vr::ReaderCommand c(kCmdRequest, {kRequestAll});
    const int rc = c.send();
    if (rc < 0) return rc;
    if (c.reply().empty() || c.reply()[0] != kAtqa1k) return vr::fail(vr::kECardType);
    return 0;
}

// The reader knows one request only: the wake-up sends the same.
VR_API int dclk_m1s50_wupa(void) { return dclk_m1s50_req(); }

VR_API int dclk_m1s50_anticoll(picc *record, int) {
    if (!record) return vr::fail(vr::kEArg);
    vr::ReaderCommand c(kCmdAnticoll);
    c.append(kAnticollData, sizeof kAnticollData);
    const int rc = c.send();
    if (rc != 0) return rc;
    if (vr::copy_reply(c, record->uid, kUidLen) != 0) return -1;
    record->uid_len = kUidLen;
    return 0;
}

// A record whose anticollision found no card has nothing to select: the
// reader would only refuse an empty UID as a malformed argument.
VR_API int dclk_m1s50_sel(picc *record, int) {
    if (!record) return vr::fail(vr::kEArg);
    if (record->uid_len < 1) return vr::fail(vr::kENoCard);
    vr::ReaderCommand c(kCmdSelect);
    c.append(record->uid, record->uid_len);
    const int rc = c.send();
    if (rc != 0) return rc;
    record->card_status = PICC_STATUS_ACTIVE;
    return 0;
}

VR_API int dclk_m1s50_halt(picc *) {
    vr::ReaderCommand c(kCmdHalt);
    return c.send();
}

VR_API int dclk_m1s50_query(picc *halt, picc *record) {
    return vr::query_card({dclk_m1s50_halt, dclk_m1s50_req, dclk_m1s50_anticoll}, halt, record);
}

VR_API int dclk_m1s50_getuid(picc *record) { return vr::getuid_once(dclk_m1s50_anticoll, record); }

VR_API int dclk_m1s50_read(unsigned char *out, uint8_t block) {
    if (!out) return vr::fail(vr::kEArg);
    vr::ReaderCommand c(kCmdRead, {block});
    const int rc = c.send();
    if (rc != 0) return rc;
    return vr::copy_reply(c, out, kBlockSize);
}

VR_API int dclk_m1s50_write(const unsigned char *in, uint8_t block) {
    if (!in) return vr::fail(vr::kEArg);
    vr::ReaderCommand c(kCmdWrite, {block});
    c.append(in, kBlockSize);
    return c.send();
}

VR_API int dclk_m1s50_auth(const unsigned char *key, uint8_t key_type, uint8_t block) {
    if (!key) return vr::fail(vr::kEArg);
    if (key_type != MIFARE_KEY_A && key_type != MIFARE_KEY_B) return vr::fail(vr::kEKeyType);
    const uint8_t selector = key_type == MIFARE_KEY_A ? kSelectorKeyA : kSelectorKeyB;
    const auto sector = static_cast<uint8_t>(block / 4);
    const int rc = load_key(key, selector, sector);
    if (rc != 0) return rc;
    vr::ReaderCommand c(kCmdAuth, {selector, sector});
    return c.send();
}

namespace {
constexpr BlockIo kSecondFamilyBlocks = {dclk_m1s50_read, dclk_m1s50_write};
}  // namespace

VR_API int dclk_m1s50_chpw(const unsigned char *keys, uint8_t key_type, uint8_t block) {
    return change_keys(keys, key_type, block, trailer_1k, kSecondFamilyBlocks);
}

VR_API int dclk_m1s50_chaccess(const unsigned char *description, uint8_t block) {
    return change_access(description, block, trailer_1k, kSecondFamilyBlocks);
}

VR_API int dclk_m1s50_incval(const unsigned char *value, uint8_t block) {
    return value_command(kCmdIncrement, value, block);
}

VR_API int dclk_m1s50_decval(const unsigned char *value, uint8_t block) {
    return value_command(kCmdDecrement, value, block);
}

VR_API int dclk_m1s50_load(uint8_t block) { return block_command(kCmdRestore, block); }
VR_API int dclk_m1s50_transfer(uint8_t block) { return block_command(kCmdTransfer, block); }

VR_API int dclk_m1s50_rdval(unsigned char *value, uint8_t block) {
    if (!value) return vr::fail(vr::kEArg);
    unsigned char b[kBlockSize];
    if (dclk_m1s50_read(b, block) != 0) return vr::fail(vr::kERecv);
    int32_t v = 0;
    if (!parse_value_block(b, v)) return vr::fail(vr::kEMsgWrong);
    std::memcpy(value, b, kValueSize);
    return 0;
}

VR_API int dclk_m1s50_wrval(const unsigned char *value, uint8_t block) {
    if (!value) return vr::fail(vr::kEArg);
    uint32_t v = 0;
    for (int i = 0; i < kValueSize; ++i) v |= uint32_t{value[i]} << (8 * i);
    unsigned char b[kBlockSize];
    build_value_block(static_cast<int32_t>(v), block, b);
    return dclk_m1s50_write(b, block) == 0 ? 0 : -1;
}

// The driver's operations: the geometry is the first family's 1K; no
// byte view of the data area. Slots not named stay empty.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr picc kDclkM1s50Ops = {
    .req = dclk_m1s50_req,
    .sel = dclk_m1s50_sel,
    .anticoll = dclk_m1s50_anticoll,
    .query = dclk_m1s50_query,
    .halt = dclk_m1s50_halt,
    .getuid = dclk_m1s50_getuid,
    .wupa = dclk_m1s50_wupa,
    .read = dclk_m1s50_read,
    .write = dclk_m1s50_write,
    .auth = dclk_m1s50_auth,
    .chpw = dclk_m1s50_chpw,
    .chaccess = dclk_m1s50_chaccess,
    .load = dclk_m1s50_load,
    .transfer = dclk_m1s50_transfer,
    .incval = dclk_m1s50_incval,
    .decval = dclk_m1s50_decval,
    .rdval = dclk_m1s50_rdval,
    .wrval = dclk_m1s50_wrval,
    .secblk = m1s50_secblk,
    .blklen = m1s50_blklen,
    .seccnt = m1s50_seccnt,
    .blkcnt = m1s50_blkcnt,
};
#pragma GCC diagnostic pop

VR_API int dclk_m1s50_init(picc *record) { return init_record(record, kDclkM1s50Ops, "Mifare S50", kNoCardProtocol); }
