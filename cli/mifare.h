// Pieces shared by the `mifare` subcommands.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "card.h"
#include "dumpfile.h"

namespace cli {

// Options of the mifare subcommands, given anywhere after the subcommand.
struct MifareArgs {
    std::optional<vrdump::Key> key;  // --key / --key-b; none: the reader's stored key
    uint8_t key_type = 0x60;         // 0x60 key A, 0x61 key B
    std::optional<vrdump::Key> new_key_a, new_key_b;
    std::optional<vrdump::Kind> kind;  // --1k / --4k instead of identifying the card
    bool trailers = false;             // --trailers: restore/write sector trailers too
    bool zero_unreadable = false;      // --zero-unreadable: allow zeros in a binary image
    std::vector<std::string> words;    // the subcommand and its operands
};

// Unlocks the sector with the key of the options, or the reader's stored
// key: 0 or the error code.
int authenticate(CardSession &session, const MifareArgs &args, int sector);
// After a failure: wake and select the card again, then authenticate.
int recover_and_authenticate(CardSession &session, const MifareArgs &args, int sector);
int read_block(CardSession &session, int block, vrdump::Block &out);
int write_block(CardSession &session, int block, const vrdump::Block &data);
// Reads the block back and compares: 0, the read's code, or 1 on a
// difference. A trailer is checked by authenticating with the key A just
// written and comparing the access bytes (and key B where it is readable).
int verify_block(CardSession &session, int block, const vrdump::Block &written);

// One line of the hex and ASCII view: block number, 16 bytes, the bytes as
// text ('.' where not printable); an unreadable block shows "--".
std::string block_line(int block, const vrdump::Block &data, bool readable);

std::optional<long> parse_number(const std::string &text, long min, long max);

int mifare_dump(CardSession &session, const MifareArgs &args);
int mifare_restore(CardSession &session, const MifareArgs &args);
int mifare_convert(const MifareArgs &args);

}  // namespace cli
