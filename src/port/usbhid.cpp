// USB link driver: one core for the four USB attachments of the reader
// (usb_attachments.h). Frames leave as fixed-size reports through the
// attachment's out path and come back as reports through its in path
// (usb_reports.h); a receive ring turns the reports into the byte stream
// the framing reads, a send ring holds reports not yet sent. libusb adopts
// a descriptor the host application hands in, or finds the device by its
// ids where the platform lets a process walk the USB devices. A timer
// thread keeps the reader awake after a silence (usb_keep_alive.h).
//
// The driver installs no signal handler: the device is given back when the
// port closes, and at process exit if the port is still open then.
#include "usbhid.h"

#include <libusb.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>

#include "core/errors.h"
#include "core/platform.h"
#include "log.h"
#include "port/port.h"
#include "port/usb_attachments.h"
#include "port/usb_keep_alive.h"
#include "port/usb_reports.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

// The driver's operation table, at the end of this file.
extern const vr_dev_ops kUsbOps;

using vr::port::usb::Attachment;
using vr::port::usb::Kind;

constexpr int kInterface = 0;
constexpr int kConfiguration = 1;
constexpr int kRingSize = 4096;
constexpr int kMaxRead = 4096;
constexpr int kStringSize = 256;  // 255 characters and the terminator
constexpr auto kKeepAlivePeriod = std::chrono::seconds(3);
constexpr int kKeepAliveGiveUp = 40;

// Transfers of the attachments' report paths.
constexpr uint8_t kHidSetReport = 0x21, kHidGetReport = 0xA1;
constexpr uint8_t kSetReport = 9, kGetReport = 1;
constexpr uint16_t kHidReportValue = 0x0200, kPdiusbd12ReportValue = 0x0300;
constexpr unsigned char kInterruptIn = 0x81, kBulkOut = 0x02, kBulkIn = 0x82;
constexpr unsigned kHidWriteMs = 5000, kPdiusbd12Ms = 3000, kShortMs = 100;
constexpr uint8_t kCh9326Length = 0x1F;  // the length byte of a full CH9326 packet
constexpr int kCh9326Packet = 32;
// Room for the reports of a longest message (9 of 31 bytes at most).
constexpr int kMaxReportBytes = 16 * vr::port::usb::kMaxReport;

// The attachment the last init named, the reassembly state of its reports
// and the keep-alive of the open device. The driver serves one port.
const Attachment *g_attachment = &vr::port::usb::kAttachments[0];
vr::port::usb::Assembler g_assembler{vr::port::usb::Layout::protocol3, 48};
std::unique_ptr<vr::port::usb::KeepAlive> g_keep_alive;
std::mutex g_keep_alive_lock;  // guards g_keep_alive itself

usb_attrib &attrib() { return tessil.s_com.attrib.usb; }
libusb_device_handle *handle() { return static_cast<libusb_device_handle *>(attrib().handle); }
libusb_device *device() { return static_cast<libusb_device *>(attrib().device); }
libusb_context *context() { return static_cast<libusb_context *>(attrib().context); }
int out_size() { return attrib().max_packet_size[0]; }
int in_size() { return attrib().max_packet_size[1]; }

// ------------------------------------------------------------ keep-alive

void keep_alive_cancel() {
    std::lock_guard hold(g_keep_alive_lock);
    if (g_keep_alive) g_keep_alive->cancel();
}

void keep_alive_arm() {
    std::lock_guard hold(g_keep_alive_lock);
    if (g_keep_alive) g_keep_alive->arm();
}

void keep_alive_start() {
    auto timer = std::make_unique<vr::port::usb::KeepAlive>(kKeepAlivePeriod, kKeepAliveGiveUp,
                                                            vr::port::run_keep_alive_action);
    timer->arm();
    std::lock_guard hold(g_keep_alive_lock);
    g_keep_alive = std::move(timer);
}

void keep_alive_stop() {
    std::unique_ptr<vr::port::usb::KeepAlive> timer;
    {
        std::lock_guard hold(g_keep_alive_lock);
        timer = std::move(g_keep_alive);
    }
    // Outside the lock: the timer's thread may be in a mover that arms it.
    if (timer) timer->stop();
}

// ------------------------------------------------------------ giving back

void free_strings() {
    usb_attrib &u = attrib();
    for (char **text : {&u.manufacturer, &u.product, &u.serial}) {
        std::free(*text);
        *text = nullptr;
    }
}

// Everything the open took, in reverse: the rings, interface 0 (to its
// kernel driver again when the open took it from one), the handle, the
// device reference and the context. Safe on a partly opened device.
void give_back_device() {
    keep_alive_stop();
    usb_attrib &u = attrib();
    free_strings();
    if (u.rx.buffer) ringbuf_destroy(&u.rx);
    if (u.tx.buffer) ringbuf_destroy(&u.tx);
    if (libusb_device_handle *h = handle()) {
        libusb_release_interface(h, kInterface);
        if (u.kernel_driver_detached) libusb_attach_kernel_driver(h, kInterface);
        libusb_close(h);
    }
    if (libusb_device *d = device()) libusb_unref_device(d);
    if (libusb_context *c = context()) libusb_exit(c);
    u.handle = u.device = u.context = nullptr;
    u.kernel_driver_detached = 0;
}

void give_back_at_exit() {
    if (attrib().handle || attrib().device) give_back_device();
}

// At most once per process, at the first open.
void give_back_at_exit_registered() {
    static std::once_flag once;
    std::call_once(once, [] { std::atexit(give_back_at_exit); });
}

// The device went away: every later operation of the port fails with -80
// at once instead of waiting out its time-outs.
void note_transfer_error(int rc) {
    if (rc == LIBUSB_ERROR_NO_DEVICE) virt_com_setstat(VIRT_COM_REMOVED);
}

// ------------------------------------------------------------ opening

int open_failed(const char *what, int rc, int code) {
    log_print(1, "%s", what);
    log_print(1, "usbhid handler: ERR: %s\n", libusb_error_name(rc));
    return vr::fail(code);
}

int find_by_ids() {
    usb_attrib &u = attrib();
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(context(), &list);
    if (count < 0) {
        log_print(1, "usbhid handler: fail to find devices\n");
        return vr::fail(vr::kEOpen);
    }
    for (ssize_t i = 0; i < count && !u.device; ++i) {
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(list[i], &d) != 0) {
            log_print(1, "usbhid handler: ERR: fail to get device descriptor\n");
            continue;
        }
        if (d.idVendor == u.vendor_id && d.idProduct == u.product_id) u.device = libusb_ref_device(list[i]);
    }
    libusb_free_device_list(list, 1);
    if (!u.device) {
        log_print(1, "usbhid handler: ERR: fail to get device\n");
        return vr::fail(vr::kEOpen);
    }
    libusb_device_handle *h = nullptr;
    const int rc = libusb_open(device(), &h);
    if (rc != 0) {
        log_print(1, "usbhid handler: ERROR: we cannot find device\n");
        log_print(1, "usbhid handler: ERROR: %s\n", libusb_error_name(rc));
        if (rc == LIBUSB_ERROR_ACCESS)
            log_print(1, "usbhid handler: no permission for the device on bus %d address %d\n",
                      libusb_get_bus_number(device()), libusb_get_device_address(device()));
        return vr::fail(vr::kEReaderIc);
    }
    u.handle = h;
    return 0;
}

// The host application opened the device and granted it: libusb adopts
// the descriptor, which stays the host's.
int adopt_descriptor() {
    usb_attrib &u = attrib();
    libusb_device_handle *h = nullptr;
    const int rc = libusb_wrap_sys_device(context(), u.fd, &h);
    if (rc != 0) {
        log_print(1, "usbhid handler: ERROR: we cannot find device\n");
        log_print(1, "usbhid handler: ERROR: %s\n", libusb_error_name(rc));
        return vr::fail(vr::kEReaderIc);
    }
    u.handle = h;
    u.device = libusb_ref_device(libusb_get_device(h));
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(device(), &d) != 0 || d.idVendor != u.vendor_id ||
        d.idProduct != u.product_id) {
        log_print(1, "usbhid handler: ERR: fail to get device\n");
        log_print(1, "usbhid handler: descriptor %d is a %04x:%04x device, not %04x:%04x\n", u.fd, d.idVendor,
                  d.idProduct, u.vendor_id, u.product_id);
        return vr::fail(vr::kEOpen);
    }
    return 0;
}

// Interface 0, taken from a kernel driver that holds it, in configuration 1.
int claim_interface() {
    libusb_device_handle *h = handle();
    if (libusb_kernel_driver_active(h, kInterface) == 1) {
        log_print(2, "usbhid handler: os driver have calim the interface\n");
        log_print(2, "usbhid handler: we detach device driver from kernel\n");
        const int rc = libusb_detach_kernel_driver(h, kInterface);
        if (rc == 0) attrib().kernel_driver_detached = 1;
        if (rc != 0 && rc != LIBUSB_ERROR_NOT_SUPPORTED) {
            log_print(1, "usbhid handler: fail to detach kernel driver\n");
            log_print(1, "usbhid hanlder: ERR: %s\n", libusb_error_name(rc));
            return vr::fail(vr::kEOpen);
        }
    }
    int rc = libusb_set_configuration(h, kConfiguration);
    if (rc != 0) return open_failed("usbhid handler: fail to set configuration\n", rc, vr::kEOpen);
    rc = libusb_claim_interface(h, kInterface);
    if (rc != 0) return open_failed("usbhid handler: fail to claim interface\n", rc, vr::kEOpen);
    return 0;
}

// The device string at index, or null when the device has none.
char *device_string(uint8_t index) {
    if (index == 0) return nullptr;
    unsigned char text[kStringSize] = {};
    const int n = libusb_get_string_descriptor_ascii(handle(), index, text, kStringSize - 1);
    if (n < 0) return nullptr;
    return strdup(reinterpret_cast<const char *>(text));
}

void describe_device() {
    usb_attrib &u = attrib();
    u.bus = libusb_get_bus_number(device());
    u.address = libusb_get_device_address(device());
    u.max_packet_size[0] = u.max_packet_size[1] = static_cast<uint8_t>(g_attachment->report_size);
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(device(), &d) == 0) {
        u.manufacturer = device_string(d.iManufacturer);
        u.product = device_string(d.iProduct);
        u.serial = device_string(d.iSerialNumber);
    }
    log_print(2, "usbhid handler: we have found one device on bus %d address %d\n", u.bus, u.address);
    log_print(2, "usbhid handler: Vendor_ID: %04x        Product_ID: %04x\n", u.vendor_id, u.product_id);
    log_print(2, "usbhid handler: Manufacture: %s\n", u.manufacturer ? u.manufacturer : "unkonwn manufacture");
    log_print(2, "usbhid handler: Product: %s\n", u.product ? u.product : "unkonwn product");
    log_print(2, "usbhid handler: Serial_Number: %s\n", u.serial ? u.serial : "unkonwn serial number");
}

int create_rings() {
    usb_attrib &u = attrib();
    if (ringbuf_create(&u.rx, kRingSize) != 0 || ringbuf_create(&u.tx, kRingSize) != 0)
        return vr::fail(vr::kENoMem);
    return 0;
}

// The adapters run their serial line at the reader's 115200 baud.
int configure_adapter() {
    int rc = 0;
    if (g_attachment->kind == Kind::ch340g) rc = ch340g_config(115200);
    if (g_attachment->kind == Kind::ch9326) rc = ch9326_config(115200);
    if (rc == 0) return 0;
    log_print(1, "%s: fail to configure ch340g usb adapter", "usbhid_open_linux");
    return vr::fail(vr::kEOpen);
}

int open_steps() {
    usb_attrib &u = attrib();
    const bool adopting = u.fd >= 0;
    // Without the walk (Android), libusb must not look for devices at all;
    // the option holds for every later context of the process, which on
    // such a platform cannot walk either.
    if (adopting && !vr::platform::usb_device_walk_allowed())
        libusb_set_option(nullptr, LIBUSB_OPTION_NO_DEVICE_DISCOVERY);
    libusb_context *ctx = nullptr;
    const int rc = libusb_init(&ctx);
    if (rc != 0) {
        log_print(1, "usbhid handler: fail to libusb_init, ERR:%s\n", libusb_error_name(rc));
        return vr::fail(vr::kEOpen);
    }
    u.context = ctx;
    give_back_at_exit_registered();
    libusb_set_option(ctx, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_ERROR);
    if ((adopting ? adopt_descriptor() : find_by_ids()) != 0) return -1;
    if (claim_interface() != 0) return -1;
    describe_device();
    if (create_rings() != 0) return -1;
    g_assembler = vr::port::usb::Assembler(g_attachment->layout, g_attachment->report_size);
    return configure_adapter();
}

// ------------------------------------------------------------ reports

// A report that came in (`valid` bytes of it) goes to the ring as the
// frame bytes it carries.
int store_report(ringbuf *ring, const uint8_t *report, int valid) {
    uint8_t bytes[vr::port::usb::kMaxReport];
    const int count = g_assembler.take(report, valid, bytes);
    if (count < 0) {
        log_print(1, "usbhid handler: report refused (%d bytes)\n", valid);
        format_display(report, valid, 1);
        return vr::fail(vr::kERecv);
    }
    if (count > 0 && ringbuf_insert(ring, bytes, static_cast<uint32_t>(count)) != count)
        return vr::fail(vr::kERecv);
    return count;
}

// The result of an in transfer that moved `got` bytes: nothing within the
// time-out is a failed read, as on a serial line; a failed transfer is
// logged (and the device marked removed when it has gone).
int finish_read(ringbuf *ring, int rc, const uint8_t *report, int got) {
    if (rc != 0 && rc != LIBUSB_ERROR_TIMEOUT) {
        log_print(1, "usbhid_device_read_linux: error: %s\n", libusb_error_name(rc));
        note_transfer_error(rc);
        return vr::fail(vr::kERecv);
    }
    if (got <= 0) return vr::fail(vr::kERecv);
    return store_report(ring, report, got);
}

// What every in transfer checks first: the device is open, the ring has
// room for one report.
int ready_to_read(ringbuf *ring) {
    if (!handle()) return vr::fail(vr::kEOpen);
    if (!ring || ringbuf_free(ring) < in_size()) return vr::fail(vr::kERecv);
    return 0;
}

// The next report to send, taken from the ring into the out buffer.
int next_report(ringbuf *ring) {
    if (!handle()) return vr::fail(vr::kEOpen);
    const int size = out_size();
    if (!ring || ringbuf_delete(ring, attrib().out_report, static_cast<uint32_t>(size)) != size) {
        log_print(1, "%s rc:%x tessil.s_com.attrib.usb.max_packet_size:%x", "usbhid_device_write_linux",
                  ring ? ringbuf_len(ring) : 0, size);
        return vr::fail(vr::kERecv);
    }
    return 0;
}

// An out transfer that should have moved `want` bytes.
int finish_write(int rc, int sent, int want) {
    if (rc == 0 && sent == want) return out_size();
    log_print(1, "usbhid handler: ERROR: %s\n", libusb_error_name(rc == 0 ? LIBUSB_ERROR_IO : rc));
    note_transfer_error(rc);
    return vr::fail(vr::kESend);
}

int control_write(uint16_t value, unsigned timeout_ms, const uint8_t *data, int size) {
    const int rc = libusb_control_transfer(handle(), kHidSetReport, kSetReport, value, 0,
                                           const_cast<uint8_t *>(data), static_cast<uint16_t>(size), timeout_ms);
    return finish_write(rc < 0 ? rc : 0, rc, size);
}

int bulk_write(const uint8_t *data, int size) {
    int sent = 0;
    const int rc = libusb_bulk_transfer(handle(), kBulkOut, const_cast<uint8_t *>(data), size, &sent, kShortMs);
    return finish_write(rc, sent, size);
}

int bulk_read(ringbuf *ring) {
    uint8_t *report = attrib().in_report;
    int got = 0;
    const int rc = libusb_bulk_transfer(handle(), kBulkIn, report, in_size(), &got, kShortMs);
    return finish_read(ring, rc, report, got);
}

// ------------------------------------------------------------ port side

// Report movers of each attachment, in the order of Kind.
struct Movers {
    int (*read)(ringbuf *ring);
    int (*write)(ringbuf *ring);
};
constexpr Movers kMovers[] = {
    {usbhid_device_read_linux, usbhid_device_write_linux},
    {ch340g_read_linux, ch340g_write_linux},
    {ch9326_read_linux, ch9326_write_linux},
    {pdiusbd12_read_linux, pdiusbd12_write_linux},
};
static_assert(std::size(kMovers) == std::size(vr::port::usb::kAttachments), "a row of movers for each kind");

const Movers &movers() { return kMovers[static_cast<int>(g_attachment->kind)]; }
int read_report(ringbuf *ring) { return movers().read(ring); }
int write_report(ringbuf *ring) { return movers().write(ring); }

int init_attachment(Kind kind, va_list list) {
    va_list args;
    va_copy(args, list);
    const int fd = va_arg(args, int);
    va_end(args);

    g_attachment = &vr::port::usb::attachment(kind);
    vr::port::install_device(g_attachment->dev_name, kUsbOps);
    usb_attrib &u = attrib();
    u.vendor_id = g_attachment->vendor_id;
    u.product_id = g_attachment->product_id;
    u.configuration = kConfiguration;
    u.bus = u.address = 0;
    u.max_packet_size[0] = u.max_packet_size[1] = 0;
    u.fd = fd < 0 ? -1 : fd;
    return 0;
}

}  // namespace

// ------------------------------------------------------------ exported

VR_API int usbhid_init(int, va_list list) { return init_attachment(Kind::hid_reader, list); }
VR_API int ch340g_init(int, va_list list) { return init_attachment(Kind::ch340g, list); }
VR_API int ch9326_init(int, va_list list) { return init_attachment(Kind::ch9326, list); }
VR_API int pdiusbd12_init(int, va_list list) { return init_attachment(Kind::pdiusbd12, list); }

VR_API int usbhid_open_linux(void) {
    if (attrib().handle) return 0;
    if (open_steps() != 0) {
        const int code = errno;
        give_back_device();
        errno = code;
        return -1;
    }
    keep_alive_start();
    return 0;
}

VR_API int usbhid_close_linux(void) {
    give_back_device();
    return 0;
}

VR_API int usbhid_attach_kernel_driver(void) {
    give_back_at_exit();
    return 0;
}

VR_API int usbhid_flush_linux(int kind) {
    if (kind < 1 || kind > 3) return vr::fail(vr::kEArg);
    usb_attrib &u = attrib();
    // Bytes thrown away may have ended inside a long frame: its remaining
    // reports must not be taken for the end of the next one.
    if ((kind & 1) && u.rx.buffer) {
        ringbuf_flush(&u.rx);
        g_assembler.reset();
    }
    if ((kind & 2) && u.tx.buffer) ringbuf_flush(&u.tx);
    return 0;
}

VR_API int usbhid_drain_linux(void) { return vr::fail(vr::kEExec); }

VR_API int usbhid_ioctl_linux(int, void *) { return vr::fail(vr::kEExec); }

VR_API int usbhid_read_linux(uint8_t *buffer, int length) {
    if (!buffer || length < 0 || length > kMaxRead) return vr::fail(vr::kEArg);
    ringbuf *ring = &attrib().rx;
    if (!ring->buffer) return vr::fail(vr::kERecv);
    while (ringbuf_len(ring) < length) {
        if (read_report(ring) < 0) return vr::fail(vr::kERecv);
    }
    if (length > 0) ringbuf_delete(ring, buffer, static_cast<uint32_t>(length));
    return length;
}

VR_API int usbhid_write_linux(const uint8_t *buffer, int length) {
    if (!buffer || length < 0 || length > vr::port::usb::kMaxMessage) return vr::fail(vr::kEArg);
    if (length == 0) return 0;
    ringbuf *ring = &attrib().tx;
    if (!ring->buffer) return vr::fail(vr::kESend);
    const int size = out_size();
    uint8_t reports[kMaxReportBytes];
    const int bytes = vr::port::usb::cut_message(buffer, length, size, reports, sizeof reports);
    if (bytes < 0) return vr::fail(vr::kEArg);
    while (ringbuf_free(ring) < bytes) {
        if (write_report(ring) < 0) return vr::fail(vr::kESend);
    }
    ringbuf_insert(ring, reports, static_cast<uint32_t>(bytes));
    while (ringbuf_len(ring) >= size) {
        if (write_report(ring) < 0) return vr::fail(vr::kESend);
    }
    return length;
}

VR_API int usbhid_open(void) { return usbhid_open_linux(); }
VR_API int usbhid_close(void) { return usbhid_close_linux(); }
VR_API int usbhid_flush(int kind) { return usbhid_flush_linux(kind); }
VR_API int usbhid_drain(void) { return usbhid_drain_linux(); }
VR_API int usbhid_ioctl(int command, void *argument) { return usbhid_ioctl_linux(command, argument); }
VR_API int usbhid_read(uint8_t *buffer, int length) { return usbhid_read_linux(buffer, length); }
VR_API int usbhid_write(const uint8_t *buffer, int length) { return usbhid_write_linux(buffer, length); }

// The HID reader answers on its interrupt endpoint and takes reports as
// HID output reports; only its movers re-arm the keep-alive afterwards.
VR_API int usbhid_device_read_linux(ringbuf *ring) {
    keep_alive_cancel();
    int rc = ready_to_read(ring);
    if (rc == 0) {
        uint8_t *report = attrib().in_report;
        int got = 0;
        const int t = libusb_interrupt_transfer(handle(), kInterruptIn, report, in_size(), &got, kShortMs);
        rc = finish_read(ring, t, report, got);
    }
    keep_alive_arm();
    return rc;
}

VR_API int usbhid_device_write_linux(ringbuf *ring) {
    keep_alive_cancel();
    int rc = next_report(ring);
    if (rc == 0) {
        uint8_t *report = attrib().out_report;
        const int size = out_size();
        // Protocol 1 goes in reports headed by their size.
        uint8_t headed[vr::port::usb::kMaxReport];
        if (virt_com_get_protocl() == 1) {
            headed[0] = static_cast<uint8_t>(size);
            headed[1] = 0x00;
            headed[2] = static_cast<uint8_t>(size);
            std::memcpy(headed + 3, report, static_cast<std::size_t>(size - 3));
            report = headed;
        }
        rc = control_write(kHidReportValue, kHidWriteMs, report, size);
    }
    keep_alive_arm();
    return rc;
}

VR_API int ch340g_read_linux(ringbuf *ring) {
    keep_alive_cancel();
    if (ready_to_read(ring) != 0) return -1;
    return bulk_read(ring);
}

VR_API int ch340g_write_linux(ringbuf *ring) {
    keep_alive_cancel();
    if (next_report(ring) != 0) return -1;
    return bulk_write(attrib().out_report, out_size());
}

// A CH9326 packet is its length byte and a 31-byte report. The length byte
// says how many of the report's bytes the adapter really received.
VR_API int ch9326_read_linux(ringbuf *ring) {
    keep_alive_cancel();
    if (ready_to_read(ring) != 0) return -1;
    uint8_t packet[kCh9326Packet] = {};
    int got = 0;
    const int rc = libusb_bulk_transfer(handle(), kBulkIn, packet, kCh9326Packet, &got, kShortMs);
    if (rc != 0 && rc != LIBUSB_ERROR_TIMEOUT) return finish_read(ring, rc, packet, got);
    const int valid = vr::port::usb::packet_payload(packet, got, in_size());
    if (valid == 0) return vr::fail(vr::kERecv);
    if (valid < 0) {
        log_print(1, "usbhid handler: report refused (length byte %d of %d bytes)\n", packet[0], got);
        return vr::fail(vr::kERecv);
    }
    std::memcpy(attrib().in_report, packet + 1, kCh9326Packet - 1);
    return store_report(ring, attrib().in_report, valid);
}

VR_API int ch9326_write_linux(ringbuf *ring) {
    keep_alive_cancel();
    if (next_report(ring) != 0) return -1;
    uint8_t packet[kCh9326Packet];
    packet[0] = kCh9326Length;
    std::memcpy(packet + 1, attrib().out_report, kCh9326Packet - 1);
    const int rc = bulk_write(packet, kCh9326Packet);
    return rc < 0 ? rc : out_size();
}

VR_API int pdiusbd12_read_linux(ringbuf *ring) {
    keep_alive_cancel();
    if (ready_to_read(ring) != 0) return -1;
    uint8_t *report = attrib().in_report;
    const int rc = libusb_control_transfer(handle(), kHidGetReport, kGetReport, kPdiusbd12ReportValue, 0, report,
                                           static_cast<uint16_t>(in_size()), kPdiusbd12Ms);
    return finish_read(ring, rc < 0 ? rc : 0, report, rc);
}

VR_API int pdiusbd12_write_linux(ringbuf *ring) {
    keep_alive_cancel();
    if (next_report(ring) != 0) return -1;
    return control_write(kPdiusbd12ReportValue, kPdiusbd12Ms, attrib().out_report, out_size());
}

VR_API int usbhid_keep_alive(void) {
    std::lock_guard hold(g_keep_alive_lock);
    if (!g_keep_alive) return vr::fail(vr::kEOpen);
    g_keep_alive->arm();
    return 0;
}

VR_API int usbhid_wakeup(void) {
    std::lock_guard hold(g_keep_alive_lock);
    if (!g_keep_alive) return vr::fail(vr::kEOpen);
    g_keep_alive->cancel();
    return 0;
}

namespace {

constexpr vr_dev_ops kUsbOps = {
    .open = usbhid_open,
    .close = usbhid_close,
    .flush = usbhid_flush,
    .drain = usbhid_drain,
    .ioctl = usbhid_ioctl,
    .read = usbhid_read,
    .write = usbhid_write,
};

}  // namespace
