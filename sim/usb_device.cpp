#include "usb_device.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "frame.h"

namespace vrsim {
namespace {

constexpr uint8_t kMarkerMore = 0x82;
constexpr uint8_t kMarkerLast = 0x02;
constexpr uint8_t kStx = 0x02;

// Control request types and requests the devices know.
constexpr uint8_t kStandardIn = 0x80;
constexpr uint8_t kGetDescriptor = 0x06;
constexpr uint8_t kGetConfiguration = 0x08;
constexpr uint8_t kClassOut = 0x21, kClassIn = 0xA1;
constexpr uint8_t kSetReport = 0x09, kGetReport = 0x01;
constexpr uint8_t kVendorOut = 0x40, kVendorIn = 0xC0;
constexpr uint8_t kCh340gStatusIn = 0xA3;  // class request to "other", answered with 4 bytes
constexpr uint8_t kCh340gSerialInit = 0xA1, kCh340gModem = 0xA4, kCh340gRead = 0x95, kCh340gWrite = 0x9A;
constexpr uint8_t kCh340gPrescaler = 0x12, kCh340gDivisor = 0x13, kCh340gLcr = 0x18, kCh340gLcr2 = 0x25;
constexpr uint8_t kCh340gLcrEnable8 = 0xC3;  // receiver and transmitter on, 8 data bits
constexpr uint8_t kCh9326Config0 = 0xFF, kCh9326Config1 = 0xC7;
constexpr uint8_t kCh9326Full = 0x1F;

constexpr UsbIdentity kIdentities[] = {
    {UsbKind::hid_reader, "usbhid", 0x0108, 0x0100, "vantel-sim", "Contactless Reader", "VR0001", "usbhid", 48},
    {UsbKind::ch340g, "ch340g", 0x1A86, 0x7523, nullptr, "USB Serial", nullptr, "ch341", 32},
    {UsbKind::ch9326, "ch9326", 0x1A86, 0xE010, "vantel-sim", "USB HID to UART", "CH0001", "usbhid", 31},
    {UsbKind::pdiusbd12, "pdiusbd12", 0x0471, 0xA112, "vantel-sim", "HID Reader Interface", "PD0001", "usbhid",
     32},
};

uint8_t lo(unsigned v) { return static_cast<uint8_t>(v & 0xFF); }
uint8_t hi(unsigned v) { return static_cast<uint8_t>((v >> 8) & 0xFF); }

struct Endpoint {
    uint8_t address;
    uint8_t attributes;  // 2 bulk, 3 interrupt
    uint16_t max_packet;
};

Bytes endpoint_descriptor(const Endpoint& e) {
    return {7, 0x05, e.address, e.attributes, lo(e.max_packet), hi(e.max_packet), e.attributes == 3 ? uint8_t{1} : uint8_t{0}};
}

// The bytes of a frame a report carries, without the zero padding: a frame
// the protocol can decode ends where it says; anything else loses its
// trailing zeros.
Bytes frame_extent(Bytes bytes, int protocol) {
    const HostFrame f = decode_host_frame(protocol, bytes, true);
    if (f.kind == Decode::frame || f.kind == Decode::bad_checksum) {
        bytes.resize(f.consumed);
        return bytes;
    }
    while (!bytes.empty() && bytes.back() == 0) bytes.pop_back();
    return bytes;
}

Bytes string_descriptor(const char* text) {
    Bytes d{0, 0x03};
    for (const char* c = text; *c; ++c) {
        d.push_back(static_cast<uint8_t>(*c));
        d.push_back(0);
    }
    d[0] = static_cast<uint8_t>(d.size());
    return d;
}

}  // namespace

const UsbIdentity& usb_identity(UsbKind kind) { return kIdentities[static_cast<int>(kind)]; }

std::optional<UsbKind> usb_kind_named(const std::string& name) {
    for (const UsbIdentity& id : kIdentities)
        if (name == id.name) return id.kind;
    return std::nullopt;
}

Bytes usb_descriptors(UsbKind kind) {
    const UsbIdentity& id = usb_identity(kind);
    const auto index = [](const char* s, uint8_t i) { return s ? i : uint8_t{0}; };
    Bytes d{18,   0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 64, lo(id.vendor_id), hi(id.vendor_id), lo(id.product_id),
            hi(id.product_id), 0x00, 0x01, index(id.manufacturer, 1), index(id.product, 2), index(id.serial, 3), 1};
    std::vector<Endpoint> endpoints;
    bool hid = true;
    switch (kind) {
    case UsbKind::hid_reader: endpoints = {{0x81, 3, 64}}; break;
    case UsbKind::ch340g:
        hid = false;
        endpoints = {{0x82, 2, 32}, {0x02, 2, 32}, {0x81, 3, 8}};
        break;
    case UsbKind::ch9326: endpoints = {{0x82, 3, 32}, {0x02, 3, 32}}; break;
    case UsbKind::pdiusbd12: endpoints = {{0x82, 3, 64}, {0x02, 3, 64}}; break;
    }
    Bytes config{9, 0x02, 0, 0, 1, 1, 0, 0x80, 50};
    const Bytes interface{9, 0x04, 0, 0, static_cast<uint8_t>(endpoints.size()), hid ? uint8_t{0x03} : uint8_t{0xFF},
                          0, 0, 0};
    config.insert(config.end(), interface.begin(), interface.end());
    if (hid) {
        const Bytes hid_class{9, 0x21, 0x11, 0x01, 0x00, 0x01, 0x22, 34, 0};
        config.insert(config.end(), hid_class.begin(), hid_class.end());
    }
    for (const Endpoint& e : endpoints) {
        const Bytes ed = endpoint_descriptor(e);
        config.insert(config.end(), ed.begin(), ed.end());
    }
    config[2] = lo(config.size());
    config[3] = hi(config.size());
    d.insert(d.end(), config.begin(), config.end());
    return d;
}

unsigned adapter_rate(uint8_t prescaler, uint8_t divisor) {
    const unsigned steps = 3 - (prescaler & 0x03);
    const unsigned clock = 12000000u / 2u >> (3 * steps);
    const unsigned denominator = 256u - divisor;
    return clock / denominator;
}

// ------------------------------------------------------------ UsbReports

UsbReports::UsbReports(UsbKind kind) : kind_(kind), size_(usb_identity(kind).report_size) {}

Bytes UsbReports::from_host(ByteView report, int protocol) {
    if (report.size() < 2) return {};
    if (!long_frame_) {
        if (report[0] != kMarkerMore) return frame_extent(Bytes(report.begin(), report.end()), protocol);
        long_frame_ = true;
        pending_ = {kStx, kStx};
    }
    pending_.insert(pending_.end(), report.begin() + 2, report.end());
    if (report[0] != kMarkerLast) return {};
    long_frame_ = false;
    return frame_extent(std::exchange(pending_, {}), protocol);
}

std::vector<Bytes> UsbReports::to_host(ByteView frame) const {
    std::vector<Bytes> out;
    if (frame.size() <= size_) {
        Bytes r(frame.begin(), frame.end());
        r.resize(size_, 0);
        out.push_back(std::move(r));
        return out;
    }
    Bytes first(frame.begin(), frame.begin() + static_cast<long>(size_));
    first[0] = kMarkerMore;
    out.push_back(std::move(first));
    const size_t markers = kind_ == UsbKind::pdiusbd12 ? 1 : 2;
    const size_t per_report = size_ - markers;
    for (size_t at = size_; at < frame.size(); at += per_report) {
        const size_t take = std::min(per_report, frame.size() - at);
        const bool last = at + take >= frame.size();
        Bytes r{last ? kMarkerLast : kMarkerMore};
        if (markers == 2) r.push_back(kStx);
        r.insert(r.end(), frame.begin() + static_cast<long>(at), frame.begin() + static_cast<long>(at + take));
        r.resize(size_, 0);
        out.push_back(std::move(r));
    }
    return out;
}

// ------------------------------------------------------------ UsbDevice

UsbDevice::UsbDevice(UsbKind kind, std::string line_path, int protocol, unsigned line_baud)
    : identity_(usb_identity(kind)),
      line_path_(std::move(line_path)),
      protocol_(protocol),
      line_baud_(line_baud),
      reports_(kind) {}

UsbDevice::~UsbDevice() { stop(); }

bool UsbDevice::start() {
    if (!line_.open(line_path_)) return false;
    stopping_ = false;
    reader_ = std::thread([this] { run(); });
    return true;
}

void UsbDevice::stop() {
    stopping_ = true;
    if (reader_.joinable()) reader_.join();
    line_.close();
}

void UsbDevice::on_in_ready(std::function<void()> notify) {
    std::lock_guard hold(mutex_);
    notify_ = std::move(notify);
}

UsbDevice::Answer UsbDevice::standard_request(const UsbSetup& s) const {
    Answer a{Answer::Kind::done, {}};
    if (s.request == kGetConfiguration) {
        a.data = {1};
    } else if (s.request == kGetDescriptor) {
        const Bytes all = usb_descriptors(identity_.kind);
        switch (hi(s.value)) {
        case 1: a.data.assign(all.begin(), all.begin() + 18); break;
        case 2: a.data.assign(all.begin() + 18, all.end()); break;
        case 3: {
            const char* texts[] = {identity_.manufacturer, identity_.product, identity_.serial};
            const unsigned i = lo(s.value);
            if (i == 0) {
                a.data = {4, 0x03, 0x09, 0x04};
            } else if (i <= 3 && texts[i - 1]) {
                a.data = string_descriptor(texts[i - 1]);
            } else {
                return {};
            }
            break;
        }
        default: return {};
        }
    } else {
        return {};
    }
    if (a.data.size() > s.length) a.data.resize(s.length);
    return a;
}

UsbDevice::Answer UsbDevice::ch340g_request(const UsbSetup& s) {
    Answer done{Answer::Kind::done, {}};
    if (s.request_type == kCh340gStatusIn && s.request == 0) {
        done.data.assign(std::min<size_t>(s.length, 4), 0);
        return done;
    }
    if (s.request_type == kVendorOut && (s.request == kCh340gSerialInit || s.request == kCh340gModem)) return done;
    if (s.request_type == kVendorOut && s.request == kCh340gWrite) {
        registers_[lo(s.value)] = lo(s.index);
        registers_[hi(s.value)] = hi(s.index);
        if (lo(s.value) == kCh340gPrescaler || hi(s.value) == kCh340gDivisor) rate_set_ = true;
        return done;
    }
    if (s.request_type == kVendorIn && s.request == kCh340gRead) {
        done.data = {registers_[lo(s.value)], registers_[hi(s.value)]};
        done.data.resize(std::min<size_t>(s.length, 2));
        return done;
    }
    return {};
}

UsbDevice::Answer UsbDevice::hid_request(const UsbSetup& s, ByteView data) {
    Answer done{Answer::Kind::done, {}};
    const bool reports_by_control = identity_.kind == UsbKind::hid_reader || identity_.kind == UsbKind::pdiusbd12;
    const uint16_t report_value = identity_.kind == UsbKind::pdiusbd12 ? 0x0300 : 0x0200;
    if (s.request_type == kClassOut && s.request == kSetReport) {
        if (identity_.kind == UsbKind::ch9326 && data.size() >= 5 && data[0] == kCh9326Config0 &&
            data[1] == kCh9326Config1) {
            ch9326_settings_.assign(data.begin() + 2, data.begin() + 5);
            return done;
        }
        if (!reports_by_control || s.value != report_value || data.size() != reports_.report_size()) return {};
        report_from_host(data);
        return done;
    }
    if (s.request_type == kClassIn && s.request == kGetReport && identity_.kind == UsbKind::pdiusbd12 &&
        s.value == report_value)
        return next_in_report(s.length);
    return {};
}

UsbDevice::Answer UsbDevice::control(const UsbSetup& setup, ByteView data) {
    std::lock_guard hold(mutex_);
    if ((setup.request_type & 0x60) == 0) return standard_request(setup);
    class_requests_.push_back(setup);
    if (identity_.kind == UsbKind::ch340g) return ch340g_request(setup);
    return hid_request(setup, data);
}

bool UsbDevice::out(uint8_t endpoint, ByteView data) {
    std::lock_guard hold(mutex_);
    if (endpoint != 0x02) return false;
    if (identity_.kind == UsbKind::ch340g) {
        report_from_host(data);
        return true;
    }
    if (identity_.kind != UsbKind::ch9326 || data.empty()) return false;
    // The length byte says how many bytes the adapter passes on; the
    // reader's side of the line sees them as a report.
    const size_t valid = std::min<size_t>(data[0], data.size() - 1);
    Bytes report(data.begin() + 1, data.begin() + 1 + static_cast<long>(valid));
    report.resize(reports_.report_size(), 0);
    report_from_host(report);
    return true;
}

UsbDevice::Answer UsbDevice::in(uint8_t endpoint, size_t length) {
    std::lock_guard hold(mutex_);
    const bool data_endpoint = (identity_.kind == UsbKind::hid_reader && endpoint == 0x81) ||
                               ((identity_.kind == UsbKind::ch340g || identity_.kind == UsbKind::ch9326) &&
                                endpoint == 0x82);
    if (data_endpoint) return next_in_report(length);
    const bool known = endpoint == 0x81 || endpoint == 0x82;
    return known ? Answer{Answer::Kind::pending, {}} : Answer{};
}

UsbDevice::Answer UsbDevice::next_in_report(size_t length) {
    if (to_host_.empty()) return {Answer::Kind::pending, {}};
    Answer a{Answer::Kind::done, std::move(to_host_.front())};
    to_host_.pop_front();
    if (identity_.kind == UsbKind::ch9326) a.data.insert(a.data.begin(), kCh9326Full);
    if (a.data.size() > length) a.data.resize(length);
    return a;
}

// Bytes cross an adapter only when its line runs within 3 % of the
// reader's rate (and, on the CH340G, with 8 data bits enabled).
bool UsbDevice::line_passes() const {
    if (identity_.kind != UsbKind::ch340g && identity_.kind != UsbKind::ch9326) return true;
    const unsigned rate = line_rate_locked();
    const unsigned diff = rate > line_baud_ ? rate - line_baud_ : line_baud_ - rate;
    const bool near = rate != 0 && diff * 100 <= line_baud_ * 3;
    if (identity_.kind == UsbKind::ch9326) return near;
    return near && registers_[kCh340gLcr] == kCh340gLcrEnable8 && registers_[kCh340gLcr2] == 0;
}

unsigned UsbDevice::line_rate_locked() const {
    if (identity_.kind == UsbKind::ch9326)
        return ch9326_settings_.size() == 3 ? adapter_rate(ch9326_settings_[0], ch9326_settings_[1]) : 0;
    return rate_set_ ? adapter_rate(registers_[kCh340gPrescaler], registers_[kCh340gDivisor]) : 0;
}

void UsbDevice::report_from_host(ByteView report) {
    const Bytes frame = reports_.from_host(report, protocol_);
    if (frame.empty() || !line_passes() || stopping_) return;
    ++frames_to_reader_;
    (void)line_.write(frame);
}

void UsbDevice::run() {
    Bytes pending;
    while (!stopping_) {
        pollfd p{line_.fd(), POLLIN, 0};
        const int rc = ::poll(&p, 1, 20);
        if (rc <= 0) continue;
        uint8_t buf[512];
        const ssize_t n = (p.revents & POLLIN) ? ::read(line_.fd(), buf, sizeof buf) : -1;
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            ::usleep(20000);  // the line hung up: the device waits to be pulled out
            continue;
        }
        pending.insert(pending.end(), buf, buf + n);
        std::function<void()> notify;
        {
            std::lock_guard hold(mutex_);
            for (;;) {
                const ReplyFrame f = decode_reply_frame(protocol_, pending);
                if (f.kind == Decode::need_more) break;
                if (f.kind != Decode::garbage && line_passes()) {
                    for (Bytes& r : reports_.to_host(ByteView(pending).first(f.consumed))) {
                        to_host_.push_back(std::move(r));
                        ++reports_to_host_;
                    }
                }
                pending.erase(pending.begin(), pending.begin() + static_cast<long>(f.consumed));
            }
            notify = notify_;
        }
        if (notify) notify();
    }
}

std::vector<UsbSetup> UsbDevice::class_requests() const {
    std::lock_guard hold(mutex_);
    return class_requests_;
}

unsigned UsbDevice::line_rate() const {
    std::lock_guard hold(mutex_);
    return line_rate_locked();
}

std::vector<uint8_t> UsbDevice::ch9326_settings() const {
    std::lock_guard hold(mutex_);
    return ch9326_settings_;
}

size_t UsbDevice::frames_to_reader() const {
    std::lock_guard hold(mutex_);
    return frames_to_reader_;
}

size_t UsbDevice::reports_to_host() const {
    std::lock_guard hold(mutex_);
    return reports_to_host_;
}

}  // namespace vrsim
