// How the USB links carry reader frames in fixed-size reports, on the host's
// side: an outgoing frame is cut into reports, incoming reports are glued
// back into the frame bytes. Pure code over caller buffers; what a device
// sends is untrusted, so a report that claims more than it holds is
// refused, never copied past.
#pragma once

#include <cstdint>

namespace vr::port::usb {

// The report layouts of the attachments. Both start a frame that does not
// fit one report with the marker 0x82 in place of the frame's first byte.
enum class Layout {
    // HID reader, CH340G, CH9326: a report holding a whole frame gives the
    // frame's length in bytes 2 and 3 (protocol 3); later reports of a long
    // frame start with two marker bytes.
    protocol3,
    // PDIUSBD12: the length is byte 3 (protocol 6, one length byte); later
    // reports start with one marker byte.
    protocol6,
};

constexpr uint8_t kMarkerMore = 0x82;  // first byte of a report that more reports follow
constexpr uint8_t kMarkerLast = 0x02;  // first byte of the last report of a long frame
constexpr int kMaxMessage = 262;       // longest frame the links send
constexpr int kMaxReport = 64;

// ---- host to device
// Reports needed for a message of n bytes (1 <= n <= kMaxMessage) with
// reports of `size` bytes: one when it fits, else one per size - 2 bytes
// after the frame's two head bytes.
int reports_for(int n, int size);
// Writes the reports of a message into out (reports_for(n, size) * size
// bytes): a message that fits goes as it is, padded with zeros; a longer one
// loses its two head bytes and each report starts with the markers 0x82
// 0x02, the last with 0x02 0x02, then size - 2 message bytes (the last one
// padded with zeros). Returns the bytes written, or -1 when n is out of
// range or out is too small.
int cut_message(const uint8_t *message, int n, int size, uint8_t *out, int capacity);

// ---- device to host
// Glues the reports of one attachment back into frame bytes. It remembers
// whether a long frame is under way between reports; reset() forgets it
// (a new open, or received bytes thrown away).
class Assembler {
public:
    constexpr Assembler(Layout layout, int size) : layout_(layout), size_(size) {}

    // The frame bytes a report carries, written to out (room for size
    // bytes): their count, or -1 when the report is refused: `valid`, the
    // bytes the device really sent, is below what the report claims to
    // carry (a whole frame longer than the bytes sent or the report, a part
    // of a long frame shorter than a report) or above the report size.
    // A refused report changes nothing.
    int take(const uint8_t *report, int valid, uint8_t *out);

    void reset() { continuing_ = false; }
    bool continuing() const { return continuing_; }
    int size() const { return size_; }

private:
    int whole_frame_length(const uint8_t *report) const;

    Layout layout_;
    int size_;
    bool continuing_ = false;
};

// A CH9326 packet: a length byte, then a report of size bytes of which the
// length byte says how many the adapter really received. The count of
// valid report bytes; 0 for a packet that carries none (nothing arrived
// within the transfer's time-out); -1 when the length byte claims more
// than the report or the transfer holds (`got` bytes came).
int packet_payload(const uint8_t *packet, int got, int size);

}  // namespace vr::port::usb
