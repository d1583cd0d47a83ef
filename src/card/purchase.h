// The bank-card purchase pair that control codes 50 and 51 run. The card
// framework declares it and the emv layer above defines it
// (src/emv/emv_flows.cpp), the way the drivers layer defines card_drivers():
// the framework reaches the flows without including their headers.
#pragma once

#include <cstdint>

#include "picc.h"

namespace vr {

// pboc_emv_purchase_init / pboc_emv_purchase_end: the card, the input
// bytes and their count, an out buffer (it may be the input) and the out
// length. 0, or -1 with errno.
using PurchaseStep = int (*)(picc *card, const uint8_t *in, int length, uint8_t *out, uint16_t *out_length);

struct PurchaseSteps {
    PurchaseStep start;
    PurchaseStep end;
};

PurchaseSteps purchase_steps();

}  // namespace vr
