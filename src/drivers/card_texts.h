// The descriptive texts every card driver's initialiser sets.
#pragma once

#include "picc.h"

namespace vr {

// Heap copies of vendor, type and protocol name into a zeroed record, and
// the protocol letter. 0, or -1 with errno -40 when a copy fails.
int set_card_texts(picc *record, const char *vendor, const char *type, const char *protocol_name,
                   char protocol_letter);

}  // namespace vr
