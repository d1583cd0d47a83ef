// What the handler tells smart-card software about a contactless card: its
// kind, from the reader's search, and the answer to reset that stands for
// it (contactless cards have none of their own).
#pragma once

#include <cstddef>
#include <array>
#include <cstdint>
#include <optional>
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
    type_b,   // a type B card in ISO 14443-4: APDUs go to the card
    unknown,  // answers the search but has no driver here
};

// The kind that a type A card's ATQA and SAK name. An Ultralight and an
// Ultralight C share both: this gives ultralight, and the caller tells
// them apart by asking the card.
CardKind kind_of(uint16_t atqa, uint8_t sak);

bool is_storage(CardKind kind);
// Cards that take APDUs of their own (ISO 14443-4, type A or B).
bool takes_apdus(CardKind kind);
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

// What a type B card tells of itself in its answer to the request (ATQB):
// its PUPI, the application data and the protocol information.
struct TypeBAnswer {
    Bytes pupi;
    std::array<uint8_t, 4> application_data{};
    std::array<uint8_t, 3> protocol_info{};
};
// The fields of an ATQB from its PUPI on (the answer's first byte, 50,
// left out); nothing when it is shorter than those 11 bytes. Bytes after
// them (the reader's own) are ignored. The answer comes from the card:
// bounded parsing.
std::optional<TypeBAnswer> type_b_answer(const uint8_t *atqb, std::size_t n);

// The answer to reset of a storage card: the registered application
// identifier, the standard byte (ISO 14443 A, part 3) and the card name.
Bytes storage_atr(CardKind kind);
// The answer to reset of an ISO 14443-4 card: T=1, then the historical
// bytes of its answer to select.
Bytes iso_dep_atr(const Bytes &historical);
// The answer to reset of a type B card in ISO 14443-4: T=1, then as its
// eight historical bytes the application data and protocol information
// of its ATQB and a byte with the MBLI of its ATTRIB answer (the answer's
// high nibble) in the high nibble.
Bytes type_b_atr(const TypeBAnswer &answer, uint8_t attrib_answer);

}  // namespace vrpcsc
