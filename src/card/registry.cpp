// Registration of a reader family: which card-type initialisers, link
// drivers and reader workers are in force, and which link protocol frames
// every message.
#include <cstdlib>
#include <cstring>

#include "card/registry.h"
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
        .bluetooth = nullptr,
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

// Card drivers are added by their own files; until then the families
// offer no card types.
void fill_first_family_cards(picc_init_table &t) {
    (void)t;
}

void fill_second_family_cards(picc_init_table &t) {
    (void)t;
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
