// DES and triple DES: published known answers, agreement with OpenSSL's
// DES on random keys, data and IVs, and the refusals of Run1Des/Run3Des.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto.h"
#include "crypto/des.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes hex(const std::string &text) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes ascii(const std::string &text) { return Bytes(text.begin(), text.end()); }

constexpr int kEncrypt = 0;
constexpr int kDecrypt = 1;
constexpr int kEcb = 0;
constexpr int kCbc = 1;

// Runs Run1Des (keys == 1 requested by name) or Run3Des into a fresh
// buffer; returns the output, empty when refused.
Bytes run(bool triple, int type, int mode, const Bytes &in, const Bytes &key, const Bytes &iv) {
    Bytes out(in.size() + 1, 0xA5);  // one sentinel byte past the end
    auto fn = triple ? Run3Des : Run1Des;
    const int ok = fn(type, mode, in.data(), static_cast<uint32_t>(in.size()), key.data(),
                      static_cast<uint32_t>(key.size()), out.data(),
                      static_cast<uint32_t>(in.size()), iv.empty() ? nullptr : iv.data());
    EXPECT_EQ(out.back(), 0xA5) << "wrote past the output";
    if (!ok) return {};
    out.pop_back();
    return out;
}

struct KnownAnswer {
    const char *name;
    bool triple;
    int mode;
    std::string key, iv;
    Bytes plain;
    std::string cipher;
};

// Published vectors: the DES worked example, NBS/NIST validation entries,
// the FIPS 81 ECB and CBC examples and the SP 800-67 three-key example.
const KnownAnswer kKnownAnswers[] = {
    {"worked_example", false, kEcb, "133457799BBCDFF1", "", hex("0123456789ABCDEF"),
     "85E813540F0AB405"},
    {"zero_result", false, kEcb, "0E329232EA6D0D73", "", hex("8787878787878787"),
     "0000000000000000"},
    {"nist_plaintext_bit1", false, kEcb, "0101010101010101", "", hex("8000000000000000"),
     "95F8A5E5DD31D900"},
    {"nist_plaintext_bit2", false, kEcb, "0101010101010101", "", hex("4000000000000000"),
     "DD7F121CA5015619"},
    {"fips81_ecb", false, kEcb, "0123456789ABCDEF", "", ascii("Now is the time for all "),
     "3FA40E8A984D48156A271787AB8883F9893D51EC4B563B53"},
    {"fips81_cbc", false, kCbc, "0123456789ABCDEF", "1234567890ABCDEF",
     ascii("Now is the time for all "), "E5C7CDDE872BF27C43E934008C389C0F683788499A7C05F6"},
    {"sp800_67_three_key", true, kEcb, "0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123", "",
     ascii("The qufck brown fox jump"), "A826FD8CE53B855FCCE21C8112256FE668D5C05DD9B6B900"},
};

class DesKnownAnswer : public ::testing::TestWithParam<KnownAnswer> {};

TEST_P(DesKnownAnswer, EnciphersAndDeciphersInPlaceAndOutOfPlace) {
    const KnownAnswer &v = GetParam();
    const Bytes key = hex(v.key), iv = hex(v.iv), expected = hex(v.cipher);
    EXPECT_EQ(run(v.triple, kEncrypt, v.mode, v.plain, key, iv), expected);
    EXPECT_EQ(run(v.triple, kDecrypt, v.mode, expected, key, iv), v.plain);

    Bytes buffer = v.plain;
    auto fn = v.triple ? Run3Des : Run1Des;
    const auto n = static_cast<uint32_t>(buffer.size());
    ASSERT_EQ(fn(kEncrypt, v.mode, buffer.data(), n, key.data(), static_cast<uint32_t>(key.size()),
                 buffer.data(), n, iv.empty() ? nullptr : iv.data()),
              1);
    EXPECT_EQ(buffer, expected);
    ASSERT_EQ(fn(kDecrypt, v.mode, buffer.data(), n, key.data(), static_cast<uint32_t>(key.size()),
                 buffer.data(), n, iv.empty() ? nullptr : iv.data()),
              1);
    EXPECT_EQ(buffer, v.plain);
}

INSTANTIATE_TEST_SUITE_P(Vectors, DesKnownAnswer, ::testing::ValuesIn(kKnownAnswers),
                         [](const auto &info) { return std::string(info.param.name); });

// ------------------------------------------------------- OpenSSL agreement

void schedule(const unsigned char *key, DES_key_schedule *ks) {
    DES_cblock block;
    std::memcpy(block, key, 8);
    DES_set_key_unchecked(&block, ks);
}

// OpenSSL's result for the same call as Run1Des/Run3Des.
Bytes openssl_run(int keys, bool encrypt, int mode, const Bytes &in, const Bytes &key,
                  const Bytes &iv) {
    DES_key_schedule k1, k2, k3;
    schedule(key.data(), &k1);
    if (keys > 1) schedule(key.data() + 8, &k2);
    if (keys > 2) schedule(key.data() + 16, &k3);
    if (keys == 2) k3 = k1;
    const int enc = encrypt ? DES_ENCRYPT : DES_DECRYPT;
    Bytes out(in.size());
    if (mode == kCbc) {
        DES_cblock chain;
        std::memcpy(chain, iv.data(), 8);
        if (keys == 1)
            DES_ncbc_encrypt(in.data(), out.data(), static_cast<long>(in.size()), &k1, &chain, enc);
        else
            DES_ede3_cbc_encrypt(in.data(), out.data(), static_cast<long>(in.size()), &k1, &k2,
                                 &k3, &chain, enc);
        return out;
    }
    for (std::size_t i = 0; i < in.size(); i += 8) {
        DES_cblock src, dst;
        std::memcpy(src, in.data() + i, 8);
        if (keys == 1)
            DES_ecb_encrypt(&src, &dst, &k1, enc);
        else
            DES_ecb3_encrypt(&src, &dst, &k1, &k2, &k3, enc);
        std::memcpy(out.data() + i, dst, 8);
    }
    return out;
}

Bytes random_bytes(std::mt19937_64 &rng, std::size_t n) {
    Bytes b(n);
    for (auto &v : b) v = static_cast<unsigned char>(rng());
    return b;
}

struct Shape {
    int key_bytes;
    int mode;
};

class DesAgreesWithOpenSsl : public ::testing::TestWithParam<Shape> {};

TEST_P(DesAgreesWithOpenSsl, RandomKeysDataAndIvs) {
    const Shape shape = GetParam();
    std::mt19937_64 rng(0x5EED0000u + static_cast<unsigned>(shape.key_bytes * 2 + shape.mode));
    // Block counts around the engine's group of four, and some longer runs.
    const std::size_t block_counts[] = {1, 2, 3, 4, 5, 7, 8, 9, 31, 64, 129};
    for (int round = 0; round < 8; ++round) {
        for (std::size_t blocks : block_counts) {
            const Bytes key = random_bytes(rng, static_cast<std::size_t>(shape.key_bytes));
            const Bytes iv = random_bytes(rng, 8);
            const Bytes plain = random_bytes(rng, 8 * blocks);
            const bool triple = shape.key_bytes > 8;
            const int keys = shape.key_bytes / 8;
            SCOPED_TRACE(::testing::Message() << "blocks " << blocks << " round " << round);

            const Bytes cipher = openssl_run(keys, true, shape.mode, plain, key, iv);
            EXPECT_EQ(run(triple, kEncrypt, shape.mode, plain, key, iv), cipher);
            EXPECT_EQ(openssl_run(keys, false, shape.mode, cipher, key, iv), plain);
            EXPECT_EQ(run(triple, kDecrypt, shape.mode, cipher, key, iv), plain);

            // In place, both directions.
            Bytes buffer = plain;
            auto fn = triple ? Run3Des : Run1Des;
            const auto n = static_cast<uint32_t>(buffer.size());
            const auto kn = static_cast<uint32_t>(key.size());
            ASSERT_EQ(fn(kEncrypt, shape.mode, buffer.data(), n, key.data(), kn, buffer.data(), n,
                         iv.data()),
                      1);
            EXPECT_EQ(buffer, cipher);
            ASSERT_EQ(fn(kDecrypt, shape.mode, buffer.data(), n, key.data(), kn, buffer.data(), n,
                         iv.data()),
                      1);
            EXPECT_EQ(buffer, plain);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, DesAgreesWithOpenSsl,
                         ::testing::Values(Shape{8, kEcb}, Shape{8, kCbc}, Shape{16, kEcb},
                                           Shape{16, kCbc}, Shape{24, kEcb}, Shape{24, kCbc}),
                         [](const auto &info) {
                             return std::to_string(info.param.key_bytes) + "_byte_key_" +
                                    (info.param.mode == kEcb ? "ecb" : "cbc");
                         });

// The internal block calls give the same answers as the exported ones, so
// code that holds binary blocks can use them directly.
TEST(DesEngine, BlockCallsMatchOpenSsl) {
    std::mt19937_64 rng(77);
    for (int keys = 1; keys <= 3; ++keys) {
        for (int i = 0; i < 50; ++i) {
            const Bytes key = random_bytes(rng, 8 * static_cast<std::size_t>(keys));
            const Bytes plain = random_bytes(rng, 8);
            vr::des::Cipher cipher;
            ASSERT_TRUE(vr::des::init(cipher, key.data(), keys));
            const std::uint64_t c = vr::des::encrypt_block(cipher, vr::des::load_block(plain.data()));
            const Bytes expected = openssl_run(keys, true, kEcb, plain, key, {});
            EXPECT_EQ(c, vr::des::load_block(expected.data()));
            EXPECT_EQ(vr::des::decrypt_block(cipher, c), vr::des::load_block(plain.data()));
        }
    }
    vr::des::Cipher cipher;
    EXPECT_FALSE(vr::des::init(cipher, nullptr, 1));
    const unsigned char key[32] = {};
    EXPECT_FALSE(vr::des::init(cipher, key, 0));
    EXPECT_FALSE(vr::des::init(cipher, key, 4));
}

// ------------------------------------------------------------ key forms

TEST(Run3Des, KeyLengthChoosesTheForm) {
    std::mt19937_64 rng(3);
    const Bytes k = random_bytes(rng, 24), iv = random_bytes(rng, 8),
                plain = random_bytes(rng, 40);
    const Bytes k1(k.begin(), k.begin() + 8);
    const Bytes k1k2(k.begin(), k.begin() + 16);
    Bytes k1k2k1 = k1k2;
    k1k2k1.insert(k1k2k1.end(), k.begin(), k.begin() + 8);
    Bytes k24_plus = k;
    k24_plus.insert(k24_plus.end(), 8, 0x77);  // a fourth key is ignored

    for (int mode : {kEcb, kCbc}) {
        // One key: single DES.
        EXPECT_EQ(run(true, kEncrypt, mode, plain, k1, iv), run(false, kEncrypt, mode, plain, k1, iv));
        // Two keys K1||K2 equal the three-key form with K3 = K1.
        EXPECT_EQ(run(true, kEncrypt, mode, plain, k1k2, iv),
                  run(true, kEncrypt, mode, plain, k1k2k1, iv));
        EXPECT_EQ(run(true, kDecrypt, mode, plain, k1k2, iv),
                  run(true, kDecrypt, mode, plain, k1k2k1, iv));
        // Only the first 24 bytes are used.
        EXPECT_EQ(run(true, kEncrypt, mode, plain, k24_plus, iv), run(true, kEncrypt, mode, plain, k, iv));
        // Run1Des uses only the first 8 bytes of a longer key.
        EXPECT_EQ(run(false, kEncrypt, mode, plain, k, iv), run(false, kEncrypt, mode, plain, k1, iv));
    }
    // EDE with three equal keys collapses to single DES.
    Bytes same = k1;
    same.insert(same.end(), k1.begin(), k1.end());
    same.insert(same.end(), k1.begin(), k1.end());
    EXPECT_EQ(run(true, kEncrypt, kEcb, plain, same, iv), run(false, kEncrypt, kEcb, plain, k1, iv));
}

TEST(Run1Des, AnyNonZeroTypeDecrypts) {
    const Bytes key = hex("133457799BBCDFF1"), cipher = hex("85E813540F0AB405");
    unsigned char out[8];
    ASSERT_EQ(Run1Des(7, kEcb, cipher.data(), 8, key.data(), 8, out, 8, nullptr), 1);
    EXPECT_EQ(Bytes(out, out + 8), hex("0123456789ABCDEF"));
    ASSERT_EQ(Run3Des(-1, kEcb, cipher.data(), 8, key.data(), 8, out, 8, nullptr), 1);
    EXPECT_EQ(Bytes(out, out + 8), hex("0123456789ABCDEF"));
}

// ----------------------------------------------------------- refusals

struct Refusal {
    const char *name;
    bool input, key, output, iv;
    uint32_t input_length, key_length, capacity;
    int mode;
};

const Refusal kRefusals[] = {
    {"no_input", false, true, true, true, 16, 8, 16, kEcb},
    {"no_key", true, false, true, true, 16, 8, 16, kEcb},
    {"no_output", true, true, false, true, 16, 8, 16, kEcb},
    {"input_not_whole_blocks", true, true, true, true, 15, 8, 16, kEcb},
    {"key_not_whole_blocks", true, true, true, true, 16, 12, 16, kEcb},
    {"empty_key", true, true, true, true, 16, 0, 16, kEcb},
    {"output_too_small", true, true, true, true, 16, 8, 15, kEcb},
    {"cbc_without_iv", true, true, true, false, 16, 8, 16, kCbc},
    {"unknown_mode", true, true, true, true, 16, 8, 16, 2},
    {"negative_mode", true, true, true, true, 16, 8, 16, -1},
};

class DesRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(DesRefuses, ReturnsZeroAndLeavesTheOutput) {
    const Refusal &r = GetParam();
    unsigned char input[32] = {1, 2, 3}, key[32] = {9, 8, 7}, iv[8] = {};
    for (auto fn : {Run1Des, Run3Des}) {
        unsigned char output[32];
        std::memset(output, 0xEE, sizeof output);
        EXPECT_EQ(fn(kEncrypt, r.mode, r.input ? input : nullptr, r.input_length,
                     r.key ? key : nullptr, r.key_length, r.output ? output : nullptr,
                     r.capacity, r.iv ? iv : nullptr),
                  0);
        for (unsigned char b : output) ASSERT_EQ(b, 0xEE);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DesRefuses, ::testing::ValuesIn(kRefusals),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Run3Des, EmptyInputSucceedsWithoutWriting) {
    unsigned char key[16] = {}, out[8];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(Run3Des(kEncrypt, kEcb, key, 0, key, 16, out, 0, nullptr), 1);
    for (unsigned char b : out) EXPECT_EQ(b, 0xEE);
}

TEST(DesSelfTest, PassesTheKnownAnswer) { EXPECT_EQ(desTest(), 0); }

}  // namespace
