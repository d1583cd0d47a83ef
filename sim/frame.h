// Frames of the reader link, both directions, for protocols 1, 2, 3 and 6.
//
// Decoders are pure functions over a byte span: they never look past the
// span, keep no state between calls, and report whether the start of the
// span is a whole frame, the beginning of one (need more bytes), a frame
// with a bad checksum, or bytes that cannot start a frame (garbage).
#pragma once

#include <optional>

#include "wire.h"

namespace vrsim {

enum class Decode { need_more, frame, bad_checksum, garbage };

// 1, 2, 3 and 6; 4 and 5 do not exist on the wire.
[[nodiscard]] bool protocol_supported(int protocol);

// Protocol 2 acknowledges the host's handshake byte and each frame with
// this single byte; it has no reply frame.
constexpr uint8_t kP2Ack = 0x10;

// --------------------------------------------------------- host -> reader

struct HostFrame {
    Decode kind = Decode::need_more;
    size_t consumed = 0;     // bytes at the start of the span this covers
    Bytes body;              // frame: the message body
    bool encrypted = false;  // protocol 3: the frame came with head 0x42
    bool handshake = false;  // protocol 2: the lone 0x02 before a frame
};

// Decodes the host frame at the start of `buf`. `at_gap` says the line has
// gone quiet: a frame that lacks only its trailer byte is then accepted,
// and an unfinished frame start is given up as garbage (one byte), so a
// stray head byte cannot hold up the link.
//
// Protocol 6 frames carry no length field of their own: the body layout
// (code, 1- or 2-byte length, data) gives the extent. The two bodies that
// the link writes raw in any protocol are recognised as well: the repeat
// request 16 02 and the echo 02 0F <data> (whose end is found by the first
// position where the xor and the trailer 0x55 both match).
[[nodiscard]] HostFrame decode_host_frame(int protocol, ByteView buf,
                                          bool at_gap);

// The frame the host writes for a body (protocol 2: without the handshake
// byte that precedes it). Empty for an unsupported protocol.
[[nodiscard]] Bytes encode_host_frame(int protocol, ByteView body,
                                      bool encrypted_head = false);

// The body the command exchange builds for a plain (not enciphered)
// request: code low, code high, data; protocol 6: code low, length (one
// byte below 256, else two bytes high, low), data.
[[nodiscard]] Bytes request_body(int protocol, uint16_t cmd, ByteView data);

// Splits a received body into command and data; nothing for a body that
// does not fit the protocol's layout.
[[nodiscard]] std::optional<Request> parse_request_body(int protocol,
                                                        ByteView body,
                                                        bool encrypted);

// --------------------------------------------------------- reader -> host

struct ReplyFrame {
    Decode kind = Decode::need_more;
    size_t consumed = 0;
    uint8_t status = 0;
    Bytes data;
    uint16_t cmd_echo = 0;   // protocol 1 only
    uint16_t node = 0;       // protocol 1 only
    bool encrypted = false;  // protocol 3 head 0x42
};

// The reader's frame for a reply: protocol 3 `02|42 02 L body crc` (body =
// status, data); protocol 6 `02 form status L data xor`; protocol 1 `AA BB
// L` then node, command echo, status, data and checksum with 0xAA
// stuffing. Protocol 2 has no reply frame (empty result). `data` longer
// than the protocol allows is cut to fit.
[[nodiscard]] Bytes encode_reply_frame(int protocol, uint8_t status,
                                       ByteView data, uint16_t cmd_echo = 0,
                                       bool encrypted = false);

// Decodes a reader frame the way a host reads it (used by tests and tools
// that stand on the host side of the link).
[[nodiscard]] ReplyFrame decode_reply_frame(int protocol, ByteView buf);

// Spoils the checksum of an encoded reply frame, keeping it well formed
// otherwise (protocol 1 stuffing stays consistent).
void corrupt_checksum(Bytes& frame, int protocol);

}  // namespace vrsim
