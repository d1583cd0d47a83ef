// Internal interface of the card-type registry.
#pragma once

#include "tessil.h"

namespace vr {

// The connection marker in the global record: written after a successful
// connect, compared by registration, cleared when the port closes.
bool connection_marked();
void mark_connection();
void clear_connection_mark();

// Card-type initialisers of each family.
void fill_first_family_cards(picc_init_table &t);
void fill_second_family_cards(picc_init_table &t);

}  // namespace vr
