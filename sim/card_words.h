// Cards described in words, for the control channel and the program's
// --card option: "mifare_s50 11223344", "iso14443a 04112233445566
// atqa=0048 sak=20", "mifare_s70:A1B2C3D4".
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "card.h"

namespace vrsim {

// Hexadecimal bytes, colons allowed between them; nothing on bad text.
[[nodiscard]] std::optional<Bytes> parse_hex(std::string_view text);
// Upper-case hexadecimal, no separators.
[[nodiscard]] std::string hex_text(ByteView bytes);

// TYPE, then optionally a UID and atqa=HEX, sak=HEX, uid=HEX. Null with
// *error set on a bad description.
[[nodiscard]] std::shared_ptr<Card> make_card_from_words(const std::vector<std::string_view>& words,
                                                         std::string* error);
// "TYPE[:UID]" (more words may follow, separated by blanks or commas).
[[nodiscard]] std::shared_ptr<Card> make_card_from_option(std::string_view text, std::string* error);

// "mifare_s50 uid=11223344 atqa=0004 sak=08 state=idle"
[[nodiscard]] std::string describe_card(const Card& card);

}  // namespace vrsim
