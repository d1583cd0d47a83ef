// Connecting the reader: the port opened over the named link, with what the
// layers above the port add to an open (the second family registered for
// its own adapter, encryption off, the start-up settings some links need),
// and the card framework's connect calls that mark the connection live.
#include <strings.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "core/errors.h"
#include "link/link.h"
#include "log.h"
#include "pcd.h"
#include "picc.h"
#include "port/port.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

bool has_prefix(const char *name, const char *prefix) {
    return strncasecmp(name, prefix, std::strlen(prefix)) == 0;
}

// Sends the three link settings an adapter with a packet-size limit needs;
// false (after logging which one failed) at the first refusal.
bool configure_adapter() {
    if (pcd_set_package_max_size(31) != 0) {
        log_print(1, "%s: fail to configure uart package size\n", "virt_com_open");
        return false;
    }
    if (pcd_set_uart_mode(0) != 0) {
        log_print(1, "%s: fail to configure uart mode\n", "virt_com_open");
        return false;
    }
    if (pcd_set_uart_intern_delay(3) < 0) {
        log_print(1, "%s: fail to configure uart internal dely\n", "virt_com_open");
        return false;
    }
    return true;
}

// The start-up settings after the device opened: an adapter with a packet
// limit must take its three (else the open fails), a serial line is asked
// for its mode and may refuse.
int send_startup_settings() {
    if (vr::port::device_name_contains("ch340g") || vr::port::device_name_contains("ch9326")) {
        if (!configure_adapter()) {
            virt_com_close();
            return vr::fail(vr::kEOpen);
        }
    }
    if (vr::port::device_name_contains("COM") || vr::port::device_name_contains("/dev/tty")) {
        if (pcd_set_uart_mode(1) != 0) log_print(1, "%s: fail to configure uart mode\n", "virt_com_open");
    }
    return 0;
}

const char *next_text(va_list *extra) { return extra ? va_arg(*extra, const char *) : nullptr; }

// The audio link needs the modem's handshake, which this build lacks.
int connect_sound() {
    log_print(1, "com: %d, %d", 0, 0);
    return vr::fail(vr::kEOpen);
}

int finish_connect(int rc) {
    if (rc != 0) return vr::fail(vr::kEOpen);
    vr::port::mark_connection();
    errno = 0;
    return 0;
}

}  // namespace

VR_API int virt_com_open(const char *type, int mode, ...) {
    const int state = virt_com_status();
    if (state == VIRT_COM_OPEN || state == VIRT_COM_CHECK) return 0;
    if (!type) return vr::fail(vr::kEOpen);
    if (std::strstr(type, "pdiusbd12")) picc_regapi(VR_FAMILY_SECOND);
    vr::link::encryption_off();

    va_list list;
    va_start(list, mode);
    const int rc = vr::port::open_device(type, mode, list);
    va_end(list);
    if (rc != 0) return rc;
    return send_startup_settings();
}

VR_API int picc_connect(const char *com, int dev, int mode, va_list *extra) {
    if (!com) return vr::kEArg;
    tessil.connect_mode = static_cast<uint8_t>(mode);
    if (virt_com_status() == VIRT_COM_OPEN) return finish_connect(0);
    int rc;
    if (has_prefix(com, "uart")) {
        rc = virt_com_open(com, dev, nullptr, next_text(extra));
    } else if (has_prefix(com, "usb") || has_prefix(com, "ch9326") || has_prefix(com, "pdiusbd12")) {
        const char *first = next_text(extra);
        rc = virt_com_open(com, dev, first, first, extra);
    } else if (has_prefix(com, "sound")) {
        return connect_sound();
    } else {
        rc = virt_com_open(com, dev);
    }
    return finish_connect(rc);
}

VR_API int picc_ultra_connect(const char *com, int dev, int mode, va_list *extra) {
    if (!com) return vr::kEArg;
    tessil.connect_mode = static_cast<uint8_t>(mode);
    if (virt_com_status() == VIRT_COM_OPEN) return finish_connect(0);
    int rc;
    if (has_prefix(com, "uart") || has_prefix(com, "usb")) {
        const char *first = next_text(extra);
        rc = virt_com_open(com, dev, first, first);
    } else if (has_prefix(com, "sound")) {
        return connect_sound();
    } else {
        rc = virt_com_open(com, dev);
    }
    return finish_connect(rc);
}

