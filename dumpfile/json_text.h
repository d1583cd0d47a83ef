// Pieces the card-data file formats share: a strict JSON reader, JSON
// string quoting, hexadecimal text, and bounded whole-file reads and
// writes. Standard library only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dumpfile.h"

namespace vrdump {

// A parsed JSON value. Objects keep their members in file order.
struct Json {
    enum class Type { null, boolean, number, string, array, object };
    Type type = Type::null;
    std::string text;               // string contents, or a number's digits
    std::vector<Json> items;        // array elements, or object values
    std::vector<std::string> keys;  // object member names, parallel to items

    const Json *member(std::string_view name) const;
};

// Reads one JSON text (RFC 8259, strict: no comments, no trailing commas,
// nothing after the value but white space; nesting at most 32 deep).
Status parse_json(std::string_view text, Json &root);
// The text as a JSON string, quotes included.
std::string json_quoted(std::string_view text);
// Exactly the digits of text (no separators); nothing on an odd count or a
// character that is not a hexadecimal digit.
std::optional<std::vector<uint8_t>> unhex(std::string_view text);
// The whole file, refused beyond max_size bytes ("too large for <what>").
// Error texts start with the path.
Status read_file(const std::string &path, std::size_t max_size, const char *what, std::vector<uint8_t> &bytes);
// The whole file written under a temporary name beside path, then put in
// its place; an existing file is replaced only when asked (dumpfile.cpp).
Status write_file(const std::string &path, const std::vector<uint8_t> &bytes, bool replace = true);
// Whether a new file can be written at path: its directory exists and is
// writable, and an existing file may be replaced.
Status check_writable(const std::string &path, bool replace);

}  // namespace vrdump
