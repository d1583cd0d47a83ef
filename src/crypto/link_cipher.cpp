// Link cipher of the command exchange: two-key 3DES-ECB over request and
// reply payloads, with 0x80-then-zeros padding on the way out.
#include <cstring>

#include "core/errors.h"
#include "crypto.h"
#include "crypto/link_key.h"
#include "log.h"

namespace {

constexpr int kPadIso = 1;

int refuse_enc(uint32_t *out_length) {
    if (out_length) *out_length = 0;
    log_print(LOG_LEVEL_E, "com_alg_enc err");
    return vr::fail(vr::kEArg);
}

}  // namespace

VR_API int com_alg_enc(unsigned char *payload, uint32_t length,
                       const unsigned char *session_key, uint32_t *out_length) {
    if (!payload || !session_key || !out_length || length == 0)
        return refuse_enc(out_length);
    // Km: the link key, rebuilt on every call.
    unsigned char km[vr::link_key::kLinkKeySize];
    vr::link_key::make(session_key, km);
    uint32_t padded = 0;
    if (!RunPad(kPadIso, payload, length, payload, &padded) ||
        !Run3Des(0, 0, payload, padded, km, sizeof km, payload, padded, nullptr))
        return refuse_enc(out_length);
    *out_length = padded;
    return 0;
}

VR_API int com_alg_dec(unsigned char *payload, uint32_t length,
                       const unsigned char *session_key, uint32_t *out_length) {
    if (out_length) *out_length = 0;
    if (!payload || !session_key || !out_length || length % 8 != 0)
        return vr::fail(vr::kEArg);
    unsigned char km[vr::link_key::kLinkKeySize];
    vr::link_key::make(session_key, km);
    if (!Run3Des(1, 0, payload, length, km, sizeof km, payload, length, nullptr))
        return vr::fail(vr::kEArg);
    *out_length = length;
    return 0;
}

VR_API int com_alg_test1(int length) {
    static constexpr char kText[] = "0123456789ABCDEF";
    static constexpr unsigned char kSessionKey[8] = {0x3A, 0x91, 0x5C, 0x07,
                                                     0xE4, 0x28, 0xB6, 0x6D};
    constexpr int kTextLength = sizeof kText - 1;
    log_print(LOG_LEVEL_I, "com_alg_test1");
    if (length < 1 || length > kTextLength) return vr::fail(vr::kEArg);

    unsigned char buffer[kTextLength + 8] = {};
    std::memcpy(buffer, kText, static_cast<std::size_t>(length));
    uint32_t enciphered = 0, deciphered = 0;
    if (com_alg_enc(buffer, static_cast<uint32_t>(length), kSessionKey, &enciphered) != 0)
        return vr::fail(vr::kEExec);
    format_display(buffer, static_cast<int>(enciphered), 1);
    if (com_alg_dec(buffer, enciphered, kSessionKey, &deciphered) != 0)
        return vr::fail(vr::kEExec);
    format_display(buffer, static_cast<int>(deciphered), 1);

    // The text must come back, followed by 0x80 and zeros up to the block.
    unsigned char expected[kTextLength + 8] = {};
    std::memcpy(expected, kText, static_cast<std::size_t>(length));
    if (static_cast<uint32_t>(length) % 8 != 0) expected[length] = 0x80;
    if (std::memcmp(buffer, expected, deciphered) != 0) {
        log_print(LOG_LEVEL_E, "com_alg_test1 err");
        return vr::fail(vr::kEExec);
    }
    return 0;
}
