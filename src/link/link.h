// Internal interface of the reader link: the frame limits shared by the
// framing and the exchange, and the reader's echo and repeat commands.
#pragma once

#include <cstdint>

#include "virt_com.h"

namespace vr::link {

constexpr int kMaxBody = VIRT_COM_BODY_MAX;  // largest message body
constexpr uint16_t kCmdPing = 0x0F02;       // echo; data 11 22 33
constexpr uint16_t kCmdRepeat = 0x0216;     // send the previous reply again
constexpr uint8_t kPingData[3] = {0x11, 0x22, 0x33};

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

// Forgets what the exchange carries from one command to the next (the
// count of consecutive link failures and the replies still owed), as a
// freshly loaded library has it. For test and fuzz harnesses that reuse
// one process for many independent runs.
void reset_exchange_state();

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
