// Thin platform layer: what differs between Android and plain Linux.
#pragma once

#include <functional>
#include <string_view>

namespace vr::platform {

// Writes one finished log line (prefix included) of the level with the tag
// "JNI_LIBLOG": Android's log at priority "info"; on Linux one line on
// standard error, or to syslog at the level's priority when
// VANTEL_RFID_LOG=syslog. Returns the platform call's result.
int log_write(int level, std::string_view line);

// Test hook: when set, every log line goes to the sink (as well as to the
// platform log when also_platform is true). Not part of the exported API.
using LogSink = std::function<void(std::string_view line)>;
void set_log_sink(LogSink sink, bool also_platform = false);

// Whether a process may walk the system's USB devices itself. Android
// keeps the walk from applications: they are granted single devices, whose
// descriptors the host application hands in.
bool usb_device_walk_allowed();

}  // namespace vr::platform
