// Internal interface of the card-type registry.
#pragma once

#include "tessil.h"

namespace vr {

// Card-type initialisers of each family.
void fill_first_family_cards(picc_init_table &t);
void fill_second_family_cards(picc_init_table &t);

}  // namespace vr
