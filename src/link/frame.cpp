// Message framing: a body becomes a frame of the selected link protocol on
// the way out, and a frame read from the port becomes a body on the way in.
// Protocol 3 is the first reader family's (CRC16), protocol 6 the second
// family's (XOR); 1 and 2 are older formats.
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "core/errors.h"
#include "link/link.h"
#include "link/trace.h"
#include "log.h"
#include "port/port.h"
#include "suart.h"
#include "sys.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

using namespace vr::link;

constexpr unsigned kRetryPauseUs = 10000;
// Protocol 1 doubles every 0xAA at worst: 2n + 7 bytes.
constexpr int kMaxFrame = 2 * kMaxBody + 7;

// The bytes of the reply frame being read, for the link trace (null when
// nothing is traced).
thread_local std::vector<uint8_t> *t_frame_bytes = nullptr;

int read_bytes(uint8_t *buf, int n) {
    const int got = vr::port::device_read(buf, n);
    if (t_frame_bytes && got > 0) t_frame_bytes->insert(t_frame_bytes->end(), buf, buf + got);
    return got;
}

// Keeps what one reply read takes from the port and records it in the link
// trace when the read ends, from the frame's head on: a whole frame, or as
// much of a broken one as arrived.
class TracedRead {
public:
    explicit TracedRead(int protocol) : protocol_(protocol) {
        if (tracing()) t_frame_bytes = &bytes_;
    }
    ~TracedRead() {
        if (t_frame_bytes != &bytes_) return;
        t_frame_bytes = nullptr;
        if (head_found_) trace_frame(vr::trace::Direction::from_reader, protocol_, bytes_.data(), bytes_.size());
    }
    TracedRead(const TracedRead &) = delete;
    TracedRead &operator=(const TracedRead &) = delete;
    // The head search is over: what came before the head's bytes is not
    // part of the frame.
    void at_head(std::size_t head_size) {
        head_found_ = true;
        if (bytes_.size() > head_size)
            bytes_.erase(bytes_.begin(), bytes_.end() - static_cast<std::ptrdiff_t>(head_size));
    }

private:
    int protocol_;
    bool head_found_ = false;
    std::vector<uint8_t> bytes_;
};

bool read_byte(uint8_t *b) { return read_bytes(b, 1) == 1; }

int write_bytes(const uint8_t *buf, int n) { return vr::port::device_write(buf, n); }

uint8_t xor_of(const uint8_t *b, int from, int to_inclusive) {
    uint8_t x = 0;
    for (int i = from; i <= to_inclusive; ++i) x ^= b[i];
    return x;
}

int build_p1(const uint8_t *body, int n, uint8_t *f) {
    int at = 0;
    f[at++] = kP1Head0;
    f[at++] = kP1Head1;
    f[at++] = static_cast<uint8_t>((n + 3) & 0xFF);
    f[at++] = static_cast<uint8_t>((n + 3) >> 8);
    f[at++] = 0;
    f[at++] = 0;
    for (int i = 0; i < n; ++i) {
        f[at++] = body[i];
        if (body[i] == kP1Head0) f[at++] = 0x00;
    }
    f[at] = xor_of(f, 3, at - 1);
    return at + 1;
}

int build_p2(const uint8_t *body, int n, uint8_t *f) {
    int at = 0;
    f[at++] = kP2Start;
    f[at++] = body[0];
    f[at++] = static_cast<uint8_t>(n - 1);
    std::memcpy(f + at, body + 1, static_cast<std::size_t>(n - 1));
    at += n - 1;
    f[at] = xor_of(f, 0, at - 1);
    ++at;
    f[at++] = kP2Ack;
    f[at++] = kP2End;
    return at;
}

int build_p3(const uint8_t *body, int n, uint8_t *f) {
    const bool encrypted = tessil.s_com.enc_on == 1 && n >= 3;
    f[0] = encrypted ? kHeadEncrypted : kHead;
    f[1] = kHead;
    f[2] = static_cast<uint8_t>(n & 0xFF);
    f[3] = static_cast<uint8_t>(n >> 8);
    std::memcpy(f + 4, body, static_cast<std::size_t>(n));
    const uint16_t crc = CRC16(f + 2, n + 2);
    f[n + 4] = static_cast<uint8_t>(crc & 0xFF);
    f[n + 5] = static_cast<uint8_t>(crc >> 8);
    f[n + 6] = kTrailer;
    return n + 7;
}

int build_p6(const uint8_t *body, int n, uint8_t *f) {
    f[0] = kHead;
    f[1] = kHead;
    std::memcpy(f + 2, body, static_cast<std::size_t>(n));
    f[n + 2] = xor_of(f, 1, n + 1);
    f[n + 3] = kTrailer;
    return n + 4;
}

// Protocol 2's handshake: the reader acknowledges with 0x10.
bool read_ack() {
    uint8_t answer = 0;
    return read_byte(&answer) && answer == kP2Ack;
}

// Counts one unexpected byte of a head search against the port's time-out
// budget (protocols 1 and 2); false when the budget is spent.
bool within_budget(int *count) {
    sys_delay_nus(kRetryPauseUs);
    ++*count;
    return *count <= vr::port::timeout_ms() / 10000;
}

int read_p1(uint8_t *out) {
    TracedRead traced(1);
    int strays = 0;
    uint8_t b = 0;
    for (;;) {
        if (!read_byte(&b)) return vr::fail(vr::kERecv);
        if (b != kP1Head0) {
            if (!within_budget(&strays)) return vr::fail(vr::kERecv);
            continue;
        }
        if (!read_byte(&b)) return vr::fail(vr::kERecv);
        if (b == kP1Head1) break;
    }
    traced.at_head(2);
    uint8_t len[2];
    if (read_bytes(len, 2) != 2) return vr::fail(vr::kERecv);
    const int total = len[0] | (len[1] << 8);
    // The body (total - 1 bytes) must fit the caller's reply buffer.
    if (total < 1 || total - 1 > kMaxBody) return vr::fail(vr::kERecv);

    std::array<uint8_t, kMaxBody + 1> work{};
    for (int i = 0; i < total; ++i) {
        if (!read_byte(&work[static_cast<std::size_t>(i)])) return -1;
        if (work[static_cast<std::size_t>(i)] == kP1Head0 && !read_byte(&b)) return -1;
    }
    if (xor_of(work.data(), 1, total - 1) != 0) return vr::kEMsgWrong;
    std::memcpy(out, work.data(), static_cast<std::size_t>(total - 1));
    return total - 1;
}

int read_p2() {
    int strays = 0;
    uint8_t b = 0;
    for (;;) {
        if (!read_byte(&b)) return vr::fail(vr::kERecv);
        if (b == kHead) continue;
        if (!within_budget(&strays)) return vr::fail(vr::kERecv);
    }
}

// After an attempt that found no head: a removed device ends the search,
// otherwise pause before the next attempt.
int after_missed_head(bool watch_route_change) {
    if (virt_com_status() == VIRT_COM_REMOVED) {
        log_print(1, "EDEVINVAL virt_com_readmsg  111");
        return vr::fail(vr::kEDevInval);
    }
    sys_delay_nus(kRetryPauseUs);
    if (watch_route_change && suart_get_categstat() != 0) {
        suart_set_categstat(0);
        log_print(1, "EDEVINVAL virt_com_readmsg  222");
        return vr::fail(vr::kERecv);
    }
    return 0;
}

// Tries at_head() (which reads the frame's two head bytes) until it finds
// them, for twice the time-out: 0, or -1 with errno set.
template <typename AtHead>
int find_head(int timeout, bool watch_route_change, AtHead at_head) {
    const uint32_t start = getTickCount();
    const uint32_t budget = 2u * static_cast<uint32_t>(timeout > 0 ? timeout : 0);
    while (getTickCount() - start < budget) {
        if (at_head()) return 0;
        if (after_missed_head(watch_route_change) != 0) return -1;
    }
    log_print(1, "frame_head_flag timeout");
    return vr::fail(vr::kERecv);
}

int read_p3(uint8_t *out, int timeout) {
    TracedRead traced(3);
    std::array<uint8_t, kMaxBody + 4> work;
    uint8_t head = 0;
    const auto at_head = [&head] {
        uint8_t b = 0;
        return read_byte(&head) && (head == kHead || head == kHeadEncrypted) && read_byte(&b) && b == kHead;
    };
    if (find_head(timeout, true, at_head) != 0) return -1;
    traced.at_head(2);
    if (read_bytes(work.data(), 2) != 2) {
        log_print(1, "frame len flag timout");
        return vr::fail(vr::kERecv);
    }
    const int len = work[0] | (work[1] << 8);
    if (len == 0 || len > kMaxBody) {
        log_print(1, "virt_com_readmsg msg_len err: %d\n", len);
        return vr::fail(vr::kERecv);
    }
    if (read_bytes(work.data() + 2, len + 2) != len + 2) {
        log_print(1, "frame body timout");
        return vr::fail(vr::kERecv);
    }
    const uint16_t computed = CRC16(work.data(), len + 2);
    const uint16_t received = static_cast<uint16_t>(work[static_cast<std::size_t>(len + 2)] |
                                                    work[static_cast<std::size_t>(len + 3)] << 8);
    if (computed != received) {
        errno = vr::kEMesg;
        log_print(1, "crc: 0x%x 0x%x ", received, computed);
        log_print(1, "virt_com_readmsg EMESG crc err");
        return -2;
    }
    switch (work[2]) {
    case kStatusCrcErr:
        log_print(1, "reader received err CRCERR");
        return vr::fail(vr::kECrcErr);
    case kStatusTimeout:
        log_print(1, "reader received err TIMEOUTERR");
        return vr::fail(vr::kETimeoutErr);
    case kStatusCmdType:
        log_print(1, "reader received err CMDTYPEERR");
        return vr::fail(vr::kECmdTypeErr);
    case kStatusCmdLength:
        log_print(1, "reader received err CMDLENGTHERR");
        return vr::fail(vr::kECmdLengthErr);
    default: break;
    }
    std::memcpy(out, work.data() + 2, static_cast<std::size_t>(len));
    tessil.s_com.enc_reply = head == kHeadEncrypted ? 1 : 0;
    return len;
}

int read_p6(uint8_t *out, int timeout) {
    // form, status, up to 2 length bytes, data, checksum
    std::array<uint8_t, kMaxBody + 5> work;
    // The second head byte is the frame's form: plain or with two length bytes.
    const auto at_head = [&work] {
        uint8_t b = 0;
        return read_byte(&b) && b == kHead && read_byte(&work[0]) &&
               (work[0] == kHead || work[0] == kHeadEncrypted);
    };
    TracedRead traced(6);
    if (find_head(timeout, false, at_head) != 0) return -1;
    traced.at_head(2);
    if (!read_byte(&work[1])) {
        log_print(1, "fail to receive status code ...");
        return -1;
    }
    const int len_bytes = work[0] == kHeadEncrypted ? 2 : 1;
    if (read_bytes(work.data() + 2, len_bytes) != len_bytes) {
        log_print(1, "frame len flag timout");
        return vr::fail(vr::kERecv);
    }
    const int len = len_bytes == 2 ? (work[2] << 8 | work[3]) : work[2];
    if (len > kMaxBody) {
        log_print(1, "virt_com_readmsg msg_len err: %d\n", len);
        return vr::fail(vr::kERecv);
    }
    const int data_at = 2 + len_bytes;
    if (read_bytes(work.data() + data_at, len + 1) != len + 1) {
        log_print(1, "frame body timout");
        return vr::fail(vr::kERecv);
    }
    const uint8_t bcc = xor_of(work.data(), 0, data_at + len - 1);
    const uint8_t src = work[static_cast<std::size_t>(data_at + len)];
    if (bcc != src) {
        errno = vr::kECrcErr;
        log_print(1, "%s: bcc check fail, bcc: %02x, src: %02x", "virt_com_readmsg", bcc, src);
        return -1;
    }
    out[0] = work[1];
    std::memcpy(out + 1, work.data() + data_at, static_cast<std::size_t>(len));
    return len + 1;
}

}  // namespace

namespace vr::link {

int check_port(const char *who_on_removed) {
    const int state = virt_com_status();
    if (state == VIRT_COM_CLOSED) return -1;
    if (state == VIRT_COM_REMOVED) {
        if (who_on_removed) log_print(1, "%s", who_on_removed);
        return vr::fail(vr::kEDevInval);
    }
    return 0;
}

}  // namespace vr::link

VR_API int virt_com_writemsg(const uint8_t *body, int n, int protocol) {
    if (check_port("EDEVINVAL virt_com_writemsg") != 0) return -1;
    if (!protocol_supported(protocol)) return vr::fail(vr::kEFormat);
    if (!body || n < 1 || n > kMaxBody) return vr::fail(vr::kEArg);

    std::array<uint8_t, kMaxFrame> frame;
    int size = 0;
    switch (protocol) {
    case 1: size = build_p1(body, n, frame.data()); break;
    case 2:
        if (write_bytes(&kHead, 1) < 0 || !read_ack()) return vr::fail(vr::kESend);
        size = build_p2(body, n, frame.data());
        if (write_bytes(frame.data(), size) < 0) return vr::fail(vr::kESend);
        trace_frame(vr::trace::Direction::to_reader, protocol, frame.data(), static_cast<std::size_t>(size));
        if (!read_ack()) return vr::fail(vr::kESend);
        return n;
    case 3: size = build_p3(body, n, frame.data()); break;
    default: size = build_p6(body, n, frame.data()); break;
    }
    // Drivers report a failed write by a negative result; a successful one
    // may report the count (serial) or 0 (Bluetooth).
    if (write_bytes(frame.data(), size) < 0) return vr::fail(vr::kESend);
    trace_frame(vr::trace::Direction::to_reader, protocol, frame.data(), static_cast<std::size_t>(size));
    return n;
}

VR_API int virt_com_readmsg(uint8_t *out, int protocol, int timeout) {
    if (check_port(nullptr) != 0) return -1;
    if (!protocol_supported(protocol)) return vr::fail(vr::kEFormat);
    if (!out) return vr::fail(vr::kEArg);
    switch (protocol) {
    case 1: return read_p1(out);
    case 2: return read_p2();
    case 3: return read_p3(out, timeout);
    default: return read_p6(out, timeout);
    }
}
