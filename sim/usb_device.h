// The reader's USB attachments, device side: a reader that is itself a HID
// device, and the CH340G, CH9326 and PDIUSBD12 attachments that put a
// reader's serial line on USB. A UsbDevice answers what a USB host asks of
// it (descriptors, control requests, out and in transfers on its
// endpoints) and carries the reader traffic in the attachment's reports to
// and from the simulated reader, which it reaches over the simulator's
// serial line. How the requests arrive (an emulated usbfs, for instance) is
// not its business.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host_link.h"
#include "wire.h"

namespace vrsim {

enum class UsbKind { hid_reader, ch340g, ch9326, pdiusbd12 };

struct UsbIdentity {
    UsbKind kind;
    const char* name;  // the link name: "usbhid", "ch340g", "ch9326", "pdiusbd12"
    uint16_t vendor_id;
    uint16_t product_id;
    // String descriptors 1, 2 and 3; null for a string the device lacks.
    const char* manufacturer;
    const char* product;
    const char* serial;
    const char* kernel_driver;  // the system's driver for interface 0
    size_t report_size;         // reader traffic per report
};
[[nodiscard]] const UsbIdentity& usb_identity(UsbKind kind);
[[nodiscard]] std::optional<UsbKind> usb_kind_named(const std::string& name);

// The device descriptor followed by the configuration descriptor and what
// it contains (interface, class descriptor, endpoints).
[[nodiscard]] Bytes usb_descriptors(UsbKind kind);

// The eight bytes of a control request.
struct UsbSetup {
    uint8_t request_type = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;

    bool operator==(const UsbSetup&) const = default;
};

// The rate an adapter's serial line runs at for a prescaler byte (its low
// two bits) and a divisor byte: the chips divide a 12 MHz clock by 2,
// by 8 for each prescaler step below 3, and by 256 minus the divisor.
[[nodiscard]] unsigned adapter_rate(uint8_t prescaler, uint8_t divisor);

// The reader's side of the report framing. Reports from the host carry
// either a whole frame (zero padded) or, for a longer frame, two marker
// bytes (0x82 0x02, the last 0x02 0x02) and the frame bytes after its head;
// the reader answers in the attachment's own layout.
class UsbReports {
public:
    explicit UsbReports(UsbKind kind);
    [[nodiscard]] size_t report_size() const { return size_; }
    // One report from the host: the frame it completes (empty while a long
    // frame goes on).
    [[nodiscard]] Bytes from_host(ByteView report, int protocol);
    // A reply frame as the reports the reader sends: a frame that fits goes
    // in one report (zero padded); a longer one starts with 0x82 in place of
    // its first byte, and each later report has markers (two; PDIUSBD12 one)
    // before the next bytes, 0x82 while more follow, 0x02 in the last.
    [[nodiscard]] std::vector<Bytes> to_host(ByteView frame) const;

private:
    UsbKind kind_;
    size_t size_;
    bool long_frame_ = false;
    Bytes pending_;
};

// One attached device whose far end is the simulated reader's serial line.
class UsbDevice {
public:
    // The line at `line_path` (the simulator's) speaks `protocol`; an
    // adapter passes bytes only while its rate is within 3 % of
    // `line_baud` and, for the CH340G, its line format is 8N1.
    UsbDevice(UsbKind kind, std::string line_path, int protocol, unsigned line_baud = 115200);
    ~UsbDevice();
    UsbDevice(const UsbDevice&) = delete;
    UsbDevice& operator=(const UsbDevice&) = delete;

    // Opens the line and starts taking the reader's replies; false when the
    // line cannot be opened.
    [[nodiscard]] bool start();
    // The device stops (pulled out): nothing more reaches the reader.
    void stop();

    [[nodiscard]] const UsbIdentity& identity() const { return identity_; }

    struct Answer {
        enum class Kind { stall, done, pending } kind = Kind::stall;
        Bytes data;  // in data of a done request
    };
    // A control request with its out data. Standard requests (descriptors,
    // configuration) and the attachment's own: HID reports, the adapters'
    // configuration. `pending` is the PDIUSBD12's report request while the
    // reader has said nothing; ask again after the in-ready notification.
    [[nodiscard]] Answer control(const UsbSetup& setup, ByteView data);
    // Out and in transfers on an endpoint (bulk and interrupt alike); an
    // endpoint the device lacks stalls, an in transfer with nothing to send
    // is pending (the device answers NAK).
    [[nodiscard]] bool out(uint8_t endpoint, ByteView data);
    [[nodiscard]] Answer in(uint8_t endpoint, size_t length);
    // Called (on the device's own thread) when reader traffic for the host
    // arrived after an in request was left pending.
    void on_in_ready(std::function<void()> notify);

    // ---- observation (thread-safe)
    // Control requests other than the standard ones, in order.
    [[nodiscard]] std::vector<UsbSetup> class_requests() const;
    // The adapter's line rate as its registers set it (0: never set).
    [[nodiscard]] unsigned line_rate() const;
    // The CH9326's configuration bytes (prescaler, divisor, third byte).
    [[nodiscard]] std::vector<uint8_t> ch9326_settings() const;
    // Frames passed to the reader and reports queued for the host.
    [[nodiscard]] size_t frames_to_reader() const;
    [[nodiscard]] size_t reports_to_host() const;

private:
    Answer standard_request(const UsbSetup& setup) const;
    Answer ch340g_request(const UsbSetup& setup);
    Answer hid_request(const UsbSetup& setup, ByteView data);
    void report_from_host(ByteView report);
    bool line_passes() const;
    unsigned line_rate_locked() const;
    Answer next_in_report(size_t length);
    void run();

    const UsbIdentity& identity_;
    std::string line_path_;
    int protocol_;
    unsigned line_baud_;

    mutable std::mutex mutex_;
    UsbReports reports_;
    std::deque<Bytes> to_host_;
    std::vector<UsbSetup> class_requests_;
    std::function<void()> notify_;
    uint8_t registers_[256] = {};  // CH340G registers written by request 0x9A
    bool rate_set_ = false;
    std::vector<uint8_t> ch9326_settings_;
    size_t frames_to_reader_ = 0;
    size_t reports_to_host_ = 0;

    HostLink line_;
    std::thread reader_;
    std::atomic<bool> stopping_{false};
};

}  // namespace vrsim
