// UTF-8 decoding for Java texts.
#include "bridge/text.h"

#include <cstdint>

namespace vr::bridge {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

struct Lead {
    int continuation;  // bytes that must follow
    uint32_t bits;     // payload of the lead byte
    uint32_t minimum;  // smallest code point of this length (no overlongs)
};

// The lead byte's sequence length, or continuation -1 when it cannot start
// a sequence.
Lead classify(uint8_t b) {
    if (b < 0x80) return {0, b, 0};
    if ((b & 0xE0) == 0xC0) return {1, b & 0x1Fu, 0x80};
    if ((b & 0xF0) == 0xE0) return {2, b & 0x0Fu, 0x800};
    if ((b & 0xF8) == 0xF0) return {3, b & 0x07u, 0x10000};
    return {-1, 0, 0};
}

bool is_continuation(uint8_t b) { return (b & 0xC0) == 0x80; }

void append(std::u16string &out, uint32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
        return;
    }
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
}

}  // namespace

std::u16string utf8_to_utf16(const char *bytes, std::size_t n) {
    std::u16string out;
    out.reserve(n);
    const auto *p = reinterpret_cast<const uint8_t *>(bytes);
    std::size_t i = 0;
    while (i < n) {
        const Lead lead = classify(p[i]);
        if (lead.continuation < 0) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        uint32_t cp = lead.bits;
        std::size_t taken = 1;
        while (taken <= static_cast<std::size_t>(lead.continuation) && i + taken < n &&
               is_continuation(p[i + taken])) {
            cp = cp << 6 | (p[i + taken] & 0x3Fu);
            ++taken;
        }
        const bool complete = taken == static_cast<std::size_t>(lead.continuation) + 1;
        const bool valid = complete && cp >= lead.minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (valid)
            append(out, cp);
        else
            out.push_back(kReplacement);
        i += taken;
    }
    return out;
}

}  // namespace vr::bridge
