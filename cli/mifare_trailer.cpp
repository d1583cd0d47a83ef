// `mifare keys SECTOR` and `mifare access SECTOR [C0 C1 C2 C3]`: the sector
// trailer's keys and access conditions, and the checks every trailer write
// goes through.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "mifare.h"

namespace cli {
namespace {

std::optional<int> sector_arg(const MifareArgs &args, vrdump::Kind kind) {
    if (args.operands.size() < 2) return std::nullopt;
    const auto v = parse_number(args.operands[1], 0, vrdump::sector_count(kind) - 1);
    return v ? std::optional<int>(static_cast<int>(*v)) : std::nullopt;
}

std::string bad_sector(vrdump::Kind kind) {
    return "sector must be 0.." + std::to_string(vrdump::sector_count(kind) - 1) +
           (kind == vrdump::Kind::classic_4k ? "" : " on this card");
}

vrdump::Kind largest(const MifareArgs &args) { return args.kind.value_or(vrdump::Kind::classic_4k); }

std::string bits(uint8_t code) {
    return {static_cast<char>('0' + (code & 1)), static_cast<char>('0' + (code >> 1 & 1)),
            static_cast<char>('0' + (code >> 2 & 1))};
}

int read_trailer(CardSession &session, int sector, vrdump::Block &trailer) {
    if (int rc = read_block(session, vrdump::trailer_block(sector), trailer)) return report_error("read trailer", rc);
    return 0;
}

// The key A the trailer will hold: the new one given, or the key A that
// opened the sector (the card never reveals key A).
std::optional<vrdump::Key> key_a_to_keep(const CardSession &session, const MifareArgs &args, int sector) {
    if (args.new_key_a) return args.new_key_a;
    const auto used = session.keys.working(sector);
    if (used && used->type == kKeyA) return used->key;
    return std::nullopt;
}

// The key B the trailer will hold: the new one given, the key B that opened
// the sector, or the current one where the sector lets key A read it.
std::optional<vrdump::Key> key_b_to_keep(const CardSession &session, const MifareArgs &args, int sector,
                                         const vrdump::Block &trailer) {
    if (args.new_key_b) return args.new_key_b;
    const auto used = session.keys.working(sector);
    if (!used) return std::nullopt;
    if (used->type == kKeyB) return used->key;
    return vrdump::readable_key_b(trailer);
}

// Proves a key by authenticating with it; the card is left usable.
bool key_works(CardSession &session, const SectorKey &key, int sector) {
    if (!reopen_card(session)) return false;
    if (authenticate_with(session, key, sector) == 0) return true;
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
    return key_works(session, {b, kKeyB}, sector);
}

std::string block_range(int sector, int index) {
    const int first = vrdump::first_block(sector);
    if (index == 3) return "trailer " + std::to_string(vrdump::trailer_block(sector));
    if (vrdump::blocks_in_sector(sector) == 4) return "block " + std::to_string(first + index);
    // The large sectors of a 4K card give one condition to five blocks.
    return "blocks " + std::to_string(first + 5 * index) + "-" + std::to_string(first + 5 * index + 4);
}

void print_access(int sector, const vrdump::AccessCodes &codes) {
    for (int i = 0; i < 4; ++i)
        std::printf("  %-15s C1C2C3=%s  %s\n", block_range(sector, i).c_str(), bits(codes[i]).c_str(),
                    vrdump::describe_access(i, codes[i]).c_str());
}

constexpr uint8_t kKeep = 0xFF;

// "001" (C1 C2 C3) to the code C1 | C2 << 1 | C3 << 2; "-" keeps.
std::optional<uint8_t> parse_condition(const std::string &text) {
    if (text == "-") return kKeep;
    if (text.size() != 3 || text.find_first_not_of("01") != std::string::npos) return std::nullopt;
    return static_cast<uint8_t>((text[0] - '0') | (text[1] - '0') << 1 | (text[2] - '0') << 2);
}

// The four conditions of `access SECTOR C0 C1 C2 C3` in the library's
// form: key A, key B, then the four codes (kKeep keeps one).
std::optional<std::array<unsigned char, 16>> parse_conditions(const MifareArgs &args) {
    std::array<unsigned char, 16> description{};
    for (int i = 0; i < 4; ++i) {
        const auto c = parse_condition(args.operands[2 + i]);
        if (!c) return std::nullopt;
        description[12 + i] = *c;
    }
    return description;
}

int change_access(CardSession &session, const MifareArgs &args, int sector, const vrdump::Block &trailer) {
    std::array<unsigned char, 16> description = *parse_conditions(args);
    const auto current = vrdump::decode_access(trailer);
    if (!current && std::memchr(description.data() + 12, kKeep, 4))
        return usage_error("the sector's access bytes are inconsistent: give all four conditions");
    const auto key_a = key_a_to_keep(session, args, sector);
    const auto key_b = key_b_to_keep(session, args, sector, trailer);
    if (!key_a)
        return usage_error("give --new-key-a (or open the sector with key A): the trailer is rewritten with key A");
    if (!key_b) return usage_error("key B cannot be read in this sector: give --new-key-b");
    std::copy(key_a->begin(), key_a->end(), description.begin());
    std::copy(key_b->begin(), key_b->end(), description.begin() + 6);
    vrdump::AccessCodes expected = current.value_or(vrdump::AccessCodes{});
    for (int i = 0; i < 4; ++i)
        if (description[12 + i] != kKeep) expected[i] = description[12 + i];
    const auto trailer_block = static_cast<uint8_t>(vrdump::trailer_block(sector));
    if (int rc = picc_chaccess(session.record, description.data(), trailer_block))
        return report_error("change access", rc);

    // Read the conditions back under the new key A: the card enforces what
    // it stored, not what was sent.
    vrdump::Block after{};
    if (!reopen_card(session)) return report_error("authenticate", error_code(-1));
    if (int rc = authenticate_with(session, {*key_a, kKeyA}, sector)) return report_error("authenticate", rc);
    if (read_trailer(session, sector, after)) return 1;
    if (vrdump::decode_access(after) != expected) {
        std::fprintf(stderr, "access: sector %d reads back other conditions\n", sector);
        return 1;
    }
    std::printf("sector %d: access conditions written and verified\n", sector);
    print_access(sector, expected);
    return 0;
}

}  // namespace

bool freezes_access(uint8_t trailer_code) {
    // Only 001 (key A), 101 and 011 (key B) let a key write the access bits.
    return trailer_code != 4 && trailer_code != 5 && trailer_code != 6;
}

std::string trailer_problem(const MifareArgs &args, const vrdump::Block &trailer) {
    const auto codes = vrdump::decode_access(trailer);
    if (!codes)
        return "the access bytes " + vrdump::hex(std::span(trailer).subspan(6, 3)) +
               " are inconsistent: the card would lock the sector";
    if (freezes_access((*codes)[3]) && !args.force)
        return "the trailer condition " + bits((*codes)[3]) +
               " lets no key change the access conditions again; give --force to write it";
    return {};
}

std::string check_keys(MifareArgs &args) {
    if (args.operands.size() != 2) return "keys SECTOR";
    if (!sector_arg(args, largest(args))) return bad_sector(largest(args));
    if (!args.new_key_a && !args.new_key_b) return "keys needs --new-key-a and/or --new-key-b";
    return {};
}

int mifare_keys(CardSession &session, const MifareArgs &args) {
    const auto sector = sector_arg(args, session.kind);
    if (!sector) return usage_error(bad_sector(session.kind));
    if (int rc = authenticate(session, *sector)) return report_error("authenticate", rc);
    const auto key_a = key_a_to_keep(session, args, *sector);
    if (!key_a) return usage_error("the trailer holds both keys: give --new-key-a too (the card never reveals key A)");
    vrdump::Block expected{};
    if (read_trailer(session, *sector, expected)) return 1;
    // A hidden key B reads as zeros: rewriting the trailer would store them.
    const auto key_b = key_b_to_keep(session, args, *sector, expected);
    if (!key_b)
        return usage_error("key B cannot be read in this sector: give --new-key-b (the current one to keep it)");
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

std::string check_access(MifareArgs &args) {
    if (args.operands.size() != 2 && args.operands.size() != 6) return "access SECTOR [C0 C1 C2 C3]";
    if (!sector_arg(args, largest(args))) return bad_sector(largest(args));
    if (args.operands.size() == 2) return {};
    const auto conditions = parse_conditions(args);
    if (!conditions) return "each access condition is three bits C1C2C3 (e.g. 001) or -";
    const uint8_t trailer_code = (*conditions)[15];
    if (trailer_code != kKeep && freezes_access(trailer_code) && !args.force)
        return "the trailer condition " + bits(trailer_code) +
               " lets no key change the access conditions again; give --force to write it";
    return {};
}

int mifare_access(CardSession &session, const MifareArgs &args) {
    const auto sector = sector_arg(args, session.kind);
    if (!sector) return usage_error(bad_sector(session.kind));
    if (int rc = authenticate(session, *sector)) return report_error("authenticate", rc);
    vrdump::Block trailer{};
    if (read_trailer(session, *sector, trailer)) return 1;
    if (args.operands.size() == 6) return change_access(session, args, *sector, trailer);
    const auto codes = vrdump::decode_access(trailer);
    std::printf("sector %d: access bytes %s\n", *sector, vrdump::hex(std::span(trailer).subspan(6, 4)).c_str());
    if (!codes) {
        std::printf("  (inconsistent: the card would refuse this sector)\n");
        return 1;
    }
    print_access(*sector, *codes);
    return 0;
}

}  // namespace cli
