// ISO 14443-4 CPU cards on the second reader family, over the direct path:
// the reader activates the card in one command (0x0210) and carries APDUs
// (0x0211) in the length-prefixed buffer of the first family's CPU-card
// driver. The activation's whole answer is kept as the card's identifier;
// no answer to select is taken. The card has no blocks or values: those
// slots, and request, wake-up, select and halt, accept the call without
// traffic. The driver is offered to callers; the second family's registry
// does not enter it.
#include <cstring>

#include "core/errors.h"
#include "cpucard.h"
#include "drivers/buffer_exchange.h"
#include "drivers/card_steps.h"
#include "drivers/card_texts.h"
#include "link/reader_command.h"

namespace {

constexpr uint16_t kCmdActivate = 0x0210;
constexpr uint16_t kCmdApdu = 0x0211;
constexpr uint8_t kWakeUp = 0x52;

}  // namespace

VR_API int dclk_cpucard_req(void) { return 0; }
VR_API int dclk_cpucard_wupa(void) { return 0; }
VR_API int dclk_cpucard_sel(picc *, int) { return 0; }
VR_API int dclk_cpucard_halt(picc *) { return 0; }

VR_API int dclk_cpucard_anticoll(picc *record, int) {
    if (!record) return vr::fail(vr::kEArg);
    vr::ReaderCommand c(kCmdActivate, {kWakeUp});
    const int rc = c.send_direct();
    if (rc != 0) return rc;
    // The reader's answer is untrusted: it must fit the record.
    const auto reply = c.reply();
    if (reply.size() > sizeof record->uid) return vr::fail(vr::kEMsgWrong);
    std::memcpy(record->uid, reply.data(), reply.size());
    record->uid_len = static_cast<int8_t>(reply.size());
    return 0;
}

VR_API int dclk_cpucard_query(picc *previous, picc *record) {
    if (!record) return vr::fail(vr::kEArg);
    return vr::query_card({dclk_cpucard_halt, dclk_cpucard_req, dclk_cpucard_anticoll}, previous, record);
}

VR_API int dclk_cpucard_getuid(picc *record) {
    return record ? vr::getuid_once(dclk_cpucard_anticoll, record) : vr::fail(vr::kEArg);
}

VR_API int dclk_cpucard_read(unsigned char *buffer, uint8_t) {
    return vr::exchange_in_buffer(kCmdApdu, buffer, vr::Route::direct);
}

// What a card without blocks accepts: authentication and key changes (by
// key and block), load and transfer (by block), writes, value changes and
// access changes (by data and block), value reads.
VR_API int dclk_cpucard_write(const unsigned char *, uint8_t) { return 0; }
VR_API int dclk_cpucard_auth(const unsigned char *, uint8_t, uint8_t) { return 0; }
VR_API int dclk_cpucard_block(uint8_t) { return 0; }
VR_API int dclk_cpucard_value(const unsigned char *, uint8_t) { return 0; }
VR_API int dclk_cpucard_rdval(unsigned char *, uint8_t) { return 0; }

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr picc kDclkCpucardOps = {
    .req = dclk_cpucard_req,
    .sel = dclk_cpucard_sel,
    .anticoll = dclk_cpucard_anticoll,
    .query = dclk_cpucard_query,
    .halt = dclk_cpucard_halt,
    .getuid = dclk_cpucard_getuid,
    .wupa = dclk_cpucard_wupa,
    .read = dclk_cpucard_read,
    .write = dclk_cpucard_write,
    .auth = dclk_cpucard_auth,
    .chpw = dclk_cpucard_auth,
    .chaccess = dclk_cpucard_value,
    .load = dclk_cpucard_block,
    .transfer = dclk_cpucard_block,
    .incval = dclk_cpucard_value,
    .decval = dclk_cpucard_value,
    .rdval = dclk_cpucard_rdval,
    .wrval = dclk_cpucard_value,
};
#pragma GCC diagnostic pop

VR_API int dclk_cpucard_init(picc *record) {
    return vr::init_card_record(record, kDclkCpucardOps, "NULL", "CPU CARD", "ISO14443-A", 0);
}
