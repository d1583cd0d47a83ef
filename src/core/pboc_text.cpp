// Hexadecimal text as the control codes and the host bridge exchange it.
#include <cstdlib>
#include <cstring>

#include "pboc_text.h"

namespace {

int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

VR_API int pboc_str2data(const char *text, unsigned char *out, int capacity) {
    if (!text || !out || capacity < 0) return -1;
    const std::size_t n = std::strlen(text);
    if (static_cast<std::size_t>(capacity) < n / 2) return -1;
    // Odd lengths and non-hexadecimal characters are refused rather than
    // decoded into bytes the caller did not write.
    if (n % 2 != 0) return -1;
    for (std::size_t i = 0; i < n; i += 2) {
        const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) return -1;
        out[i / 2] = static_cast<unsigned char>(hi << 4 | lo);
    }
    return 0;
}

VR_API char *pboc_data2str(const unsigned char *bytes, int count) {
    if (!bytes || count < 0) return nullptr;
    static constexpr char kDigits[] = "0123456789ABCDEF";
    auto *text = static_cast<char *>(std::malloc(static_cast<std::size_t>(count) * 2 + 1));
    if (!text) return nullptr;
    for (int i = 0; i < count; ++i) {
        text[2 * i] = kDigits[bytes[i] >> 4];
        text[2 * i + 1] = kDigits[bytes[i] & 0xF];
    }
    text[2 * count] = '\0';
    return text;
}
