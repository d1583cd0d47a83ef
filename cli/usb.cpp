// `usb list`: the USB readers and reader attachments attached, and what a
// user who may not open them should install.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli.h"
#include "command.h"
#include "udev_rule.h"
#include "usbhid.h"

namespace cli {
namespace {

const char *or_dash(const char *text) { return text[0] ? text : "-"; }

void print_device(const usbhid_device_info &d) {
    std::printf("%-10s %04x:%04x  bus %03u address %03u  ", d.type, d.vendor_id, d.product_id, d.bus, d.address);
    if (d.access == 1)
        std::printf("%s / %s / %s\n", or_dash(d.manufacturer), or_dash(d.product), or_dash(d.serial));
    else if (d.access == 0)
        std::printf("(no permission to open it)\n");
    else
        std::printf("(cannot be opened: %s)\n", error_text(d.access).c_str());
}

void print_permission_help(int denied) {
    std::printf("\nYou may not open %d of these devices. Install the udev rule %s\n"
                "(contrib/udev/ in the sources, share/vantel-rfid/ where the tool is installed),\n"
                "then plug the device in again:\n"
                "  sudo cp %s /etc/udev/rules.d/\n"
                "  sudo udevadm control --reload-rules && sudo udevadm trigger\n\n%s",
                denied, kUdevRuleName, kUdevRuleName, kUdevRule);
}

int list_devices() {
    const int count = usbhid_list_devices(nullptr, 0);
    if (count < 0) return report_error("usb list", errno);
    std::vector<usbhid_device_info> devices(static_cast<std::size_t>(count));
    const int listed = count ? usbhid_list_devices(devices.data(), count) : 0;
    if (listed < 0) return report_error("usb list", errno);
    // A device plugged in or out between the two calls.
    devices.resize(static_cast<std::size_t>(listed < count ? listed : count));
    if (devices.empty()) {
        std::printf("no USB reader or reader attachment attached\n");
        return 0;
    }
    int denied = 0;
    for (const usbhid_device_info &d : devices) {
        print_device(d);
        if (d.access == 0) ++denied;
    }
    if (denied) print_permission_help(denied);
    return 0;
}

std::string check_usb(CommandArgs &a) {
    a.needs_reader = false;
    return a.operands.size() == 1 && a.operands[0] == "list" ? std::string() : "usb takes one subcommand: list";
}

int run_usb(const Options &, CommandArgs &) { return list_devices(); }

constexpr Command<CommandArgs> kUsb = {
    "usb",
    "list the attached USB readers and reader attachments",
    "list",
    "Lists the USB readers and reader attachments attached, with their ids, and says how to get\n"
    "access to one this user may not open (the udev rule shipped in contrib/udev/).\n",
    nullptr,
    {},
    check_usb,
    run_usb,
};

}  // namespace

constinit const CommandEntry kUsbCommand = entry_for<kUsb>();

}  // namespace cli
