#include "id_text.h"

namespace vrdump {

const std::array<IdField, 9> kIdFields{{
    {"name", 15, &IdText::name},
    {"sex", 1, &IdText::sex},
    {"nation", 2, &IdText::nation},
    {"birth date", 8, &IdText::birth},
    {"address", 35, &IdText::address},
    {"number", 18, &IdText::number},
    {"authority", 15, &IdText::authority},
    {"valid from", 8, &IdText::valid_from},
    {"valid to", 8, &IdText::valid_to},
}};

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char16_t kPad = u' ';

void append_utf8(std::string &out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// UTF-16 units to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16_to_utf8(const std::vector<char16_t> &units) {
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
            append_utf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u < 0xE000) {
            append_utf8(out, kReplacement);
        } else {
            append_utf8(out, u);
        }
    }
    return out;
}

// UTF-8 to UTF-16 units; nothing for text that is not valid UTF-8.
std::optional<std::vector<char16_t>> utf8_to_utf16(const std::string &text) {
    std::vector<char16_t> out;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) return std::nullopt;
        char32_t c = extra == 0 ? b : b & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto t = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((t & 0xC0) != 0x80) return std::nullopt;
            c = c << 6 | (t & 0x3F);
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return std::nullopt;
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += 1 + static_cast<std::size_t>(extra);
    }
    return out;
}

}  // namespace

IdText decode_id_text(std::span<const uint8_t> record) {
    IdText text;
    std::size_t at = 0;
    for (const IdField &f : kIdFields) {
        const std::size_t bytes = 2 * f.chars;
        if (at + bytes > record.size()) break;
        std::vector<char16_t> units;
        for (std::size_t i = 0; i < f.chars; ++i)
            units.push_back(static_cast<char16_t>(record[at + 2 * i] | record[at + 2 * i + 1] << 8));
        while (!units.empty() && (units.back() == kPad || units.back() == 0)) units.pop_back();
        text.*f.member = utf16_to_utf8(units);
        at += bytes;
    }
    return text;
}

std::optional<std::vector<uint8_t>> encode_id_text(const IdText &text) {
    std::vector<uint8_t> out;
    out.reserve(kIdTextSize);
    for (const IdField &f : kIdFields) {
        auto units = utf8_to_utf16(text.*f.member);
        if (!units || units->size() > f.chars) return std::nullopt;
        units->resize(f.chars, kPad);
        for (char16_t u : *units) {
            out.push_back(static_cast<uint8_t>(u & 0xFF));
            out.push_back(static_cast<uint8_t>(u >> 8));
        }
    }
    // The reserved tail is blank like the fields' padding.
    while (out.size() < kIdTextSize) {
        out.push_back(static_cast<uint8_t>(kPad));
        out.push_back(0);
    }
    return out;
}

std::string sex_meaning(const std::string &code) {
    if (code == "1") return "male";
    if (code == "2") return "female";
    return {};
}

}  // namespace vrdump
