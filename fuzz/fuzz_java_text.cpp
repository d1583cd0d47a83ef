// The UTF-8 decoding that turns texts from cards, readers and callers into
// Java texts: any bytes give valid UTF-16 (no lone surrogates), never more
// code units than bytes, and well-formed input comes back unchanged when
// encoded again.
#include <string>

#include "bridge/text.h"
#include "fuzz_support.h"

namespace {

std::string encode(const std::u16string &units) {
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        uint32_t cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    const auto rest = in.rest();
    const auto *bytes = reinterpret_cast<const char *>(rest.data());
    const std::size_t size = rest.size();
    const std::u16string units = vr::bridge::utf8_to_utf16(bytes, size);
    vrfuzz::check(units.size() <= size, "no more units than bytes");
    bool replaced = false;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        replaced = replaced || u == 0xFFFD;
        if (u >= 0xDC00 && u <= 0xDFFF) vrfuzz::check(false, "lone low surrogate");
        if (u >= 0xD800 && u <= 0xDBFF) {
            vrfuzz::check(i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF,
                          "high surrogate without its pair");
            ++i;
        }
    }
    if (!replaced) vrfuzz::check(encode(units) == std::string(bytes, size), "well-formed text round trip");
}
