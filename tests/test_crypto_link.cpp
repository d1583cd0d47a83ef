// The reader-link cipher com_alg_enc / com_alg_dec and its self-test.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto.h"
#include "crypto/link_key.h"
#include "log_capture.h"

namespace {

using Bytes = std::vector<unsigned char>;

const unsigned char kSession[8] = {0xA1, 0x07, 0x5E, 0x33, 0xC8, 0x90, 0x2B, 0x6F};

// Two-key 3DES-ECB with K1 = key_src ^ mask and K2 = the session key,
// through OpenSSL.
Bytes reference_ecb(const Bytes &plain, const unsigned char *session, bool encrypt) {
    DES_cblock k1, k2;
    for (int i = 0; i < 8; ++i)
        k1[i] = static_cast<unsigned char>(vr::link_key::key_src[i] ^ vr::link_key::kKeyMask);
    std::memcpy(k2, session, 8);
    DES_key_schedule s1, s2;
    DES_set_key_unchecked(&k1, &s1);
    DES_set_key_unchecked(&k2, &s2);
    Bytes out(plain.size());
    for (std::size_t i = 0; i < plain.size(); i += 8) {
        DES_cblock in, res;
        std::memcpy(in, plain.data() + i, 8);
        DES_ecb3_encrypt(&in, &res, &s1, &s2, &s1, encrypt ? DES_ENCRYPT : DES_DECRYPT);
        std::memcpy(out.data() + i, res, 8);
    }
    return out;
}

TEST(LinkKey, FirstHalfIsKeySourceUnderTheMaskSecondHalfTheSession) {
    unsigned char key[16];
    vr::link_key::make(kSession, key);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(key[i], vr::link_key::key_src[i] ^ vr::link_key::kKeyMask);
        EXPECT_EQ(key[8 + i], kSession[i]);
    }
}

TEST(LinkCipher, PadsWithEightyThenZerosAndMatchesOpenSsl) {
    const vrtest::LogCapture log;
    std::mt19937 rng(5);
    for (uint32_t length = 1; length <= 41; ++length) {
        Bytes payload(length);
        for (auto &b : payload) b = static_cast<unsigned char>(rng());
        const uint32_t padded = (length + 7) / 8 * 8;
        Bytes plain = payload;
        if (padded != length) {
            plain.push_back(0x80);
            plain.resize(padded, 0x00);
        }

        Bytes buffer = payload;
        buffer.resize(length + 7 + 4, 0xEE);  // room for 7 more, then sentinel
        uint32_t out = 0;
        ASSERT_EQ(com_alg_enc(buffer.data(), length, kSession, &out), 0) << length;
        EXPECT_EQ(out, padded);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + out), reference_ecb(plain, kSession, true))
            << length;
        for (std::size_t i = out; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xEE) << length;

        uint32_t back = 0;
        ASSERT_EQ(com_alg_dec(buffer.data(), out, kSession, &back), 0);
        EXPECT_EQ(back, out);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + back), plain) << length;
    }
    EXPECT_TRUE(log.lines().empty());
}

TEST(LinkCipher, SixteenStaySixteenSeventeenBecomeTwentyFour) {
    unsigned char buffer[24 + 7];
    for (int i = 0; i < 17; ++i) buffer[i] = static_cast<unsigned char>('a' + i);
    uint32_t out = 0;
    ASSERT_EQ(com_alg_enc(buffer, 16, kSession, &out), 0);
    EXPECT_EQ(out, 16u);

    for (int i = 0; i < 17; ++i) buffer[i] = static_cast<unsigned char>('a' + i);
    ASSERT_EQ(com_alg_enc(buffer, 17, kSession, &out), 0);
    EXPECT_EQ(out, 24u);
    uint32_t back = 0;
    ASSERT_EQ(com_alg_dec(buffer, out, kSession, &back), 0);
    ASSERT_EQ(back, 24u);
    EXPECT_EQ(buffer[16], 'a' + 16);
    EXPECT_EQ(buffer[17], 0x80);
    for (int i = 18; i < 24; ++i) EXPECT_EQ(buffer[i], 0x00) << i;
}

TEST(LinkCipher, ReadsOnlyEightSessionKeyBytesAndTheKeyMatters) {
    unsigned char long_key[16];
    std::memcpy(long_key, kSession, 8);
    std::memset(long_key + 8, 0x99, 8);
    unsigned char other_key[8];
    std::memcpy(other_key, kSession, 8);
    other_key[7] ^= 0x02;  // not just a parity bit

    unsigned char a[16] = "link payload 15", b[16] = "link payload 15", c[16] = "link payload 15";
    uint32_t n = 0;
    ASSERT_EQ(com_alg_enc(a, 16, kSession, &n), 0);
    ASSERT_EQ(com_alg_enc(b, 16, long_key, &n), 0);
    ASSERT_EQ(com_alg_enc(c, 16, other_key, &n), 0);
    EXPECT_EQ(0, std::memcmp(a, b, 16));
    EXPECT_NE(0, std::memcmp(a, c, 16));
}

TEST(LinkCipher, EncryptRefusalsLogAndClearTheLength) {
    unsigned char buffer[16] = {1, 2, 3};
    struct {
        const char *name;
        unsigned char *payload;
        uint32_t length;
        const unsigned char *key;
        bool out;
    } const cases[] = {
        {"no_payload", nullptr, 3, kSession, true},
        {"no_key", buffer, 3, nullptr, true},
        {"length_0", buffer, 0, kSession, true},
        {"no_out_length", buffer, 3, kSession, false},
    };
    for (const auto &c : cases) {
        const vrtest::LogCapture log;
        uint32_t out = 77;
        errno = 0;
        EXPECT_EQ(com_alg_enc(c.payload, c.length, c.key, c.out ? &out : nullptr), -1) << c.name;
        EXPECT_EQ(errno, -24) << c.name;
        if (c.out) {
            EXPECT_EQ(out, 0u) << c.name;
        }
        EXPECT_TRUE(log.contains("com_alg_enc err")) << c.name;
    }
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[3], 0);
}

TEST(LinkCipher, DecryptRefusalsClearTheLength) {
    unsigned char buffer[16] = {};
    uint32_t out = 77;
    errno = 0;
    EXPECT_EQ(com_alg_dec(buffer, 12, kSession, &out), -1);
    EXPECT_EQ(errno, -24);
    EXPECT_EQ(out, 0u);
    out = 77;
    EXPECT_EQ(com_alg_dec(nullptr, 8, kSession, &out), -1);
    EXPECT_EQ(out, 0u);
    out = 77;
    EXPECT_EQ(com_alg_dec(buffer, 8, nullptr, &out), -1);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(com_alg_dec(buffer, 8, kSession, nullptr), -1);

    // An encrypted reply without data deciphers nothing and succeeds.
    out = 77;
    EXPECT_EQ(com_alg_dec(buffer, 0, kSession, &out), 0);
    EXPECT_EQ(out, 0u);
}

TEST(LinkCipher, SelfTestRoundTripsEveryLength) {
    for (int length = 1; length <= 16; ++length) {
        const vrtest::LogCapture log;
        EXPECT_EQ(com_alg_test1(length), 0) << length;
        EXPECT_TRUE(log.contains("com_alg_test1")) << length;
    }
    for (int length : {0, 17, -1, 1000}) {
        errno = 0;
        EXPECT_EQ(com_alg_test1(length), -1) << length;
        EXPECT_EQ(errno, -24) << length;
    }
}

}  // namespace
