// The link drivers of this build, by communication type name. A new link
// driver fills in its init here; its own source file ends in its device
// operation table.
#include "port/link_drivers.h"

#include <strings.h>

#include <cstring>

#include "bluetooth.h"
#include "suart.h"
#include "uart.h"
#include "usbhid.h"

namespace {

using vr::port::kFirstFamily;
using vr::port::kSecondFamily;
using vr::port::Link;
using vr::port::LinkDriver;

constexpr int kDefaultTimeoutMs = 3000;
constexpr int kBluetoothTimeoutMs = 300;

// The audio modem's configuration counts as the "sound" driver's init.
int sound_init(int mode, va_list) {
    suart_init(mode);
    return 0;
}

// In the order the names are tried. Columns: name, link, init, entry of the
// state record's driver table, families that install it, default reply
// time-out, USB device.
constexpr LinkDriver kLinkDrivers[] = {
    {"uart", Link::uart, uart_init, &com_init_table::uart, kFirstFamily, kDefaultTimeoutMs, false},
    {"usb", Link::usbhid, usbhid_init, &com_init_table::usbhid, kFirstFamily, kDefaultTimeoutMs, true},
    {"ch340g", Link::ch340g, ch340g_init, &com_init_table::ch340g, kFirstFamily, kDefaultTimeoutMs, true},
    {"ch9326", Link::ch9326, ch9326_init, &com_init_table::ch9326, kFirstFamily, kDefaultTimeoutMs, true},
    {"pdiusbd12", Link::pdiusbd12, pdiusbd12_init, &com_init_table::pdiusbd12, kFirstFamily | kSecondFamily,
     kDefaultTimeoutMs, true},
    {"bluetooth", Link::bluetooth, bluetooth_init, &com_init_table::bluetooth, kFirstFamily, kBluetoothTimeoutMs,
     false},
    {"sound", Link::sound, sound_init, nullptr, 0, kDefaultTimeoutMs, false},
};

}  // namespace

namespace vr::port {

const LinkDriver *find_link_driver(const char *type) {
    if (!type) return nullptr;
    for (const LinkDriver &d : kLinkDrivers)
        if (strncasecmp(type, d.name, std::strlen(d.name)) == 0) return &d;
    return nullptr;
}

bool names_second_family_adapter(const char *type) { return type && std::strstr(type, "pdiusbd12"); }

void install_link_drivers(unsigned family) {
    for (const LinkDriver &d : kLinkDrivers)
        if (d.slot && (d.families & family)) tessil.com_init_tab.*d.slot = d.init;
}

}  // namespace vr::port
