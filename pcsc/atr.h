// What the handler tells smart-card software about a contactless card: its
// kind, from the reader's search, and the answer to reset that stands for
// it (contactless cards have none of their own).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vrpcsc {

using Bytes = std::vector<uint8_t>;

enum class CardKind : uint8_t {
    none,
    classic_mini,
    classic_1k,
    classic_4k,
    ultralight,
    ultralight_c,
    iso_dep,  // speaks ISO 14443-4: APDUs go to the card
    unknown,  // answers the search but has no driver here
};

// The kind that a type A card's ATQA and SAK name. An Ultralight and an
// Ultralight C share both: this gives ultralight, and the caller tells
// them apart by asking the card.
CardKind kind_of(uint16_t atqa, uint8_t sak);

bool is_storage(CardKind kind);
bool is_classic(CardKind kind);

// Bytes a card's read and update commands address at once (16 for a
// MIFARE Classic block, 4 for an Ultralight page) and how many of those
// units the card has; 0 for kinds without memory commands.
std::size_t unit_size(CardKind kind);
unsigned unit_count(CardKind kind);

// The historical bytes of an answer to select (its length byte first), at
// most 15; empty for an answer without any or one whose interface bytes
// run past its end. The answer comes from the card: bounded parsing.
Bytes ats_historical_bytes(const uint8_t *ats, std::size_t n);

// The answer to reset of a storage card: the registered application
// identifier, the standard byte (ISO 14443 A, part 3) and the card name.
Bytes storage_atr(CardKind kind);
// The answer to reset of an ISO 14443-4 card: T=1, then the historical
// bytes of its answer to select.
Bytes iso_dep_atr(const Bytes &historical);

}  // namespace vrpcsc
