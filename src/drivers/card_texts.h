// The descriptive texts every card driver's initialiser sets.
#pragma once

#include "picc.h"

namespace vr {

// Heap copies of vendor, type and protocol name into a zeroed record, and
// the protocol letter. 0, or -1 with errno -40 when a copy fails.
int set_card_texts(picc *record, const char *vendor, const char *type, const char *protocol_name,
                   char protocol_letter);

// A driver's initialiser: the record takes the driver's operation table
// (its card fields zero) and the texts. 0, -1 with errno -47 for a null
// record or -40 when a text cannot be copied.
int init_card_record(picc *record, const picc &ops, const char *vendor, const char *type,
                     const char *protocol_name, char protocol_letter);

}  // namespace vr
