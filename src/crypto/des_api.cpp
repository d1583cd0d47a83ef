// The exported DES calls: Run1Des / Run3Des over the engine in des.cpp,
// block padding and its removal, hexadecimal keys and the DES self-test.
#include <cctype>
#include <cstring>

#include "core/errors.h"
#include "crypto.h"
#include "crypto/des.h"
#include "log.h"

namespace {

// Shared checks and dispatch of Run1Des and Run3Des; max_keys is 1 or 3.
int run_des(int type, int mode, const unsigned char *input, uint32_t input_length,
            const unsigned char *key, uint32_t key_length, unsigned char *output,
            uint32_t output_capacity, const unsigned char *iv, uint32_t max_keys) {
    if (!input || !key || !output) return 0;
    if (key_length % 8 != 0 || input_length % 8 != 0) return 0;
    if (output_capacity < input_length) return 0;
    const uint32_t keys = key_length / 8 < max_keys ? key_length / 8 : max_keys;
    if (keys == 0) return 0;
    if (mode != 0 && mode != 1) return 0;
    if (mode == 1 && !iv) return 0;

    vr::des::Cipher cipher;
    vr::des::init(cipher, key, static_cast<int>(keys));
    const bool encrypt = type == 0;
    const std::size_t blocks = input_length / 8;
    if (mode == 0)
        vr::des::ecb(cipher, encrypt, input, output, blocks);
    else
        vr::des::cbc(cipher, encrypt, input, output, blocks, iv);
    return 1;
}

}  // namespace

VR_API int Run1Des(int type, int mode, const unsigned char *input, uint32_t input_length,
                   const unsigned char *key, uint32_t key_length, unsigned char *output,
                   uint32_t output_capacity, const unsigned char *iv) {
    return run_des(type, mode, input, input_length, key, key_length, output, output_capacity,
                   iv, 1);
}

VR_API int Run3Des(int type, int mode, const unsigned char *input, uint32_t input_length,
                   const unsigned char *key, uint32_t key_length, unsigned char *output,
                   uint32_t output_capacity, const unsigned char *iv) {
    return run_des(type, mode, input, input_length, key, key_length, output, output_capacity,
                   iv, 3);
}

VR_API int RunPad(int pad_type, const unsigned char *input, uint32_t input_length,
                  unsigned char *output, uint32_t *padded_length) {
    if (pad_type < 0 || pad_type > 2) return 0;
    if (!input || input_length == 0 || !output || !padded_length) return 0;
    if (input_length > UINT32_MAX - 7) return 0;
    if (output != input) std::memmove(output, input, input_length);
    const uint32_t gap = (8 - input_length % 8) % 8;
    if (gap != 0) {
        unsigned char *pad = output + input_length;
        switch (pad_type) {
        case 0:
            std::memset(pad, 0x00, gap);
            break;
        case 1:
            pad[0] = 0x80;
            std::memset(pad + 1, 0x00, gap - 1);
            break;
        default:
            std::memset(pad, static_cast<int>(gap), gap);
            break;
        }
    }
    *padded_length = input_length + gap;
    return 1;
}

VR_API int RunRsm(char *text) {
    if (!text) return vr::fail(vr::kEArg);
    const std::size_t length = std::strlen(text);
    if (length == 0) return 0;
    const std::size_t cut = static_cast<unsigned char>(text[length - 1]);
    // A cut longer than the text would write before its start.
    if (cut > length) return vr::fail(vr::kEArg);
    text[length - cut] = '\0';
    return static_cast<int>(length);
}

VR_API int GetByte(char high, char low) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return c - 55;  // taken as 'A'..'F'
    };
    return (16 * nibble(high) + nibble(low)) & 0xFF;
}

VR_API int CovertKey(const char *hex, unsigned char *output) {
    constexpr std::size_t kDigits = 48;
    if (!hex || !output || std::strlen(hex) != kDigits) return 0;
    for (std::size_t i = 0; i < kDigits; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(hex[i]))) return 0;
    for (std::size_t i = 0; i < kDigits / 2; ++i)
        output[i] = static_cast<unsigned char>(GetByte(hex[2 * i], hex[2 * i + 1]));
    output[kDigits / 2] = 0;
    return 1;
}

VR_API int desTest(void) {
    // Known answer: the worked example of the DES literature.
    static constexpr unsigned char kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    static constexpr unsigned char kPlain[8] = {0x01, 0x23, 0x45, 0x67,
                                                0x89, 0xAB, 0xCD, 0xEF};
    static constexpr unsigned char kCipher[8] = {0x85, 0xE8, 0x13, 0x54,
                                                 0x0F, 0x0A, 0xB4, 0x05};
    unsigned char buffer[8];
    std::memcpy(buffer, kPlain, sizeof buffer);
    format_display(buffer, sizeof buffer, 1);
    const int enciphered = Run1Des(0, 0, buffer, 8, kKey, 8, buffer, 8, nullptr);
    format_display(buffer, sizeof buffer, 1);
    const bool cipher_ok = enciphered && std::memcmp(buffer, kCipher, 8) == 0;
    const int deciphered = Run1Des(1, 0, buffer, 8, kKey, 8, buffer, 8, nullptr);
    format_display(buffer, sizeof buffer, 1);
    if (!cipher_ok || !deciphered || std::memcmp(buffer, kPlain, 8) != 0) {
        log_print(LOG_LEVEL_E, "desTest err");
        return vr::fail(vr::kEExec);
    }
    return 0;
}
