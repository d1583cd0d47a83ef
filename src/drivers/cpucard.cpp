// ISO 14443-4 type A CPU cards. The reader activates the card in one
// command (wake-up, anticollision, select and the answer to select) and
// carries APDUs to it; the driver's read operation is that exchange.
// Memory operations have no meaning for these cards: their slots stay
// empty, so that a write is refused instead of reported as done.
#include <cstring>

#include "core/errors.h"
#include "cpucard.h"
#include "drivers/buffer_exchange.h"
#include "drivers/card_steps.h"
#include "drivers/card_texts.h"
#include "link/reader_command.h"
#include "log.h"

namespace {

constexpr uint16_t kCmdActivate = 0x0210;
constexpr uint16_t kCmdApdu = 0x0211;
constexpr uint16_t kCmdHalt = 0x0204;
constexpr uint8_t kWakeUp = 0x52;
constexpr int kUidMax = 10;
constexpr int kAtsMax = 32;

// The activation answer: a byte the driver does not use, the UID length n
// and the UID, another unused byte, then the ATS whose first byte is its
// own length.
constexpr int kUidLenAt = 1;
constexpr int kUidAt = 2;
int ats_at(int uid_len) { return uid_len + 3; }

int malformed(const char *format, int value) {
    log_print(1, format, value);
    return vr::fail(vr::kEMsgWrong);
}

constexpr vr::QuerySteps kQuery{cpucard_halt, cpucard_req, cpucard_anticoll};

}  // namespace

VR_API int cpucard_req(void) { return 0; }
VR_API int cpucard_wupa(void) { return 0; }
VR_API int cpucard_sel(picc *record, int unused) { return vr::mark_selected(record, unused); }

VR_API int cpucard_anticoll(picc *record, int) {
    if (!record) return vr::fail(vr::kENotSelected);
    vr::ReaderCommand c(kCmdActivate, {kWakeUp});
    const int rc = c.send();
    if (rc != 0) return rc;
    const auto reply = c.reply();
    const int size = static_cast<int>(reply.size());
    const int uid_len = size > kUidLenAt ? reply[kUidLenAt] : -1;
    if (uid_len < 0 || uid_len > kUidMax) return malformed("err UID len: %d ", uid_len);
    const int at = ats_at(uid_len);
    if (size <= at) return malformed("err ats len: %d ", -1);
    const int ats_len = reply[static_cast<std::size_t>(at)];
    // The ATS counts its own length byte; it must lie within the answer.
    if (ats_len > kAtsMax || at + ats_len > size) return malformed("err ats len: %d ", ats_len);
    std::memcpy(record->uid, reply.data() + kUidAt, static_cast<std::size_t>(uid_len));
    record->uid_len = static_cast<int8_t>(uid_len);
    std::memcpy(record->ats, reply.data() + at, static_cast<std::size_t>(ats_len));
    record->ats_len = static_cast<int8_t>(ats_len);
    record->card_status = PICC_STATUS_ACTIVE;
    return 0;
}

VR_API int cpucard_query(picc *previous, picc *record) { return vr::query_card(kQuery, previous, record); }

VR_API int cpucard_halt(picc *record) {
    vr::ReaderCommand c(kCmdHalt);
    const int rc = c.send();
    if (rc == 0 && record) record->card_status = PICC_STATUS_HALTED;
    return rc;
}

VR_API int cpucard_getuid(picc *record) { return vr::getuid_once(cpucard_anticoll, record); }

VR_API int cpucard_read(unsigned char *buffer, uint8_t) { return vr::exchange_in_buffer(kCmdApdu, buffer); }

// The driver's operations: activation, and the APDU exchange as the read
// slot with authentication left to the APDUs. Slots not named stay empty.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr picc kCpuCardOps = {
    .req = cpucard_req,
    .sel = cpucard_sel,
    .anticoll = cpucard_anticoll,
    .query = cpucard_query,
    .halt = cpucard_halt,
    .getuid = cpucard_getuid,
    .wupa = cpucard_wupa,
    .read = cpucard_read,
    .auth = vr::auth_in_apdus,
};
#pragma GCC diagnostic pop

VR_API int cpucard_init(picc *record) {
    return vr::init_card_record(record, kCpuCardOps, "NULL", "CPU CARD", "ISO14443-A", 'A');
}
