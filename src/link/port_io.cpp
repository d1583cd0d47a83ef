// The port's byte operations as the library offers them: each first checks
// the port with virt_com_chkstat, whose check of a port in state 0x77 pings
// the reader through the framing. That check is why these live with the
// link rather than with the port they drive.
#include "core/errors.h"
#include "log.h"
#include "port/port.h"
#include "virt_com.h"

VR_API int virt_com_flush(int kind) {
    if (virt_com_chkstat() != 0) return -1;
    return vr::port::device_flush(kind);
}

VR_API int virt_com_drain(void) {
    if (virt_com_chkstat() != 0) return -1;
    return vr::port::device_drain();
}

VR_API int virt_com_ioctl(int command, void *argument) {
    if (virt_com_chkstat() != 0) return -1;
    return vr::port::device_ioctl(command, argument);
}

VR_API int virt_com_read(uint8_t *buffer, int length) {
    if (virt_com_chkstat() != 0) return -1;
    const int n = vr::port::device_read(buffer, length);
    if (n >= 1) {
        log_print(3, "%s:<--", "virt_com_read");
        format_display(buffer, length, 1);
    }
    return n;
}

VR_API int virt_com_write(const uint8_t *buffer, int length) {
    log_print(3, "%s:-->", "virt_com_write");
    format_display(buffer, length, 1);
    if (virt_com_chkstat() != 0) return -1;
    if (vr::port::playback_missing()) return vr::fail(vr::kEPlayback);
    return vr::port::device_write(buffer, length);
}
