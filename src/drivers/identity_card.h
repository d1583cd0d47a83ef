// The identity card's anticollision, which both families' identity drivers
// share: a card that has just powered up (field off 1 ms, on again) is
// asked for its 8-byte identifier (0x0301), through the exchange or the
// second family's direct path. 0 at once when the UID is known; -1 with
// errno -38 when the antenna cannot be switched.
#pragma once

#include "link/reader_command.h"
#include "picc.h"

namespace vr::identity_card {

int read_identifier(picc *record, Route route);

}  // namespace vr::identity_card
