// Registration of a reader family: which card-type initialisers, link
// drivers and reader workers are in force, and which link protocol frames
// every message; and the choice of a card driver by type name.
#include "card/registry.h"

#include <strings.h>

#include <cstring>

#include "core/errors.h"
#include "link/link.h"
#include "pcd.h"
#include "picc.h"
#include "port/link_drivers.h"
#include "port/port.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

// The family's card drivers go into the card-type table: the first family
// starts from an empty table, the second replaces only its own types.
void install_card_drivers(uint32_t family) {
    picc_init_table &cards = tessil.picc_init_tab;
    if (family == VR_FAMILY_FIRST) cards = picc_init_table{};
    for (const vr::CardDriver &d : vr::card_drivers())
        if (d.family == family) cards.*vr::entry_of(d.keyword) = d.init;
    cards.misc_init = misc_init;
}

// A live connection is dropped: cards forgotten, the port closed.
void drop_live_connection() {
    if (!vr::port::connection_marked()) return;
    piccs_list_delall(&tessil.piccs);
    vr::port::close_device_if_open();
}

}  // namespace

VR_API int picc_regapi(int family) {
    const int code = family == VR_FAMILY_SECOND ? VR_FAMILY_SECOND : VR_FAMILY_FIRST;
    drop_live_connection();
    vr::port::clear_connection_mark();
    vr::port::forget();

    install_card_drivers(static_cast<uint32_t>(code));
    vr::port::install_link_drivers(code == VR_FAMILY_SECOND ? vr::port::kSecondFamily : vr::port::kFirstFamily);
    const int rc = tessil.picc_init_tab.misc_init(code);
    vr::link::store_family(code);
    virt_com_set_protocl(code == VR_FAMILY_SECOND ? 6 : 3);
    return rc;
}

VR_API int picc_init(picc *record, const char *type) {
    if (!record) return vr::kENotSelected;
    if (!type) return vr::kEArg;
    std::memset(record, 0, sizeof *record);
    for (const vr::CardKeyword &k : vr::kCardKeywords) {
        if (strncasecmp(type, k.word, std::strlen(k.word)) != 0) continue;
        // A type the registered family does not offer is not recognised.
        picc_init_fn init = tessil.picc_init_tab.*k.entry;
        if (!init) break;
        return init(record);
    }
    return vr::fail(vr::kECardType);
}
