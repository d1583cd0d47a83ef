// Reading the headset jack: from the platform's answer, or from the
// kernel's switch-class files where the host gives none.
#pragma once

namespace vr::modem {

// The kernel's switch files, in the order they are read.
inline constexpr const char *kSwitchFiles[] = {
    "/sys/class/switch/h2w/state",
    "/sys/class/switch/usb_audio/state",
    "/sys/class/switch/hdmi/state",
};

// A presence answer (1 present, 0 absent, else unknown) as a jack reading:
// '2', '0' or -1.
int jack_from_presence(int present);

// Reads the first byte of each file in order (a missing file is skipped)
// and stops at the first that reads '1' or '2'. The last byte read
// decides: '1' (a headset) gives '2', '2' (headphones without microphone)
// gives '1', '0' gives '0'; anything else, or no file, gives -1.
int jack_from_switch_files(const char *const *paths, int count);

}  // namespace vr::modem
