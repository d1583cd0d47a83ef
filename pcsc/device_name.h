// The reader's DEVICENAME in pcscd's reader.conf: the serial device's path,
// then options after a colon, separated by commas:
//   /dev/ttyUSB0:family=1,timeout=500
// family   the reader family, 1 or 2 (default 1)
// timeout  the reply time-out in milliseconds, 20..10000 (default: the
//          library's own)
// log      the library's log level, 0..3 (default: 0 unless the environment
//          names one in VANTEL_RFID_LOG_LEVEL)
//
// A USB reader is named by pcscd's hot-plug from the bundle's Info.plist:
//   usb:1a86/e010:libudev:0:/dev/bus/usb/001/002
//   usb:1a86/e010:libusb-1.0:1:2[:0]
// the vendor and product id in hexadecimal, then where the device is: its
// device node (whose path gives bus and address) with the interface
// number, or bus and address with an optional interface. A bare
// usb:VVVV/PPPP names the first attached device with those ids.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vrpcsc {

// A USB device by its ids, and by its bus and address when known (0: any).
struct UsbDeviceName {
    uint16_t vendor_id = 0;
    uint16_t product_id = 0;
    int bus = 0;
    int address = 0;
};

struct DeviceOptions {
    std::string path;                  // a serial reader's device
    std::optional<UsbDeviceName> usb;  // or a USB attachment
    int family = 1;
    int timeout_ms = 0;  // 0: the library's default
    int log_level = -1;  // -1: not given
};

// The options, or nothing for an empty path, an unknown option or a value
// out of range, or a USB name that does not have the shape above.
std::optional<DeviceOptions> parse_device_name(std::string_view text);

}  // namespace vrpcsc
