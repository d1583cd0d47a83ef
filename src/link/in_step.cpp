// Keeping the link in step from one command to the next: the count of
// consecutive link failures (the eleventh closes the port), the replies
// the reader still owes, and the port check, whose check of a port to be
// checked (0x77) gets late replies out of the way before a command goes.
//
// A reply that comes after its command gave up would be taken for the next
// command's reply. So an exchange that ends with replies owed leaves the
// port to be checked, and the next check sends the reader's echo (a ping)
// and drops every frame before its answer: the reader answers in order.
// Each ping waits no longer than the command about to be sent would, so a
// failing link costs each call about what its own attempts cost.
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>

#include "core/errors.h"
#include "link/link.h"
#include "log.h"
#include "port/port.h"
#include "virt_com.h"

namespace {

using namespace vr::link;

constexpr int kFailuresBeforeClose = 10;  // the eleventh consecutive failure closes
constexpr int kAttempts = 2;              // pings before the link counts as lost
constexpr int kMaxReads = 10;             // frames one ping may read past

std::atomic<int> g_link_failures{0};
std::atomic<int> g_replies_owed{0};

int protocol() { return virt_com_get_protocl(); }

// Protocol 2 readers send no reply frames: nothing is ever owed there.
bool replies_are_framed() { return protocol() != 2; }

// Whether a read ended with a whole frame, whatever its content (a bad
// checksum, a reader status the framing reports).
bool frame_arrived(int rc) {
    if (rc >= 0 || rc == -2 || rc == vr::kEMsgWrong) return true;
    const int e = errno;
    return e == vr::kECrcErr || e == vr::kETimeoutErr || e == vr::kECmdTypeErr || e == vr::kECmdLengthErr;
}

// The reader's time-out report (status 0x90): protocol 3's framing fails
// the read with it, protocol 6 hands it over as a body. It is not the
// answer to a frame but comes on top of the answers.
bool is_time_out_report(int rc, const uint8_t *body) {
    if (protocol() == 3) return rc < 0 && errno == vr::kETimeoutErr;
    const bool checked = !vr::port::device_name_contains("dc_usb");
    return protocol() == 6 && checked && rc >= 1 && body[0] == kStatusTimeout;
}

void pay_one() {
    int owed = g_replies_owed.load();
    while (owed > 0 && !g_replies_owed.compare_exchange_weak(owed, owed - 1)) {
    }
}

// Sends a ping and reads past the late replies to its answer, waiting up
// to wait_ms for each frame: true when the link is in step again. The
// replies owed (the ping's own last) bound the frames read: when all have
// come without a recognisable answer, the last is taken for a spoilt one.
// Silence leaves what did not come owed.
bool ping_past_late_replies(int wait_ms) {
    if (prepare_raw_request() != 0) return false;
    if (virt_com_writemsg(kPingBody.data(), static_cast<int>(kPingBody.size()), protocol()) < 0) return false;
    note_sent();
    int frames_left = g_replies_owed.load();
    std::array<uint8_t, VIRT_COM_RSP_MAX> frame;
    for (int reads = 0; reads < kMaxReads; ++reads) {
        errno = 0;  // some failed reads leave errno alone
        const int rc = virt_com_readmsg(frame.data(), protocol(), wait_ms);
        const bool arrived = frame_arrived(rc);
        const bool report = is_time_out_report(rc, frame.data());
        note_read(rc, frame.data());
        if (!arrived) return false;
        if (report) continue;
        if ((rc >= 0 && is_ping_answer(frame.data(), rc)) || --frames_left <= 0) {
            g_replies_owed = 0;
            return true;
        }
        log_print(1, "late reply dropped");
    }
    // Nothing but time-out reports: the ping's answer has not come.
    return false;
}

// The check of a port to be checked: a ping, and a second when the first
// gets no answer; each failed ping is a link failure, as the command it
// stands in front of would have had.
int resynchronise(int wait_ms) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (ping_past_late_replies(wait_ms)) {
            virt_com_setstat(VIRT_COM_OPEN);
            return 0;
        }
        count_link_failure();
        if (virt_com_status() == VIRT_COM_CLOSED) return vr::fail(vr::kEOpen);
    }
    log_print(1, "no answer to the link check");
    return vr::fail(vr::kENoAnswer);
}

}  // namespace

namespace vr::link {

void count_link_failure() {
    if (g_link_failures.fetch_add(1) > kFailuresBeforeClose - 1) {
        virt_com_close();
        g_link_failures = 0;
    }
}

void reset_link_failures() { g_link_failures = 0; }

int consecutive_link_failures() { return g_link_failures; }

void note_sent() {
    if (replies_are_framed()) ++g_replies_owed;
}

void note_read(int rc, const uint8_t *body) {
    if (frame_arrived(rc) && !is_time_out_report(rc, body)) pay_one();
}

void leave_port_checked_if_owed() {
    const int code = errno;  // the exchange's result stands
    if (g_replies_owed.load() > 0 && virt_com_status() == VIRT_COM_OPEN) virt_com_setstat(VIRT_COM_CHECK);
    errno = code;
}

bool is_ping_answer(const uint8_t *body, int len) {
    // Protocol 1 replies carry a node address and the command's echo in
    // front of the status.
    const int at = protocol() == 1 ? 4 : 0;
    if (len != at + 4) return false;
    if (at > 0 && (body[2] != (kCmdPing & 0xFF) || body[3] != kCmdPing >> 8)) return false;
    return body[at] == 0x00 && std::equal(kPingData, kPingData + 3, body + at + 1);
}

int check_port_before(int wait_ms) {
    if (virt_com_status() == VIRT_COM_CLOSED) return vr::fail(vr::kEOpen);
    wait_while_calibrating();
    const int state = virt_com_status();
    if (state == VIRT_COM_REMOVED) return vr::fail(vr::kEDevInval);
    if (state == VIRT_COM_CHECK) return resynchronise(wait_ms);
    return 0;
}

void forget_owed_replies() {
    g_replies_owed = 0;
    // The port was left to be checked only for what is now forgiven.
    if (virt_com_status() == VIRT_COM_CHECK) virt_com_setstat(VIRT_COM_OPEN);
}

void reset_exchange_state() {
    g_link_failures = 0;
    g_replies_owed = 0;
}

}  // namespace vr::link

VR_API int virt_com_chkstat(void) { return check_port_before(kPingTimeoutMs); }
