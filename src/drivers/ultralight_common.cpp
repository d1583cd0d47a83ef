#include "drivers/ultralight_common.h"

#include <cstring>

#include "core/errors.h"
#include "drivers/card_texts.h"
#include "link/reader_command.h"
#include "pcd.h"

namespace vr::ul {
namespace {

constexpr uint16_t kCmdRequest = 0x0701;
constexpr uint16_t kCmdAnticoll = 0x0702;
constexpr uint16_t kCmdHalt = 0x0204;
constexpr uint16_t kCmdReadPage = 0x0705;
constexpr uint16_t kCmdWritePage = 0x0704;
// The ATQA of every Ultralight, low byte first.
constexpr uint8_t kAtqa[2] = {0x44, 0x00};
constexpr int kUidLen = 7;
// The anticollision answer: two bytes the driver does not use, the UID.
constexpr int kUidAt = 2;

uint8_t high(uint16_t v) { return static_cast<uint8_t>(v >> 8); }
uint8_t low(uint16_t v) { return static_cast<uint8_t>(v & 0xFF); }

}  // namespace

int init_record(picc *record, const picc &ops, const char *type) {
    return init_card_record(record, ops, "NXP(founded by Philips)", type, "ISO14443-A", 'A');
}

int request(uint8_t kind, Route route) {
    if (pcd_set_picc_protocol('A') != 0) return -1;
    ReaderCommand c(kCmdRequest, {kind});
    const int rc = c.send(route);
    if (rc != 0) return rc;
    const auto reply = c.reply();
    if (reply.size() != sizeof kAtqa || std::memcmp(reply.data(), kAtqa, sizeof kAtqa) != 0)
        return fail(kECardType);
    return 0;
}

int anticoll(picc *record, Route route) {
    if (!record) return fail(kENotSelected);
    if (record->uid_len > 0) return 0;
    ReaderCommand c(kCmdAnticoll);
    const int rc = c.send(route);
    if (rc != 0) return rc;
    const auto reply = c.reply();
    if (reply.size() < kUidAt + kUidLen) return fail(kEMsgWrong);
    std::memcpy(record->uid, reply.data() + kUidAt, kUidLen);
    record->uid_len = kUidLen;
    record->card_status = PICC_STATUS_ACTIVE;
    return 0;
}

int halt(picc *record, Route route) {
    ReaderCommand c(kCmdHalt);
    const int rc = c.send(route);
    if (rc == 0 && record) record->card_status = PICC_STATUS_HALTED;
    return rc;
}

int read_page(unsigned char *out, uint8_t page, Route route, int bytes) {
    if (!out) return fail(kEArg);
    ReaderCommand c(kCmdReadPage, {page});
    const int rc = c.send(route);
    if (rc != 0) return rc;
    // The reader answers four pages; the page asked for comes first.
    return copy_reply(c, out, bytes);
}

int write_page(const unsigned char *in, uint8_t page, Route route) {
    if (!in) return fail(kEArg);
    ReaderCommand c(kCmdWritePage, {page});
    c.append(in, kPageSize);
    return c.send(route);
}

bool read_range_fits(int address, int length, int size) {
    return address <= size && length <= size && address + length <= size;
}

bool write_range_fits(int address, int length, int size) {
    return address >= kFirstWritableByte && read_range_fits(address, length, size);
}

int read_bytes(uint16_t command, uint16_t address, uint16_t length, unsigned char *out) {
    if (!out) return fail(kEArg);
    ReaderCommand c(command, {high(address), low(address), high(length), low(length)});
    const int rc = c.send();
    if (rc != 0) return rc;
    if (c.reply().size() != length) return fail(kEMsgWrong);
    std::memcpy(out, c.reply().data(), length);
    return 0;
}

int write_bytes(uint16_t command, uint16_t address, uint16_t length, const unsigned char *in) {
    if (!in) return fail(kEArg);
    ReaderCommand c(command, {high(address), low(address), high(length), low(length)});
    c.append(in, length);
    return c.send();
}

}  // namespace vr::ul
