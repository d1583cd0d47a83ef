// `mifare read|write|value|keys|access ...` and the dispatch of the mifare
// subcommands. Every card access goes through the library's public card
// functions; keys are given in hexadecimal, or the reader's stored key is
// used (a null key to picc_auth).
#include "mifare.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "cli.h"

namespace cli {
namespace {

constexpr uint8_t kKeyA = 0x60, kKeyB = 0x61;

constexpr const char *kUsage =
    "usage: vantel-rfid mifare SUBCOMMAND [options]\n"
    "  read BLOCK                      read one block (hex and ASCII)\n"
    "  write BLOCK HEX                 write 16 bytes and verify them\n"
    "  dump [FILE]                     read the whole card; FILE .mfd/.bin, .eml or .json\n"
    "  restore FILE                    write a dump back (never block 0; trailers with --trailers)\n"
    "  value BLOCK [get | set N | inc N | dec N | restore [TO]]\n"
    "                                  value block operations (restore loads BLOCK, transfers to TO)\n"
    "  keys SECTOR --new-key-a HEX [--new-key-b HEX]\n"
    "                                  change the sector's keys, then authenticate with them\n"
    "  access SECTOR [C0 C1 C2 C3]     show, or set, the access conditions (each C1C2C3 as\n"
    "                                  three bits like 001, or - to keep); keys as for `keys`\n"
    "  convert IN OUT                  convert a dump between the file forms (no reader)\n"
    "options:\n"
    "  --key HEX | --key-b HEX         key A (or B) of 12 hex digits; default: the reader's stored key\n"
    "  --key-type A|B                  which key --key is (default A)\n"
    "  --1k | --4k                     open the card as this kind instead of identifying it\n"
    "  --trailers                      let restore and write change sector trailers\n"
    "  --zero-unreadable               write unreadable blocks as zeros into a .mfd/.bin\n";

int usage_error(const char *why) {
    std::fprintf(stderr, "mifare: %s (see: vantel-rfid mifare help)\n", why);
    return 2;
}

std::optional<vrdump::Key> parse_key(const char *text) {
    const auto bytes = parse_hex(text);
    if (!bytes || bytes->size() != vrdump::kKeySize) return std::nullopt;
    vrdump::Key key{};
    std::copy(bytes->begin(), bytes->end(), key.begin());
    return key;
}

// Returns an error text, empty when the options are sound.
std::string parse_args(int argc, char **argv, MifareArgs &args) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        std::optional<vrdump::Key> *key_slot = nullptr;
        if (a == "--key" || a == "--key-b") {
            key_slot = &args.key;
            if (a == "--key-b") args.key_type = kKeyB;
        } else if (a == "--new-key-a") {
            key_slot = &args.new_key_a;
        } else if (a == "--new-key-b") {
            key_slot = &args.new_key_b;
        } else if (a == "--key-type") {
            const std::string t = has_value ? argv[++i] : "";
            if (t != "A" && t != "B" && t != "a" && t != "b") return "--key-type takes A or B";
            args.key_type = (t == "A" || t == "a") ? kKeyA : kKeyB;
        } else if (a == "--1k" || a == "--4k") {
            args.kind = a == "--1k" ? vrdump::Kind::classic_1k : vrdump::Kind::classic_4k;
        } else if (a == "--trailers") {
            args.trailers = true;
        } else if (a == "--zero-unreadable") {
            args.zero_unreadable = true;
        } else if (a.size() > 2 && a[0] == '-' && a[1] == '-') {
            return "unknown option " + a;
        } else {
            args.words.push_back(a);
        }
        if (key_slot) {
            if (!has_value || !(*key_slot = parse_key(argv[++i]))) return a + " takes a key of 12 hex digits";
        }
    }
    return {};
}

// A block of the card, as given on the command line.
std::optional<int> block_arg(const MifareArgs &args, std::size_t at, const CardSession &session) {
    if (at >= args.words.size()) return std::nullopt;
    const auto v = parse_number(args.words[at], 0, vrdump::block_count(session.kind) - 1);
    return v ? std::optional<int>(static_cast<int>(*v)) : std::nullopt;
}

std::optional<int> sector_arg(const MifareArgs &args, std::size_t at, const CardSession &session) {
    if (at >= args.words.size()) return std::nullopt;
    const auto v = parse_number(args.words[at], 0, vrdump::sector_count(session.kind) - 1);
    return v ? std::optional<int>(static_cast<int>(*v)) : std::nullopt;
}

int bad_block(const CardSession &session) {
    std::fprintf(stderr, "mifare: block must be 0..%d on this card\n", vrdump::block_count(session.kind) - 1);
    return 2;
}

int bad_sector(const CardSession &session) {
    std::fprintf(stderr, "mifare: sector must be 0..%d on this card\n", vrdump::sector_count(session.kind) - 1);
    return 2;
}

// ------------------------------------------------------------ read, write

int mifare_read(CardSession &session, const MifareArgs &args) {
    const auto block = block_arg(args, 1, session);
    if (!block || args.words.size() != 2) return bad_block(session);
    if (int rc = authenticate(session, args, vrdump::sector_of(*block))) return report_error("authenticate", rc);
    vrdump::Block data{};
    if (int rc = read_block(session, *block, data)) return report_error("read", rc);
    std::printf("%s\n", block_line(*block, data, true).c_str());
    return 0;
}

// A trailer holds the keys and the access bits: a malformed one locks the
// sector for good, so it is written only on request and only when valid.
bool trailer_write_allowed(const MifareArgs &args, const vrdump::Block &data) {
    if (!args.trailers) {
        std::fprintf(stderr, "mifare: that block is a sector trailer (keys and access bits); "
                             "give --trailers to write it\n");
        return false;
    }
    if (!vrdump::decode_access(data)) {
        std::fprintf(stderr, "mifare: the access bytes %s are inconsistent and would lock the sector; "
                             "not written\n", vrdump::hex(std::span(data).subspan(6, 3)).c_str());
        return false;
    }
    return true;
}

int mifare_write(CardSession &session, const MifareArgs &args) {
    const auto block = block_arg(args, 1, session);
    if (!block || args.words.size() < 3) return bad_block(session);
    std::string text;
    for (std::size_t i = 2; i < args.words.size(); ++i) text += args.words[i];
    const auto bytes = parse_hex(text);
    if (!bytes || bytes->size() != vrdump::kBlockSize) return usage_error("write takes 16 bytes of data (32 hex digits)");
    if (*block == 0) {
        std::fprintf(stderr, "mifare: block 0 is the manufacturer block (UID); it is never written\n");
        return 1;
    }
    vrdump::Block data{};
    std::copy(bytes->begin(), bytes->end(), data.begin());
    if (vrdump::is_trailer(*block) && !trailer_write_allowed(args, data)) return 1;
    if (int rc = authenticate(session, args, vrdump::sector_of(*block))) return report_error("authenticate", rc);
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
bool value_destination_valid(int from, int to) {
    return vrdump::sector_of(from) == vrdump::sector_of(to) && !vrdump::is_trailer(to) && to != 0;
}

int value_restore(CardSession &session, int from, int to) {
    if (int rc = picc_load(session.record, static_cast<uint8_t>(from))) return report_error("restore", rc);
    if (int rc = picc_transfer(session.record, static_cast<uint8_t>(to))) return report_error("transfer", rc);
    return print_value(session, to);
}

struct ValueRequest {
    std::string verb;  // get, set, inc, dec, restore
    long amount = 0;
    int to = 0;        // restore's destination
};

std::optional<ValueRequest> parse_value_request(const MifareArgs &args, const CardSession &session, int block) {
    const auto &w = args.words;
    ValueRequest r{w.size() > 2 ? w[2] : "get", 0, block};
    if (r.verb == "get") return w.size() <= 3 ? std::optional(r) : std::nullopt;
    if (r.verb == "restore") {
        if (w.size() > 4) return std::nullopt;
        const auto to = w.size() == 4 ? block_arg(args, 3, session) : std::optional<int>(block);
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

int mifare_value(CardSession &session, const MifareArgs &args) {
    const auto block = block_arg(args, 1, session);
    if (!block) return bad_block(session);
    if (*block == 0 || vrdump::is_trailer(*block)) {
        std::fprintf(stderr, "mifare: block %d cannot be a value block\n", *block);
        return 2;
    }
    const auto request = parse_value_request(args, session, *block);
    if (!request) return usage_error("value BLOCK [get | set N | inc N | dec N | restore [TO]]");
    if (request->verb == "restore" && !value_destination_valid(*block, request->to))
        return usage_error("a value moves only to a data block of the same sector");
    if (int rc = authenticate(session, args, vrdump::sector_of(*block))) return report_error("authenticate", rc);
    if (request->verb == "get") return print_value(session, *block);
    if (request->verb == "restore") return value_restore(session, *block, request->to);
    return value_change(session, request->verb, request->amount, *block);
}

// ---------------------------------------------------------- keys, access

int read_trailer(CardSession &session, int sector, vrdump::Block &trailer) {
    if (int rc = read_block(session, vrdump::trailer_block(sector), trailer)) return report_error("read trailer", rc);
    return 0;
}

// The key A the trailer will hold: the new one given, or the key used to
// authenticate when that is key A (the card never reveals key A).
std::optional<vrdump::Key> key_a_to_keep(const MifareArgs &args) {
    if (args.new_key_a) return args.new_key_a;
    if (args.key && args.key_type == kKeyA) return args.key;
    return std::nullopt;
}

// The key B the trailer will hold: the new one given, or the current one
// where the sector lets key A read it.
std::optional<vrdump::Key> key_b_to_keep(const MifareArgs &args, const vrdump::Block &trailer) {
    if (args.new_key_b) return args.new_key_b;
    if (args.key_type != kKeyA) return std::nullopt;
    return vrdump::readable_key_b(trailer);
}

// Proves a key by authenticating with it; the card is left usable.
bool key_works(CardSession &session, const vrdump::Key &key, uint8_t type, int sector) {
    MifareArgs probe;
    probe.key = key;
    probe.key_type = type;
    if (recover_and_authenticate(session, probe, sector) == 0) return true;
    reopen_card(session);
    return false;
}

// After a key change: the trailer must answer to the new key A with its
// access bits unchanged, and the new key B must be the one stored (read
// back where the sector shows key B, else proved by authenticating).
bool keys_verified(CardSession &session, int sector, const vrdump::Block &expected, bool key_b_changed) {
    if (verify_block(session, vrdump::trailer_block(sector), expected) != 0) return false;
    if (!key_b_changed || vrdump::readable_key_b(expected)) return true;
    vrdump::Key b{};
    std::copy_n(expected.begin() + 10, vrdump::kKeySize, b.begin());
    return key_works(session, b, kKeyB, sector);
}

int mifare_keys(CardSession &session, const MifareArgs &args) {
    const auto sector = sector_arg(args, 1, session);
    if (!sector || args.words.size() != 2) return bad_sector(session);
    if (!args.new_key_a && !args.new_key_b) return usage_error("keys needs --new-key-a and/or --new-key-b");
    const auto key_a = key_a_to_keep(args);
    if (!key_a) return usage_error("the trailer holds both keys: give --new-key-a too (the card never reveals key A)");
    if (int rc = authenticate(session, args, *sector)) return report_error("authenticate", rc);
    vrdump::Block expected{};
    if (read_trailer(session, *sector, expected)) return 1;
    // A hidden key B reads as zeros: rewriting the trailer would store them.
    const auto key_b = key_b_to_keep(args, expected);
    if (!key_b) return usage_error("key B cannot be read in this sector: give --new-key-b (the current one to keep it)");
    std::copy(key_a->begin(), key_a->end(), expected.begin());
    std::copy(key_b->begin(), key_b->end(), expected.begin() + 10);
    // Key A then key B; key type B tells the library to write both.
    unsigned char keys[12] = {};
    std::copy(key_a->begin(), key_a->end(), keys);
    std::copy(key_b->begin(), key_b->end(), keys + vrdump::kKeySize);
    const auto trailer = static_cast<uint8_t>(vrdump::trailer_block(*sector));
    if (int rc = picc_chpw(session.record, keys, kKeyB, trailer)) return report_error("change keys", rc);
    if (!keys_verified(session, *sector, expected, args.new_key_b.has_value())) {
        std::fprintf(stderr, "keys: sector %d does not answer to the new keys\n", *sector);
        return 1;
    }
    std::printf("sector %d: key A %s, key B %s written and verified\n", *sector, vrdump::hex(*key_a).c_str(),
                vrdump::hex(*key_b).c_str());
    return 0;
}

std::string block_range(int sector, int index) {
    const int first = vrdump::first_block(sector);
    if (index == 3) return "trailer " + std::to_string(vrdump::trailer_block(sector));
    if (vrdump::blocks_in_sector(sector) == 4) return "block " + std::to_string(first + index);
    // The large sectors of a 4K card give one condition to five blocks.
    return "blocks " + std::to_string(first + 5 * index) + "-" + std::to_string(first + 5 * index + 4);
}

void print_access(int sector, const vrdump::AccessCodes &codes) {
    for (int i = 0; i < 4; ++i) {
        const uint8_t c = codes[i];
        std::printf("  %-15s C1C2C3=%d%d%d  %s\n", block_range(sector, i).c_str(), c & 1, c >> 1 & 1, c >> 2 & 1,
                    vrdump::describe_access(i, c).c_str());
    }
}

// "001" (C1 C2 C3) to the code C1 | C2 << 1 | C3 << 2; "-" keeps (0xFF).
std::optional<uint8_t> parse_condition(const std::string &text) {
    if (text == "-") return uint8_t{0xFF};
    if (text.size() != 3 || text.find_first_not_of("01") != std::string::npos) return std::nullopt;
    return static_cast<uint8_t>((text[0] - '0') | (text[1] - '0') << 1 | (text[2] - '0') << 2);
}

// The four conditions of `access SECTOR C0 C1 C2 C3` in the library's
// form: key A, key B, then the four codes (0xFF keeps one).
std::optional<std::array<unsigned char, 16>> parse_conditions(const MifareArgs &args) {
    std::array<unsigned char, 16> description{};
    for (int i = 0; i < 4; ++i) {
        const auto c = parse_condition(args.words[2 + i]);
        if (!c) return std::nullopt;
        description[12 + i] = *c;
    }
    return description;
}

int change_access(CardSession &session, const MifareArgs &args, int sector, const vrdump::Block &trailer) {
    std::array<unsigned char, 16> description = *parse_conditions(args);
    const auto current = vrdump::decode_access(trailer);
    if (!current && std::memchr(description.data() + 12, 0xFF, 4))
        return usage_error("the sector's access bytes are inconsistent: give all four conditions");
    const auto key_a = key_a_to_keep(args);
    const auto key_b = key_b_to_keep(args, trailer);
    if (!key_a) return usage_error("give --new-key-a (or --key with key A): the trailer is rewritten with key A");
    if (!key_b) return usage_error("key B cannot be read in this sector: give --new-key-b");
    std::copy(key_a->begin(), key_a->end(), description.begin());
    std::copy(key_b->begin(), key_b->end(), description.begin() + 6);
    vrdump::AccessCodes expected = current.value_or(vrdump::AccessCodes{});
    for (int i = 0; i < 4; ++i)
        if (description[12 + i] != 0xFF) expected[i] = description[12 + i];
    const auto trailer_block = static_cast<uint8_t>(vrdump::trailer_block(sector));
    if (int rc = picc_chaccess(session.record, description.data(), trailer_block))
        return report_error("change access", rc);

    // Read the conditions back under the new key A: the card enforces what
    // it stored, not what was sent.
    MifareArgs with_new_key;
    with_new_key.key = key_a;
    vrdump::Block after{};
    if (int rc = recover_and_authenticate(session, with_new_key, sector)) return report_error("authenticate", rc);
    if (read_trailer(session, sector, after)) return 1;
    if (vrdump::decode_access(after) != expected) {
        std::fprintf(stderr, "access: sector %d reads back other conditions\n", sector);
        return 1;
    }
    std::printf("sector %d: access conditions written and verified\n", sector);
    print_access(sector, expected);
    return 0;
}

int mifare_access(CardSession &session, const MifareArgs &args) {
    const auto sector = sector_arg(args, 1, session);
    if (!sector) return bad_sector(session);
    if (args.words.size() != 2 && args.words.size() != 6) return usage_error("access SECTOR [C0 C1 C2 C3]");
    if (args.words.size() == 6 && !parse_conditions(args))
        return usage_error("each access condition is three bits C1C2C3 (e.g. 001) or -");
    if (int rc = authenticate(session, args, *sector)) return report_error("authenticate", rc);
    vrdump::Block trailer{};
    if (read_trailer(session, *sector, trailer)) return 1;
    if (args.words.size() == 6) return change_access(session, args, *sector, trailer);
    const auto codes = vrdump::decode_access(trailer);
    std::printf("sector %d: access bytes %s\n", *sector, vrdump::hex(std::span(trailer).subspan(6, 4)).c_str());
    if (!codes) {
        std::printf("  (inconsistent: the card would refuse this sector)\n");
        return 1;
    }
    print_access(*sector, *codes);
    return 0;
}

}  // namespace

// ------------------------------------------------------- shared helpers

int authenticate(CardSession &session, const MifareArgs &args, int sector) {
    const unsigned char *key = args.key ? args.key->data() : nullptr;
    return picc_auth(session.record, key, args.key_type, static_cast<uint8_t>(vrdump::trailer_block(sector)));
}

int recover_and_authenticate(CardSession &session, const MifareArgs &args, int sector) {
    if (!reopen_card(session)) return error_code(-1);
    return authenticate(session, args, sector);
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
    MifareArgs with_new_key;
    with_new_key.key = vrdump::Key{};
    std::copy_n(written.begin(), vrdump::kKeySize, with_new_key.key->begin());
    const int sector = vrdump::sector_of(block);
    if (int rc = recover_and_authenticate(session, with_new_key, sector)) return rc;
    if (int rc = read_block(session, block, back)) return rc;
    if (!std::equal(back.begin() + 6, back.begin() + 10, written.begin() + 6)) return 1;
    if (vrdump::readable_key_b(written) && !std::equal(back.begin() + 10, back.end(), written.begin() + 10)) return 1;
    return 0;
}

std::string block_line(int block, const vrdump::Block &data, bool readable) {
    char head[8];
    std::snprintf(head, sizeof head, "%3d  ", block);
    std::string line = head;
    std::string text;
    for (uint8_t b : data) {
        char cell[4];
        std::snprintf(cell, sizeof cell, "%02X ", b);
        line += readable ? cell : "-- ";
        text += readable && b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
    }
    return line + (readable ? " |" + text + "|" : " (unreadable)");
}

std::optional<long> parse_number(const std::string &text, long min, long max) {
    if (text.empty()) return std::nullopt;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < min || v > max) return std::nullopt;
    return v;
}

int cmd_mifare(const Options &opt, int argc, char **argv) {
    MifareArgs args;
    if (const std::string why = parse_args(argc, argv, args); !why.empty()) return usage_error(why.c_str());
    if (args.words.empty() || args.words[0] == "help") {
        std::fputs(kUsage, args.words.empty() ? stderr : stdout);
        return args.words.empty() ? 2 : 0;
    }
    const std::string &sub = args.words[0];
    if (sub == "convert") return mifare_convert(args);
    using Run = int (*)(CardSession &, const MifareArgs &);
    static const std::pair<const char *, Run> kSubcommands[] = {
        {"read", mifare_read},     {"write", mifare_write}, {"dump", mifare_dump},     {"restore", mifare_restore},
        {"value", mifare_value},   {"keys", mifare_keys},   {"access", mifare_access},
    };
    for (const auto &[name, run] : kSubcommands) {
        if (sub != name) continue;
        CardSession session;
        if (!open_reader(opt) || !open_mifare_card(session, args.kind)) return 1;
        return run(session, args);
    }
    return usage_error(("unknown subcommand " + sub).c_str());
}

}  // namespace cli
