// Crypt3Des: three-key 3DES-CBC of short texts, ciphertext as Base64.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "crypto.h"

namespace {

// Longest input text, in characters.
constexpr std::size_t kMaxText = 256;
constexpr std::size_t kKeyDigits = 48;
constexpr int kModeCbc = 1;
constexpr int kPadCount = 2;
constexpr unsigned char kFixedIv[8] = {0x12, 0x34, 0x56, 0x78, 0x90, 0xAB, 0xCD, 0xEF};

// Result codes, in the order the checks run.
enum : int {
    kOk = 1,
    kKeyLength = -1,
    kKeyConvert = -2,
    kPadding = -3,
    kCipher = -4,
    kType = -5,
    kBase64 = -6,
    kNoInput = -7,
    kInputLength = -8,
    kNoKey = -9,
    kKeyDigit = -10,
    kTooLong = 0,
};

bool all_hex(const char *text) {
    for (; *text; ++text)
        if (!std::isxdigit(static_cast<unsigned char>(*text))) return false;
    return true;
}

// Owns a malloc'd result of the Base64 calls.
struct MallocHold {
    void *p;
    ~MallocHold() { std::free(p); }
};

int encrypt_text(const char *input, std::size_t length, const unsigned char *key,
                 char *output) {
    int mode = 0, pad = 0;
    unsigned char iv[8];
    MyDesInit(&mode, &pad, iv);
    unsigned char work[kMaxText];
    uint32_t padded = 0;
    if (!RunPad(pad, reinterpret_cast<const unsigned char *>(input),
                static_cast<uint32_t>(length), work, &padded))
        return kPadding;
    if (!Run3Des(0, mode, work, padded, key, 24, work, sizeof work, iv)) return kCipher;
    MallocHold text{Base64Encode(work, padded)};
    if (!text.p) return kBase64;
    std::strcpy(output, static_cast<const char *>(text.p));
    return kOk;
}

int decrypt_text(const char *input, std::size_t length, const unsigned char *key,
                 char *output) {
    int mode = 0, pad = 0;
    unsigned char iv[8];
    MyDesInit(&mode, &pad, iv);
    MallocHold raw{Base64Decode(input)};
    if (!raw.p) return kBase64;
    std::size_t decoded = 3 * length / 4;
    if (input[length - 1] == '=') --decoded;
    if (input[length - 2] == '=') --decoded;
    unsigned char work[kMaxText + 1];
    if (!Run3Des(1, mode, static_cast<const unsigned char *>(raw.p),
                 static_cast<uint32_t>(decoded), key, 24, work, kMaxText, iv))
        return kCipher;
    work[decoded] = '\0';
    // The text was padded by count: a count beyond the text means it was
    // not (or not with this key), and nothing sensible can be cut.
    if (RunRsm(reinterpret_cast<char *>(work)) < 0) return kPadding;
    std::strcpy(output, reinterpret_cast<const char *>(work));
    return kOk;
}

}  // namespace

VR_API void MyDesInit(int *mode, int *pad_type, unsigned char *iv) {
    if (mode) *mode = kModeCbc;
    if (pad_type) *pad_type = kPadCount;
    if (iv) std::memcpy(iv, kFixedIv, sizeof kFixedIv);
}

VR_API int Crypt3Des(int type, const char *input, const char *key, char *output) {
    if (!input || !*input || !output) return kNoInput;
    const std::size_t length = std::strlen(input);
    if (length % 8 != 0) return kInputLength;
    if (!key) return kNoKey;
    if (std::strlen(key) != kKeyDigits) return kKeyLength;
    if (!all_hex(key)) return kKeyDigit;
    if (length > kMaxText) return kTooLong;
    unsigned char binary_key[kKeyDigits / 2 + 1];
    if (!CovertKey(key, binary_key)) return kKeyConvert;
    if (type == 0) return encrypt_text(input, length, binary_key, output);
    if (type == 1) return decrypt_text(input, length, binary_key, output);
    return kType;
}
