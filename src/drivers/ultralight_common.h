// Reader commands shared by the Ultralight and Ultralight C drivers. The
// two cards differ in their size and in what the C adds (authentication,
// key change, the first protected page); the page and byte-range commands
// are the same.
#pragma once

#include <cstdint>

#include "link/reader_command.h"
#include "picc.h"

namespace vr::ul {

constexpr int kPageSize = 4;
constexpr int kUltralightPages = 16;
constexpr int kUltralightCPages = 48;
// Pages 0..3 (serial number, lock and one-time bytes) are out of reach of
// the byte-range writes.
constexpr int kFirstWritableByte = 4 * kPageSize;

// Byte-range commands: plain, and enciphered by the reader.
constexpr uint16_t kCmdReadBytes = 0x070C;
constexpr uint16_t kCmdWriteBytes = 0x070B;
constexpr uint16_t kCmdReadBytesEnc = 0x0714;
constexpr uint16_t kCmdWriteBytesEnc = 0x0713;

// The driver's texts and its operations in a zeroed record.
int init_record(picc *record, const picc &ops, const char *type);

// REQA (0x26) or WUPA (0x52) in type A; 0 only when the Ultralight ATQA
// 44 00 answers, else errno -20.
int request(uint8_t kind, Route route = Route::exchange);
// The 7-byte UID, read once; the card is then selected.
int anticoll(picc *record, Route route = Route::exchange);
int halt(picc *record, Route route = Route::exchange);
// The reader answers four pages; `bytes` of them are copied (the second
// family's driver takes all 16).
int read_page(unsigned char *out, uint8_t page, Route route = Route::exchange, int bytes = kPageSize);
int write_page(const unsigned char *in, uint8_t page, Route route = Route::exchange);

// Range checks against a memory of `size` bytes (address and length are
// the callers' 16-bit values).
bool read_range_fits(int address, int length, int size);
bool write_range_fits(int address, int length, int size);
// Sends a byte-range read (plain or enciphered command) and takes exactly
// `length` bytes back; another length is errno -16.
int read_bytes(uint16_t command, uint16_t address, uint16_t length, unsigned char *out);
int write_bytes(uint16_t command, uint16_t address, uint16_t length, const unsigned char *in);

}  // namespace vr::ul
