// Internal interface of the reader link: the frame limits shared by the
// framing and the exchange, and the reader's echo and repeat commands.
#pragma once

#include <array>
#include <cstdint>

#include "virt_com.h"

namespace vr::link {

constexpr int kMaxBody = VIRT_COM_BODY_MAX;  // largest message body
constexpr uint16_t kCmdPing = 0x0F02;       // echo; data 11 22 33
constexpr uint16_t kCmdRepeat = 0x0216;     // send the previous reply again
constexpr uint8_t kPingData[3] = {0x11, 0x22, 0x33};
// The body of an echo request: its code, then the data the reader echoes.
constexpr std::array<uint8_t, 5> kPingBody = {kCmdPing & 0xFF, kCmdPing >> 8, kPingData[0], kPingData[1],
                                              kPingData[2]};
constexpr int kPingTimeoutMs = 1000;  // the ping's and the repeat request's own

// Reader status bytes the framing itself reports (protocol 3).
constexpr uint8_t kStatusCrcErr = 0x91;
constexpr uint8_t kStatusTimeout = 0x90;
constexpr uint8_t kStatusCmdType = 0x8F;
constexpr uint8_t kStatusCmdLength = 0x8E;

// Frame bytes.
constexpr uint8_t kHead = 0x02;
constexpr uint8_t kHeadEncrypted = 0x42;
constexpr uint8_t kTrailer = 0x55;
constexpr uint8_t kP1Head0 = 0xAA;
constexpr uint8_t kP1Head1 = 0xBB;
constexpr uint8_t kP2Start = 0x01;
constexpr uint8_t kP2Ack = 0x10;
constexpr uint8_t kP2End = 0x03;

// True for the protocol numbers the framing supports (1, 2, 3, 6).
constexpr bool protocol_supported(int p) { return p == 1 || p == 2 || p == 3 || p == 6; }

// The port check before any traffic: 0 when the port is open; a closed
// port fails quietly (-1, errno untouched), a removed device with -80
// after logging who_on_removed (when given).
int check_port(const char *who_on_removed);

// ---- keeping the link in step from one command to the next (in_step.cpp)

// A failed send or read: the eleventh consecutive one closes the port. A
// parsed reply resets the count.
void count_link_failure();
void reset_link_failures();
int consecutive_link_failures();

// Replies the reader still owes: every frame sent owes one (nothing on
// protocol 2, whose reader sends no reply frames), every frame read pays
// one except the reader's time-out report (status 0x90), which comes on
// top of the answers. note_read takes a read's result and body and must
// run before anything else can change errno (cleared before the read).
void note_sent();
void note_read(int rc, const uint8_t *body);

// At the end of an exchange: with replies still owed, a late one could be
// taken for the next command's reply, so the port is left to be checked
// (0x77) and the next port check pings past them. errno is left alone.
void leave_port_checked_if_owed();

// The port check before traffic whose replies are waited for wait_ms:
// virt_com_chkstat's (-10 closed, -80 removed), with the check of a port to
// be checked pinging past the late replies and waiting no longer than
// wait_ms for each frame; two pings unanswered: -81 (-10 when their link
// failures closed the port).
int check_port_before(int wait_ms);

// Whether a reply body is the reader's answer to a ping.
bool is_ping_answer(const uint8_t *body, int len);

// Forgets what the exchange carries from one command to the next (the
// count of consecutive link failures and the replies still owed), as a
// freshly loaded library has it. For test and fuzz harnesses that reuse
// one process for many independent runs.
void reset_exchange_state();

// One reader exchange at a time: virt_com_command, the ping and the repeat
// request hold the exchange lock (recursive) for their whole run, the port
// check and resends included.
// ExchangeTry takes it only when no exchange is under way, for a keep-alive
// that must never wait for the link nor run inside another exchange.
class ExchangeTry {
public:
    ExchangeTry();
    ~ExchangeTry();
    ExchangeTry(const ExchangeTry &) = delete;
    ExchangeTry &operator=(const ExchangeTry &) = delete;
    bool held() const { return held_; }

private:
    bool held_;
};

// Holds the exchange lock for traffic that goes past the exchange (the
// direct protocol-1 messages of direct_command.h).
class ExchangeHold {
public:
    ExchangeHold();
    ~ExchangeHold();
    ExchangeHold(const ExchangeHold &) = delete;
    ExchangeHold &operator=(const ExchangeHold &) = delete;
};

// ---- the exchange's own requests (exchange.cpp)

// Before a ping or a repeat request: the port open and present,
// calibration over, both directions flushed. 0, or the failure (errno set;
// -21 for a failed flush).
int prepare_raw_request();

// Forgets the replies the reader still owes: a command whose reply was
// lost on purpose (the audio link's frequency test moves the carrier the
// reply comes on) leaves nothing for the next command to wait for: the
// port to be checked for it is open again, and no ping goes first.
void forget_owed_replies();

// Sleeps while the audio modem calibrates the link, unless the device has
// been removed meanwhile.
void wait_while_calibrating();

// Whether a reader family is registered (check_api_version's answer); the
// family registration chose (VR_FAMILY_FIRST or VR_FAMILY_SECOND) is
// stored by store_family.
bool family_registered();
void store_family(int family);

// Link encryption off, as every port open leaves it.
void encryption_off();
// Link encryption as control code 27 sets it: 0 off (0); 1 on with 8
// random bytes from the reader as the session key (the random-bytes
// command's result, its error code when it fails, never below -1; a failure
// leaves the state alone); any other value -1.
int set_encryption(int value);

}  // namespace vr::link
