// The reader's side of type A and type B activation, shared by the card
// command areas (fw_cards.cpp, fw_ultralight.cpp, fw_iso_dep.cpp).
#pragma once

#include <memory>

#include "firmware.h"

namespace vrsim {

// The card the reader can reach with type A: antenna on, type A selected,
// a card in the field (a type B card does not answer type A commands).
[[nodiscard]] std::shared_ptr<Card> reachable_card(FirmwareState& st);
// Request (sent twice: a card that was still active drops back on the
// first and answers the second), anticollision and select. The card, now
// active, or null.
[[nodiscard]] std::shared_ptr<Card> activate(FirmwareState& st, bool wake_up);
// The active card, activating it first when it is not.
[[nodiscard]] std::shared_ptr<Card> active_card(FirmwareState& st);

// The APDU batch to the active type B card (0x0305 without the SAM's
// preamble; fw_iso_dep.cpp): items of a big-endian length and the APDU,
// answered item by item in the same form.
[[nodiscard]] Reply type_b_batch(FirmwareState& st, const Request& rq);

}  // namespace vrsim
