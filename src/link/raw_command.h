// Internal interface of the raw reader-command pass-through, as the
// control codes use it: whole commands in bytes or hexadecimal text, with
// an optional two-byte command code put in front by the caller's choice.
#pragma once

#include <cstdint>

namespace vr::link {

// No command code in front: the caller's bytes hold a whole command.
inline constexpr int kNoHeader = -1;

// A big-endian length, then the command; the reply replaces the command
// and its length the length. 0, -1 (logged), or -24 for a missing buffer.
int raw_length_prefixed(unsigned char *buffer);

// Hexadecimal command text in, hexadecimal reply text out, *length the
// text length of the reply. header is a command code put in front of the
// decoded bytes, or kNoHeader. 0, or an error code: -24 missing argument,
// -40 no work buffer, -21 text that does not decode, the exchange's code,
// and encode_failure when the reply cannot be written as text.
int hex_command(const char *text, char *out, int *length, int header, int encode_failure);

// The same on bytes: *length is the input length on entry and the reply
// length on exit.
int byte_command(const unsigned char *in, unsigned char *out, int *length, int header);

// A batch: comma-separated hexadecimal items sent as one command (header,
// then each item as a big-endian length and its bytes); the reply's items
// come back as comma-separated hexadecimal texts and *length counts the
// characters written with the terminator. Error codes as hex_command, -21
// for a reply item that does not fit.
int batch_hex(uint16_t header, const char *text, char *out, int *length);

}  // namespace vr::link
