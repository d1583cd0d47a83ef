// Connecting the reader: the port opened over the named link, with what the
// layers above the port add to an open (the second family registered for
// its own adapter, encryption off, the start-up settings some links need),
// and the card framework's connect calls that mark the connection live.
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "audio.h"
#include "core/errors.h"
#include "core/lock.h"
#include "link/link.h"
#include "log.h"
#include "modem/modem.h"
#include "pcd.h"
#include "picc.h"
#include "port/link_drivers.h"
#include "port/port.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

using vr::port::Link;
using vr::port::LinkDriver;

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
int next_int(va_list *extra) { return extra ? va_arg(*extra, int) : 0; }
// The USB links take the descriptor (an int) of a device the host opened,
// -1 for none: the driver then looks the device up by its ids.
int next_descriptor(va_list *extra) { return extra ? va_arg(*extra, int) : -1; }

// The keep-alive of a USB link asks the reader for its machine id. A card
// call or an exchange under way is traffic of its own: the keep-alive then
// waits for the next silence rather than for the link.
vr::port::KeepAliveResult keep_alive_exchange() {
    if (pthread_mutex_trylock(&tessil.api_lock) != 0) return vr::port::KeepAliveResult::busy;
    vr::MutexHold api(&tessil.api_lock, vr::MutexHold::kAdopt);
    vr::link::ExchangeTry exchange;
    if (!exchange.held()) return vr::port::KeepAliveResult::busy;
    unsigned char machine_id = 0;
    return pcd_get_mid(&machine_id) == 0 ? vr::port::KeepAliveResult::sent : vr::port::KeepAliveResult::failed;
}

int finish_connect(int rc) {
    if (rc != 0) return vr::fail(vr::kEOpen);
    vr::port::mark_connection();
    errno = 0;
    return 0;
}

// ---- the audio link: the carrier handshake opens it

// The handshake with the simple uplink algorithm, and once more with the
// biquad and pattern decoder when it fails.
int handshake_with_fallback(int mode) {
    vr::modem::set_uplink_alg(2);
    int rc = signal_try_communicate(mode);
    if (virt_com_status() != VIRT_COM_OPEN) return -1;
    if (rc != 0) {
        vr::modem::set_uplink_alg(0);
        rc = signal_try_communicate(mode);
        if (rc != 0) return -1;
    }
    log_print(2, "com: %d, %d", vr::modem::uplink_alg(), vr::modem::up_short_width());
    return 0;
}

bool valid_alg(int alg) { return alg >= 0 && alg <= 2; }

int connect_sound() { return finish_connect(handshake_with_fallback(0)); }

// picc_ultra_connect's "sound": the extra arguments are the connect type,
// the uplink algorithm and the carrier.
int ultra_connect_sound(va_list *extra) {
    const int type = next_int(extra);
    const int alg = next_int(extra);
    const int freq = next_int(extra);
    log_print(2, "connect_type, alg_type, freq: %x, %x, %x", type, alg, freq);
    switch (type) {
    case 0:
    case -1: return finish_connect(handshake_with_fallback(0));
    case 1: return finish_connect(handshake_with_fallback(6));
    // Types 2 and 3 open the port before they set the algorithm: opening
    // sets the modem's defaults, which would undo the caller's choice.
    // Type 2 then tries the carrier, type 3 changes to it.
    case 2:
    case 3: {
        if (!valid_alg(alg)) return vr::fail(vr::kEArg);
        if (virt_com_open("sound", 0) != 0) return finish_connect(-1);
        vr::modem::set_uplink_alg(alg);
        if (type == 3) return finish_connect(signal_change_frequence(freq));
        return finish_connect(signal_try_communicate(freq) < 0 ? -1 : 0);
    }
    // Any other type would leave the port closed while the connection
    // counted as made: refuse it.
    default: return vr::fail(vr::kEArg);
    }
}

// Every USB link hands its driver the descriptor, then the rest of the
// arguments.
int open_usb(const char *com, int dev, va_list *extra) {
    const int fd = next_descriptor(extra);
    return finish_connect(virt_com_open(com, dev, fd, fd, extra));
}

// What both connect calls share: the mode is recorded, an open port counts
// as connected, and a name no driver serves goes to the port as it is
// (which refuses it); otherwise open_link opens the named link as its
// driver takes its arguments.
template <typename OpenLink>
int connect(const char *com, int dev, int mode, OpenLink open_link) {
    if (!com) return vr::kEArg;
    tessil.connect_mode = static_cast<uint8_t>(mode);
    if (virt_com_status() == VIRT_COM_OPEN) return finish_connect(0);
    const LinkDriver *driver = vr::port::find_link_driver(com);
    if (!driver) return finish_connect(virt_com_open(com, dev));
    return open_link(driver->link);
}

}  // namespace

VR_API int virt_com_open(const char *type, int mode, ...) {
    const int state = virt_com_status();
    if (state == VIRT_COM_OPEN || state == VIRT_COM_CHECK) return 0;
    if (!type) return vr::fail(vr::kEOpen);
    if (vr::port::names_second_family_adapter(type)) picc_regapi(VR_FAMILY_SECOND);
    vr::link::encryption_off();
    vr::port::set_keep_alive_action(keep_alive_exchange);

    va_list list;
    va_start(list, mode);
    const int rc = vr::port::open_device(type, mode, list);
    va_end(list);
    if (rc != 0) return rc;
    return send_startup_settings();
}

VR_API int picc_connect(const char *com, int dev, int mode, va_list *extra) {
    return connect(com, dev, mode, [&](Link link) {
        switch (link) {
        case Link::uart: return finish_connect(virt_com_open(com, dev, nullptr, next_text(extra)));
        case Link::usbhid:
        case Link::ch340g:
        case Link::ch9326:
        case Link::pdiusbd12: return open_usb(com, dev, extra);
        case Link::sound: return connect_sound();
        default: return finish_connect(virt_com_open(com, dev));
        }
    });
}

VR_API int picc_ultra_connect(const char *com, int dev, int mode, va_list *extra) {
    return connect(com, dev, mode, [&](Link link) {
        switch (link) {
        case Link::uart: {
            const char *first = next_text(extra);
            return finish_connect(virt_com_open(com, dev, first, first));
        }
        case Link::usbhid:
        case Link::ch340g:
        case Link::ch9326:
        case Link::pdiusbd12: return open_usb(com, dev, extra);
        case Link::sound: return ultra_connect_sound(extra);
        default: return finish_connect(virt_com_open(com, dev));
        }
    });
}
