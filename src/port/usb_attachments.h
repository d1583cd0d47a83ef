// The four USB attachments the library drives, and what tells them apart:
// their ids, the device name their init sets, and their report shape. The
// driver (usbhid.cpp), the device list (usb_list.cpp) and the shipped udev
// rule (contrib/udev, checked by a test) follow this table.
#pragma once

#include <cstdint>
#include <iterator>

#include "port/usb_reports.h"

namespace vr::port::usb {

enum class Kind { hid_reader, ch340g, ch9326, pdiusbd12 };

struct Attachment {
    Kind kind;
    const char *type;      // the link name ("usbhid", ...)
    const char *dev_name;  // the port's device name while it is open
    uint16_t vendor_id;
    uint16_t product_id;
    int report_size;       // out and in
    Layout layout;
};

inline constexpr Attachment kAttachments[] = {
    {Kind::hid_reader, "usbhid", "usb hid device", 0x0108, 0x0100, 48, Layout::protocol3},
    {Kind::ch340g, "ch340g", "usb adapter ch340g", 0x1A86, 0x7523, 32, Layout::protocol3},
    {Kind::ch9326, "ch9326", "usb hid adapter ch9326", 0x1A86, 0xE010, 31, Layout::protocol3},
    {Kind::pdiusbd12, "pdiusbd12", "usb hid adapter pdiusbd12", 0x0471, 0xA112, 32, Layout::protocol6},
};

constexpr const Attachment &attachment(Kind kind) { return kAttachments[static_cast<int>(kind)]; }

static_assert([] {
    for (int i = 0; i < static_cast<int>(std::size(kAttachments)); ++i)
        if (static_cast<int>(kAttachments[i].kind) != i || kAttachments[i].report_size > kMaxReport) return false;
    return true;
}(), "the table is indexed by kind");

}  // namespace vr::port::usb
