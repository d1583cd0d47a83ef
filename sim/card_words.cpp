#include "card_words.h"

#include "dumpfile.h"
#include "words.h"

#include <charconv>
#include <cstdio>

namespace vrsim {
namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A hexadecimal number of at most `max`, with or without 0x.
std::optional<unsigned> parse_number(std::string_view w, unsigned max) {
    if (w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) w.remove_prefix(2);
    unsigned v = 0;
    const auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), v, 16);
    if (w.empty() || ec != std::errc() || end != w.data() + w.size() || v > max) return std::nullopt;
    return v;
}

std::shared_ptr<Card> fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return nullptr;
}

}  // namespace

std::optional<Bytes> parse_hex(std::string_view text) {
    Bytes out;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ':' && !out.empty() && i + 1 < text.size()) {
            ++i;
            continue;
        }
        if (i + 1 >= text.size()) return std::nullopt;
        const int h = hex_digit(text[i]), l = hex_digit(text[i + 1]);
        if (h < 0 || l < 0) return std::nullopt;
        out.push_back(static_cast<uint8_t>(h << 4 | l));
        i += 2;
    }
    if (out.empty()) return std::nullopt;
    return out;
}

std::string hex_text(ByteView bytes) { return vrdump::hex(bytes); }

std::shared_ptr<Card> make_card_from_words(const std::vector<std::string_view>& words, std::string* error) {
    if (words.empty()) return fail(error, "no card type (one of: " + Card::kind_names() + ")");
    Bytes uid;
    std::optional<uint16_t> atqa;
    std::optional<uint8_t> sak;
    for (size_t i = 1; i < words.size(); ++i) {
        std::string_view w = words[i];
        const size_t eq = w.find('=');
        const std::string_view name = eq == std::string_view::npos ? "uid" : w.substr(0, eq);
        const std::string_view value = eq == std::string_view::npos ? w : w.substr(eq + 1);
        if (name == "uid") {
            const auto bytes = parse_hex(value);
            if (!bytes) return fail(error, "bad UID: " + std::string(value));
            uid = *bytes;
        } else if (name == "atqa") {
            const auto v = parse_number(value, 0xFFFF);
            if (!v) return fail(error, "bad ATQA: " + std::string(value));
            atqa = static_cast<uint16_t>(*v);
        } else if (name == "sak") {
            const auto v = parse_number(value, 0xFF);
            if (!v) return fail(error, "bad SAK: " + std::string(value));
            sak = static_cast<uint8_t>(*v);
        } else {
            return fail(error, "unknown card setting: " + std::string(name));
        }
    }
    return Card::make(words[0], std::move(uid), atqa, sak, error);
}

std::shared_ptr<Card> make_card_from_option(std::string_view text, std::string* error) {
    std::string description(text);
    if (const size_t colon = description.find(':'); colon != std::string::npos) description[colon] = ' ';
    return make_card_from_words(split_words(description, " \t,"), error);
}

std::string describe_card(const Card& card) {
    // A type B card has no ATQA or SAK.
    if (card.protocol() == 'B') return card.name() + " uid=" + hex_text(card.uid()) + " state=" + to_string(card.state());
    char values[40];
    std::snprintf(values, sizeof values, " atqa=%04X sak=%02X state=", card.atqa(), card.sak());
    return card.name() + " uid=" + hex_text(card.uid()) + values + to_string(card.state());
}

}  // namespace vrsim
