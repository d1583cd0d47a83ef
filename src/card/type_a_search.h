// The reader's type A search: wake-up, anticollision and select in one
// command, answered with the card's ATQA, UID and SAK. The card framework
// names the card from them; the generic type A driver only keeps them.
#pragma once

#include "picc.h"

namespace vr {

// Selects type A, searches, and stores ATQA, UID, SAK and the active status
// in the record: 0, the exchange's result, or -1 with errno -16 for an
// answer of another layout.
int search_type_a(picc *record);

}  // namespace vr
