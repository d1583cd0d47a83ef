// The card drivers of this build, for the card-type registry. A new card
// driver adds its row here; its own source file ends in its constexpr
// operation table and the initialiser that copies it into a record.
#include <algorithm>

#include "card/registry.h"
#include "cpucard.h"
#include "identity.h"
#include "mifare.h"
#include "pboc.h"
#include "ultralight.h"

namespace {

constexpr vr::CardDriver kCardDrivers[] = {
    // First family: registering it empties every entry, then installs these.
    {"mifare_ul", VR_FAMILY_FIRST, m0ul_init},
    {"mifare_ulc", VR_FAMILY_FIRST, m0ulc_init},
    {"mifare_s50", VR_FAMILY_FIRST, m1s50_init},
    {"mifare_s70", VR_FAMILY_FIRST, m1s70_init},
    {"id_card", VR_FAMILY_FIRST, identity_init},
    {"id_sam", VR_FAMILY_FIRST, id_sam_init},
    {"iso14443A_card", VR_FAMILY_FIRST, iso14443a_init},
    {"cpu_card", VR_FAMILY_FIRST, cpucard_init},
    {"cid_card", VR_FAMILY_FIRST, cidcard_init},
    {"pboc_card", VR_FAMILY_FIRST, pboc_init},

    // Second family: its firmware serves these types with its own drivers,
    // which replace the entries (the SAM's driver both families share); a
    // null init empties a type whose driver this build still lacks. The
    // other entries keep the first family's drivers when that family was
    // registered before.
    {"mifare_ul", VR_FAMILY_SECOND, dclk_m0ul_init},
    {"mifare_ulc", VR_FAMILY_SECOND, dclk_m0ulc_init},
    {"mifare_s50", VR_FAMILY_SECOND, dclk_m1s50_init},
    {"mifare_s70", VR_FAMILY_SECOND, dclk_m1s70_init},
    {"id_card", VR_FAMILY_SECOND, dclk_identity_init},
    {"id_sam", VR_FAMILY_SECOND, id_sam_init},
};

static_assert(std::ranges::all_of(kCardDrivers,
                                  [](const vr::CardDriver &d) {
                                      return vr::is_card_keyword(d.keyword) &&
                                             (d.family == VR_FAMILY_FIRST || d.family == VR_FAMILY_SECOND);
                                  }),
              "every card driver names a known card-type keyword and a reader family");

}  // namespace

std::span<const vr::CardDriver> vr::card_drivers() { return kCardDrivers; }

bool vr::wakes_without_traffic(const picc &record) { return record.wupa == m1s50_wupa; }
