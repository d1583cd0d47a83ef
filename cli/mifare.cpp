// `mifare SUBCOMMAND ...`: the options, the table of subcommands, and the
// pieces they share (authentication with the session's keys, block reads
// and writes); read, write, value and store-key. Every card access goes
// through the library's public card functions.
#include "mifare.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "pcd.h"
#include "progress.h"

namespace cli {

// The subcommands of mifare_trailer.cpp.
std::string check_keys(MifareArgs &args);
std::string check_access(MifareArgs &args);
int mifare_keys(CardSession &session, const MifareArgs &args);
int mifare_access(CardSession &session, const MifareArgs &args);

namespace {

// ---------------------------------------------------------------- options

std::optional<vrdump::Key> parse_key(const char *text) {
    const auto bytes = parse_hex(text);
    if (!bytes || bytes->size() != vrdump::kKeySize) return std::nullopt;
    vrdump::Key key{};
    std::copy(bytes->begin(), bytes->end(), key.begin());
    return key;
}

template <auto Member>
std::string set_key(MifareArgs &args, const char *value) {
    args.*Member = parse_key(value);
    return args.*Member ? std::string() : "a key is 12 hex digits, not " + std::string(value);
}

std::string set_key_b(MifareArgs &args, const char *value) {
    args.key_type = kKeyB;
    return set_key<&MifareArgs::key>(args, value);
}

std::string set_key_type(MifareArgs &args, const char *value) {
    const std::string t = value;
    if (t != "A" && t != "B" && t != "a" && t != "b") return "--key-type takes A or B";
    args.key_type = (t == "A" || t == "a") ? kKeyA : kKeyB;
    return {};
}

template <vrdump::Kind Kind>
std::string set_kind(MifareArgs &args, const char *) {
    args.kind = Kind;
    return {};
}

std::string set_keys_file(MifareArgs &args, const char *value) {
    args.keys_file = value;
    const vrdump::Status s = vrdump::load_keys(value, args.key_file);
    return s ? std::string() : s.error;
}

constexpr Option<MifareArgs> kOptions[] = {
    {"key", "HEX", "key A (with --key-type B: key B) of 12 hex digits; default FFFFFFFFFFFF",
     set_key<&MifareArgs::key>},
    {"key-b", "HEX", "key B of 12 hex digits", set_key_b},
    {"key-type", "A|B", "which key --key, --stored-key and the default key are (default A)", set_key_type},
    {"keys", "FILE",
     "a key dictionary (one key a line, # comments), tried on every sector as key A and B, or a binary key file "
     "(every key A, then every key B) used sector by sector",
     set_keys_file},
    {"stored-key", nullptr, "authenticate with the key stored in the reader (mifare store-key)",
     set_flag<&MifareArgs::stored_key>},
    {"new-key-a", "HEX", "keys, access: the new key A", set_key<&MifareArgs::new_key_a>},
    {"new-key-b", "HEX", "keys, access: the new key B", set_key<&MifareArgs::new_key_b>},
    {"mini", nullptr, "open the card as a MIFARE Classic Mini instead of identifying it",
     set_kind<vrdump::Kind::classic_mini>},
    {"1k", nullptr, "open the card as a MIFARE Classic 1K", set_kind<vrdump::Kind::classic_1k>},
    {"4k", nullptr, "open the card as a MIFARE Classic 4K", set_kind<vrdump::Kind::classic_4k>},
    {"trailers", nullptr, "let write and restore change sector trailers", set_flag<&MifareArgs::trailers>},
    {"zero-unreadable", nullptr, "write unreadable blocks as zeros into a .mfd/.bin",
     set_flag<&MifareArgs::zero_unreadable>},
    {"quiet", nullptr, "dump: no hex view, only the summary", set_flag<&MifareArgs::quiet>},
    {"force", nullptr, "replace an existing file; write access conditions that can never be changed again",
     set_flag<&MifareArgs::force>},
};

// ------------------------------------------------------------ subcommands

enum class Needs { nothing, reader, card };

struct Subcommand {
    const char *name;
    const char *operands;
    const char *summary;
    Needs needs;
    std::string (*check)(MifareArgs &args);
    int (*run_on_card)(CardSession &session, const MifareArgs &args);
    int (*run)(const MifareArgs &args);  // for those without a card
};

// A block or sector number; before the card is identified (no --mini,
// --1k or --4k) only the largest card's bounds are known.
std::optional<int> number_arg(const MifareArgs &args, std::size_t at, int count) {
    if (at >= args.operands.size()) return std::nullopt;
    const auto v = parse_number(args.operands[at], 0, count - 1);
    return v ? std::optional<int>(static_cast<int>(*v)) : std::nullopt;
}

vrdump::Kind largest(const MifareArgs &args) { return args.kind.value_or(vrdump::Kind::classic_4k); }

std::optional<int> block_arg(const MifareArgs &args, std::size_t at, vrdump::Kind kind) {
    return number_arg(args, at, vrdump::block_count(kind));
}

std::string bad_block(vrdump::Kind kind) {
    return "block must be 0.." + std::to_string(vrdump::block_count(kind) - 1) +
           (kind == vrdump::Kind::classic_4k ? "" : " on this card");
}

// ------------------------------------------------------------ read, write

std::string check_read(MifareArgs &args) {
    if (args.operands.size() != 2) return "read BLOCK";
    return block_arg(args, 1, largest(args)) ? std::string() : bad_block(largest(args));
}

int mifare_read(CardSession &session, const MifareArgs &args) {
    const auto block = block_arg(args, 1, session.kind);
    if (!block) return usage_error(bad_block(session.kind));
    if (int rc = authenticate(session, vrdump::sector_of(*block))) return report_error("authenticate", rc);
    vrdump::Block data{};
    if (int rc = read_block(session, *block, data)) return report_error("read", rc);
    std::printf("%s\n", memory_line(*block, data, true).c_str());
    return 0;
}

std::optional<vrdump::Block> block_data(const MifareArgs &args) {
    std::string text;
    for (std::size_t i = 2; i < args.operands.size(); ++i) text += args.operands[i];
    const auto bytes = parse_hex(text);
    if (!bytes || bytes->size() != vrdump::kBlockSize) return std::nullopt;
    vrdump::Block data{};
    std::copy(bytes->begin(), bytes->end(), data.begin());
    return data;
}

std::string check_write(MifareArgs &args) {
    const auto block = block_arg(args, 1, largest(args));
    if (args.operands.size() < 3) return "write BLOCK HEX";
    if (!block) return bad_block(largest(args));
    const auto data = block_data(args);
    if (!data) return "write takes 16 bytes of data (32 hex digits)";
    if (*block == 0) return "block 0 is the manufacturer block (UID); it is never written";
    // A trailer holds the keys and the access bits: a malformed one locks
    // the sector for good, so it is written only on request and only when
    // the card would take it.
    if (!vrdump::is_trailer(*block)) return {};
    if (!args.trailers)
        return "block " + std::to_string(*block) + " is a sector trailer (keys and access bits); give --trailers";
    return trailer_problem(args, *data);
}

int mifare_write(CardSession &session, const MifareArgs &args) {
    const auto block = block_arg(args, 1, session.kind);
    if (!block) return usage_error(bad_block(session.kind));
    const vrdump::Block data = *block_data(args);
    if (int rc = authenticate(session, vrdump::sector_of(*block))) return report_error("authenticate", rc);
    if (int rc = write_block(session, *block, data)) return report_error("write", rc);
    const int checked = verify_block(session, *block, data);
    if (checked == 1) {
        std::fprintf(stderr, "write: block %d reads back different data\n", *block);
        return 1;
    }
    if (checked != 0) return report_error("verify", checked);
    std::printf("block %d written and verified\n", *block);
    return 0;
}

// ------------------------------------------------------------------ value

// Value blocks hold a signed 32-bit value; the reader takes and gives its
// four bytes least significant first, as the card stores it.
std::array<unsigned char, 4> value_bytes(long v) {
    const auto u = static_cast<uint32_t>(static_cast<int32_t>(v));
    return {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8), static_cast<unsigned char>(u >> 16),
            static_cast<unsigned char>(u >> 24)};
}

int32_t value_of(const unsigned char b[4]) {
    return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                                static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
}

int print_value(CardSession &session, int block) {
    unsigned char v[4] = {};
    if (int rc = picc_rdval(session.record, v, static_cast<uint8_t>(block))) return report_error("read value", rc);
    std::printf("block %d: value %d (%s)\n", block, value_of(v), to_hex(v, 4, "").c_str());
    return 0;
}

int value_change(CardSession &session, const std::string &verb, long amount, int block) {
    const auto bytes = value_bytes(amount);
    const auto b = static_cast<uint8_t>(block);
    if (verb == "set") {
        if (int rc = picc_wrval(session.record, bytes.data(), b)) return report_error("set", rc);
        return print_value(session, block);
    }
    // Increment and decrement leave their result in the card's transfer
    // buffer; the transfer stores it back into the block.
    const int rc = verb == "inc" ? picc_incval(session.record, bytes.data(), b)
                                 : picc_decval(session.record, bytes.data(), b);
    if (rc) return report_error(verb.c_str(), rc);
    if (int t = picc_transfer(session.record, b)) return report_error("transfer", t);
    return print_value(session, block);
}

// Copies a value block within its sector through the card's transfer
// buffer (a backup, or undoing a change from a backup block).
int value_restore(CardSession &session, int from, int to) {
    if (int rc = picc_load(session.record, static_cast<uint8_t>(from))) return report_error("restore", rc);
    if (int rc = picc_transfer(session.record, static_cast<uint8_t>(to))) return report_error("transfer", rc);
    return print_value(session, to);
}

struct ValueRequest {
    std::string verb;  // get, set, inc, dec, restore
    long amount = 0;
    int to = 0;  // restore's destination
};

std::optional<ValueRequest> parse_value_request(const MifareArgs &args, vrdump::Kind kind, int block) {
    const auto &w = args.operands;
    ValueRequest r{w.size() > 2 ? w[2] : "get", 0, block};
    if (r.verb == "get") return w.size() <= 3 ? std::optional(r) : std::nullopt;
    if (r.verb == "restore") {
        if (w.size() > 4) return std::nullopt;
        const auto to = w.size() == 4 ? block_arg(args, 3, kind) : std::optional<int>(block);
        if (!to) return std::nullopt;
        r.to = *to;
        return r;
    }
    // Increments and decrements are amounts; set takes any 32-bit value.
    const long min = r.verb == "set" ? INT32_MIN : 0;
    if ((r.verb != "set" && r.verb != "inc" && r.verb != "dec") || w.size() != 4) return std::nullopt;
    const auto amount = parse_number(w[3], min, INT32_MAX);
    if (!amount) return std::nullopt;
    r.amount = *amount;
    return r;
}

std::string check_value_on(const MifareArgs &args, vrdump::Kind kind) {
    const auto block = block_arg(args, 1, kind);
    if (!block) return bad_block(kind);
    if (*block == 0 || vrdump::is_trailer(*block))
        return "block " + std::to_string(*block) + " cannot be a value block";
    const auto request = parse_value_request(args, kind, *block);
    if (!request) return "value BLOCK [get | set N | inc N | dec N | restore [TO]]";
    if (request->verb == "restore" && (vrdump::sector_of(*block) != vrdump::sector_of(request->to) ||
                                       vrdump::is_trailer(request->to) || request->to == 0))
        return "a value moves only to a data block of the same sector";
    return {};
}

std::string check_value(MifareArgs &args) { return check_value_on(args, largest(args)); }

int mifare_value(CardSession &session, const MifareArgs &args) {
    if (const std::string why = check_value_on(args, session.kind); !why.empty()) return usage_error(why);
    const int block = *block_arg(args, 1, session.kind);
    const ValueRequest request = *parse_value_request(args, session.kind, block);
    if (int rc = authenticate(session, vrdump::sector_of(block))) return report_error("authenticate", rc);
    if (request.verb == "get") return print_value(session, block);
    if (request.verb == "restore") return value_restore(session, block, request.to);
    return value_change(session, request.verb, request.amount, block);
}

// -------------------------------------------------------------- store-key

// The reader keeps downloaded keys in slots, one per sector; its
// stored-key authentication of a sector uses the sector's slot.
constexpr int kKeySlots = 40;

std::string check_store_key(MifareArgs &args) {
    args.needs_reader = true;
    if (args.operands.size() > 2) return "store-key [SLOT]";
    if (args.operands.size() == 2 && !number_arg(args, 1, kKeySlots))
        return "the slot is a sector number 0.." + std::to_string(kKeySlots - 1);
    if (!args.key_file.known.empty()) {
        if (args.operands.size() == 2 || args.key)
            return "a binary key file gives every slot its keys: no SLOT, no --key";
        return {};
    }
    if (!args.key_file.candidates.empty()) return "a key dictionary names no slot: give --key, or a binary key file";
    if (!args.key) return "store-key needs --key HEX (or --key-b HEX) or --keys FILE";
    return {};
}

int store_one(int slot, uint8_t type, const vrdump::Key &key) {
    if (pcd_download_passwd(slot, type, key.data(), vrdump::kKeySize) != 0)
        return report_error(("store key " + std::string(key_name(type)) + " in slot " + std::to_string(slot)).c_str(),
                            errno);
    return 0;
}

int mifare_store_key(const MifareArgs &args) {
    if (!args.key_file.known.empty()) {
        int slot = 0;
        for (const vrdump::SectorKeys &keys : args.key_file.known) {
            if (store_one(slot, kKeyA, *keys.a) || store_one(slot, kKeyB, *keys.b)) return 1;
            ++slot;
        }
        std::printf("keys A and B of %d sectors stored in the reader\n", slot);
        return 0;
    }
    const int slot = args.operands.size() == 2 ? *number_arg(args, 1, kKeySlots) : 0;
    if (store_one(slot, args.key_type, *args.key)) return 1;
    std::printf("key %s stored in slot %d\n", key_name(args.key_type), slot);
    return 0;
}

// ------------------------------------------------------------- the table

constexpr Subcommand kSubcommands[] = {
    {"read", "BLOCK", "read one block (hex and ASCII)", Needs::card, check_read, mifare_read, nullptr},
    {"write", "BLOCK HEX", "write 16 bytes and verify them (block 0 never; trailers with --trailers)", Needs::card,
     check_write, mifare_write, nullptr},
    {"dump", "[FILE]", "read the whole card; FILE .mfd/.bin, .eml or .json (not replaced without --force)",
     Needs::card, check_dump, mifare_dump, nullptr},
    {"restore", "FILE", "write a dump back (never block 0; trailers with --trailers)", Needs::card, check_restore,
     mifare_restore, nullptr},
    {"value", "BLOCK [get | set N | inc N | dec N | restore [TO]]",
     "value block operations (restore loads BLOCK, transfers to TO)", Needs::card, check_value, mifare_value,
     nullptr},
    {"keys", "SECTOR", "change the sector's keys (--new-key-a, --new-key-b), then authenticate with them",
     Needs::card, check_keys, mifare_keys, nullptr},
    {"access", "SECTOR [C0 C1 C2 C3]",
     "show, or set, the access conditions (each C1C2C3 as three bits like 001, or - to keep)", Needs::card,
     check_access, mifare_access, nullptr},
    {"store-key", "[SLOT]",
     "store a key in the reader for --stored-key (slot = sector, default 0), or every key of a binary key file",
     Needs::reader, check_store_key, nullptr, mifare_store_key},
    {"convert", "IN OUT", "convert a dump between the file forms (no reader)", Needs::nothing, check_convert,
     nullptr, mifare_convert},
};

const Subcommand *find_subcommand(const MifareArgs &args) { return cli::find_subcommand(kSubcommands, args.operands); }

void list_subcommands(std::FILE *out) { print_subcommands(out, kSubcommands); }

// Only one source of keys at a time.
std::string check_key_sources(const MifareArgs &args) {
    const int sources = (args.key ? 1 : 0) + (args.stored_key ? 1 : 0) + (args.keys_file.empty() ? 0 : 1);
    return sources > 1 ? "give one of --key/--key-b, --stored-key and --keys" : std::string();
}

std::string check_mifare(MifareArgs &args) {
    const Subcommand *sub = find_subcommand(args);
    if (!sub) return no_subcommand(args.operands);
    if (const std::string why = check_key_sources(args); !why.empty()) return why;
    args.needs_reader = sub->needs != Needs::nothing;
    return sub->check(args);
}

// The card of the session: opened, its size known, its keys ready.
bool open_session(CardSession &session, const MifareArgs &args) {
    if (!open_mifare_card(session, args.kind)) return false;
    session.keys = keyring_for(args);
    if (args.key_file.kind && *args.key_file.kind != session.kind) {
        std::fprintf(stderr, "mifare: the key file holds the keys of a %s; the card is a %s\n",
                     vrdump::kind_name(*args.key_file.kind), vrdump::kind_name(session.kind));
        return false;
    }
    return true;
}

int run_mifare(const Options &, MifareArgs &args) {
    const Subcommand &sub = *find_subcommand(args);
    if (sub.needs != Needs::card) return sub.run(args);
    CardSession session;
    if (!open_session(session, args)) return 1;
    return sub.run_on_card(session, args);
}

constexpr Command<MifareArgs> kMifare = {
    "mifare",
    "MIFARE Classic cards: read, write, values, keys, access conditions, dump, restore",
    "SUBCOMMAND [OPERANDS]",
    "MIFARE Classic Mini, 1K and 4K cards: blocks, values, keys, access conditions, whole-card dumps.\n"
    "Keys: --key, --key-b, --stored-key, --keys FILE, or the default key FFFFFFFFFFFF.\n",
    list_subcommands,
    kOptions,
    check_mifare,
    run_mifare,
};

}  // namespace

// ------------------------------------------------------- shared helpers

Keyring keyring_for(const MifareArgs &args) {
    if (args.stored_key) return Keyring(SectorKey{std::nullopt, args.key_type});
    if (!args.keys_file.empty()) return Keyring(args.key_file, args.key_type);
    return Keyring(SectorKey{args.key.value_or(kDefaultKey), args.key_type});
}

int authenticate_with(CardSession &session, const SectorKey &key, int sector) {
    const unsigned char *bytes = key.key ? key.key->data() : nullptr;
    const int rc = picc_auth(session.record, bytes, key.type, static_cast<uint8_t>(vrdump::trailer_block(sector)));
    if (rc == 0) session.keys.worked(sector, key);
    return rc;
}

int authenticate(CardSession &session, int sector) {
    const std::vector<SectorKey> keys = session.keys.to_try(sector);
    std::optional<Progress> progress;
    if (keys.size() > 1) progress.emplace("key search, sector " + std::to_string(sector));
    const QuietRefusals quiet(keys.size() > 1);
    int rc = -1;
    for (std::size_t i = 0; i < keys.size() && session.record; ++i) {
        if (progress) progress->update(static_cast<int>(i + 1), static_cast<int>(keys.size()));
        if ((rc = authenticate_with(session, keys[i], sector)) == 0) return 0;
        // A refused key leaves the card halted: wake it for the next one.
        if (!reopen_card(session)) return error_code(-1);
    }
    return rc;
}

int recover_and_authenticate(CardSession &session, int sector) {
    if (!reopen_card(session)) return error_code(-1);
    return authenticate(session, sector);
}

int read_block(CardSession &session, int block, vrdump::Block &out) {
    return picc_read(session.record, out.data(), static_cast<uint8_t>(block)) == 0 ? 0 : error_code(-1);
}

int write_block(CardSession &session, int block, const vrdump::Block &data) {
    return picc_write(session.record, data.data(), static_cast<uint8_t>(block));
}

int verify_block(CardSession &session, int block, const vrdump::Block &written) {
    vrdump::Block back{};
    if (!vrdump::is_trailer(block)) {
        if (int rc = read_block(session, block, back)) return rc;
        return back == written ? 0 : 1;
    }
    // Key A never reads back; authenticating with it proves it.
    vrdump::Key new_key_a{};
    std::copy_n(written.begin(), vrdump::kKeySize, new_key_a.begin());
    const int sector = vrdump::sector_of(block);
    if (!reopen_card(session)) return error_code(-1);
    if (int rc = authenticate_with(session, {new_key_a, kKeyA}, sector)) return rc;
    if (int rc = read_block(session, block, back)) return rc;
    if (!std::equal(back.begin() + 6, back.begin() + 10, written.begin() + 6)) return 1;
    if (vrdump::readable_key_b(written) && !std::equal(back.begin() + 10, back.end(), written.begin() + 10)) return 1;
    return 0;
}

int usage_error(const std::string &why) { return command_usage_error("mifare", why); }

constinit const CommandEntry kMifareCommand = entry_for<kMifare>();

}  // namespace cli
