// USB devices emulated with umockdev for the real libusb: a test bed whose
// sysfs holds the devices and whose ioctl handler plays usbfs for each
// device node (interface claims, the kernel driver of interface 0, control,
// bulk and interrupt URBs, a device pulled out), with a vrsim::UsbDevice
// behind each node answering the requests. The process must run under the
// umockdev preload (ctest sets LD_PRELOAD for the USB tests).
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "usb_device.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace vrtest {

class EmulatedUsb;

class UsbBed {
public:
    UsbBed();
    ~UsbBed();
    UsbBed(const UsbBed &) = delete;
    UsbBed &operator=(const UsbBed &) = delete;

    // False (with why()) when the process does not run under the preload or
    // the bed cannot be made.
    bool ok() const { return why_.empty(); }
    const std::string &why() const { return why_; }
    // The bed's root, for child processes (UMOCKDEV_DIR).
    std::string root() const;

    // Plugs in a device of that kind as bus 1 `address`, the simulated
    // reader behind its line at line_path (protocol `protocol`). Null (and
    // why()) when umockdev refuses it.
    EmulatedUsb *plug(vrsim::UsbKind kind, const std::string &line_path, int protocol, int address = 2,
                      unsigned line_baud = 115200);

private:
    UMockdevTestbed *bed_ = nullptr;
    std::string why_;
    std::vector<std::unique_ptr<EmulatedUsb>> devices_;
};

// One emulated device node.
class EmulatedUsb {
public:
    EmulatedUsb(UMockdevTestbed *bed, vrsim::UsbKind kind, const std::string &line_path, int protocol,
                int address, unsigned line_baud);
    ~EmulatedUsb();
    EmulatedUsb(const EmulatedUsb &) = delete;
    EmulatedUsb &operator=(const EmulatedUsb &) = delete;

    bool ok() const { return why_.empty(); }
    const std::string &why() const { return why_; }
    const std::string &node() const { return node_; }
    const std::string &syspath() const { return syspath_; }
    vrsim::UsbDevice &device() { return *device_; }

    // A descriptor of the node as a host application gets it (the caller
    // closes it), -1 on failure.
    int open_node() const;
    // Adds interface 0's own sysfs entry (a usb_interface under the
    // device, as the kernel makes one per interface), where hot-plug code
    // such as pcscd's starts. False (and why()) when umockdev refuses it.
    bool add_interface();
    // Pulls the device out as the kernel tells it: a "remove" event for
    // the interface entry (add_interface) goes to udev listeners first.
    void unplug_with_event();
    // Pulls the device out: it leaves sysfs, every later request fails with
    // ENODEV and requests under way end as the kernel ends them.
    void unplug();
    bool plugged() const;
    // Binds the system's driver to interface 0 (as the kernel does when a
    // device is plugged in): claims then fail until it is detached.
    void bind_kernel_driver();
    // The driver holding interface 0, "" when none.
    std::string kernel_driver() const;
    bool claimed() const;
    // The ioctl requests the node has seen, by number.
    size_t requests_seen() const;
    // Whether the node's emulation met a request it does not play (a
    // usbfs request the bed lacks shows up here, not as a silent ENOTTY).
    std::vector<unsigned long> unknown_requests() const;

    struct Shared;  // the state the ioctl handler shares with the test

private:
    std::string interface_syspath() const;

    std::string why_;
    std::string node_, syspath_;
    UMockdevTestbed *bed_;
    std::unique_ptr<vrsim::UsbDevice> device_;
    std::shared_ptr<Shared> shared_;
    void *handler_ = nullptr;
};

}  // namespace vrtest
