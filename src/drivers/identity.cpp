// The PRC identity card found without the SAM: the reader reads the card's
// 8-byte identifier in one command. Its contents need the SAM (the id_sam
// driver).
#include <cstring>

#include "core/errors.h"
#include "drivers/card_steps.h"
#include "drivers/card_texts.h"
#include "identity.h"
#include "link/reader_command.h"
#include "pcd.h"
#include "sys.h"

namespace {

constexpr uint16_t kCmdCardIdentifier = 0x0301;
constexpr uint8_t kWakeUp = 0x52;
constexpr int kIdentifierLen = 8;
// A card keeps what it was doing until its field goes: the identifier is
// read from a card that has just powered up.
constexpr unsigned kFieldOffUs = 1000;

constexpr vr::QuerySteps kQuery{identity_halt, identity_req, identity_anticoll};

}  // namespace

VR_API int identity_req(void) { return pcd_set_picc_protocol('B'); }
VR_API int identity_wupa(void) { return 0; }
VR_API int identity_sel(picc *record, int unused) { return vr::mark_selected(record, unused); }
VR_API int identity_halt(picc *) { return 0; }

VR_API int identity_anticoll(picc *record, int) {
    if (!record) return vr::fail(vr::kENotSelected);
    if (record->uid_len > 0) return 0;
    if (pcd_antenna_close() != 0) return vr::fail(vr::kEAntenna);
    sys_delay_nus(kFieldOffUs);
    if (pcd_antenna_open() != 0) return vr::fail(vr::kEAntenna);
    vr::ReaderCommand c(kCmdCardIdentifier, {kWakeUp});
    const int rc = c.send();
    if (rc != 0) return rc;
    if (c.reply().size() < kIdentifierLen) return vr::fail(vr::kEMsgWrong);
    std::memcpy(record->uid, c.reply().data(), kIdentifierLen);
    record->uid_len = kIdentifierLen;
    record->card_status = PICC_STATUS_ACTIVE;
    return 0;
}

VR_API int identity_query(picc *previous, picc *record) { return vr::query_card(kQuery, previous, record); }
VR_API int identity_getuid(picc *record) { return vr::getuid_once(identity_anticoll, record); }

// The card only identifies itself: every other slot is empty.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr picc kIdentityOps = {
    .req = identity_req,
    .sel = identity_sel,
    .anticoll = identity_anticoll,
    .query = identity_query,
    .halt = identity_halt,
    .getuid = identity_getuid,
    .wupa = identity_wupa,
};
#pragma GCC diagnostic pop

VR_API int identity_init(picc *record) {
    return vr::init_card_record(record, kIdentityOps, "PRC Identity Card", "PRC Identity Cardt", "ISO14443-B",
                                'B');
}
