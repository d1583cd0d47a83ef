// Padding, hexadecimal keys, Base64 and the text 3DES call.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "crypto.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
using Owned = std::unique_ptr<unsigned char, FreeDeleter>;
using OwnedText = std::unique_ptr<char, FreeDeleter>;

// ------------------------------------------------------------------ RunPad

struct PadCase {
    int type;
    uint32_t length;
    Bytes pad;  // bytes expected after the input
};

const PadCase kPadCases[] = {
    {0, 8, {}},
    {1, 8, {}},
    {2, 8, {}},
    {0, 16, {}},
    {0, 5, {0x00, 0x00, 0x00}},
    {1, 5, {0x80, 0x00, 0x00}},
    {2, 5, {0x03, 0x03, 0x03}},
    {1, 1, {0x80, 0, 0, 0, 0, 0, 0}},
    {2, 1, {7, 7, 7, 7, 7, 7, 7}},
    {1, 15, {0x80}},
    {2, 15, {0x01}},
    {0, 9, {0, 0, 0, 0, 0, 0, 0}},
};

class RunPadTest : public ::testing::TestWithParam<PadCase> {};

TEST_P(RunPadTest, FillsTheGapAndWritesNoFurther) {
    const PadCase &c = GetParam();
    Bytes input(c.length);
    for (uint32_t i = 0; i < c.length; ++i) input[i] = static_cast<unsigned char>(0x30 + i);
    Bytes expected = input;
    expected.insert(expected.end(), c.pad.begin(), c.pad.end());

    Bytes out(expected.size() + 8, 0xEE);  // sentinel past the padded length
    uint32_t padded = 0;
    ASSERT_EQ(RunPad(c.type, input.data(), c.length, out.data(), &padded), 1);
    EXPECT_EQ(padded, expected.size());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + padded), expected);
    for (std::size_t i = padded; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << i;

    // In place, in a buffer with room for the pad.
    Bytes in_place = input;
    in_place.resize(expected.size() + 8, 0xEE);
    ASSERT_EQ(RunPad(c.type, in_place.data(), c.length, in_place.data(), &padded), 1);
    EXPECT_EQ(Bytes(in_place.begin(), in_place.begin() + padded), expected);
    for (std::size_t i = padded; i < in_place.size(); ++i) EXPECT_EQ(in_place[i], 0xEE) << i;
}

INSTANTIATE_TEST_SUITE_P(Cases, RunPadTest, ::testing::ValuesIn(kPadCases));

TEST(RunPad, Refusals) {
    unsigned char in[8] = {1}, out[16];
    uint32_t padded = 99;
    EXPECT_EQ(RunPad(3, in, 5, out, &padded), 0);
    EXPECT_EQ(RunPad(-1, in, 5, out, &padded), 0);
    EXPECT_EQ(RunPad(1, nullptr, 5, out, &padded), 0);
    EXPECT_EQ(RunPad(1, in, 0, out, &padded), 0);
    EXPECT_EQ(RunPad(1, in, 5, nullptr, &padded), 0);
    EXPECT_EQ(RunPad(1, in, 5, out, nullptr), 0);
    EXPECT_EQ(padded, 99u);
}

// ------------------------------------------------------------------ RunRsm

TEST(RunRsm, CutsTheCountOfTheLastCharacter) {
    char text[] = "ABCDE\x03\x03\x03";
    EXPECT_EQ(RunRsm(text), 8);
    EXPECT_STREQ(text, "ABCDE");

    char one[] = "ABCDEFG\x01";
    EXPECT_EQ(RunRsm(one), 8);
    EXPECT_STREQ(one, "ABCDEFG");

    char whole[] = "\x02\x02";  // the pad is the whole text
    EXPECT_EQ(RunRsm(whole), 2);
    EXPECT_STREQ(whole, "");

    char empty[] = "";
    EXPECT_EQ(RunRsm(empty), 0);
}

TEST(RunRsm, RefusesACountBeyondTheText) {
    // '5' is 53: cutting 53 characters from a 3-character text would
    // write before the buffer.
    char guard_before[8] = {'#', '#', '#', '#', '#', '#', '#', '#'};
    char text[] = "ab5";
    errno = 0;
    EXPECT_EQ(RunRsm(text), -1);
    EXPECT_EQ(errno, -24);
    EXPECT_STREQ(text, "ab5");
    for (char c : guard_before) EXPECT_EQ(c, '#');
    EXPECT_EQ(RunRsm(nullptr), -1);
}

// -------------------------------------------------------- GetByte, CovertKey

TEST(GetByte, DigitsLettersAndOtherCharacters) {
    struct {
        char high, low;
        int value;
    } const cases[] = {
        {'0', '0', 0x00}, {'9', '9', 0x99}, {'a', 'f', 0xAF}, {'A', 'F', 0xAF},
        {'F', 'f', 0xFF}, {'7', 'c', 0x7C},
        // Anything else is read as an upper-case letter: 'G' is 16, so
        // "G0" is 256, truncated to 0; 'z' is 67.
        {'G', '0', 0x00}, {'0', 'z', 0x43},
    };
    for (const auto &c : cases)
        EXPECT_EQ(GetByte(c.high, c.low), c.value) << c.high << c.low;
}

TEST(CovertKey, ConvertsFortyEightHexDigits) {
    const std::string hex = "0123456789abcdefFEDCBA9876543210aAbBcCdDeEfF0011";
    unsigned char out[26];
    std::memset(out, 0xEE, sizeof out);
    ASSERT_EQ(CovertKey(hex.c_str(), out), 1);
    const Bytes expected = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xFE,
                            0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10, 0xAA, 0xBB,
                            0xCC, 0xDD, 0xEE, 0xFF, 0x00, 0x11, 0x00};
    EXPECT_EQ(Bytes(out, out + 25), expected);
    EXPECT_EQ(out[25], 0xEE);
}

TEST(CovertKey, Refusals) {
    unsigned char out[25];
    const std::string good(48, 'a');
    EXPECT_EQ(CovertKey(good.substr(0, 47).c_str(), out), 0);
    EXPECT_EQ(CovertKey((good + "a").c_str(), out), 0);
    EXPECT_EQ(CovertKey((good.substr(0, 47) + "g").c_str(), out), 0);
    EXPECT_EQ(CovertKey((good.substr(0, 47) + " ").c_str(), out), 0);
    EXPECT_EQ(CovertKey(nullptr, out), 0);
    EXPECT_EQ(CovertKey(good.c_str(), nullptr), 0);
}

// ------------------------------------------------------------------ Base64

std::string encode(const std::string &data) {
    OwnedText text(Base64Encode(reinterpret_cast<const unsigned char *>(data.data()),
                                static_cast<uint32_t>(data.size())));
    return text ? std::string(text.get()) : std::string("<null>");
}

struct Rfc4648 {
    const char *data, *text;
};

const Rfc4648 kRfc4648[] = {
    {"", ""},          {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"abc", "YWJj"},
    {"ab", "YWI="},
};

TEST(Base64, Rfc4648VectorsBothWays) {
    for (const auto &v : kRfc4648) {
        EXPECT_EQ(encode(v.data), v.text);
        if (!*v.text) continue;  // an empty text is refused by the decoder
        Owned out(Base64Decode(v.text));
        ASSERT_TRUE(out) << v.text;
        const std::size_t room = 3 * std::strlen(v.text) / 4 + 1;
        const std::size_t n = std::strlen(v.data);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out.get()), n), v.data);
        // Every byte after the data is zero.
        for (std::size_t i = n; i < room; ++i) EXPECT_EQ(out.get()[i], 0) << v.text << " " << i;
    }
}

TEST(Base64, AgreesWithOpenSslOnBinaryDataOfManyLengths) {
    std::mt19937 rng(11);
    // Lengths well past the 256-character texts the decoder once assumed.
    for (std::size_t n : {1u, 2u, 3u, 4u, 5u, 190u, 191u, 192u, 193u, 255u, 256u, 700u, 3001u}) {
        Bytes data(n);
        for (auto &b : data) b = static_cast<unsigned char>(rng());
        std::string reference(4 * ((n + 2) / 3) + 1, '\0');
        const int len = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(reference.data()),
                                        data.data(), static_cast<int>(n));
        reference.resize(static_cast<std::size_t>(len));

        OwnedText text(Base64Encode(data.data(), static_cast<uint32_t>(n)));
        ASSERT_TRUE(text);
        EXPECT_EQ(std::string(text.get()), reference) << n;

        Owned back(Base64Decode(reference.c_str()));
        ASSERT_TRUE(back) << n;
        EXPECT_EQ(Bytes(back.get(), back.get() + n), data) << n;
        const std::size_t room = 3 * reference.size() / 4 + 1;
        for (std::size_t i = n; i < room; ++i) EXPECT_EQ(back.get()[i], 0) << n;
    }
}

TEST(Base64, DecoderLeavesTheTextAlone) {
    char text[] = "Zm9vYmE=";
    Owned out(Base64Decode(text));
    ASSERT_TRUE(out);
    EXPECT_STREQ(text, "Zm9vYmE=");
}

TEST(Base64, DecoderRefusals) {
    const char *const bad[] = {
        "",          // empty
        "YWJ",       // not a multiple of 4
        "YWJjZ",     // not a multiple of 4
        "YW=j",      // "=" not at the end
        "Y=Jj",      // "=" in the middle
        "=YWJ",      // "=" first
        "YWJj====",  // "=" before the last two positions
        "Y===",      // likewise
        "YW*j",      // outside the alphabet
        "YWJ\nYWJj",   // a line break
        "YWJ-",      // URL-safe alphabet is not this one
    };
    for (const char *text : bad) {
        errno = 0;
        EXPECT_EQ(Base64Decode(text), nullptr) << '"' << text << '"';
        EXPECT_EQ(errno, -24) << text;
    }
    EXPECT_EQ(Base64Decode(nullptr), nullptr);
}

TEST(Base64, EncoderEdges) {
    OwnedText empty(Base64Encode(nullptr, 0));
    ASSERT_TRUE(empty);
    EXPECT_STREQ(empty.get(), "");
    errno = 0;
    EXPECT_EQ(Base64Encode(nullptr, 3), nullptr);
    EXPECT_EQ(errno, -24);
}

// --------------------------------------------------------------- Crypt3Des

const std::string kKey = "0123456789ABCDEF23456789abcdef01456789ABCDEF0123";

TEST(MyDesInit, GivesCbcTypeTwoPaddingAndTheFixedIv) {
    int mode = -1, pad = -1;
    unsigned char iv[8] = {}, again[8] = {};
    MyDesInit(&mode, &pad, iv);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(pad, 2);
    MyDesInit(nullptr, nullptr, again);
    EXPECT_EQ(Bytes(iv, iv + 8), Bytes(again, again + 8));
    MyDesInit(nullptr, nullptr, nullptr);  // nothing to fill
}

// The ciphertext Crypt3Des should produce, computed with OpenSSL.
std::string reference_encrypt(const std::string &plain) {
    unsigned char key[25];
    EXPECT_EQ(CovertKey(kKey.c_str(), key), 1);
    DES_key_schedule k1, k2, k3;
    DES_set_key_unchecked(reinterpret_cast<const_DES_cblock *>(key), &k1);
    DES_set_key_unchecked(reinterpret_cast<const_DES_cblock *>(key + 8), &k2);
    DES_set_key_unchecked(reinterpret_cast<const_DES_cblock *>(key + 16), &k3);
    DES_cblock iv;
    MyDesInit(nullptr, nullptr, iv);
    Bytes cipher(plain.size());
    DES_ede3_cbc_encrypt(reinterpret_cast<const unsigned char *>(plain.data()), cipher.data(),
                         static_cast<long>(plain.size()), &k1, &k2, &k3, &iv, DES_ENCRYPT);
    std::string text(4 * ((cipher.size() + 2) / 3) + 1, '\0');
    text.resize(static_cast<std::size_t>(EVP_EncodeBlock(
        reinterpret_cast<unsigned char *>(text.data()), cipher.data(),
        static_cast<int>(cipher.size()))));
    return text;
}

TEST(Crypt3Des, EncryptsAsThreeKeyCbcInBase64AndDecryptsBack) {
    // Lengths whose Base64 form is again a multiple of 8 characters (the
    // decrypting call requires it): 16 -> 24, 24 -> 32, 192 -> 256.
    const std::string texts[] = {
        std::string("Card 00042 iss\x02\x02"),
        std::string("Reader 7 / sector 03 ok\x01"),
        std::string(190, 'x') + "\x02\x02",  // 192 characters: the longest that
                                              // comes back as 256 Base64 characters
    };
    for (const std::string &plain : texts) {
        char cipher[345 + 1];
        std::memset(cipher, 0xEE, sizeof cipher);
        ASSERT_EQ(Crypt3Des(0, plain.c_str(), kKey.c_str(), cipher), 1) << plain;
        EXPECT_EQ(std::string(cipher), reference_encrypt(plain));

        char back[193];
        ASSERT_EQ(Crypt3Des(1, cipher, kKey.c_str(), back), 1) << cipher;
        const std::size_t cut = static_cast<unsigned char>(plain.back());
        EXPECT_EQ(std::string(back), plain.substr(0, plain.size() - cut));
    }
}

TEST(Crypt3Des, LongestInputEncryptsTo344Characters) {
    const std::string plain(256, 'q');
    char cipher[346];
    std::memset(cipher, 0xEE, sizeof cipher);
    ASSERT_EQ(Crypt3Des(0, plain.c_str(), kKey.c_str(), cipher), 1);
    EXPECT_EQ(std::strlen(cipher), 344u);
    EXPECT_EQ(static_cast<unsigned char>(cipher[345]), 0xEE);
    EXPECT_EQ(std::string(cipher), reference_encrypt(plain));
}

// Decryption of a text that was not padded: the last plaintext value (here
// '8', 56) exceeds the text length. It fails and leaves the output alone.
TEST(Crypt3Des, RefusesToCutMoreThanTheDecipheredText) {
    char cipher[64];
    ASSERT_EQ(Crypt3Des(0, "1234567812345678", kKey.c_str(), cipher), 1);
    char out[64];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(Crypt3Des(1, cipher, kKey.c_str(), out), -3);
    for (char c : out) EXPECT_EQ(static_cast<unsigned char>(c), 0xEE);
}

// Eight characters encrypt to 8 bytes, whose Base64 form has 12
// characters: not a multiple of 8, so the decrypting call refuses it.
TEST(Crypt3Des, CiphertextOfEightCharactersDoesNotDecrypt) {
    char cipher[64];
    ASSERT_EQ(Crypt3Des(0, "1234567\x01", kKey.c_str(), cipher), 1);
    EXPECT_EQ(std::strlen(cipher), 12u);
    char out[64];
    EXPECT_EQ(Crypt3Des(1, cipher, kKey.c_str(), out), -8);
}

TEST(Crypt3Des, ResultCodesInTheirOrder) {
    const std::string key47 = kKey.substr(0, 47);
    const std::string key_g = kKey.substr(0, 47) + "g";
    const std::string long_input(264, 'a');
    struct {
        const char *name;
        int type;
        const char *input;
        const char *key;
        int code;
    } const cases[] = {
        {"no_input", 0, nullptr, kKey.c_str(), -7},
        {"empty_input", 0, "", kKey.c_str(), -7},
        {"input_9_chars", 0, "123456789", kKey.c_str(), -8},
        {"input_length_before_key", 0, "123456789", nullptr, -8},
        {"no_key", 0, "12345678", nullptr, -9},
        {"key_47_chars", 0, "12345678", key47.c_str(), -1},
        {"key_length_before_too_long", 0, long_input.c_str(), key47.c_str(), -1},
        {"key_with_g", 0, "12345678", key_g.c_str(), -10},
        {"input_over_256", 0, long_input.c_str(), kKey.c_str(), 0},
        {"too_long_before_type", 7, long_input.c_str(), kKey.c_str(), 0},
        {"type_2", 2, "12345678", kKey.c_str(), -5},
        {"type_negative", -1, "12345678", kKey.c_str(), -5},
        {"decrypt_not_base64", 1, "********", kKey.c_str(), -6},
        {"decrypt_pad_inside", 1, "QU=DREVG", kKey.c_str(), -6},
        {"decrypt_6_bytes", 1, "QUJDREVG", kKey.c_str(), -4},
        {"decrypt_12_bytes", 1, "QUJDREVGR0hJSktM", kKey.c_str(), -4},
    };
    for (const auto &c : cases) {
        char out[400];
        std::memset(out, 0xEE, sizeof out);
        EXPECT_EQ(Crypt3Des(c.type, c.input, c.key, out), c.code) << c.name;
        EXPECT_EQ(static_cast<unsigned char>(out[0]), 0xEE) << c.name << ": output written";
    }
    EXPECT_EQ(Crypt3Des(0, "12345678", kKey.c_str(), nullptr), -7);
}

}  // namespace
