// Base64Decode over arbitrary text, and the round trip of Base64Encode and
// Base64Decode over arbitrary bytes. Input: a mode byte, then the text (up
// to its first NUL) or the bytes.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "crypto.h"
#include "fuzz_support.h"

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t mode = in.byte();
    const auto rest = in.rest();

    if (mode & 1) {
        unsigned char *empty = nullptr;
        char *text = Base64Encode(rest.empty() ? empty : rest.data(), static_cast<uint32_t>(rest.size()));
        vrfuzz::check(text != nullptr, "encode succeeds");
        vrfuzz::check(std::strlen(text) == (rest.size() + 2) / 3 * 4, "encoded length");
        unsigned char *back = Base64Decode(text);
        if (rest.empty()) {
            vrfuzz::check(back == nullptr, "empty text is refused");
        } else {
            vrfuzz::check(back != nullptr, "own encoding decodes");
            vrfuzz::check(std::memcmp(back, rest.data(), rest.size()) == 0, "round trip");
        }
        std::free(back);
        std::free(text);
        return;
    }

    const auto text = vrfuzz::c_string(rest);
    const size_t n = std::strlen(text.get());
    unsigned char *decoded = Base64Decode(text.get());
    if (decoded) {
        vrfuzz::check(n > 0 && n % 4 == 0, "only whole groups decode");
        // The decoded bytes encode back to the text when it is canonical;
        // at least the whole groups before the padding must come back.
        const size_t pads = text[n - 1] == '=' ? (text[n - 2] == '=' ? 2 : 1) : 0;
        const size_t bytes = 3 * (n / 4) - pads;
        char *again = Base64Encode(decoded, static_cast<uint32_t>(bytes));
        vrfuzz::check(again && std::strlen(again) == n, "re-encoded length");
        vrfuzz::check(std::memcmp(again, text.get(), n - (pads ? 4 : 0)) == 0, "re-encoded groups");
        std::free(again);
        std::free(decoded);
    }
}
