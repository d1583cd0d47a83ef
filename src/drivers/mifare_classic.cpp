#include "drivers/mifare_classic.h"

#include <cstring>

#include "core/errors.h"
#include "drivers/card_texts.h"
#include "link/reader_command.h"
#include "mifare.h"
#include "pcd.h"

namespace vr::mfc {
namespace {

constexpr uint16_t kCmdAuthKey = 0x0207;
constexpr uint16_t kCmdAuthStored = 0x0606;
constexpr uint16_t kCmdRead = 0x0208;
constexpr uint16_t kCmdWrite = 0x0209;
constexpr uint16_t kCmdWriteValue = 0x020A;
constexpr uint16_t kCmdReadValue = 0x020B;
constexpr uint16_t kCmdDecrement = 0x020C;
constexpr uint16_t kCmdIncrement = 0x020D;
constexpr uint16_t kCmdRestore = 0x020E;
constexpr uint16_t kCmdTransfer = 0x020F;

// Key types chpw accepts: 0x60 changes key A only; 0x61 and 0x62 both keys.
constexpr uint8_t kChangeBothKeys = 0x62;

// Whether the trailer's access bits let key B be read (conditions 000,
// 010 and 001). Otherwise the card reads key B back as zeros, so writing
// the trailer back as read would replace key B with zeros.
bool key_b_readable(const unsigned char *trailer) {
    const int c1 = (trailer[7] >> 7) & 1;
    const int c2 = (trailer[8] >> 3) & 1;
    const int c3 = (trailer[8] >> 7) & 1;
    return c1 == 0 && !(c2 == 1 && c3 == 1);
}

int block_command(uint16_t code, uint8_t block, Route route) {
    ReaderCommand c(code, {block});
    return c.send(route);
}

int block_with_value(uint16_t code, const unsigned char *value, uint8_t block, Route route) {
    if (!value) return fail(kEArg);
    ReaderCommand c(code, {block});
    c.append(value, 4);
    return c.send(route);
}

}  // namespace

int init_record(picc *record, const picc &ops, const char *type, char card_protocol) {
    if (!record) return fail(kENotSelected);
    *record = ops;
    return set_card_texts(record, "NXP(founded by Philips)", type, "ISO14443-A", card_protocol);
}

int auth(const unsigned char *key, uint8_t key_type, uint8_t block, Route route) {
    if (key_type != MIFARE_KEY_A && key_type != MIFARE_KEY_B) return fail(kEKeyType);
    if (!key) {
        ReaderCommand c(kCmdAuthStored, {key_type, block});
        return c.send(route);
    }
    ReaderCommand c(kCmdAuthKey, {key_type, block});
    c.append(key, kKeySize);
    return c.send(route);
}

int read_block(unsigned char *out, uint8_t block, Route route) {
    if (!out) return fail(kEArg);
    ReaderCommand c(kCmdRead, {block});
    int rc = c.send(route);
    if (rc != 0) return rc;
    return copy_reply(c, out, kBlockSize);
}

int write_block(const unsigned char *in, uint8_t block, Route route) {
    if (!in) return fail(kEArg);
    ReaderCommand c(kCmdWrite, {block});
    c.append(in, kBlockSize);
    return c.send(route);
}

int write_value(const unsigned char *value, uint8_t block, Route route) {
    return block_with_value(kCmdWriteValue, value, block, route);
}
int decrement(const unsigned char *value, uint8_t block, Route route) {
    return block_with_value(kCmdDecrement, value, block, route);
}
int increment(const unsigned char *value, uint8_t block, Route route) {
    return block_with_value(kCmdIncrement, value, block, route);
}
int restore(uint8_t block, Route route) { return block_command(kCmdRestore, block, route); }
int transfer(uint8_t block, Route route) { return block_command(kCmdTransfer, block, route); }

int read_value(unsigned char *value, uint8_t block, Route route) {
    if (!value) return fail(kEArg);
    ReaderCommand c(kCmdReadValue, {block});
    int rc = c.send(route);
    if (rc != 0) return rc;
    return copy_reply(c, value, 4);
}

int change_keys(const unsigned char *keys, uint8_t key_type, uint8_t block, TrailerRule trailer_of,
                const BlockIo &io) {
    if (!keys) return fail(kEArg);
    if (key_type != MIFARE_KEY_A && key_type != MIFARE_KEY_B && key_type != kChangeBothKeys)
        return fail(kEArg);
    const uint8_t trailer = static_cast<uint8_t>(trailer_of(block));
    unsigned char t[kBlockSize];
    int rc = io.read(t, trailer);
    if (rc != 0) return rc;
    // Changing key A alone keeps key B as read, which is only its value
    // when the card lets it be read.
    if (key_type == MIFARE_KEY_A && !key_b_readable(t)) return fail(kEArg);
    std::memcpy(t, keys, kKeySize);
    if (key_type != MIFARE_KEY_A) std::memcpy(t + 10, keys + kKeySize, kKeySize);
    return io.write(t, trailer) == 0 ? 0 : -1;
}

int change_access(const unsigned char *description, uint8_t block, TrailerRule trailer_of, const BlockIo &io) {
    if (!description) return fail(kEArg);
    const uint8_t trailer = static_cast<uint8_t>(trailer_of(block));
    unsigned char t[kBlockSize];
    if (io.read(t, trailer) != 0) return -1;
    for (int i = 0; i < 4; ++i) gen_access(t + 6, description[12 + i], i);
    std::memcpy(t, description, kKeySize);
    std::memcpy(t + 10, description + kKeySize, kKeySize);
    return io.write(t, trailer) == 0 ? 0 : -1;
}

namespace {
constexpr uint16_t kCmdRequest = 0x0201;
constexpr uint16_t kCmdAnticoll = 0x0202;
constexpr uint16_t kCmdSelect = 0x0203;
constexpr uint16_t kCmdHalt = 0x0204;
constexpr int kUidLen4k = 4;
}  // namespace

int request_4k(uint8_t kind, Route route) {
    if (pcd_set_picc_protocol('A') != 0) return -1;
    ReaderCommand c(kCmdRequest, {kind});
    int rc = c.send(route);
    if (rc != 0) return rc;
    const auto reply = c.reply();
    if (reply.size() != 2 || reply[0] != 0x02 || reply[1] != 0x00) return fail(kECardType);
    return 0;
}

int anticoll_4k(picc *record, Route route) {
    if (!record) return fail(kENotSelected);
    if (record->uid_len > 0) return 0;
    ReaderCommand c(kCmdAnticoll);
    int rc = c.send(route);
    if (rc != 0) return rc;
    if (c.reply().size() < kUidLen4k) return fail(kEMsgWrong);
    std::memcpy(record->uid, c.reply().data(), kUidLen4k);
    record->uid_len = kUidLen4k;
    return 0;
}

int select_4k(picc *record, Route route) {
    if (!record) return fail(kENotSelected);
    ReaderCommand c(kCmdSelect);
    c.append(record->uid, kUidLen4k);
    int rc = c.send(route);
    if (rc == 0) record->card_status = PICC_STATUS_ACTIVE;
    return rc;
}

int halt_4k(picc *record, Route route) {
    if (!record) return fail(kENotSelected);
    ReaderCommand c(kCmdHalt);
    int rc = c.send(route);
    if (rc == 0) record->card_status = PICC_STATUS_HALTED;
    return rc;
}

void build_value_block(int32_t value, uint8_t address, unsigned char out[kBlockSize]) {
    const auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) {
        const auto b = static_cast<unsigned char>(v >> (8 * i));
        out[i] = b;
        out[4 + i] = static_cast<unsigned char>(~b);
        out[8 + i] = b;
    }
    out[12] = address;
    out[13] = static_cast<unsigned char>(~address);
    out[14] = address;
    out[15] = static_cast<unsigned char>(~address);
}

bool parse_value_block(const unsigned char block[kBlockSize], int32_t &value) {
    for (int i = 0; i < 4; ++i)
        if (block[i] != block[8 + i] || block[i] != static_cast<unsigned char>(~block[4 + i])) return false;
    if (block[12] != block[14] || block[13] != block[15] || block[13] != static_cast<unsigned char>(~block[12]))
        return false;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(block[i]) << (8 * i);
    value = static_cast<int32_t>(v);
    return true;
}

}  // namespace vr::mfc

VR_API int gen_access(unsigned char *bytes, unsigned char code, int index) {
    if (code == 0xFF) return 0;
    if (!bytes || index < 0 || index > 3) return -1;
    const int c1 = code & 1, c2 = (code >> 1) & 1, c3 = (code >> 2) & 1;
    const unsigned char low = static_cast<unsigned char>(1u << index);
    const unsigned char high = static_cast<unsigned char>(1u << (4 + index));
    for (int i = 0; i < 3; ++i) bytes[i] &= static_cast<unsigned char>(~(low | high));
    // Each condition bit is stored twice: inverted in one byte, plain in
    // another.
    if (c1) bytes[1] |= high; else bytes[0] |= low;
    if (c2) bytes[2] |= low; else bytes[0] |= high;
    if (c3) bytes[2] |= high; else bytes[1] |= low;
    return 0;
}
