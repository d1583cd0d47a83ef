// The PRC identity card on the second reader family: its identifier read
// with the first family's command 0x0301 over the direct path. Its contents
// need the SAM (the id_sam driver, which both families share).
#include "core/errors.h"
#include "drivers/card_steps.h"
#include "drivers/card_texts.h"
#include "drivers/identity_card.h"
#include "identity.h"
#include "pcd.h"

VR_API int dclk_identity_req(void) { return pcd_set_picc_protocol('B'); }
VR_API int dclk_identity_wupa(void) { return 0; }
VR_API int dclk_identity_sel(picc *record, int unused) { return vr::mark_selected(record, unused); }
VR_API int dclk_identity_halt(picc *) { return 0; }

VR_API int dclk_identity_anticoll(picc *record, int) {
    if (!record) return vr::fail(vr::kEArg);
    return vr::identity_card::read_identifier(record, vr::Route::direct);
}

VR_API int dclk_identity_query(picc *previous, picc *record) {
    if (!record) return vr::fail(vr::kEArg);
    return vr::query_card({dclk_identity_halt, dclk_identity_req, dclk_identity_anticoll}, previous, record);
}

VR_API int dclk_identity_getuid(picc *record) {
    return record ? vr::getuid_once(dclk_identity_anticoll, record) : vr::fail(vr::kEArg);
}

// The card only identifies itself: every other slot is empty.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr picc kDclkIdentityOps = {
    .req = dclk_identity_req,
    .sel = dclk_identity_sel,
    .anticoll = dclk_identity_anticoll,
    .query = dclk_identity_query,
    .halt = dclk_identity_halt,
    .getuid = dclk_identity_getuid,
    .wupa = dclk_identity_wupa,
};
#pragma GCC diagnostic pop

VR_API int dclk_identity_init(picc *record) {
    return vr::init_card_record(record, kDclkIdentityOps, "PRC Identity Card", "PRC Identity Cardt", "ISO14443-B", 0);
}
