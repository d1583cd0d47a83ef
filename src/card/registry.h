// The card-type registry: the keywords picc_init knows, and the card
// drivers that registration installs in the state record's card-type
// table. The one place where card-type names are parsed.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "tessil.h"

namespace vr {

// A card-type keyword and the entry of the card-type table it selects.
struct CardKeyword {
    const char *word;
    picc_init_fn picc_init_table::*entry;
};

// Tested in this order, each as a case-insensitive prefix of exactly the
// keyword's length ("mifare_ulc" before "mifare_ul", which would match it).
// "identity" names the CID card, "id_card" the identity card.
inline constexpr CardKeyword kCardKeywords[] = {
    {"mifare_s20", &picc_init_table::classic_1k},
    {"mifare_s50", &picc_init_table::classic_1k},
    {"mifare_s70", &picc_init_table::classic_4k},
    {"ntag", &picc_init_table::ultralight},
    {"mifare_ulc", &picc_init_table::ultralight_c},
    {"mifare_ul", &picc_init_table::ultralight},
    {"id_card", &picc_init_table::identity},
    {"cpu_card", &picc_init_table::cpucard},
    {"cid_card", &picc_init_table::cidcard},
    {"identity", &picc_init_table::cidcard},
    {"id_sam", &picc_init_table::id_sam},
    {"pboc_card", &picc_init_table::pboc},
    {"iso14443A_card", &picc_init_table::iso14443a},
};

// Whether word is spelled exactly as one of the keywords.
constexpr bool is_card_keyword(std::string_view word) {
    for (const CardKeyword &k : kCardKeywords)
        if (word == k.word) return true;
    return false;
}

// The entry of the card-type table a keyword (spelled exactly) selects;
// null for a word that is no keyword.
constexpr picc_init_fn picc_init_table::*entry_of(std::string_view keyword) {
    for (const CardKeyword &k : kCardKeywords)
        if (keyword == k.word) return k.entry;
    return nullptr;
}

// One card driver: the keyword of the card type it serves (any keyword of
// that type reaches it: "mifare_s50" stands for "mifare_s20" too), the
// reader family whose registration installs it (VR_FAMILY_FIRST or
// VR_FAMILY_SECOND), and its initialiser, which fills the operation slots
// and texts of a zeroed record and returns 0, or a negative code. A null
// initialiser marks a type the family's firmware serves with a driver of
// its own that this build lacks: registering the family empties the entry.
struct CardDriver {
    const char *keyword;
    uint32_t family;
    picc_init_fn init;
};

// The card drivers of this build, listed by the drivers layer
// (src/drivers/card_drivers.cpp).
std::span<const CardDriver> card_drivers();

// Whether a record's wake-up and halt send nothing because the reader
// activates its cards inside each of its own commands (MIFARE Classic
// 1K): they then tell nothing of whether a card is in the field, and a
// search asks the reader for the card with the record's anticollision
// instead. Defined with the card drivers.
bool wakes_without_traffic(const picc &record);

}  // namespace vr
