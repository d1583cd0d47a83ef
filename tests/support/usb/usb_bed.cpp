#include "usb_bed.h"

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>

#include <umockdev.h>

// The tests run with the umockdev preload ahead of the sanitizer runtime,
// which is harmless for what the preload wraps.
extern "C" const char *__asan_default_options() { return "verify_asan_link_order=0"; }

namespace vrtest {

namespace {

using vrsim::Bytes;
using vrsim::UsbDevice;

}  // namespace

struct EmulatedUsb::Shared {
    std::mutex mutex;
    UsbDevice *device = nullptr;
    int address = 0;
    std::string default_driver;
    std::string kernel_driver;
    bool claimed = false;
    bool plugged = true;
    std::deque<UMockdevIoctlData *> done;    // URBs waiting to be reaped (owned)
    std::deque<UMockdevIoctlData *> parked;  // URBs the device answers NAK to (owned)
    size_t requests = 0;
    std::vector<unsigned long> unknown;

    ~Shared() {
        for (UMockdevIoctlData *u : done) g_object_unref(u);
        for (UMockdevIoctlData *u : parked) g_object_unref(u);
    }
};

namespace {

using Shared = EmulatedUsb::Shared;

usbdevfs_urb *urb_of(UMockdevIoctlData *u) { return reinterpret_cast<usbdevfs_urb *>(u->data); }

vrsim::UsbSetup setup_of(const uint8_t *b) {
    return {b[0], b[1], static_cast<uint16_t>(b[2] | b[3] << 8), static_cast<uint16_t>(b[4] | b[5] << 8),
            static_cast<uint16_t>(b[6] | b[7] << 8)};
}

// Asks the device for what an URB wants; fills the URB and returns true
// when the device answered (data or stall), false when it answers NAK.
bool serve_urb(Shared &s, UMockdevIoctlData *u) {
    usbdevfs_urb *urb = urb_of(u);
    auto *buffer = static_cast<uint8_t *>(urb->buffer);
    const int length = urb->buffer_length;
    UsbDevice::Answer a;
    int out_length = 0;
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
        if (length < 8) {
            urb->status = -EINVAL;
            urb->actual_length = 0;
            return true;
        }
        const vrsim::UsbSetup setup = setup_of(buffer);
        const bool in = setup.request_type & 0x80;
        const int data_length = std::min<int>(setup.length, length - 8);
        a = s.device->control(setup, in ? vrsim::ByteView() : vrsim::ByteView(buffer + 8, data_length));
        if (a.kind == UsbDevice::Answer::Kind::pending) return false;
        if (a.kind == UsbDevice::Answer::Kind::done) {
            const int n = std::min<int>(static_cast<int>(a.data.size()), data_length);
            if (in) std::memcpy(buffer + 8, a.data.data(), static_cast<size_t>(n));
            out_length = in ? n : data_length;
        }
    } else if (urb->endpoint & 0x80) {
        a = s.device->in(urb->endpoint, static_cast<size_t>(length));
        if (a.kind == UsbDevice::Answer::Kind::pending) return false;
        out_length = std::min<int>(static_cast<int>(a.data.size()), length);
        std::memcpy(buffer, a.data.data(), static_cast<size_t>(out_length));
    } else {
        const bool taken = s.device->out(urb->endpoint, vrsim::ByteView(buffer, static_cast<size_t>(length)));
        a.kind = taken ? UsbDevice::Answer::Kind::done : UsbDevice::Answer::Kind::stall;
        out_length = length;
    }
    const bool stalled = a.kind == UsbDevice::Answer::Kind::stall;
    urb->status = stalled ? -EPIPE : 0;
    urb->actual_length = stalled ? 0 : out_length;
    return true;
}

// In data arrived: parked URBs are asked again, in order.
void retry_parked(Shared &s) {
    std::lock_guard hold(s.mutex);
    if (!s.plugged) return;
    for (auto it = s.parked.begin(); it != s.parked.end();) {
        if (!serve_urb(s, *it)) break;
        s.done.push_back(*it);
        it = s.parked.erase(it);
    }
}

void submit(Shared &s, UMockdevIoctlClient *client, UMockdevIoctlData *arg) {
    UMockdevIoctlData *u = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    usbdevfs_urb *urb = urb_of(u);
    if (urb->buffer_length > 0) {
        // The URB now points at a local copy of its buffer, synced back to
        // the caller when the URB is reaped.
        UMockdevIoctlData *b =
            umockdev_ioctl_data_resolve(u, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), nullptr);
        g_object_unref(b);
    }
    // In order: an in request behind a parked one waits its turn.
    const bool in = urb->type != USBDEVFS_URB_TYPE_CONTROL && (urb->endpoint & 0x80);
    if ((in && !s.parked.empty()) || !serve_urb(s, u))
        s.parked.push_back(u);
    else
        s.done.push_back(u);
    umockdev_ioctl_client_complete(client, 0, 0);
}

void reap(Shared &s, UMockdevIoctlClient *client, UMockdevIoctlData *arg) {
    if (s.done.empty()) {
        umockdev_ioctl_client_complete(client, -1, s.plugged ? EAGAIN : ENODEV);
        return;
    }
    UMockdevIoctlData *u = s.done.front();
    s.done.pop_front();
    UMockdevIoctlData *p = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr);
    umockdev_ioctl_data_set_ptr(p, 0, u);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(p);
    g_object_unref(u);
}

void discard(Shared &s, UMockdevIoctlClient *client, UMockdevIoctlData *arg) {
    const gulong address = *reinterpret_cast<gulong *>(arg->data);
    for (auto it = s.parked.begin(); it != s.parked.end(); ++it) {
        if ((*it)->client_addr != address) continue;
        urb_of(*it)->status = -ENOENT;
        urb_of(*it)->actual_length = 0;
        s.done.push_back(*it);
        s.parked.erase(it);
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}

// libusb's synchronous control request (the configuration, when it wraps a
// descriptor).
void control(Shared &s, UMockdevIoctlClient *client, UMockdevIoctlData *arg) {
    UMockdevIoctlData *c = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ctrltransfer), nullptr);
    auto *ct = reinterpret_cast<usbdevfs_ctrltransfer *>(c->data);
    UMockdevIoctlData *b =
        ct->wLength ? umockdev_ioctl_data_resolve(c, offsetof(usbdevfs_ctrltransfer, data), ct->wLength, nullptr)
                    : nullptr;
    const vrsim::UsbSetup setup{ct->bRequestType, ct->bRequest, ct->wValue, ct->wIndex, ct->wLength};
    const bool in = setup.request_type & 0x80;
    const auto a = s.device->control(setup, in || !b ? vrsim::ByteView() : vrsim::ByteView(b->data, ct->wLength));
    if (a.kind == UsbDevice::Answer::Kind::done) {
        const size_t n = std::min<size_t>(a.data.size(), ct->wLength);
        if (in && b) std::memcpy(b->data, a.data.data(), n);
        umockdev_ioctl_client_complete(client, static_cast<glong>(in ? n : ct->wLength), 0);
    } else {
        umockdev_ioctl_client_complete(client, -1, a.kind == UsbDevice::Answer::Kind::stall ? EPIPE : ETIMEDOUT);
    }
    if (b) g_object_unref(b);
    g_object_unref(c);
}

// USBDEVFS_IOCTL: a kernel driver detached from or attached to interface 0.
void driver_request(Shared &s, UMockdevIoctlClient *client, UMockdevIoctlData *arg) {
    UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
    const auto *request = reinterpret_cast<usbdevfs_ioctl *>(d->data);
    int rc = 0, error = 0;
    if (request->ifno != 0) {
        rc = -1, error = EINVAL;
    } else if (request->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
        if (s.kernel_driver.empty()) rc = -1, error = ENODATA;
        s.kernel_driver.clear();
    } else if (request->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
        if (s.claimed)
            rc = -1, error = EBUSY;
        else
            s.kernel_driver = s.default_driver;
    } else {
        rc = -1, error = ENOTTY;
    }
    umockdev_ioctl_client_complete(client, rc, error);
    g_object_unref(d);
}

void with_int(UMockdevIoctlClient *client, UMockdevIoctlData *arg, unsigned *value) {
    UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
    std::memcpy(value, d->data, sizeof *value);
    g_object_unref(d);
    (void)client;
}

gboolean on_ioctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer data) {
    auto &s = *static_cast<Shared *>(data);
    std::lock_guard hold(s.mutex);
    ++s.requests;
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    const bool reaping = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
    if (!s.plugged && !reaping) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
        *reinterpret_cast<guint32 *>(d->data) = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                                USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(d);
        break;
    }
    case USBDEVFS_CONNECTINFO: {
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_connectinfo), nullptr);
        reinterpret_cast<usbdevfs_connectinfo *>(d->data)->devnum = static_cast<unsigned>(s.address);
        reinterpret_cast<usbdevfs_connectinfo *>(d->data)->slow = 0;
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(d);
        break;
    }
    case USBDEVFS_GET_SPEED: umockdev_ioctl_client_complete(client, 2 /* full speed */, 0); break;
    case USBDEVFS_GETDRIVER: {
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
        auto *g = reinterpret_cast<usbdevfs_getdriver *>(d->data);
        if (g->interface != 0 || s.kernel_driver.empty()) {
            umockdev_ioctl_client_complete(client, -1, ENODATA);
        } else {
            std::snprintf(g->driver, sizeof g->driver, "%s", s.kernel_driver.c_str());
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        g_object_unref(d);
        break;
    }
    case USBDEVFS_IOCTL: driver_request(s, client, arg); break;
    case USBDEVFS_CLAIMINTERFACE: {
        unsigned interface = 0;
        with_int(client, arg, &interface);
        if (interface != 0) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
        } else if (!s.kernel_driver.empty()) {
            umockdev_ioctl_client_complete(client, -1, EBUSY);
        } else {
            s.claimed = true;
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        break;
    }
    case USBDEVFS_RELEASEINTERFACE: {
        unsigned interface = 0;
        with_int(client, arg, &interface);
        const bool held = interface == 0 && s.claimed;
        s.claimed = false;
        umockdev_ioctl_client_complete(client, held ? 0 : -1, held ? 0 : EINVAL);
        break;
    }
    case USBDEVFS_SETCONFIGURATION:
        // The kernel refuses while another driver holds an interface.
        umockdev_ioctl_client_complete(client, s.kernel_driver.empty() ? 0 : -1, s.kernel_driver.empty() ? 0 : EBUSY);
        break;
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESET:
    case USBDEVFS_RESETEP: umockdev_ioctl_client_complete(client, 0, 0); break;
    case USBDEVFS_CONTROL: control(s, client, arg); break;
    case USBDEVFS_SUBMITURB: submit(s, client, arg); break;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: reap(s, client, arg); break;
    case USBDEVFS_DISCARDURB: discard(s, client, arg); break;
    default:
        s.unknown.push_back(request);
        return FALSE;
    }
    return TRUE;
}

std::string hex_upper(const Bytes &bytes) {
    std::string out;
    char b[3];
    for (uint8_t v : bytes) {
        std::snprintf(b, sizeof b, "%02X", v);
        out += b;
    }
    return out;
}

}  // namespace

// ------------------------------------------------------------ UsbBed

UsbBed::UsbBed() {
    bed_ = umockdev_testbed_new();
    if (!umockdev_in_mock_environment())
        why_ = "not running under the umockdev preload (LD_PRELOAD=libumockdev-preload.so.0)";
}

UsbBed::~UsbBed() {
    devices_.clear();
    if (bed_) g_object_unref(bed_);
}

std::string UsbBed::root() const {
    gchar *dir = umockdev_testbed_get_root_dir(bed_);
    std::string out = dir ? dir : "";
    g_free(dir);
    return out;
}

EmulatedUsb *UsbBed::plug(vrsim::UsbKind kind, const std::string &line_path, int protocol, int address,
                          unsigned line_baud) {
    if (!ok()) return nullptr;
    auto device = std::make_unique<EmulatedUsb>(bed_, kind, line_path, protocol, address, line_baud);
    if (!device->ok()) {
        why_ = device->why();
        return nullptr;
    }
    devices_.push_back(std::move(device));
    return devices_.back().get();
}

// ------------------------------------------------------------ EmulatedUsb

EmulatedUsb::EmulatedUsb(UMockdevTestbed *bed, vrsim::UsbKind kind, const std::string &line_path, int protocol,
                         int address, unsigned line_baud)
    : bed_(bed),
      device_(std::make_unique<UsbDevice>(kind, line_path, protocol, line_baud)),
      shared_(std::make_shared<Shared>()) {
    char number[4];
    std::snprintf(number, sizeof number, "%03d", address);
    node_ = std::string("/dev/bus/usb/001/") + number;
    syspath_ = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(address);
    const vrsim::UsbIdentity &id = device_->identity();
    shared_->device = device_.get();
    shared_->address = address;
    shared_->default_driver = shared_->kernel_driver = id.kernel_driver;

    if (!device_->start()) {
        why_ = "the simulator's line " + line_path + " does not open";
        return;
    }
    std::weak_ptr<Shared> weak = shared_;
    device_->on_in_ready([weak] {
        if (auto s = weak.lock()) retry_parked(*s);
    });

    UMockdevIoctlBase *handler = umockdev_ioctl_base_new();
    handler_ = handler;
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(on_ioctl), shared_.get());
    GError *error = nullptr;
    if (!umockdev_testbed_attach_ioctl(bed, node_.c_str(), handler, &error)) {
        why_ = std::string("attach_ioctl: ") + (error ? error->message : "?");
        g_clear_error(&error);
        return;
    }
    const std::string hex = hex_upper(vrsim::usb_descriptors(kind));
    char ids[64];
    std::snprintf(ids, sizeof ids, "A: idVendor=%04x\\n\nA: idProduct=%04x\\n\n", id.vendor_id, id.product_id);
    const std::string record = "P: " + syspath_.substr(4) + "\nN: bus/usb/001/" + number + "=" + hex +
                               "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: BUSNUM=001\nE: DEVNUM=" +
                               number + "\nE: DEVNAME=" + node_ + "\nA: busnum=1\\n\nA: devnum=" +
                               std::to_string(address) + "\\n\nA: speed=12\\n\nA: bConfigurationValue=1\\n\n" + ids +
                               "H: descriptors=" + hex + "\n";
    if (!umockdev_testbed_add_from_string(bed, record.c_str(), &error)) {
        why_ = std::string("add_from_string: ") + (error ? error->message : "?");
        g_clear_error(&error);
    }
}

EmulatedUsb::~EmulatedUsb() {
    device_->on_in_ready(nullptr);
    device_->stop();
    if (handler_) {
        umockdev_testbed_detach_ioctl(bed_, node_.c_str(), nullptr);
        g_object_unref(static_cast<UMockdevIoctlBase *>(handler_));
    }
}

int EmulatedUsb::open_node() const { return ::open(node_.c_str(), O_RDWR | O_CLOEXEC); }

std::string EmulatedUsb::interface_syspath() const {
    return syspath_ + "/" + syspath_.substr(syspath_.rfind('/') + 1) + ":1.0";
}

void EmulatedUsb::unplug_with_event() {
    umockdev_testbed_uevent(bed_, interface_syspath().c_str(), "remove");
    unplug();
}

bool EmulatedUsb::add_interface() {
    const std::string record = "P: " + interface_syspath().substr(4) +
                               "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber=00\\n\n"
                               "A: bAlternateSetting=0\\n\nA: bNumEndpoints=02\\n\n";
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(bed_, record.c_str(), &error)) {
        why_ = std::string("add_from_string: ") + (error ? error->message : "?");
        g_clear_error(&error);
        return false;
    }
    return true;
}

void EmulatedUsb::unplug() {
    {
        std::lock_guard hold(shared_->mutex);
        if (!shared_->plugged) return;
        shared_->plugged = false;
        shared_->claimed = false;
        // What the kernel does to the requests of a device that is gone.
        for (UMockdevIoctlData *u : shared_->parked) {
            urb_of(u)->status = -ENODEV;
            urb_of(u)->actual_length = 0;
            shared_->done.push_back(u);
        }
        shared_->parked.clear();
    }
    device_->stop();
    umockdev_testbed_remove_device(bed_, syspath_.c_str());
}

bool EmulatedUsb::plugged() const {
    std::lock_guard hold(shared_->mutex);
    return shared_->plugged;
}

void EmulatedUsb::bind_kernel_driver() {
    std::lock_guard hold(shared_->mutex);
    if (!shared_->claimed) shared_->kernel_driver = shared_->default_driver;
}

std::string EmulatedUsb::kernel_driver() const {
    std::lock_guard hold(shared_->mutex);
    return shared_->kernel_driver;
}

bool EmulatedUsb::claimed() const {
    std::lock_guard hold(shared_->mutex);
    return shared_->claimed;
}

size_t EmulatedUsb::requests_seen() const {
    std::lock_guard hold(shared_->mutex);
    return shared_->requests;
}

std::vector<unsigned long> EmulatedUsb::unknown_requests() const {
    std::lock_guard hold(shared_->mutex);
    return shared_->unknown;
}

}  // namespace vrtest
