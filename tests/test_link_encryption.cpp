// Link encryption switched on and off through control code 27, and the
// enciphered request and reply bodies of the exchange.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "crypto.h"
#include "log_capture.h"
#include "pcd.h"
#include "picc.h"
#include "scripted_device.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vrtest::p3_reply;
using vrtest::ScriptedDevice;

const Bytes kSessionKey{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};

class LinkEncryption : public ::testing::Test {
protected:
    void SetUp() override {
        picc_regapi(VR_FAMILY_FIRST);
        dev = &ScriptedDevice::install(3, 200);
    }
    void switch_on() {
        Bytes reply(1 + kSessionKey.size(), 0x00);
        std::copy(kSessionKey.begin(), kSessionKey.end(), reply.begin() + 1);
        dev->feed(p3_reply(reply));
        ASSERT_EQ(picc_ctrl(nullptr, PICC_CTRL_LINK_ENCRYPTION, 1), 0);
        dev->clear_written();
    }
    // An encrypted reply frame carrying plain as its data.
    Bytes encrypted_reply(const Bytes &plain) {
        Bytes cipher = plain;
        cipher.resize(plain.size() + 8);
        uint32_t n = 0;
        EXPECT_EQ(com_alg_enc(cipher.data(), static_cast<uint32_t>(plain.size()), kSessionKey.data(), &n), 0);
        cipher.resize(n);
        Bytes body(3 + cipher.size());
        body[0] = 0x00;
        body[1] = static_cast<uint8_t>(plain.size() >> 8);
        body[2] = static_cast<uint8_t>(plain.size() & 0xFF);
        std::copy(cipher.begin(), cipher.end(), body.begin() + 3);
        return p3_reply(body, 0x42);
    }
    ScriptedDevice *dev = nullptr;
};

TEST_F(LinkEncryption, SwitchingOnFetchesTheSessionKey) {
    switch_on();
    EXPECT_EQ(tessil.s_com.enc_on, 1);
    EXPECT_EQ(Bytes(tessil.s_com.enc_key, tessil.s_com.enc_key + 8), kSessionKey);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_LINK_ENCRYPTION, 2), -1);
    EXPECT_EQ(tessil.s_com.enc_on, 1) << "an unknown value changes nothing";
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_LINK_ENCRYPTION, 0), 0);
    EXPECT_EQ(tessil.s_com.enc_on, 0);
}

TEST_F(LinkEncryption, ShortRandomReplyLeavesItOff) {
    dev->feed(p3_reply({0x00, 0x01, 0x02}));
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_LINK_ENCRYPTION, 1), -1);
    EXPECT_EQ(tessil.s_com.enc_on, 0);
}

TEST_F(LinkEncryption, RequestDataIsEncipheredBehindItsPlainLength) {
    switch_on();
    dev->feed(p3_reply({0x00}));
    ASSERT_EQ(pcd_set_buzzer(2, 3), 0);
    const Bytes w = dev->written();
    ASSERT_GE(w.size(), 4u + 12u + 3u);
    EXPECT_EQ(w[0], 0x42);
    const int n = w[2] | w[3] << 8;
    ASSERT_EQ(n, 4 + 8);
    EXPECT_EQ(Bytes(w.begin() + 4, w.begin() + 8), (Bytes{0x0D, 0x01, 0x00, 0x02}));
    Bytes cipher(w.begin() + 8, w.begin() + 16);
    uint32_t out = 0;
    ASSERT_EQ(com_alg_dec(cipher.data(), 8, kSessionKey.data(), &out), 0);
    EXPECT_EQ(Bytes(cipher.begin(), cipher.begin() + 3), (Bytes{0x02, 0x03, 0x80}));
}

TEST_F(LinkEncryption, EncryptedRepliesAreDeciphered) {
    switch_on();
    const Bytes version{'V', 'T', '-', '1', '.', '0', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', '!'};
    dev->feed(encrypted_reply(version));
    unsigned char out[16] = {};
    ASSERT_EQ(pcd_get_firmware_version(out), 0);
    EXPECT_EQ(Bytes(out, out + 16), version);
}

TEST_F(LinkEncryption, EncryptedRepliesOfTheWrongShapeAreRefused) {
    switch_on();
    vrtest::LogCapture log;
    // Ciphertext that is not whole blocks.
    dev->feed(p3_reply({0x00, 0x00, 0x02, 1, 2, 3, 4, 5}, 0x42));
    unsigned char out[16];
    errno = 0;
    EXPECT_EQ(pcd_get_mid(out), -1);
    EXPECT_EQ(errno, -24);
    EXPECT_TRUE(log.contains("err received decryped_data_len"));
    // A plain length beyond the deciphered data.
    Bytes reply = encrypted_reply({0x07});
    reply[5] = 0x40;  // plain length low byte: 0x40 > 8
    // The frame's checksum must follow the change.
    Bytes body(reply.begin() + 4, reply.end() - 2);
    dev->feed(p3_reply(body, 0x42));
    EXPECT_EQ(pcd_get_mid(out), -1);
    EXPECT_EQ(errno, -24);
    EXPECT_TRUE(log.contains("err decryped_data_len"));
}

}  // namespace
