// Wire-level vocabulary of the reader model: byte strings, checksums, the
// status bytes the firmware reports, and the request and reply records that
// travel between the frame layer and the firmware.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vrsim {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// Largest message body in either direction.
constexpr size_t kMaxBody = 4096;

// CRC-16/MODBUS (reflected 0xA001, initial 0xFFFF, no final xor), the
// checksum of protocol 3. Computed bit by bit: the reader model keeps its
// own implementation so that a fault in the library's table-driven one
// cannot hide behind a shared mistake.
[[nodiscard]] uint16_t crc16_modbus(ByteView bytes);

// Exclusive-or of all bytes: the checksum of protocols 1, 2 and 6.
[[nodiscard]] uint8_t xor_of(ByteView bytes);

// Status bytes the reader reports. First family: body byte 0 of a reply,
// turned into codes by return_code (signed byte; 0x80.. are the codes
// themselves). Second family: the status byte of a protocol-6 reply,
// turned into codes by dc_errno_transform.
namespace status {
constexpr uint8_t ok = 0x00;
constexpr uint8_t general = 0x0A;        // -21 genera error
constexpr uint8_t no_command = 0x0B;     // -22 not such command
constexpr uint8_t bad_argument = 0x0C;   // -24 the argument is wrong
constexpr uint8_t no_card = 0x0D;        // -30 fail to find the card
constexpr uint8_t request_failed = 0x14; // -32 fail to execute reqa/reqb
constexpr uint8_t auth_failed = 0x16;    // -34 fail to do the authentication
constexpr uint8_t read_failed = 0x17;    // -35 fail to read the card
constexpr uint8_t write_failed = 0x18;   // -36 fail to write the card
constexpr uint8_t no_stored_key = 0x23;  // -57 authenticate, download the password again
constexpr uint8_t cmd_length = 0x8E;     // -114 command length error
constexpr uint8_t cmd_type = 0x8F;       // -113 invalid command
constexpr uint8_t timeout = 0x90;        // -112; also the stale reply
constexpr uint8_t crc_error = 0x91;      // -111 request failed its CRC
// Second family.
constexpr uint8_t dc_no_card = 0x01;       // -30
constexpr uint8_t dc_bad_argument = 0x03;  // -24
constexpr uint8_t dc_auth_failed = 0x04;   // -34
constexpr uint8_t dc_read_failed = 0x0B;   // -35
constexpr uint8_t dc_write_failed = 0x0F;  // -36
constexpr uint8_t dc_no_command = 0x1A;    // -22
constexpr uint8_t dc_no_reply = 0x06;      // -14 fail to receive message
}  // namespace status

// Command codes the link itself uses (both families recognise them).
constexpr uint16_t kCmdEcho = 0x0F02;
constexpr uint16_t kCmdRepeat = 0x0216;

// One request as the firmware sees it: the 16-bit command code and its
// data. `encrypted` marks a protocol-3 request that came with head 0x42;
// its data is then still enciphered (plain length high, low, ciphertext).
struct Request {
    uint16_t cmd = 0;
    Bytes data;
    bool encrypted = false;

    bool operator==(const Request&) const = default;
};

// The firmware's answer: status byte and data. `repeat_previous` asks the
// transport to resend the previous reply frame unchanged (command 0x0216);
// `silent` means the reader sends nothing back. `encrypted` marks a reply
// to be sent with head 0x42 (link encryption).
struct Reply {
    uint8_t status = status::ok;
    Bytes data;
    bool repeat_previous = false;
    bool silent = false;
    bool encrypted = false;

    static Reply ok(Bytes data = {}) { return Reply{status::ok, std::move(data)}; }
    static Reply error(uint8_t code) { return Reply{code, {}}; }
    static Reply repeat() {
        Reply r;
        r.repeat_previous = true;
        return r;
    }
    static Reply none() {
        Reply r;
        r.silent = true;
        return r;
    }
};

}  // namespace vrsim
