// The bank card's information table, as the driver keeps it.
#pragma once

#include "picc.h"

namespace vr::pboc {

// Frees the record's table and every text in it; the record has none after.
void forget_information(picc *record);

}  // namespace vr::pboc
