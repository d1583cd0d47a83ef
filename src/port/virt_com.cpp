// The virtual port: chooses the link driver by the communication type name,
// owns the port's texts and state, and sends the start-up settings some
// links need right after they open.
#include "virt_com.h"

#include <strings.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "card/registry.h"
#include "core/errors.h"
#include "log.h"
#include "pcd.h"
#include "picc.h"
#include "suart.h"
#include "tessil.h"

namespace {

constexpr int kDefaultTimeoutMs = 3000;
constexpr int kBluetoothTimeoutMs = 300;

bool has_prefix(const char *name, const char *prefix) {
    return strncasecmp(name, prefix, std::strlen(prefix)) == 0;
}

bool contains(const char *text, const char *part) { return text && std::strstr(text, part); }

void free_port_texts() {
    s_com_t &com = tessil.s_com;
    std::free(com.com_type);
    std::free(com.version);
    com.com_type = nullptr;
    com.version = nullptr;
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

// The "sound" link needs a ready playback stream before anything is sent;
// other links have no such stream and must not be refused for its lack.
bool playback_missing() {
    const char *type = tessil.s_com.com_type;
    return type && has_prefix(type, "sound") && suart_get_trackstat() == 0;
}

}  // namespace

VR_API int virt_com_init(const char *type, int mode, va_list list) {
    s_com_t &com = tessil.s_com;
    if (virt_com_status() == VIRT_COM_OPEN) return 0;
    if (!type) return -1;
    com.timeout = kDefaultTimeoutMs;

    com_init_fn init = nullptr;
    const com_init_table &t = tessil.com_init_tab;
    if (has_prefix(type, "uart")) {
        init = t.uart;
    } else if (has_prefix(type, "usb")) {
        init = t.usbhid;
    } else if (has_prefix(type, "ch340g")) {
        init = t.ch340g;
    } else if (has_prefix(type, "ch9326")) {
        init = t.ch9326;
    } else if (has_prefix(type, "pdiusbd12")) {
        init = t.pdiusbd12;
    } else if (has_prefix(type, "bluetooth")) {
        com.timeout = kBluetoothTimeoutMs;
        init = t.bluetooth;
    } else if (has_prefix(type, "sound")) {
        // The modem's configuration counts as the driver's init.
        suart_init(mode);
        return 0;
    } else {
        return -1;
    }
    // A driver the registered family does not offer cannot be chosen.
    if (!init) return -1;
    return init(mode, list);
}

VR_API int virt_com_open(const char *type, int mode, ...) {
    s_com_t &com = tessil.s_com;
    const int state = virt_com_status();
    if (state == VIRT_COM_OPEN || state == VIRT_COM_CHECK) return 0;
    if (!type) return vr::fail(vr::kEOpen);
    if (std::strstr(type, "pdiusbd12")) picc_regapi(VR_FAMILY_SECOND);
    if (!com.com_type) com.com_type = strdup(type);
    if (!com.version) com.version = strdup("1.0.0");
    virt_com_setstat(VIRT_COM_CLOSED);
    com.enc_on = 0;

    va_list list;
    va_start(list, mode);
    int rc = virt_com_init(type, mode, list);
    va_end(list);
    if (rc != 0 || !com.ops.open) {
        free_port_texts();
        return vr::fail(vr::kEOpen);
    }
    if (com.ops.open() != 0) {
        log_print(1, "%s: fail to open com\n", "virt_com_open");
        free_port_texts();
        return vr::fail(vr::kEOpen);
    }
    virt_com_setstat(VIRT_COM_OPEN);

    const char *dev = com.dev_name;
    if (!dev) return 0;
    if (contains(dev, "ch340g") || contains(dev, "ch9326")) {
        if (!configure_adapter()) {
            virt_com_close();
            return vr::fail(vr::kEOpen);
        }
    }
    if (contains(dev, "COM") || contains(dev, "/dev/tty")) {
        if (pcd_set_uart_mode(1) != 0) log_print(1, "%s: fail to configure uart mode\n", "virt_com_open");
    }
    return 0;
}

VR_API int virt_com_close(void) {
    s_com_t &com = tessil.s_com;
    if (virt_com_status() == VIRT_COM_CLOSED) return 0;
    if (com.ops.close) {
        int rc = com.ops.close();
        if (rc != 0) return rc;
    }
    virt_com_setstat(VIRT_COM_CLOSED);
    free_port_texts();
    vr::clear_connection_mark();
    return 0;
}

VR_API int virt_com_flush(int kind) {
    if (virt_com_chkstat() != 0) return -1;
    if (!tessil.s_com.ops.flush) return vr::fail(vr::kENoCmd);
    return tessil.s_com.ops.flush(kind);
}

VR_API int virt_com_drain(void) {
    if (virt_com_chkstat() != 0) return -1;
    if (!tessil.s_com.ops.drain) return vr::fail(vr::kENoCmd);
    return tessil.s_com.ops.drain();
}

VR_API int virt_com_ioctl(int command, void *argument) {
    if (virt_com_chkstat() != 0) return -1;
    if (!tessil.s_com.ops.ioctl) return vr::fail(vr::kENoCmd);
    return tessil.s_com.ops.ioctl(command, argument);
}

VR_API int virt_com_read(uint8_t *buffer, int length) {
    if (virt_com_chkstat() != 0) return -1;
    if (!tessil.s_com.ops.read) return vr::fail(vr::kENoCmd);
    int n = tessil.s_com.ops.read(buffer, length);
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
    if (playback_missing()) return vr::fail(vr::kEPlayback);
    if (!tessil.s_com.ops.write) return vr::fail(vr::kENoCmd);
    return tessil.s_com.ops.write(buffer, length);
}
