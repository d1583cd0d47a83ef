// "tlv HEX": prints the element tree of BER-TLV data (a card answer, for
// instance) with the EMV descriptions, in the layout of the library's own
// log lines, with the characters of printable values beside their bytes.
// Built on the public codec helpers only.
#include "cmd_tlv_ir.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tlv.h"

namespace {

std::optional<std::vector<uint8_t>> parse_hex(int argc, char **argv) {
    std::string digits;
    for (int i = 1; i < argc; ++i) {
        for (const char *c = argv[i]; *c; ++c) {
            if (std::isspace(static_cast<unsigned char>(*c)) || *c == ':') continue;
            if (!std::isxdigit(static_cast<unsigned char>(*c))) return std::nullopt;
            digits += *c;
        }
    }
    if (digits.empty() || digits.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

struct Element {
    uint16_t tag;
    std::size_t header_size;
    std::size_t length;
};

enum class Parse { element, end, malformed };

// Reads the element at data[0..size): tag, then a one-byte or 0x81 length,
// with the whole value inside the data. A zero tag byte ends the elements.
Parse read_element(const uint8_t *data, std::size_t size, Element &element) {
    const std::size_t tag_size = tag_is_two_bytes(data[0]) ? 2 : 1;
    if (size < tag_size) return Parse::malformed;
    element.tag = get_tag(data, static_cast<int>(size));
    if (!is_valid_tag(element.tag)) return Parse::end;
    if (size < tag_size + 1) return Parse::malformed;
    const uint8_t first = data[tag_size];
    if (first < 0x80) {
        element.header_size = tag_size + 1;
        element.length = first;
    } else if (length_is_two_bytes(first) && size >= tag_size + 2) {
        element.header_size = tag_size + 2;
        element.length = data[tag_size + 1];
    } else {
        return Parse::malformed;
    }
    return element.header_size + element.length <= size ? Parse::element : Parse::malformed;
}

bool holds_text(uint16_t tag) {
    return tag == 0x50 || tag == 0x5F20 || tag == 0x9F12;
}

// Text of two characters or more: a lone printable byte is more often a
// flag or a count than a character.
bool printable(const uint8_t *value, std::size_t length) {
    if (length < 2) return false;
    for (std::size_t i = 0; i < length; ++i)
        if (value[i] < 0x20 || value[i] > 0x7E) return false;
    return true;
}

// A primitive value: the text of the tags that hold text; for the others
// the bytes in hexadecimal, followed by their characters when every byte
// is a printable one (a language preference, a response code, an ID
// number).
void print_value(uint16_t tag, const uint8_t *value, std::size_t length, int indent) {
    if (holds_text(tag)) {
        std::string text(reinterpret_cast<const char *>(value), length);
        for (char &c : text) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '.';
        }
        std::printf("%*s  s:\"%s\"\n", indent, "", text.c_str());
        return;
    }
    if (length == 0) return;
    std::printf("%*s ", indent, "");
    for (std::size_t i = 0; i < length; ++i) std::printf(" %02x", value[i]);
    if (printable(value, length))
        std::printf("  |%.*s|", static_cast<int>(length), reinterpret_cast<const char *>(value));
    std::printf("\n");
}

// Prints the elements of data[0..size) at the given depth. Returns the
// offset where a malformed element starts, or size when all parsed.
std::size_t print_elements(const uint8_t *data, std::size_t size, int depth) {
    std::size_t offset = 0;
    while (offset < size) {
        Element e{};
        const Parse parsed = read_element(data + offset, size - offset, e);
        if (parsed == Parse::end) return size;
        if (parsed == Parse::malformed) return offset;

        const int indent = 2 * depth;
        std::printf("%*s%x-%s: (%d byte)\n", indent, "", e.tag, get_value(e.tag, LIST_TAGS),
                    static_cast<int>(e.length));
        const uint8_t *value = data + offset + e.header_size;
        if (is_constructed_object(e.tag)) {
            const std::size_t inner = print_elements(value, e.length, depth + 1);
            if (inner != e.length) return offset + e.header_size + inner;
        } else {
            print_value(e.tag, value, e.length, indent);
        }
        offset += e.header_size + e.length;
    }
    return size;
}

}  // namespace

std::size_t cli_print_tlv(const uint8_t *data, std::size_t size) { return print_elements(data, size, 0); }

int cli_cmd_tlv(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: vantel-rfid tlv HEX\n");
        return 2;
    }
    const auto bytes = parse_hex(argc, argv);
    if (!bytes) {
        std::fprintf(stderr, "tlv: expected an even number of hexadecimal digits\n");
        return 2;
    }
    const std::size_t stop = print_elements(bytes->data(), bytes->size(), 0);
    std::fflush(stdout);
    if (stop != bytes->size()) {
        std::fprintf(stderr, "tlv: malformed element at byte %zu\n", stop);
        return 1;
    }
    return 0;
}
