// The reader's DEVICENAME in pcscd's reader.conf: the serial device's path,
// then options after a colon, separated by commas:
//   /dev/ttyUSB0:family=1,timeout=500
// family   the reader family, 1 or 2 (default 1)
// timeout  the reply time-out in milliseconds, 20..10000 (default: the
//          library's own)
// log      the library's log level, 0..3 (default: 0 unless the environment
//          names one in VANTEL_RFID_LOG_LEVEL)
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vrpcsc {

struct DeviceOptions {
    std::string path;
    int family = 1;
    int timeout_ms = 0;  // 0: the library's default
    int log_level = -1;  // -1: not given
};

// The options, or nothing for an empty path, an unknown option or a value
// out of range.
std::optional<DeviceOptions> parse_device_name(std::string_view text);

}  // namespace vrpcsc
