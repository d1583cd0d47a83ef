// The USB-serial adapters' line settings: the CH340G takes a sequence of
// vendor requests, the CH9326 one HID report. Both encode the rate as a
// prescaler byte and a divisor byte; the rates are the ones the reader's
// serial line may run at.
#include <libusb.h>

#include <cstdint>

#include "core/errors.h"
#include "log.h"
#include "tessil.h"
#include "usbhid.h"
#include "virt_com.h"

namespace {

constexpr unsigned kControlMs = 2000;
constexpr unsigned kCh9326ConfigMs = 3000;

struct Rate {
    int baud;
    uint16_t ch340g_divisor;    // prescaler low, divisor high
    uint8_t ch9326[3];          // prescaler, divisor, then the adapter's third setting
};

// 56700 is the name the adapters' callers know for the 57600 setting.
constexpr Rate kRates[] = {
    {9600, 0xB282, {0x82, 0xB2, 0x40}},
    {19200, 0xD982, {0x82, 0xD9, 0x30}},
    {38400, 0x6483, {0x83, 0x64, 0x30}},
    {56700, 0x9883, {0x83, 0x98, 0x30}},
    {115200, 0xCC83, {0x83, 0xCC, 0x30}},
};

const Rate *rate_of(int baud) {
    for (const Rate &r : kRates)
        if (r.baud == baud) return &r;
    return nullptr;
}

libusb_device_handle *handle() { return static_cast<libusb_device_handle *>(tessil.s_com.attrib.usb.handle); }

// One step of the CH340G set-up: request type, request, value, index and
// the length of what an "in" step reads.
struct Step {
    uint8_t type;
    uint8_t request;
    uint16_t value;
    uint16_t index;  // kDivisor: the rate's divisor word
    uint8_t length;
};
constexpr uint16_t kDivisor = 0xFFFF;

constexpr Step kCh340gSetup[] = {
    {0xA3, 0x00, 0x0000, 0x0001, 4}, {0x40, 0xA1, 0xC29C, 0xB2B9, 0}, {0x40, 0xA4, 0x00DF, 0, 0},
    {0x40, 0xA4, 0x009F, 0, 0},      {0xC0, 0x95, 0x0706, 0, 2},      {0x40, 0x9A, 0x2727, 0, 0},
    {0x40, 0x9A, 0x1312, kDivisor, 0}, {0x40, 0x9A, 0x0F2C, 0x0007, 0}, {0xC0, 0x95, 0x0706, 0, 2},
    {0x40, 0x9A, 0x2727, 0, 0},      {0x40, 0x9A, 0x2518, 0x00C3, 0}, {0xC0, 0x95, 0x0706, 0, 2},
    {0x40, 0x9A, 0x2727, 0, 0},      {0x40, 0xA4, 0x00DF, 0, 0},      {0xC0, 0x95, 0x0706, 0, 2},
    {0x40, 0x9A, 0x2727, 0, 0},      {0xC0, 0x95, 0x0706, 0, 2},      {0x40, 0x9A, 0x2727, 0, 0},
    {0xC0, 0x95, 0x0706, 0, 2},
};

}  // namespace

VR_API int ch340g_control_transfer(int request_type, int request, int value, int index, unsigned char *data,
                                   int length) {
    libusb_device_handle *h = handle();
    if (!h) return vr::fail(vr::kEOpen);
    if (length < 0 || length > 0xFFFF || (length > 0 && !data)) return vr::fail(vr::kEArg);
    const int rc = libusb_control_transfer(h, static_cast<uint8_t>(request_type), static_cast<uint8_t>(request),
                                           static_cast<uint16_t>(value), static_cast<uint16_t>(index), data,
                                           static_cast<uint16_t>(length), kControlMs);
    if (rc < 0) {
        if (rc == LIBUSB_ERROR_NO_DEVICE) virt_com_setstat(VIRT_COM_REMOVED);
        return vr::fail(vr::kESend);
    }
    return rc;
}

VR_API int ch340g_config(int baud) {
    const Rate *rate = rate_of(baud);
    if (!rate) {
        log_print(1, "%s: ch340g baud invalid, baud: %d", "ch340g_config_linux", baud);
        return vr::fail(vr::kEArg);
    }
    unsigned char scratch[4];
    for (const Step &s : kCh340gSetup) {
        const uint16_t index = s.index == kDivisor ? rate->ch340g_divisor : s.index;
        if (ch340g_control_transfer(s.type, s.request, s.value, index, s.length ? scratch : nullptr, s.length) < 0)
            return -1;
    }
    return 0;
}

VR_API int ch9326_config(int baud) {
    const Rate *rate = rate_of(baud);
    if (!rate) {
        log_print(1, "%s: ch9326 baud invalid, baud: %d", "ch9326_config_linux", baud);
        return vr::fail(vr::kEArg);
    }
    libusb_device_handle *h = handle();
    if (!h) return vr::fail(vr::kEOpen);
    unsigned char report[32] = {0xFF, 0xC7, rate->ch9326[0], rate->ch9326[1], rate->ch9326[2]};
    const int rc = libusb_control_transfer(h, 0x21, 9, 0x0200, 0, report, sizeof report, kCh9326ConfigMs);
    if (rc != static_cast<int>(sizeof report)) {
        log_print(1, "usbhid handler: ERROR: %s\n", libusb_error_name(rc < 0 ? rc : LIBUSB_ERROR_IO));
        if (rc == LIBUSB_ERROR_NO_DEVICE) virt_com_setstat(VIRT_COM_REMOVED);
        return vr::fail(vr::kESend);
    }
    return 0;
}
