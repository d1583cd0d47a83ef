// Card sessions the "sound" link's end-to-end tests run on any backend:
// the simulated reader's audio front end holds the field, the link is
// reached through the card framework.
#pragma once

#include <memory>

#include "audio_front.h"
#include "card.h"

namespace vrtest {

// A 1K card (UID DE AD BE EF) whose data blocks hold distinct bytes.
std::shared_ptr<vrsim::Card> filled_card();

// A 1K card with distinct data in every data block is placed in the field;
// the session writes and reads back a block, dumps the whole card and
// compares it with the card's memory.
void card_session_with_dump(vrsim::AudioFrontEnd &front);

// The same card read and written over the enciphered link (code 27): the
// data arrives, and the reader saw enciphered requests.
void card_session_enciphered(vrsim::AudioFrontEnd &front);

}  // namespace vrtest
