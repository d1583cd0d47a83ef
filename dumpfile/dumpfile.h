// MIFARE Classic card images and the dump files MIFARE users exchange.
//
// A CardImage is the whole memory of a Mini, 1K or 4K card as far as it is
// known:
// the card's identity (UID, ATQA, SAK), every block with a flag telling
// whether it could be read, and the keys of each sector where they are
// known. Three file forms carry it, chosen by the file's extension:
//
//   .mfd / .bin  the plain memory image: 320 bytes (Mini), 1024 bytes (1K) or
//                4096 bytes (4K), blocks in order, the keys inside the
//                sector trailers;
//   .eml         text, one block per line as 32 hexadecimal digits;
//   .json        an object with "FileType": "mfc v2", "Card" (UID, ATQA,
//                SAK), "blocks" (block number -> hex) and "SectorKeys"
//                (per sector KeyA, KeyB, AccessConditions).
//
// A block that could not be read is never stored as zeros: the text forms
// write it as 32 '-' characters (and read it back as unreadable), and the
// binary form, which has no way to mark it, refuses such an image unless
// the caller explicitly asks for zero filling.
//
// Keys come in two more files: a dictionary (text, one key of 12 hex digits
// a line, '#' comments) of candidates to try, and the binary key file card
// tools write beside their dumps (key A of every sector, then key B of
// every sector).
//
// This module depends on nothing but the standard library and POSIX files:
// the command-line tool and the reader simulator both use it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vrdump {

enum class Kind { classic_mini, classic_1k, classic_4k };

constexpr int kBlockSize = 16;
constexpr int kKeySize = 6;

constexpr int sector_count(Kind kind) {
    return kind == Kind::classic_mini ? 5 : kind == Kind::classic_1k ? 16 : 40;
}
constexpr int block_count(Kind kind) { return kind == Kind::classic_4k ? 256 : 4 * sector_count(kind); }
// "MIFARE Classic Mini", "MIFARE Classic 1K", "MIFARE Classic 4K".
const char *kind_name(Kind kind);
// Sectors 0..31 have 4 blocks; the 4K card's sectors 32..39 have 16.
constexpr int blocks_in_sector(int sector) { return sector < 32 ? 4 : 16; }
constexpr int first_block(int sector) { return sector < 32 ? 4 * sector : 128 + 16 * (sector - 32); }
constexpr int trailer_block(int sector) { return first_block(sector) + blocks_in_sector(sector) - 1; }
constexpr int sector_of(int block) { return block < 128 ? block / 4 : 32 + (block - 128) / 16; }
constexpr bool is_trailer(int block) { return block == trailer_block(sector_of(block)); }

using Block = std::array<uint8_t, kBlockSize>;
using Key = std::array<uint8_t, kKeySize>;

struct SectorKeys {
    std::optional<Key> a;
    std::optional<Key> b;
};

struct CardImage {
    Kind kind = Kind::classic_1k;
    std::vector<uint8_t> uid;      // 4, 7 or 10 bytes; empty when unknown
    std::array<uint8_t, 2> atqa{}; // as the card sends it: low byte first
    uint8_t sak = 0;
    std::vector<Block> blocks;     // block_count(kind) entries
    std::vector<uint8_t> readable; // per block: 1 read, 0 unreadable
    std::vector<SectorKeys> keys;  // sector_count(kind) entries

    // An image of the given kind whose blocks are all unreadable (nothing
    // known yet) and whose keys are all unknown.
    static CardImage empty(Kind kind);
    [[nodiscard]] int unreadable_count() const;
};

// Outcome of a conversion: empty error text on success.
struct [[nodiscard]] Status {
    std::string error;
    explicit operator bool() const { return error.empty(); }
};

enum class Format { binary, eml, json };

// The format an extension names (.mfd, .bin, .eml, .json; any letter case),
// or nothing.
std::optional<Format> format_for_path(std::string_view path);

struct WriteOptions {
    // The binary image cannot mark an unreadable block; with this set such
    // blocks are written as zeros instead of refusing the image.
    bool zero_unreadable = false;
};

// Parses file contents of the given format into image.
Status decode(Format format, std::span<const uint8_t> bytes, CardImage &image);
// Produces the file contents of the given format.
Status encode(Format format, const CardImage &image, std::vector<uint8_t> &bytes,
              const WriteOptions &options = {});

// Reads or writes a file, the format chosen by its extension. Error texts
// start with the file's path. A file is written whole under a temporary
// name and then put in place, so a failed write never leaves half a dump;
// an existing file is replaced only with `replace`.
Status load_file(const std::string &path, CardImage &image);
Status save_file(const std::string &path, const CardImage &image, const WriteOptions &options = {},
                 bool replace = false);
// Whether save_file could write the path: a known extension, a directory
// that exists and may be written, and no file there unless `replace`. For
// a check before the card is read.
Status check_output(const std::string &path, bool replace);

// Keys to try or to use, from a key file (see above).
struct KeyFile {
    std::vector<Key> candidates;    // a dictionary: tried on every sector
    std::vector<SectorKeys> known;  // a binary key file: each sector's keys
    std::optional<Kind> kind;       // the card size a binary key file fits
};
// A dictionary is text whose every line is blank, a '#' comment or a key of
// 12 hex digits (a comment may follow the key); a file of 60, 192 or 480
// bytes that is not text with lines is a binary key file of a Mini, 1K or
// 4K card.
Status decode_keys(std::span<const uint8_t> bytes, KeyFile &keys);
Status load_keys(const std::string &path, KeyFile &keys);

// Block 0 of a MIFARE Classic card begins with the UID: a 4-byte UID is
// followed by its check byte (the XOR of the four), SAK and ATQA; a 7-byte
// UID by SAK and ATQA. Sets uid, sak and atqa from a readable block 0.
void identity_from_block0(CardImage &image);
// Known keys are written into the trailers (key A bytes 0..5, key B bytes
// 10..15) of readable trailer blocks, so the memory image carries them.
void keys_into_trailers(CardImage &image);
// Every readable trailer's key bytes become the sector's known keys.
void keys_from_trailers(CardImage &image);

// Access conditions of one sector: per block index (0..2 the data blocks, or
// their groups of five on the 4K card's large sectors, 3 the trailer) the
// three bits C1 C2 C3, as the code C1 | C2 << 1 | C3 << 2.
using AccessCodes = std::array<uint8_t, 4>;
// The codes stored in trailer bytes 6..8, or nothing when the inverted copy
// of a bit disagrees with the bit (a trailer the card would reject).
std::optional<AccessCodes> decode_access(const Block &trailer);
// The three access bytes (trailer bytes 6..8) for the codes.
std::array<uint8_t, 3> encode_access(const AccessCodes &codes);
// Under the trailer's code, key B can be read (with key A): such a key B is
// data, and the card refuses every memory access after an authentication
// with it.
constexpr bool key_b_readable(uint8_t trailer_code) {
    return trailer_code == 0 || trailer_code == 2 || trailer_code == 4;
}
// Key B as the trailer shows it, where its code lets key A read it (else the
// card reads it back as zeros and nothing is known of it).
std::optional<Key> readable_key_b(const Block &trailer);
// What each key may do under a code, in words: for a data block (index
// 0..2) or for the trailer (index 3).
std::string describe_access(int index, uint8_t code);

// Hexadecimal text, upper case, no separators.
std::string hex(std::span<const uint8_t> bytes);

}  // namespace vrdump
