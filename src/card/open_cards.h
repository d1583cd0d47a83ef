// The open-card list as callers above the card framework search it.
#pragma once

#include "picc.h"

namespace vr::card {

// The open card record matching key (uid over key's uid_len, vendor and
// type, as piccs_list_find compares them), looked up under the library
// lock so that no open or close changes the list meanwhile; or null.
picc *find_open_card(const picc &key);

}  // namespace vr::card
