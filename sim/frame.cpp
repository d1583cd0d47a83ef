#include "frame.h"

#include <algorithm>
#include <array>

namespace vrsim {
namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEncHead = 0x42;
constexpr uint8_t kLongForm = 0x42;  // protocol 6: two length bytes follow
constexpr uint8_t kTrailer = 0x55;
constexpr uint8_t kP1Head0 = 0xAA;
constexpr uint8_t kP1Head1 = 0xBB;
constexpr uint8_t kP1Stuff = 0x00;
constexpr uint8_t kP2Start = 0x01;
constexpr uint8_t kP2Etx = 0x03;

constexpr std::array<uint8_t, 2> kRepeatBody{0x16, 0x02};
constexpr std::array<uint8_t, 2> kEchoPrefix{0x02, 0x0F};

uint8_t lo(size_t v) { return static_cast<uint8_t>(v & 0xFF); }
uint8_t hi(size_t v) { return static_cast<uint8_t>((v >> 8) & 0xFF); }

HostFrame host_result(Decode kind, size_t consumed) {
    HostFrame f;
    f.kind = kind;
    f.consumed = consumed;
    return f;
}

HostFrame host_body(ByteView body, size_t consumed) {
    HostFrame f = host_result(Decode::frame, consumed);
    f.body.assign(body.begin(), body.end());
    return f;
}

// An incomplete frame start waits for more bytes, unless the line is idle.
HostFrame incomplete(bool at_gap) {
    return at_gap ? host_result(Decode::garbage, 1)
                  : host_result(Decode::need_more, 0);
}

bool can_start_host_frame(int protocol, uint8_t b) {
    switch (protocol) {
    case 1: return b == kP1Head0;
    case 2: return b == kStx || b == kP2Start;
    case 3: return b == kStx || b == kEncHead;
    case 6: return b == kStx;
    default: return false;
    }
}

size_t leading_garbage(int protocol, ByteView buf) {
    size_t i = 0;
    while (i < buf.size() && !can_start_host_frame(protocol, buf[i])) ++i;
    return i;
}

HostFrame decode_host_p3(ByteView buf, bool at_gap) {
    if (buf.size() < 2) return incomplete(at_gap);
    if (buf[1] != kStx) return host_result(Decode::garbage, 1);
    if (buf.size() < 4) return incomplete(at_gap);
    const size_t len = buf[2] | (static_cast<size_t>(buf[3]) << 8);
    if (len == 0 || len > kMaxBody) return host_result(Decode::garbage, 1);
    const size_t crc_end = 4 + len + 2;
    if (buf.size() < crc_end) return incomplete(at_gap);
    // The frame ends with the trailer 0x55; wait for it unless the line is
    // idle, so that the logged frame is the whole frame.
    if (buf.size() == crc_end && !at_gap) return host_result(Decode::need_more, 0);
    size_t consumed = crc_end;
    if (buf.size() > crc_end && buf[crc_end] == kTrailer) ++consumed;

    const uint16_t got = static_cast<uint16_t>(buf[4 + len] | (buf[5 + len] << 8));
    if (crc16_modbus(buf.subspan(2, len + 2)) != got)
        return host_result(Decode::bad_checksum, consumed);
    HostFrame f = host_body(buf.subspan(4, len), consumed);
    f.encrypted = buf[0] == kEncHead;
    return f;
}

// Protocol 6: tries the possible body extents in a fixed order.
class P6Candidates {
public:
    P6Candidates(ByteView buf) : buf_(buf) {}

    // A body of n bytes: 02 02 body xor 55. Returns true when it matches.
    bool try_body(size_t n) {
        if (n == 0 || n > kMaxBody) return false;
        const size_t total = 2 + n + 2;
        if (buf_.size() < total) {
            pending_ = true;
            return false;
        }
        const bool trailer = buf_[total - 1] == kTrailer;
        const bool sum = xor_of(buf_.subspan(1, n + 1)) == buf_[2 + n];
        if (trailer && sum) {
            found_ = n;
            return true;
        }
        if (trailer && bad_ == 0) bad_ = total;
        return false;
    }

    bool prefix_matches(ByteView fixed) const {
        const size_t m = std::min(buf_.size() - 2, fixed.size());
        return std::equal(fixed.begin(), fixed.begin() + static_cast<long>(m),
                          buf_.begin() + 2);
    }

    // The raw echo body 02 0F <data>: the first extent whose xor and
    // trailer match ends it.
    bool scan_echo() {
        for (size_t n = kEchoPrefix.size(); n <= kMaxBody; ++n) {
            if (2 + n + 2 > buf_.size()) {
                pending_ = true;
                return false;
            }
            if (try_body(n)) return true;
        }
        return false;
    }

    HostFrame result(bool at_gap) const {
        if (found_ > 0) return host_body(buf_.subspan(2, found_), 2 + found_ + 2);
        if (pending_ && !at_gap) return host_result(Decode::need_more, 0);
        if (bad_ > 0) return host_result(Decode::bad_checksum, bad_);
        return host_result(Decode::garbage, 1);
    }

    void mark_pending() { pending_ = true; }

private:
    ByteView buf_;
    size_t found_ = 0;  // body length of the matching extent; 0 for none
    size_t bad_ = 0;    // frame length of an extent that failed only its xor
    bool pending_ = false;
};

HostFrame decode_host_p6(ByteView buf, bool at_gap) {
    if (buf.size() < 2) return incomplete(at_gap);
    if (buf[1] != kStx) return host_result(Decode::garbage, 1);
    P6Candidates c(buf);
    [&] {
        if (c.prefix_matches(kRepeatBody) && c.try_body(kRepeatBody.size())) return;
        if (buf.size() < 4) {
            c.mark_pending();
            return;
        }
        if (c.try_body(2 + size_t{buf[3]})) return;
        if (buf.size() < 5) {
            if (buf[3] != 0) c.mark_pending();
        } else {
            const size_t len2 = (size_t{buf[3]} << 8) | buf[4];
            if (len2 >= 256 && c.try_body(3 + len2)) return;
        }
        if (c.prefix_matches(kEchoPrefix)) c.scan_echo();
    }();
    return c.result(at_gap);
}

HostFrame decode_host_p1(ByteView buf, bool at_gap) {
    if (buf.size() < 2) return incomplete(at_gap);
    if (buf[1] != kP1Head1) return host_result(Decode::garbage, 1);
    if (buf.size() < 4) return incomplete(at_gap);
    const size_t len = buf[2] | (static_cast<size_t>(buf[3]) << 8);
    // len counts the two node bytes, the body and the checksum.
    if (len < 4 || len - 3 > kMaxBody) return host_result(Decode::garbage, 1);
    size_t pos = 4 + 2;  // node bytes
    if (buf.size() < pos) return incomplete(at_gap);
    HostFrame f = host_result(Decode::frame, 0);
    f.body.reserve(len - 3);
    for (size_t k = 0; k < len - 3; ++k) {
        if (pos >= buf.size()) return incomplete(at_gap);
        const uint8_t b = buf[pos++];
        f.body.push_back(b);
        if (b == kP1Head0) {  // the host stuffs a byte after each 0xAA
            if (pos >= buf.size()) return incomplete(at_gap);
            ++pos;
        }
    }
    if (pos >= buf.size()) return incomplete(at_gap);
    const uint8_t sum = buf[pos];
    if (xor_of(buf.subspan(3, pos - 3)) != sum)
        return host_result(Decode::bad_checksum, pos + 1);
    f.consumed = pos + 1;
    return f;
}

HostFrame decode_host_p2(ByteView buf, bool at_gap) {
    if (buf[0] == kStx) {
        HostFrame f = host_result(Decode::frame, 1);
        f.handshake = true;
        return f;
    }
    if (buf.size() < 3) return incomplete(at_gap);
    const size_t rest = buf[2];  // body length - 1
    const size_t total = 3 + rest + 3;
    if (buf.size() < total) return incomplete(at_gap);
    if (buf[total - 2] != kP2Ack || buf[total - 1] != kP2Etx)
        return host_result(Decode::garbage, 1);
    if (xor_of(buf.subspan(0, 3 + rest)) != buf[3 + rest])
        return host_result(Decode::bad_checksum, total);
    HostFrame f = host_result(Decode::frame, total);
    f.body.push_back(buf[1]);
    f.body.insert(f.body.end(), buf.begin() + 3, buf.begin() + 3 + static_cast<long>(rest));
    return f;
}

void push_p1_stuffed(Bytes& out, uint8_t b) {
    out.push_back(b);
    if (b == kP1Head0) out.push_back(kP1Stuff);
}

}  // namespace

bool protocol_supported(int protocol) {
    return protocol == 1 || protocol == 2 || protocol == 3 || protocol == 6;
}

HostFrame decode_host_frame(int protocol, ByteView buf, bool at_gap) {
    if (buf.empty()) return host_result(Decode::need_more, 0);
    if (!protocol_supported(protocol))
        return host_result(Decode::garbage, buf.size());
    if (const size_t skip = leading_garbage(protocol, buf); skip > 0)
        return host_result(Decode::garbage, skip);
    switch (protocol) {
    case 1: return decode_host_p1(buf, at_gap);
    case 2: return decode_host_p2(buf, at_gap);
    case 3: return decode_host_p3(buf, at_gap);
    default: return decode_host_p6(buf, at_gap);
    }
}

Bytes encode_host_frame(int protocol, ByteView body, bool encrypted_head) {
    Bytes f;
    const size_t n = body.size();
    switch (protocol) {
    case 1:
        f = {kP1Head0, kP1Head1, lo(n + 3), hi(n + 3), 0x00, 0x00};
        for (uint8_t b : body) push_p1_stuffed(f, b);
        f.push_back(xor_of(ByteView(f).subspan(3)));
        break;
    case 2:
        if (n == 0) break;
        f = {kP2Start, body[0], lo(n - 1)};
        f.insert(f.end(), body.begin() + 1, body.end());
        f.push_back(xor_of(f));
        f.push_back(kP2Ack);
        f.push_back(kP2Etx);
        break;
    case 3:
        f = {encrypted_head ? kEncHead : kStx, kStx, lo(n), hi(n)};
        f.insert(f.end(), body.begin(), body.end());
        {
            const uint16_t crc = crc16_modbus(ByteView(f).subspan(2));
            f.push_back(lo(crc));
            f.push_back(hi(crc));
        }
        f.push_back(kTrailer);
        break;
    case 6:
        f = {kStx, kStx};
        f.insert(f.end(), body.begin(), body.end());
        f.push_back(xor_of(ByteView(f).subspan(1)));
        f.push_back(kTrailer);
        break;
    default:
        break;
    }
    return f;
}

Bytes request_body(int protocol, uint16_t cmd, ByteView data) {
    Bytes b{lo(cmd)};
    if (protocol == 6) {
        if (data.size() < 256) {
            b.push_back(lo(data.size()));
        } else {
            b.push_back(hi(data.size()));
            b.push_back(lo(data.size()));
        }
    } else {
        b.push_back(hi(cmd));
    }
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

std::optional<Request> parse_request_body(int protocol, ByteView body,
                                          bool encrypted) {
    const auto tail = [&](size_t from) { return Bytes(body.begin() + static_cast<long>(from), body.end()); };
    if (protocol == 6) {
        const size_t n = body.size();
        if (n >= 2 && n == 2 + size_t{body[1]}) return Request{body[0], tail(2), false};
        if (n >= 3) {
            const size_t len2 = (size_t{body[1]} << 8) | body[2];
            if (len2 >= 256 && n == 3 + len2) return Request{body[0], tail(3), false};
        }
        if (std::ranges::equal(body, kRepeatBody)) return Request{kCmdRepeat, {}, false};
        if (n >= 2 && body[0] == kEchoPrefix[0] && body[1] == kEchoPrefix[1])
            return Request{kCmdEcho, tail(2), false};
        return std::nullopt;
    }
    if (!protocol_supported(protocol) || body.size() < 2) return std::nullopt;
    return Request{static_cast<uint16_t>(body[0] | (body[1] << 8)), tail(2),
                   encrypted && protocol == 3};
}

Bytes encode_reply_frame(int protocol, uint8_t status, ByteView data,
                         uint16_t cmd_echo, bool encrypted) {
    Bytes f;
    switch (protocol) {
    case 1: {
        Bytes payload{0x00, 0x00, lo(cmd_echo), hi(cmd_echo), status};
        payload.insert(payload.end(), data.begin(),
                       data.begin() + static_cast<long>(std::min(data.size(), kMaxBody - 5)));
        const uint8_t sum = xor_of(ByteView(payload).subspan(1));
        const size_t len = payload.size() + 1;
        f = {kP1Head0, kP1Head1, lo(len), hi(len)};
        for (uint8_t b : payload) push_p1_stuffed(f, b);
        push_p1_stuffed(f, sum);
        break;
    }
    case 3: {
        const size_t n = std::min(data.size(), kMaxBody - 1);
        const size_t len = n + 1;
        f = {encrypted ? kEncHead : kStx, kStx, lo(len), hi(len), status};
        f.insert(f.end(), data.begin(), data.begin() + static_cast<long>(n));
        const uint16_t crc = crc16_modbus(ByteView(f).subspan(2));
        f.push_back(lo(crc));
        f.push_back(hi(crc));
        break;
    }
    case 6: {
        const size_t n = std::min(data.size(), kMaxBody);
        if (n < 256)
            f = {kStx, kStx, status, lo(n)};
        else
            f = {kStx, kLongForm, status, hi(n), lo(n)};
        f.insert(f.end(), data.begin(), data.begin() + static_cast<long>(n));
        f.push_back(xor_of(ByteView(f).subspan(1)));
        break;
    }
    default:  // protocol 2 has no reply frame
        break;
    }
    return f;
}

namespace {

ReplyFrame reply_result(Decode kind, size_t consumed) {
    ReplyFrame r;
    r.kind = kind;
    r.consumed = consumed;
    return r;
}

ReplyFrame decode_reply_p3(ByteView buf) {
    if (buf[0] != kStx && buf[0] != kEncHead) return reply_result(Decode::garbage, 1);
    if (buf.size() < 2) return reply_result(Decode::need_more, 0);
    if (buf[1] != kStx) return reply_result(Decode::garbage, 1);
    if (buf.size() < 4) return reply_result(Decode::need_more, 0);
    const size_t len = buf[2] | (static_cast<size_t>(buf[3]) << 8);
    if (len == 0 || len > kMaxBody) return reply_result(Decode::garbage, 1);
    if (buf.size() < 4 + len + 2) return reply_result(Decode::need_more, 0);
    const uint16_t got = static_cast<uint16_t>(buf[4 + len] | (buf[5 + len] << 8));
    if (crc16_modbus(buf.subspan(2, len + 2)) != got)
        return reply_result(Decode::bad_checksum, 4 + len + 2);
    ReplyFrame r = reply_result(Decode::frame, 4 + len + 2);
    r.status = buf[4];
    r.data.assign(buf.begin() + 5, buf.begin() + 4 + static_cast<long>(len));
    r.encrypted = buf[0] == kEncHead;
    return r;
}

ReplyFrame decode_reply_p6(ByteView buf) {
    if (buf[0] != kStx) return reply_result(Decode::garbage, 1);
    if (buf.size() < 2) return reply_result(Decode::need_more, 0);
    if (buf[1] != kStx && buf[1] != kLongForm) return reply_result(Decode::garbage, 1);
    const size_t len_bytes = buf[1] == kLongForm ? 2 : 1;
    const size_t data_at = 3 + len_bytes;
    if (buf.size() < data_at) return reply_result(Decode::need_more, 0);
    const size_t len = len_bytes == 1 ? buf[3] : (size_t{buf[3]} << 8) | buf[4];
    if (len > kMaxBody) return reply_result(Decode::garbage, 1);
    const size_t total = data_at + len + 1;
    if (buf.size() < total) return reply_result(Decode::need_more, 0);
    if (xor_of(buf.subspan(1, total - 2)) != buf[total - 1])
        return reply_result(Decode::bad_checksum, total);
    ReplyFrame r = reply_result(Decode::frame, total);
    r.status = buf[2];
    r.data.assign(buf.begin() + static_cast<long>(data_at),
                  buf.begin() + static_cast<long>(data_at + len));
    return r;
}

ReplyFrame decode_reply_p1(ByteView buf) {
    if (buf[0] != kP1Head0) return reply_result(Decode::garbage, 1);
    if (buf.size() < 2) return reply_result(Decode::need_more, 0);
    if (buf[1] != kP1Head1) return reply_result(Decode::garbage, 1);
    if (buf.size() < 4) return reply_result(Decode::need_more, 0);
    const size_t len = buf[2] | (static_cast<size_t>(buf[3]) << 8);
    // node (2), echo (2), status and checksum at the least
    if (len < 6 || len > kMaxBody + 1) return reply_result(Decode::garbage, 1);
    Bytes raw;
    raw.reserve(len);
    size_t pos = 4;
    while (raw.size() < len) {
        if (pos >= buf.size()) return reply_result(Decode::need_more, 0);
        const uint8_t b = buf[pos++];
        raw.push_back(b);
        if (b == kP1Head0) {
            if (pos >= buf.size()) return reply_result(Decode::need_more, 0);
            ++pos;
        }
    }
    if (xor_of(ByteView(raw).subspan(1)) != 0) return reply_result(Decode::bad_checksum, pos);
    ReplyFrame r = reply_result(Decode::frame, pos);
    r.node = static_cast<uint16_t>(raw[0] | (raw[1] << 8));
    r.cmd_echo = static_cast<uint16_t>(raw[2] | (raw[3] << 8));
    r.status = raw[4];
    r.data.assign(raw.begin() + 5, raw.end() - 1);
    return r;
}

}  // namespace

ReplyFrame decode_reply_frame(int protocol, ByteView buf) {
    if (buf.empty()) return reply_result(Decode::need_more, 0);
    switch (protocol) {
    case 1: return decode_reply_p1(buf);
    case 3: return decode_reply_p3(buf);
    case 6: return decode_reply_p6(buf);
    default: return reply_result(Decode::garbage, buf.size());
    }
}

void corrupt_checksum(Bytes& frame, int protocol) {
    if (frame.empty()) return;
    if (protocol != 1) {
        frame.back() ^= 0x01;
        return;
    }
    // Protocol 1: the checksum is the last byte before any stuffing byte.
    const bool stuffed = frame.size() >= 2 && frame[frame.size() - 2] == kP1Head0 &&
                         frame.back() == kP1Stuff;
    if (stuffed) frame.pop_back();
    frame.back() ^= 0x01;
    if (frame.back() == kP1Head0) frame.push_back(kP1Stuff);
}

}  // namespace vrsim
