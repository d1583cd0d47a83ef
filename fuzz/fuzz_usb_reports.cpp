// The USB links' report parsing over whatever a device sends: the reports
// of each attachment glued into frame bytes, the CH9326's length byte, and
// the cutting of outgoing frames into reports. Input: a configuration byte
// (attachment, CH9326 packets), the length of a frame to cut (2 bytes, low
// first) and the frame, then per report the count of bytes "sent" and the
// report's bytes.
#include <algorithm>
#include <vector>

#include "fuzz_support.h"
#include "port/usb_attachments.h"
#include "port/usb_reports.h"

namespace {

using vr::port::usb::Attachment;

void glue_reports(vrfuzz::Input &in, const Attachment &a, bool packets) {
    vr::port::usb::Assembler host(a.layout, a.report_size);
    const size_t size = static_cast<size_t>(a.report_size);
    for (int r = 0; r < 64 && in.left() > 0; ++r) {
        int valid = in.byte();
        // The report as the transfer delivered it, in a buffer of exactly
        // the report's size (the driver's buffers are larger).
        auto report = vrfuzz::exact(size + (packets ? 1 : 0));
        const auto bytes = in.take(size + (packets ? 1 : 0));
        std::copy(bytes.begin(), bytes.end(), report.get());
        const uint8_t *payload = report.get();
        if (packets) {
            const int got = std::min<int>(valid, static_cast<int>(size) + 1);
            valid = vr::port::usb::packet_payload(report.get(), got, a.report_size);
            vrfuzz::check(valid >= -1 && valid <= a.report_size && valid <= std::max(got - 1, 0), "packet payload");
            if (valid <= 0) continue;
            ++payload;
        }
        auto out = vrfuzz::exact(size);
        const bool was_continuing = host.continuing();
        const int n = host.take(payload, valid, out.get());
        vrfuzz::check(n >= -1 && n <= a.report_size, "frame bytes of one report");
        if (n < 0) vrfuzz::check(host.continuing() == was_continuing, "a refused report changes nothing");
        if (n >= 0 && !was_continuing && payload[0] != vr::port::usb::kMarkerMore)
            vrfuzz::check(n <= valid, "a whole frame is within what was sent");
    }
}

void cut_frame(vrfuzz::Input &in, const Attachment &a) {
    const auto message = in.take(in.u16() % 300);
    const int n = static_cast<int>(message.size());
    const int size = a.report_size;
    const int capacity = vr::port::usb::reports_for(n < 1 ? 1 : n, size) * size;
    auto out = vrfuzz::exact(static_cast<size_t>(capacity));
    const int rc = vr::port::usb::cut_message(message.data(), n, size, out.get(), capacity);
    if (n < 1 || n > vr::port::usb::kMaxMessage) {
        vrfuzz::check(rc == -1, "out of range");
        return;
    }
    vrfuzz::check(rc == capacity && rc % size == 0, "whole reports");
    if (rc == size) {
        vrfuzz::check(std::equal(message.begin(), message.end(), out.get()), "a frame that fits goes as it is");
        return;
    }
    std::vector<uint8_t> carried;
    for (int at = 0; at < rc; at += size) {
        const bool last = at + size == rc;
        vrfuzz::check(out[static_cast<size_t>(at)] == (last ? 0x02 : 0x82) && out[static_cast<size_t>(at) + 1] == 0x02,
                      "markers");
        carried.insert(carried.end(), out.get() + at + 2, out.get() + at + size);
    }
    vrfuzz::check(std::equal(message.begin() + 2, message.end(), carried.begin()), "the frame after its head");
    vrfuzz::check(std::all_of(carried.begin() + (n - 2), carried.end(), [](uint8_t b) { return b == 0; }),
                  "zero padding");
}

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t config = in.byte();
    const Attachment &a = vr::port::usb::kAttachments[config & 3];
    cut_frame(in, a);
    glue_reports(in, a, (config & 4) != 0);
}
