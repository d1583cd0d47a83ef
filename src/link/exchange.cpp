// The command exchange: one request, one reply, with the link's recovery
// rules (stale replies skipped, a corrupted reply asked for again, one
// resend, the port closed after a long run of failures), plus the port
// check, the link check (ping) and the repeat request.
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "core/errors.h"
#include "crypto.h"
#include "link/link.h"
#include "log.h"
#include "port/port.h"
#include "suart.h"
#include "sys.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

using namespace vr::link;

constexpr int kMaxReads = 10;
constexpr int kPingTimeoutMs = 1000;
// The body of an echo request: its code, then the data the reader echoes.
constexpr std::array<uint8_t, 5> kPingBody = {kCmdPing & 0xFF, kCmdPing >> 8, kPingData[0], kPingData[1],
                                              kPingData[2]};
constexpr int kFailuresBeforeClose = 10;  // the eleventh consecutive failure closes
constexpr unsigned kCalibrationPollUs = 100000;
constexpr int kCalibrating = 0xAA;

// Consecutive link failures across commands.
std::atomic<int> g_link_failures{0};

void count_link_failure() {
    if (g_link_failures.fetch_add(1) > kFailuresBeforeClose - 1) {
        virt_com_close();
        g_link_failures = 0;
    }
}

void reset_link_failures() { g_link_failures = 0; }

int port_protocol() { return virt_com_get_protocl(); }

// Replies the reader still owes: frames sent by the exchange whose reply
// was never read (a reply that came too late made the exchange resend, or
// gave up). Protocol-3 and protocol-6 replies do not name their command, so
// a late one would be taken for the next command's reply; the next command
// first gets such replies out of the way.
std::atomic<int> g_replies_owed{0};

void note_sent() { ++g_replies_owed; }

void note_reply() {
    int owed = g_replies_owed.load();
    while (owed > 0 && !g_replies_owed.compare_exchange_weak(owed, owed - 1)) {
    }
}

// Whether a read ended with a whole frame, whatever its content (a bad
// checksum, a reader status the framing reports): such a read consumed a
// reply.
bool frame_arrived(int rc) {
    if (rc >= 0 || rc == -2 || rc == vr::kEMsgWrong) return true;
    const int e = errno;
    return e == vr::kECrcErr || e == vr::kETimeoutErr || e == vr::kECmdTypeErr || e == vr::kECmdLengthErr;
}

bool is_ping_reply(const uint8_t *reply, int len) {
    return len == 4 && reply[0] == 0x00 && reply[1] == kPingData[0] && reply[2] == kPingData[1] &&
           reply[3] == kPingData[2];
}

// Protocol 3: a ping marks where the owed replies end. The reader answers
// in order, so every frame before the ping's answer is a late reply, however
// late it comes. Reading stops at the ping's answer or after the owed frames
// plus one (a spoilt answer to the ping). When the line stays quiet for the
// port's time-out first, the replies still missing (the ping's included)
// stay owed and the attempt fails.
bool ping_past_owed_replies() {
    if (virt_com_writemsg(kPingBody.data(), kPingBody.size(), 3) < 0) return false;
    std::array<uint8_t, VIRT_COM_RSP_MAX> frame;
    const int wait = vr::port::timeout_ms() > 0 ? vr::port::timeout_ms() : 1;
    int frames_left = g_replies_owed.load() + 1;
    // The reader's time-out reports come on top of the replies; the cap keeps
    // a reader that sends nothing else from holding the command forever.
    for (int reads = 0; frames_left > 0 && reads < kMaxReads; ++reads) {
        const int rc = virt_com_readmsg(frame.data(), 3, wait);
        if (!frame_arrived(rc)) {
            g_replies_owed = frames_left;
            return false;
        }
        if (is_ping_reply(frame.data(), rc)) break;
        if (rc >= 1 && frame[0] == kStatusTimeout) continue;
        log_print(1, "late reply dropped");
        --frames_left;
    }
    g_replies_owed = 0;
    return true;
}

// Like a command, the marker is sent once more when its answer does not
// come, and each silence counts as a link failure. After two the link is out
// of step, and the caller fails its command rather than take an old reply
// for its own.
bool drop_late_replies_before_ping() {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (ping_past_owed_replies()) return true;
        count_link_failure();
    }
    return false;
}

// Other protocols have no marker the reader answers in order: wait up to
// half the port's time-out for each owed reply, since a late reply follows
// its command's resend closely and a lost one never comes.
void drop_late_replies_by_waiting() {
    std::array<uint8_t, VIRT_COM_RSP_MAX> late;
    const int wait = vr::port::timeout_ms() / 2 > 0 ? vr::port::timeout_ms() / 2 : 1;
    while (g_replies_owed.load() > 0) {
        const int rc = virt_com_readmsg(late.data(), port_protocol(), wait);
        if (!frame_arrived(rc)) break;
        log_print(1, "late reply dropped");
        note_reply();
    }
}

// Gets replies still owed to earlier commands out of the way; false when
// the link is out of step and the next command must not be sent.
bool drop_late_replies() {
    if (g_replies_owed.load() == 0) return true;
    if (port_protocol() == 3) return drop_late_replies_before_ping();
    drop_late_replies_by_waiting();
    g_replies_owed = 0;
    return true;
}

// Ping and repeat request share their preamble: the port must be open and
// present, calibration must be over, and both directions are flushed.
int prepare_raw_request() {
    if (check_port(nullptr) != 0) return -1;
    wait_while_calibrating();
    const int rc = vr::port::device_flush(3);
    if (rc != 0) {
        errno = vr::kEGeneral;
        return rc < 0 ? rc : -1;
    }
    return 0;
}

// Sends a ping or repeat request and reads its answer, keeping the count
// of replies owed: the read's result.
int send_raw_request(const uint8_t *body, int n, uint8_t *reply) {
    if (virt_com_writemsg(body, n, port_protocol()) < 0) return -1;
    note_sent();
    const int rc = virt_com_readmsg(reply, port_protocol(), kPingTimeoutMs);
    if (frame_arrived(rc)) note_reply();
    return rc;
}

// Protocol 3 with link encryption: code, the plain length (high, low),
// then the data enciphered with the session key and padded to whole blocks.
int build_encrypted_body(const virt_com_req &req, uint8_t *body) {
    const int len = req.len;
    const int padded = (len + 7) / 8 * 8;
    if (4 + padded > kMaxBody) return vr::fail(vr::kEArg);
    body[0] = static_cast<uint8_t>(req.cmd & 0xFF);
    body[1] = static_cast<uint8_t>(req.cmd >> 8);
    body[2] = static_cast<uint8_t>(len >> 8);
    body[3] = static_cast<uint8_t>(len & 0xFF);
    std::memcpy(body + 4, req.data, static_cast<std::size_t>(len));
    uint32_t out = 0;
    if (com_alg_enc(body + 4, static_cast<uint32_t>(len), tessil.s_com.enc_key, &out) != 0)
        return vr::fail(vr::kEArg);
    return 4 + static_cast<int>(out);
}

// The message body of a request in the current protocol; its length, or
// -1 with errno -24 when it would not fit a body.
int build_body(const virt_com_req &req, uint8_t *body) {
    const int len = req.len;
    if (len < 0 || len > VIRT_COM_REQ_MAX) return vr::fail(vr::kEArg);
    const uint8_t lo = static_cast<uint8_t>(req.cmd & 0xFF);
    const uint8_t hi = static_cast<uint8_t>(req.cmd >> 8);
    int at = 0;
    if (port_protocol() == 3 && tessil.s_com.enc_on == 1 && len > 0) return build_encrypted_body(req, body);
    if (port_protocol() == 6) {
        const int header = len < 256 ? 2 : 3;
        if (header + len > kMaxBody) return vr::fail(vr::kEArg);
        body[at++] = lo;
        if (len >= 256) body[at++] = static_cast<uint8_t>(len >> 8);
        body[at++] = static_cast<uint8_t>(len & 0xFF);
    } else {
        if (2 + len > kMaxBody) return vr::fail(vr::kEArg);
        body[at++] = lo;
        body[at++] = hi;
    }
    std::memcpy(body + at, req.data, static_cast<std::size_t>(len));
    return at + len;
}

// A reply that belongs to an earlier exchange: a reader time-out report or
// the late answer to a ping.
bool is_stale(const uint8_t *reply, int len) {
    if (vr::port::device_name_contains("dc_usb")) return false;
    if (len >= 1 && reply[0] == kStatusTimeout) {
        log_print(1, "resp 90 timeout warning!!!!");
        return true;
    }
    if (is_ping_reply(reply, len)) {
        log_print(1, "retry response delayed warning!!!!");
        return true;
    }
    return false;
}

void drop_leading(virt_com_rsp *rsp, int n) {
    rsp->len -= n;
    std::memmove(rsp->data, rsp->data + n, static_cast<std::size_t>(rsp->len));
}

// An encrypted reply: status, plain length (high, low), then whole blocks
// of ciphertext; the plaintext is cut to the plain length.
int decipher_reply(virt_com_rsp *rsp) {
    if (rsp->len % 8 != 3) {
        log_print(1, "err received decryped_data_len");
        return vr::fail(vr::kEArg);
    }
    uint32_t deciphered = 0;
    const uint32_t cipher_len = static_cast<uint32_t>(rsp->len - 3);
    if (com_alg_dec(rsp->data + 3, cipher_len, tessil.s_com.enc_key, &deciphered) != 0) return -1;
    const int plain = rsp->data[1] << 8 | rsp->data[2];
    if (plain > static_cast<int>(deciphered)) {
        log_print(1, "err decryped_data_len");
        return vr::fail(vr::kEArg);
    }
    std::memmove(rsp->data, rsp->data + 3, static_cast<std::size_t>(plain));
    rsp->len = plain;
    return 0;
}

int check_reply_p3(virt_com_rsp *rsp) {
    const uint8_t status = rsp->data[0];
    if (status != 0) {
        int rc = return_code(status);
        log_print(1, "return_code(rc):0x%02x (%d)\n", status, errno);
        return rc;
    }
    if (tessil.s_com.enc_reply == 1 && tessil.s_com.enc_on == 1) return decipher_reply(rsp);
    drop_leading(rsp, 1);
    return 0;
}

int check_reply_p6(virt_com_rsp *rsp) {
    const uint8_t status = rsp->data[0];
    if (status != 0) {
        return_code(status);
        log_print(1, "return_code(rc):0x%02x (%d)\n", status, errno);
        return dc_errno_transform(static_cast<signed char>(status));
    }
    drop_leading(rsp, 1);
    return 0;
}

// Older protocols echo the command code behind a two-byte node address.
int check_reply_echo(const virt_com_req &req, virt_com_rsp *rsp) {
    if (rsp->len < 5 || (rsp->data[2] | rsp->data[3] << 8) != req.cmd) return vr::fail(vr::kEMsgWrong);
    const uint8_t status = rsp->data[4];
    if (status == 0) drop_leading(rsp, 5);
    return return_code(status);
}

int check_reply(const virt_com_req &req, virt_com_rsp *rsp) {
    switch (port_protocol()) {
    case 3: return check_reply_p3(rsp);
    case 6: return check_reply_p6(rsp);
    default: return check_reply_echo(req, rsp);
    }
}

// Asks for a reply again after a corrupted one, at most twice; the reply's
// length, or the last negative result.
int recover_corrupted_reply(virt_com_rsp *rsp) {
    int rc = virt_com_get_pre_response(rsp->data);
    if (rc > 0) {
        log_print(2, "crc resend ok");
        return rc;
    }
    if (rc == -2) {
        rc = virt_com_get_pre_response(rsp->data);
        if (rc > 0) log_print(2, "crc resend ok two");
    }
    return rc;
}

bool worth_resending(int code) {
    return code == vr::kERecv || code == vr::kECrcErr || code == vr::kETimeoutErr ||
           code == vr::kECmdLengthErr || code == vr::kEMesg;
}

}  // namespace

namespace vr::link {

void reset_exchange_state() {
    g_link_failures = 0;
    g_replies_owed = 0;
}

void wait_while_calibrating() {
    while (virt_com_status() != VIRT_COM_REMOVED && suart_get_calistat() == kCalibrating)
        sys_delay_nus(kCalibrationPollUs);
}

}  // namespace vr::link

VR_API int virt_com_chkstat(void) {
    if (virt_com_status() == VIRT_COM_CLOSED) return vr::fail(vr::kEOpen);
    wait_while_calibrating();
    const int state = virt_com_status();
    if (state == VIRT_COM_REMOVED) return vr::fail(vr::kEDevInval);
    if (state == VIRT_COM_CHECK) {
        if (virt_com_ping() != 0 && virt_com_ping() != 0) return vr::fail(vr::kENoAnswer);
        virt_com_setstat(VIRT_COM_OPEN);
    }
    return 0;
}

VR_API int virt_com_ping(void) {
    const int rc = prepare_raw_request();
    if (rc != 0) return rc;
    std::array<uint8_t, VIRT_COM_RSP_MAX> reply;
    return send_raw_request(kPingBody.data(), kPingBody.size(), reply.data()) >= 0 ? 0 : -1;
}

VR_API int virt_com_get_pre_response(uint8_t *reply) {
    if (!reply) return vr::fail(vr::kEArg);
    if (prepare_raw_request() != 0) return -1;
    const uint8_t body[2] = {kCmdRepeat & 0xFF, kCmdRepeat >> 8};
    return send_raw_request(body, sizeof body, reply);
}

VR_API int virt_com_command(virt_com_req *request, virt_com_rsp *reply, int timeout) {
    bool resent = false;
    for (;;) {
        if (virt_com_chkstat() != 0) return -1;
        if (!request || !reply || timeout < 0) return vr::fail(vr::kEArg);
        if (!resent && !drop_late_replies()) {
            log_print(1, "late replies still owed");
            // The failures may have reached the count that closes the port.
            return vr::fail(virt_com_status() == VIRT_COM_CLOSED ? vr::kEOpen : vr::kERecv);
        }
        if (virt_com_flush(3) != 0) {
            log_print(1, "virt_com_command err EGENERA");
            return vr::fail(vr::kEGeneral);
        }
        std::array<uint8_t, kMaxBody> body;
        const int n = build_body(*request, body.data());
        if (n < 0) return n;
        if (virt_com_writemsg(body.data(), n, port_protocol()) < 0) {
            errno = vr::kESend;
            count_link_failure();
            return -1;
        }
        note_sent();

        const int wait = timeout ? timeout : vr::port::timeout_ms();
        int rc = -1;
        for (int i = 0; i < kMaxReads; ++i) {
            rc = virt_com_readmsg(reply->data, port_protocol(), wait);
            if (frame_arrived(rc)) note_reply();
            if (rc < 0) {
                errno = vr::kERecv;
                count_link_failure();
                if (resent) return -1;
                break;
            }
            if (!is_stale(reply->data, rc)) break;
        }
        // A corrupted reply is asked for again rather than the command resent.
        if (rc == -2) rc = recover_corrupted_reply(reply);
        if (rc < 0 && worth_resending(errno)) {
            log_print(1, "retry, errno:%d", errno);
            resent = true;
            errno = 0;
            continue;
        }
        if (rc < 0) return -1;
        reset_link_failures();
        reply->len = rc;
        return check_reply(*request, reply);
    }
}
