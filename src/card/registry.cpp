// Registration of a reader family: which card-type initialisers, link
// drivers and reader workers are in force, and which link protocol frames
// every message.
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "bluetooth.h"
#include "card/registry.h"
#include "core/errors.h"
#include "mifare.h"
#include "pcd.h"
#include "picc.h"
#include "tessil.h"
#include "uart.h"
#include "virt_com.h"

namespace {

void fill_first_family() {
    picc_init_table &cards = tessil.picc_init_tab;
    vr::fill_first_family_cards(cards);
    cards.misc_init = misc_init;

    tessil.com_init_tab = com_init_table{
        .uart = uart_init,
        .usbhid = nullptr,
        .ch340g = nullptr,
        .ch9326 = nullptr,
        .pdiusbd12 = nullptr,
        .bluetooth = bluetooth_init,
    };
}

void fill_second_family() {
    picc_init_table &cards = tessil.picc_init_tab;
    vr::fill_second_family_cards(cards);
    cards.misc_init = misc_init;
    tessil.com_init_tab.pdiusbd12 = nullptr;
}

// A live connection is dropped: cards forgotten, the port closed.
void drop_live_connection() {
    if (!vr::connection_marked()) return;
    piccs_list_delall(&tessil.piccs);
    if (virt_com_status() == VIRT_COM_OPEN && tessil.s_com.ops.close) tessil.s_com.ops.close();
}

}  // namespace

namespace vr {

constexpr char kConnectMark[] = "vantel-rfid link connected and ready";
static_assert(sizeof kConnectMark == VR_CONNECT_MARK_SIZE, "the marker is 36 characters");

bool connection_marked() {
    return std::memcmp(tessil.connect_mark, kConnectMark, sizeof kConnectMark) == 0;
}

void mark_connection() { std::memcpy(tessil.connect_mark, kConnectMark, sizeof kConnectMark); }

void clear_connection_mark() { std::memset(tessil.connect_mark, 0, sizeof tessil.connect_mark); }

// Card types of the first family present in this build.
void fill_first_family_cards(picc_init_table &t) {
    t.ultralight = nullptr;
    t.ultralight_c = nullptr;
    t.classic_1k = m1s50_init;
    t.classic_4k = m1s70_init;
    t.identity = nullptr;
    t.id_sam = nullptr;
    t.iso14443a = nullptr;
    t.cpucard = nullptr;
    t.cidcard = nullptr;
    t.pboc = nullptr;
}

// The second family replaces the card types its firmware serves with its
// own drivers (none in this build) and keeps the rest.
void fill_second_family_cards(picc_init_table &t) {
    t.ultralight = nullptr;
    t.ultralight_c = nullptr;
    t.classic_1k = nullptr;
    t.classic_4k = nullptr;
    t.identity = nullptr;
    t.id_sam = nullptr;
}

}  // namespace vr

VR_API int picc_regapi(int family) {
    const int code = family == VR_FAMILY_SECOND ? VR_FAMILY_SECOND : VR_FAMILY_FIRST;
    drop_live_connection();
    vr::clear_connection_mark();
    s_com_t &com = tessil.s_com;
    com.fd = 0;
    // The port's texts are released here too: nothing else refers to them
    // once the port state is reset, and zeroing alone would lose them.
    std::free(com.com_type);
    std::free(com.version);
    com.com_type = nullptr;
    com.version = nullptr;
    virt_com_setstat(VIRT_COM_CLOSED);

    if (code == VR_FAMILY_SECOND)
        fill_second_family();
    else
        fill_first_family();
    const int rc = tessil.picc_init_tab.misc_init(code);
    tessil.family = static_cast<uint32_t>(code);
    tessil.s_com.protocol = code == VR_FAMILY_SECOND ? 6 : 3;
    return rc;
}

namespace {

// Card-type keywords, tested in order as case-insensitive prefixes of
// exactly the keyword's length ("mifare_ulc" before "mifare_ul").
struct Keyword {
    const char *word;
    picc_init_fn picc_init_table::*entry;
};
constexpr Keyword kKeywords[] = {
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

}  // namespace

VR_API int picc_init(picc *record, const char *type) {
    if (!record) return vr::kENotSelected;
    if (!type) return vr::kEArg;
    std::memset(record, 0, sizeof *record);
    for (const Keyword &k : kKeywords) {
        if (strncasecmp(type, k.word, std::strlen(k.word)) != 0) continue;
        // A type the registered family does not offer is not recognised.
        picc_init_fn init = tessil.picc_init_tab.*k.entry;
        if (!init) break;
        return init(record);
    }
    return vr::fail(vr::kECardType);
}
