// Pieces shared by the `mifare` subcommands.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "card.h"
#include "command.h"
#include "dumpfile.h"
#include "log.h"

namespace cli {

// Options of the mifare subcommands, given anywhere after the subcommand.
struct MifareArgs : CommandArgs {
    std::optional<vrdump::Key> key;  // --key / --key-b
    uint8_t key_type = kKeyA;        // kKeyA, or kKeyB with --key-b / --key-type B
    bool stored_key = false;         // --stored-key: the key stored in the reader
    std::string keys_file;           // --keys FILE: a key dictionary or a binary key file
    vrdump::KeyFile key_file;        // its keys, read before the reader is opened
    std::optional<vrdump::Key> new_key_a, new_key_b;
    std::optional<vrdump::Kind> kind;  // --mini / --1k / --4k instead of identifying the card
    bool trailers = false;             // --trailers: restore/write sector trailers too
    bool zero_unreadable = false;      // --zero-unreadable: allow zeros in a binary image
    bool quiet = false;                // --quiet: no hex view of a dump
    bool force = false;                // --force: replace files, freeze access conditions
    vrdump::CardImage image;           // restore: the file, read before the reader is opened
};

// What unlocks the sectors, from the options: --key/--key-b, --stored-key,
// --keys, else the default key.
Keyring keyring_for(const MifareArgs &args);

// A key search expects most candidates to be refused. At the default level
// the library would write an error line for each refusal, dozens per sector,
// burying the search's result; those lines are held back while it runs. A
// caller who asked for more (-v) sees them with the rest of the traffic.
class QuietRefusals {
public:
    explicit QuietRefusals(bool searching) {
        if (!searching) return;
        before_ = log_set_level(0);
        if (before_ > LOG_LEVEL_E) {
            log_set_level(before_);
            before_ = -1;
        }
    }
    ~QuietRefusals() {
        if (before_ >= 0) log_set_level(before_);
    }
    QuietRefusals(const QuietRefusals &) = delete;
    QuietRefusals &operator=(const QuietRefusals &) = delete;

private:
    int before_ = -1;
};

// Unlocks the sector with the session's keys, trying each in turn (a key
// search shows its progress). A key that fails leaves the card woken and
// selected again for the next. 0 or the last error code; the session's
// record is null when the card left the field.
int authenticate(CardSession &session, int sector);
// With one key.
int authenticate_with(CardSession &session, const SectorKey &key, int sector);
// After a failure: wake and select the card again, then authenticate.
int recover_and_authenticate(CardSession &session, int sector);
int read_block(CardSession &session, int block, vrdump::Block &out);
int write_block(CardSession &session, int block, const vrdump::Block &data);
// Reads the block back and compares: 0, the read's code, or 1 on a
// difference. A trailer is checked by authenticating with the key A just
// written and comparing the access bytes (and key B where it is readable).
int verify_block(CardSession &session, int block, const vrdump::Block &written);

// Access conditions that no key can change again: the trailer's code
// allows no write of the access bits.
bool freezes_access(uint8_t trailer_code);
// Why a trailer block must not be written: its access bytes are
// inconsistent (the card would lock the sector), or, without --force, they
// would freeze the sector's access conditions. Empty when it may be.
std::string trailer_problem(const MifareArgs &args, const vrdump::Block &trailer);

int usage_error(const std::string &why);

// Checks of the operands made before the reader is touched; an error text,
// empty when they are sound.
std::string check_dump(MifareArgs &args);
std::string check_restore(MifareArgs &args);
std::string check_convert(MifareArgs &args);

int mifare_dump(CardSession &session, const MifareArgs &args);
int mifare_restore(CardSession &session, const MifareArgs &args);
int mifare_convert(const MifareArgs &args);

}  // namespace cli
