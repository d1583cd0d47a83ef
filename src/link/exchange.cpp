// The command exchange: one request, one reply, with the link's recovery
// rules (stale replies skipped, a corrupted reply asked for again, one
// resend, the port closed after a long run of failures), plus the link
// check (ping) and the repeat request. What carries over from one command
// to the next, and the port check, live in in_step.cpp.
#include <pthread.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "core/errors.h"
#include "core/lock.h"
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
constexpr unsigned kCalibrationPollUs = 100000;
constexpr int kCalibrating = 0xAA;

// Held by each exchange (ExchangeTry in link.h).
pthread_mutex_t g_exchange_lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

int port_protocol() { return virt_com_get_protocl(); }

// Reads one frame for the exchange at the time-out, keeping the count of
// replies owed.
int read_reply(uint8_t *body, int timeout_ms) {
    errno = 0;  // some failed reads leave errno alone
    const int rc = virt_com_readmsg(body, port_protocol(), timeout_ms);
    note_read(rc, body);
    return rc;
}

// Sends a ping or repeat request and reads its answer at the request's own
// time-out, keeping the count of replies owed: the read's result.
int send_raw_request(const uint8_t *body, int n, uint8_t *reply) {
    if (virt_com_writemsg(body, n, port_protocol()) < 0) return -1;
    note_sent();
    return read_reply(reply, kPingTimeoutMs);
}

// Asks the reader to send its previous reply again (inside an exchange,
// which hands the port back itself): the reply's length, or the read's
// failure.
int request_previous_reply(uint8_t *reply) {
    if (prepare_raw_request() != 0) return -1;
    const uint8_t body[2] = {kCmdRepeat & 0xFF, kCmdRepeat >> 8};
    return send_raw_request(body, sizeof body, reply);
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
    if (len >= 0 && is_ping_answer(reply, len)) {
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
        // The first family's table misreads most of this family's status
        // bytes (a command the firmware lacks would be "unknown error", a
        // failed read "not such command"), and callers of the public
        // functions see only -1 and errno: errno gets the family's own
        // code, unless only the first family's table knows the status
        // (the framing's reports 0x8E..0x91).
        const int code = dc_errno_transform(static_cast<signed char>(status));
        if (code != vr::kEUnknown) errno = code;
        return code;
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
    int rc = request_previous_reply(rsp->data);
    if (rc > 0) {
        log_print(2, "crc resend ok");
        return rc;
    }
    if (rc == -2) {
        rc = request_previous_reply(rsp->data);
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

ExchangeTry::ExchangeTry() : held_(pthread_mutex_trylock(&g_exchange_lock) == 0) {}

ExchangeTry::~ExchangeTry() {
    if (held_) pthread_mutex_unlock(&g_exchange_lock);
}

ExchangeHold::ExchangeHold() { pthread_mutex_lock(&g_exchange_lock); }

ExchangeHold::~ExchangeHold() { pthread_mutex_unlock(&g_exchange_lock); }

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

void wait_while_calibrating() {
    while (virt_com_status() != VIRT_COM_REMOVED && suart_get_calistat() == kCalibrating)
        sys_delay_nus(kCalibrationPollUs);
}

}  // namespace vr::link

VR_API int virt_com_ping(void) {
    vr::MutexHold hold(&g_exchange_lock);
    const int rc = prepare_raw_request();
    if (rc != 0) return rc;
    std::array<uint8_t, VIRT_COM_RSP_MAX> reply;
    const int got = send_raw_request(kPingBody.data(), kPingBody.size(), reply.data());
    leave_port_checked_if_owed();
    return got >= 0 ? 0 : -1;
}

VR_API int virt_com_get_pre_response(uint8_t *reply) {
    if (!reply) return vr::fail(vr::kEArg);
    vr::MutexHold hold(&g_exchange_lock);
    const int rc = request_previous_reply(reply);
    leave_port_checked_if_owed();
    return rc;
}

namespace {

// The observer of the exchange (virt_com_set_trace), read once per command.
pthread_mutex_t g_trace_lock = PTHREAD_MUTEX_INITIALIZER;
virt_com_trace_fn g_trace = nullptr;
void *g_trace_context = nullptr;

void trace_command(const virt_com_req *request, int result, const virt_com_rsp *reply) {
    vr::MutexHold hold(&g_trace_lock);
    const virt_com_trace_fn trace = g_trace;
    void *const context = g_trace_context;
    hold.release();
    if (trace && request && reply) trace(context, request, result, reply);
}

// One exchange as virt_com_command runs it: one send and its reads, and
// the one resend. The caller hands the port back afterwards.
int exchange(virt_com_req *request, virt_com_rsp *reply, int timeout) {
    // The port check before the command waits for a ping's answer no longer
    // than the command will wait for its own reply.
    const int wait = timeout > 0 ? timeout : vr::port::timeout_ms();
    const int check_wait = std::min(kPingTimeoutMs, wait > 0 ? wait : kPingTimeoutMs);
    bool resent = false;
    for (;;) {
        if (check_port_before(check_wait) != 0) return -1;
        if (!request || !reply || timeout < 0) return vr::fail(vr::kEArg);
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

        int rc = -1;
        for (int i = 0; i < kMaxReads; ++i) {
            rc = read_reply(reply->data, wait);
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

}  // namespace

VR_API int virt_com_command(virt_com_req *request, virt_com_rsp *reply, int timeout) {
    vr::MutexHold hold(&g_exchange_lock);
    const int result = exchange(request, reply, timeout);
    leave_port_checked_if_owed();
    const int code = errno;
    trace_command(request, result, reply);
    errno = code;
    return result;
}

VR_API void virt_com_set_trace(virt_com_trace_fn trace, void *context) {
    vr::MutexHold hold(&g_trace_lock);
    g_trace = trace;
    g_trace_context = context;
}
