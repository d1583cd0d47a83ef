// RFC 4648 Base64 with "=" padding.
#include <array>
#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "crypto.h"

namespace {

constexpr char ch64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';
constexpr unsigned char kNotInAlphabet = 0xFF;

constexpr std::array<unsigned char, 256> make_index() {
    std::array<unsigned char, 256> index{};
    for (auto &v : index) v = kNotInAlphabet;
    for (unsigned i = 0; i < 64; ++i) index[static_cast<unsigned char>(ch64[i])] =
        static_cast<unsigned char>(i);
    return index;
}

constexpr std::array<unsigned char, 256> kIndex = make_index();

}  // namespace

VR_API char *Base64Encode(const unsigned char *data, uint32_t length) {
    if (!data && length != 0) {
        errno = vr::kEArg;
        return nullptr;
    }
    const std::size_t groups = (static_cast<std::size_t>(length) + 2) / 3;
    char *text = static_cast<char *>(std::malloc(4 * groups + 1));
    if (!text) {
        errno = vr::kENoMem;
        return nullptr;
    }
    char *out = text;
    for (std::size_t i = 0; i < length; i += 3) {
        const std::size_t left = length - i;
        // A short last group is completed with zero bytes.
        const unsigned b0 = data[i];
        const unsigned b1 = left > 1 ? data[i + 1] : 0;
        const unsigned b2 = left > 2 ? data[i + 2] : 0;
        const unsigned v = (b0 << 16) | (b1 << 8) | b2;
        *out++ = ch64[(v >> 18) & 63];
        *out++ = ch64[(v >> 12) & 63];
        *out++ = left > 1 ? ch64[(v >> 6) & 63] : kPad;
        *out++ = left > 2 ? ch64[v & 63] : kPad;
    }
    *out = '\0';
    return text;
}

VR_API unsigned char *Base64Decode(const char *text) {
    if (!text) {
        errno = vr::kEArg;
        return nullptr;
    }
    const std::size_t length = std::strlen(text);
    if (length == 0 || length % 4 != 0) {
        errno = vr::kEArg;
        return nullptr;
    }
    // "=" may only close the text: "x=" or "==" as its last characters.
    std::size_t pads = 0;
    if (text[length - 1] == kPad) pads = text[length - 2] == kPad ? 2 : 1;
    for (std::size_t i = 0; i < length - pads; ++i) {
        if (kIndex[static_cast<unsigned char>(text[i])] == kNotInAlphabet) {
            errno = vr::kEArg;
            return nullptr;
        }
    }
    const std::size_t decoded = 3 * (length / 4);
    auto *out = static_cast<unsigned char *>(std::calloc(decoded + 1, 1));
    if (!out) {
        errno = vr::kENoMem;
        return nullptr;
    }
    auto index = [&](std::size_t i) -> unsigned {
        return i < length - pads ? kIndex[static_cast<unsigned char>(text[i])] : 0;
    };
    for (std::size_t q = 0, o = 0; q < length; q += 4, o += 3) {
        const unsigned a = index(q), b = index(q + 1), c = index(q + 2), d = index(q + 3);
        out[o] = static_cast<unsigned char>((a << 2) | (b >> 4));
        out[o + 1] = static_cast<unsigned char>((b << 4) | (c >> 2));
        out[o + 2] = static_cast<unsigned char>((c << 6) | d);
    }
    // The bytes that only the pad characters stand for are not data.
    std::memset(out + decoded - pads, 0, pads);
    return out;
}
