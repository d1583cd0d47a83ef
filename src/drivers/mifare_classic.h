// Operations shared by the MIFARE Classic 1K and 4K drivers: the reader
// performs the card's crypto; these build its commands.
#pragma once

#include <cstdint>

#include "link/reader_command.h"
#include "picc.h"

namespace vr::mfc {

constexpr int kBlockSize = 16;
constexpr int kKeySize = 6;

// Trailer block of a block's sector: block | 3 in the 4-block sectors,
// block | 15 in the 16-block sectors of a 4K card (from block 128).
inline int trailer_1k(int block) { return block | 3; }
inline int trailer_4k(int block) { return block < 128 ? block | 3 : block | 15; }
using TrailerRule = int (*)(int block);

// A driver's initialiser: the record takes the driver's operations and the
// texts of a MIFARE Classic card of the given type name.
// The second family's drivers leave the record's card protocol unset.
constexpr char kNoCardProtocol = 0;
int init_record(picc *record, const picc &ops, const char *type, char card_protocol = 'A');

// The first family's MIFARE Classic commands (0x0207..0x020F, 0x0606),
// through the exchange or, for the second family's 4K, the direct path.
int auth(const unsigned char *key, uint8_t key_type, uint8_t block, Route route = Route::exchange);
int read_block(unsigned char *out, uint8_t block, Route route = Route::exchange);
int write_block(const unsigned char *in, uint8_t block, Route route = Route::exchange);
int write_value(const unsigned char *value, uint8_t block, Route route = Route::exchange);
int read_value(unsigned char *value, uint8_t block, Route route = Route::exchange);
int decrement(const unsigned char *value, uint8_t block, Route route = Route::exchange);
int increment(const unsigned char *value, uint8_t block, Route route = Route::exchange);
int restore(uint8_t block, Route route = Route::exchange);
int transfer(uint8_t block, Route route = Route::exchange);

// The 4K card's activation steps (0x0201..0x0204): request or wake-up
// accepting only a 4K's ATQA (02 00), anticollision while the UID is
// unknown, select, halt.
int request_4k(uint8_t kind, Route route);
int anticoll_4k(picc *record, Route route);
int select_4k(picc *record, Route route);
int halt_4k(picc *record, Route route);
// How a driver reads and writes whole blocks; the trailer changes below
// read the trailer, change it and write it back through them.
struct BlockIo {
    int (*read)(unsigned char *out, uint8_t block);
    int (*write)(const unsigned char *in, uint8_t block);
};
inline constexpr BlockIo kReaderBlocks = {
    [](unsigned char *out, uint8_t block) { return read_block(out, block); },
    [](const unsigned char *in, uint8_t block) { return write_block(in, block); },
};

int change_keys(const unsigned char *keys, uint8_t key_type, uint8_t block, TrailerRule trailer_of,
                const BlockIo &io = kReaderBlocks);
int change_access(const unsigned char *description, uint8_t block, TrailerRule trailer_of,
                  const BlockIo &io = kReaderBlocks);

// The 16-byte value block of a value at a block address: value, its
// complement, the value again (each least significant byte first), then
// address, complement, address, complement.
void build_value_block(int32_t value, uint8_t address, unsigned char out[kBlockSize]);
// The value of a block in value format; false when the copies disagree.
bool parse_value_block(const unsigned char block[kBlockSize], int32_t &value);

}  // namespace vr::mfc
