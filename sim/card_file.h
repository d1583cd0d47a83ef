// Virtual cards from files: MIFARE Classic cards from the dump files MIFARE
// users exchange (.mfd/.bin, .eml, .json; dumpfile.h), Ultralight cards
// from Ultralight dumps (.bin of 64 or 192 bytes, .json "mfu";
// ultralight_dump.h) and identity cards from a JSON description
// ("FileType": "prc-id"; card_file.cpp).
#pragma once

#include <memory>
#include <string>

#include "card.h"

namespace vrsim {

struct LoadedCard {
    std::shared_ptr<Card> card;  // null when the file cannot be used; see error
    std::string error;
    // Blocks (pages) the dump marks unreadable: data blocks stay zero,
    // trailers keep the transport configuration with the sector's keys
    // where the dump knows them; Ultralight pages keep a new card's.
    int unknown_blocks = 0;
};

// A Mini, 1K or 4K card with the dump's memory and identity: its UID (from the
// file, else from block 0, else random), ATQA and SAK (the kind's own when
// the file gives no identity).
[[nodiscard]] LoadedCard load_card_file(const std::string& path);

// Writes a MIFARE Classic or Ultralight card's whole memory, keys
// included, with its identity to a dump file (replacing one there). An
// error text, empty on success.
[[nodiscard]] std::string save_card_file(const Card& card, const std::string& path);

}  // namespace vrsim
