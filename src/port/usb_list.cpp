// The attached USB devices of the four kinds the library drives, for tools
// that let the user pick one (and tell a user who lacks permission).
#include <libusb.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "core/errors.h"
#include "core/platform.h"
#include "port/usb_attachments.h"
#include "usbhid.h"

namespace {

using vr::port::usb::Attachment;

const Attachment *attachment_of(const libusb_device_descriptor &d) {
    for (const Attachment &a : vr::port::usb::kAttachments)
        if (a.vendor_id == d.idVendor && a.product_id == d.idProduct) return &a;
    return nullptr;
}

struct ContextDeleter {
    void operator()(libusb_context *c) const { libusb_exit(c); }
};
struct ListDeleter {
    void operator()(libusb_device **list) const { libusb_free_device_list(list, 1); }
};
struct HandleDeleter {
    void operator()(libusb_device_handle *h) const { libusb_close(h); }
};

void read_string(libusb_device_handle *h, uint8_t index, char (&out)[256]) {
    out[0] = '\0';
    if (index == 0 || libusb_get_string_descriptor_ascii(h, index, reinterpret_cast<unsigned char *>(out),
                                                         sizeof out - 1) < 0)
        out[0] = '\0';
}

void describe(libusb_device *device, const libusb_device_descriptor &d, const Attachment &a,
              usbhid_device_info &info) {
    info = usbhid_device_info{};
    std::snprintf(info.type, sizeof info.type, "%s", a.type);
    info.vendor_id = d.idVendor;
    info.product_id = d.idProduct;
    info.bus = libusb_get_bus_number(device);
    info.address = libusb_get_device_address(device);
    libusb_device_handle *raw = nullptr;
    const int rc = libusb_open(device, &raw);
    if (rc != 0) {
        info.access = rc == LIBUSB_ERROR_ACCESS ? 0 : vr::kEReaderIc;
        return;
    }
    std::unique_ptr<libusb_device_handle, HandleDeleter> h(raw);
    info.access = 1;
    read_string(h.get(), d.iManufacturer, info.manufacturer);
    read_string(h.get(), d.iProduct, info.product);
    read_string(h.get(), d.iSerialNumber, info.serial);
}

}  // namespace

VR_API int usbhid_list_devices(usbhid_device_info *out, int max) {
    if (max < 0 || (max > 0 && !out)) return vr::fail(vr::kEArg);
    if (!vr::platform::usb_device_walk_allowed()) return vr::fail(vr::kEOpen);
    libusb_context *raw = nullptr;
    if (libusb_init(&raw) != 0) return vr::fail(vr::kEOpen);
    std::unique_ptr<libusb_context, ContextDeleter> context(raw);
    libusb_device **devices = nullptr;
    const ssize_t count = libusb_get_device_list(context.get(), &devices);
    if (count < 0) return vr::fail(vr::kEOpen);
    std::unique_ptr<libusb_device *, ListDeleter> list(devices);
    int found = 0;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(devices[i], &d) != 0) continue;
        const Attachment *a = attachment_of(d);
        if (!a) continue;
        if (found < max) describe(devices[i], d, *a, out[found]);
        ++found;
    }
    return found;
}
