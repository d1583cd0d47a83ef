// Crypt3Des over arbitrary texts and keys, and its encrypt-then-decrypt
// round trip. Input: a mode byte (direction, fixed or fuzzed key), the key
// text when fuzzed (48 bytes), then the input text up to its first NUL.
#include <cstring>
#include <memory>
#include <string>

#include "crypto.h"
#include "fuzz_support.h"

namespace {

constexpr const char *kKey = "0123456789ABCDEFFEDCBA98765432100011223344556677";
// The output room the interface asks for: Base64 of 256 bytes and a NUL.
constexpr size_t kOutput = 345;

// The bytes up to the first NUL.
std::string text_of(std::span<const uint8_t> bytes) { return vrfuzz::c_string(bytes).get(); }

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t mode = in.byte();
    const std::string key = mode & 0x80 ? text_of(in.take(48)) : kKey;
    const std::string text = text_of(in.rest());
    const int type = mode & 0x03;  // 0 encrypt, 1 decrypt, 2 and 3 refused

    auto out = std::make_unique<char[]>(kOutput);
    std::memset(out.get(), 0x5A, kOutput);
    const int rc = Crypt3Des(type, text.c_str(), key.c_str(), out.get());
    vrfuzz::check(rc >= -10 && rc <= 1, "result is a documented code");
    if (rc == 1) vrfuzz::check(std::memchr(out.get(), 0, kOutput) != nullptr, "output is terminated");
    if (rc != 1 || type != 0) return;

    // A ciphertext of whole 8-character groups, within the 256 characters
    // the decryption takes, decodes again: the text comes back, cut as its
    // last character's value says.
    const size_t cipher = std::strlen(out.get());
    if (cipher % 8 != 0 || cipher > 256) return;
    auto plain = std::make_unique<char[]>(kOutput);
    const int back = Crypt3Des(1, out.get(), key.c_str(), plain.get());
    const size_t cut = static_cast<unsigned char>(text.back());
    if (cut > text.size()) {
        vrfuzz::check(back == -3, "over-long padding count is refused");
        return;
    }
    vrfuzz::check(back == 1, "own ciphertext decrypts");
    vrfuzz::check(text.compare(0, text.size() - cut, plain.get()) == 0 &&
                      std::strlen(plain.get()) == text.size() - cut,
                  "round trip");
}
