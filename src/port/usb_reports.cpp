// Reports of the USB links, host side: see usb_reports.h.
#include "port/usb_reports.h"

#include <cstring>

namespace vr::port::usb {

namespace {

constexpr int kHeadBytes = 2;  // a frame's head, which a long frame's reports drop

}  // namespace

int reports_for(int n, int size) {
    if (n <= size) return 1;
    const int per_report = size - kHeadBytes;
    return (n - kHeadBytes + per_report - 1) / per_report;
}

int cut_message(const uint8_t *message, int n, int size, uint8_t *out, int capacity) {
    if (!message || !out || n < 1 || n > kMaxMessage || size <= kHeadBytes || size > kMaxReport) return -1;
    const int reports = reports_for(n, size);
    if (reports * size > capacity) return -1;
    std::memset(out, 0, static_cast<std::size_t>(reports * size));
    if (reports == 1) {
        std::memcpy(out, message, static_cast<std::size_t>(n));
        return size;
    }
    const int per_report = size - kHeadBytes;
    int at = kHeadBytes;
    for (int r = 0; r < reports; ++r) {
        uint8_t *report = out + r * size;
        report[0] = r + 1 < reports ? kMarkerMore : kMarkerLast;
        report[1] = 0x02;
        const int take = n - at < per_report ? n - at : per_report;
        std::memcpy(report + kHeadBytes, message + at, static_cast<std::size_t>(take));
        at += take;
    }
    return reports * size;
}

// A report holding a whole frame: protocol 3 `02 02 L_lo L_hi body crc`
// (L + 6 bytes), protocol 6 `02 form status L data xor` (L + 5 bytes).
int Assembler::whole_frame_length(const uint8_t *report) const {
    if (layout_ == Layout::protocol6) return report[3] + 5;
    return report[2] + 256 * report[3] + 6;
}

int Assembler::take(const uint8_t *report, int valid, uint8_t *out) {
    if (!report || !out || valid < 4 || valid > size_) return -1;
    if (!continuing_) {
        if (report[0] == kMarkerMore) {
            // The first report of a long frame: all of it, with the frame's
            // head byte back in place of the marker.
            if (valid < size_) return -1;
            std::memcpy(out, report, static_cast<std::size_t>(size_));
            out[0] = 0x02;
            continuing_ = true;
            return size_;
        }
        const int length = whole_frame_length(report);
        if (length > valid) return -1;
        std::memcpy(out, report, static_cast<std::size_t>(length));
        return length;
    }
    // A later report of a long frame: its marker bytes dropped, the last
    // one (0x02) ends the frame.
    if (valid < size_) return -1;
    const int markers = layout_ == Layout::protocol6 ? 1 : 2;
    const int count = size_ - markers;
    std::memcpy(out, report + markers, static_cast<std::size_t>(count));
    if (report[0] == kMarkerLast) continuing_ = false;
    return count;
}

int packet_payload(const uint8_t *packet, int got, int size) {
    if (!packet || got <= 0 || packet[0] == 0) return 0;
    if (packet[0] > size || packet[0] > got - 1) return -1;
    return packet[0];
}

}  // namespace vr::port::usb
