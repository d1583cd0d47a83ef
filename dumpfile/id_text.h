// The text record of the PRC identity card as the card stores it: 256
// bytes of fixed-width fields, each UCS-2 (UTF-16, low byte first) padded
// with spaces:
//
//   name        15 characters     address     35 characters
//   sex          1 (1 male, 2 female)          number      18
//   nation       2 (code)         authority   15
//   birth date   8 (YYYYMMDD)     valid from   8 (YYYYMMDD)
//                                 valid to     8 (YYYYMMDD, or "长期")
//   then 18 characters reserved.
//
// Shared by the command-line tool (which decodes what the card returned)
// and the simulator (whose virtual card stores it); it needs nothing but
// the standard library.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vrdump {

constexpr std::size_t kIdTextSize = 256;

// The fields in UTF-8, without padding.
struct IdText {
    std::string name, sex, nation, birth, address, number, authority, valid_from, valid_to;
};

struct IdField {
    const char *label;          // English label, as the tool prints it
    std::size_t chars;          // width in UCS-2 characters
    std::string IdText::*member;
};
extern const std::array<IdField, 9> kIdFields;

// Decodes a text record: every field that lies wholly within the bytes
// (a short record leaves the later ones empty), trailing blanks and NULs
// removed. Characters that are not valid UTF-16 become U+FFFD.
IdText decode_id_text(std::span<const uint8_t> record);
// Encodes the fields into a 256-byte record; nothing when a field is not
// valid UTF-8 or does not fit its width.
std::optional<std::vector<uint8_t>> encode_id_text(const IdText &text);

// "male" / "female" for the sex codes 1 and 2, else empty.
std::string sex_meaning(const std::string &code);

}  // namespace vrdump
