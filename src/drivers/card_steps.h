// The query and get-UID steps that most card drivers share: they differ
// only in the driver operations they chain.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "picc.h"

namespace vr {

struct QuerySteps {
    int (*halt)(picc *record);
    int (*req)(void);
    int (*anticoll)(picc *record, int unused);
};

// Clears the record's CID, halts the previous card if one is given, sends
// the request and runs the anticollision into the record.
inline int query_card(const QuerySteps &steps, picc *previous, picc *record) {
    if (!record) return fail(kENotSelected);
    record->cid = 0;
    if (previous && steps.halt(previous) == -1) return -1;
    if (steps.req() != 0) return -1;
    return steps.anticoll(record, 0);
}

// The anticollision only while the UID is unknown.
inline int getuid_once(int (*anticoll)(picc *record, int unused), picc *record) {
    if (!record) return fail(kENotSelected);
    return record->uid_len < 1 ? anticoll(record, 0) : 0;
}

// The selection slot of drivers whose reader selects the card in the
// anticollision (or needs no selection at all): no traffic; the record is
// the selected card again.
inline int mark_selected(picc *record, int) {
    if (record) record->card_status = PICC_STATUS_ACTIVE;
    return 0;
}

// The authentication slot of cards that authenticate in their own APDUs:
// it accepts the call without traffic, so that a caller's
// authenticate-then-read sequence reaches the exchange.
inline int auth_in_apdus(const unsigned char *, uint8_t, uint8_t) { return 0; }

}  // namespace vr
