// The virtual port: chooses the link driver by the communication type name,
// owns the port's texts, state and settings, and opens and closes the
// device. Reader traffic (the port check's ping, the start-up settings) is
// the business of the layers above.
#include "virt_com.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "core/lock.h"
#include "log.h"
#include "port/link_drivers.h"
#include "port/port.h"
#include "suart.h"
#include "tessil.h"

namespace {

constexpr int kDefaultTimeoutMs = 3000;
constexpr char kConnectMark[] = "vantel-rfid link connected and ready";
static_assert(sizeof kConnectMark == VR_CONNECT_MARK_SIZE, "the marker is 36 characters");

// What a link's keep-alive sends (set_keep_alive_action).
std::atomic<vr::port::KeepAliveAction> g_keep_alive_action{nullptr};

// The driver of the open port's communication type, or null.
const vr::port::LinkDriver *port_driver() { return vr::port::find_link_driver(tessil.s_com.com_type); }

void free_port_texts() {
    s_com_t &com = tessil.s_com;
    std::free(com.com_type);
    std::free(com.version);
    com.com_type = nullptr;
    com.version = nullptr;
}

}  // namespace

namespace vr::port {

int open_device(const char *type, int mode, va_list list) {
    s_com_t &com = tessil.s_com;
    if (!com.com_type) com.com_type = strdup(type);
    if (!com.version) com.version = strdup("1.0.0");
    virt_com_setstat(VIRT_COM_CLOSED);

    if (virt_com_init(type, mode, list) != 0 || !com.ops.open) {
        free_port_texts();
        return vr::fail(vr::kEOpen);
    }
    if (com.ops.open() != 0) {
        log_print(1, "%s: fail to open com\n", "virt_com_open");
        free_port_texts();
        return vr::fail(vr::kEOpen);
    }
    virt_com_setstat(VIRT_COM_OPEN);
    return 0;
}

void forget() {
    tessil.s_com.fd = 0;
    // The port's texts are released here too: nothing else refers to them
    // once the port state is reset, and zeroing alone would lose them.
    free_port_texts();
    virt_com_setstat(VIRT_COM_CLOSED);
}

void close_device_if_open() {
    if (virt_com_status() == VIRT_COM_OPEN && tessil.s_com.ops.close) tessil.s_com.ops.close();
}

bool connection_marked() {
    return std::memcmp(tessil.connect_mark, kConnectMark, sizeof kConnectMark) == 0;
}

void mark_connection() { std::memcpy(tessil.connect_mark, kConnectMark, sizeof kConnectMark); }

void clear_connection_mark() { std::memset(tessil.connect_mark, 0, sizeof tessil.connect_mark); }

int device_read(uint8_t *buffer, int length) {
    const vr_dev_ops &ops = tessil.s_com.ops;
    return ops.read ? ops.read(buffer, length) : vr::fail(vr::kENoCmd);
}

int device_write(const uint8_t *buffer, int length) {
    const vr_dev_ops &ops = tessil.s_com.ops;
    return ops.write ? ops.write(buffer, length) : vr::fail(vr::kENoCmd);
}

int device_flush(int kind) {
    const vr_dev_ops &ops = tessil.s_com.ops;
    return ops.flush ? ops.flush(kind) : vr::fail(vr::kENoCmd);
}

int device_drain() {
    const vr_dev_ops &ops = tessil.s_com.ops;
    return ops.drain ? ops.drain() : vr::fail(vr::kENoCmd);
}

int device_ioctl(int command, void *argument) {
    const vr_dev_ops &ops = tessil.s_com.ops;
    return ops.ioctl ? ops.ioctl(command, argument) : vr::fail(vr::kENoCmd);
}

int usb_vendor_id() {
    const LinkDriver *driver = port_driver();
    return driver && driver->usb ? tessil.s_com.attrib.usb.vendor_id : vr::kENoCmd;
}

int usb_product_id() {
    const LinkDriver *driver = port_driver();
    return driver && driver->usb ? tessil.s_com.attrib.usb.product_id : vr::kENoCmd;
}

bool playback_missing() {
    const LinkDriver *driver = port_driver();
    return driver && driver->link == Link::sound && suart_get_trackstat() == 0;
}

void set_keep_alive_action(KeepAliveAction action) { g_keep_alive_action = action; }

KeepAliveResult run_keep_alive_action() {
    const KeepAliveAction action = g_keep_alive_action;
    return action ? action() : KeepAliveResult::busy;
}

int timeout_ms() { return tessil.s_com.timeout; }

void set_timeout_ms(int ms) { tessil.s_com.timeout = ms; }

bool device_name_contains(const char *part) {
    const char *name = tessil.s_com.dev_name;
    return name && std::strstr(name, part);
}

void install_device(const char *name, const vr_dev_ops &ops) {
    s_com_t &com = tessil.s_com;
    std::free(com.dev_name);
    com.dev_name = name ? strdup(name) : nullptr;
    com.ops = ops;
}

}  // namespace vr::port

VR_API int virt_com_init(const char *type, int mode, va_list list) {
    s_com_t &com = tessil.s_com;
    if (virt_com_status() == VIRT_COM_OPEN) return 0;
    if (!type) return -1;
    com.timeout = kDefaultTimeoutMs;
    const vr::port::LinkDriver *driver = vr::port::find_link_driver(type);
    if (!driver) return -1;
    com.timeout = driver->timeout_ms;
    // A driver the registered family does not offer cannot be chosen: the
    // second family's table holds the PDIUSBD12 attachment only, and
    // reaches a serial line through the first family's driver.
    const com_init_fn init = driver->slot ? tessil.com_init_tab.*driver->slot : driver->init;
    if (!init) {
        log_print(1, "%s: no \"%s\" driver in the registered reader family (register the first family first)\n",
                  "virt_com_init", driver->name);
        return -1;
    }
    return init(mode, list);
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
    vr::port::clear_connection_mark();
    return 0;
}

VR_API int virt_com_status(void) {
    vr::MutexHold hold(&tessil.status_lock);
    return tessil.s_com.status;
}

VR_API int virt_com_setstat(int value) {
    vr::MutexHold hold(&tessil.status_lock);
    tessil.s_com.status = static_cast<int8_t>(value);
    return 0;
}

VR_API int virt_com_set_protocl(int protocol) {
    tessil.s_com.protocol = static_cast<int8_t>(protocol);
    return 0;
}

VR_API int virt_com_get_protocl(void) { return tessil.s_com.protocol; }
