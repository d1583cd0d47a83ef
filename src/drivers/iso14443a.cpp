// Any type A card, identified only: its ATQA, UID and SAK. Opening by the
// name "iso14443A_card" lands here when the reader's search names no type
// that a more specific driver serves.
#include "core/errors.h"
#include "cpucard.h"
#include "drivers/card_steps.h"
#include "drivers/card_texts.h"
#include "card/type_a_search.h"
#include "pcd.h"

namespace {
constexpr vr::QuerySteps kQuery{iso14443a_halt, iso14443a_req, iso14443a_anticoll};
}  // namespace

VR_API int iso14443a_req(void) { return pcd_set_picc_protocol('A'); }
VR_API int iso14443a_wupa(void) { return 0; }
VR_API int iso14443a_sel(picc *record, int unused) { return vr::mark_selected(record, unused); }
VR_API int iso14443a_halt(picc *) { return 0; }
VR_API int iso14443a_anticoll(picc *record, int) { return vr::search_type_a(record); }
VR_API int iso14443a_query(picc *previous, picc *record) { return vr::query_card(kQuery, previous, record); }
VR_API int iso14443a_getuid(picc *record) { return vr::getuid_once(iso14443a_anticoll, record); }

// Identification only: no reads, writes, keys or geometry.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr picc kIso14443aOps = {
    .req = iso14443a_req,
    .sel = iso14443a_sel,
    .anticoll = iso14443a_anticoll,
    .query = iso14443a_query,
    .halt = iso14443a_halt,
    .getuid = iso14443a_getuid,
    .wupa = iso14443a_wupa,
};
#pragma GCC diagnostic pop

VR_API int iso14443a_init(picc *record) {
    return vr::init_card_record(record, kIso14443aOps, "unknow", "ISO14443A card", "ISO14443-A", 'A');
}
