// The registry of link drivers: which driver serves a communication type
// name, and what the port and the layers above need to know about it. The
// one place where link names are parsed.
#pragma once

#include "tessil.h"

namespace vr::port {

// The links the library knows by name.
enum class Link { uart, usbhid, ch340g, ch9326, pdiusbd12, bluetooth, sound };

// Bits of LinkDriver::families.
inline constexpr unsigned kFirstFamily = 1;
inline constexpr unsigned kSecondFamily = 2;

// One link driver. Its source file ends in its constexpr device operation
// table (vr_dev_ops), which its init puts in force with install_device.
struct LinkDriver {
    // The communication type names it serves: a case-insensitive prefix of
    // exactly its own length ("usb" serves "usbhid", "uart" "UART0").
    const char *name;
    Link link;
    // Fills the device operation table and the driver's attributes from
    // (mode, the further arguments of virt_com_open); 0 or -1. Null while
    // this build has no such driver.
    com_init_fn init;
    // Its entry in the state record's driver table, which registration
    // fills (families says for which reader families); the port calls the
    // entry. Null for a driver chosen without registration ("sound").
    com_init_fn com_init_table::*slot;
    unsigned families;
    int timeout_ms;  // the port's default reply time-out with this driver
    bool usb;        // a USB device: its ids answer control codes 67 and 68
};

// The driver serving a communication type name, or null for a name no
// driver serves (or null).
const LinkDriver *find_link_driver(const char *type);

// Whether a communication type name names the second reader family's own
// adapter ("pdiusbd12" anywhere in it): opening it registers that family.
bool names_second_family_adapter(const char *type);

// Registration of a reader family fills the state record's driver table
// with the drivers installed for that family; other entries are kept.
void install_link_drivers(unsigned family);

}  // namespace vr::port
