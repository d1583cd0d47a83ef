// Message framing of protocols 1, 2, 3 and 6, byte for byte, over a
// scripted device; and the checks made on every frame read.
#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "log_capture.h"
#include "scripted_device.h"
#include "suart.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vrtest::ScriptedDevice;

TEST(Crc16, ModbusCheckValue) {
    const char *text = "123456789";
    EXPECT_EQ(CRC16(reinterpret_cast<const uint8_t *>(text), 9), 0x4B37);
    EXPECT_EQ(CRC16(nullptr, 0), 0xFFFF);
    EXPECT_EQ(auchCRCHi[1], 0xC1);
}

struct WriteCase {
    const char *name;
    int protocol;
    int enc_on;
    Bytes body;
    Bytes frame;
};

void PrintTo(const WriteCase &c, std::ostream *os) { *os << c.name; }

class WriteFrame : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteFrame, ByteForByte) {
    const WriteCase &c = GetParam();
    ScriptedDevice &dev = ScriptedDevice::install(c.protocol);
    tessil.s_com.enc_on = static_cast<uint8_t>(c.enc_on);
    if (c.protocol == 2) dev.feed({0x10, 0x10});  // the reader's two acknowledgements
    EXPECT_EQ(virt_com_writemsg(c.body.data(), static_cast<int>(c.body.size()), c.protocol),
              static_cast<int>(c.body.size()));
    EXPECT_EQ(dev.written(), c.frame);
}

INSTANTIATE_TEST_SUITE_P(
    Protocols, WriteFrame,
    ::testing::Values(
        WriteCase{"p3_buzzer", 3, 0, {0x0D, 0x01, 0x02, 0x03},
                  {0x02, 0x02, 0x04, 0x00, 0x0D, 0x01, 0x02, 0x03, 0x13, 0x92, 0x55}},
        WriteCase{"p3_encrypted_head", 3, 1, {0x0D, 0x01, 0x02},
                  {0x42, 0x02, 0x03, 0x00, 0x0D, 0x01, 0x02, 0x71, 0x92, 0x55}},
        WriteCase{"p3_short_body_stays_plain", 3, 1, {0x0D, 0x01}, {0x02, 0x02, 0x02, 0x00, 0x0D, 0x01, 0xC4, 0xCC, 0x55}},
        WriteCase{"p1_stuffing", 1, 0, {0xAA, 0x01},
                  {0xAA, 0xBB, 0x05, 0x00, 0x00, 0x00, 0xAA, 0x00, 0x01, 0xAB}},
        WriteCase{"p2_handshake", 2, 0, {0x10, 0x20, 0x30},
                  {0x02, 0x01, 0x10, 0x02, 0x20, 0x30, 0x01 ^ 0x10 ^ 0x02 ^ 0x20 ^ 0x30, 0x10, 0x03}},
        WriteCase{"p6_xor", 6, 0, {0x87, 0x01, 0x41},
                  {0x02, 0x02, 0x87, 0x01, 0x41, 0x02 ^ 0x87 ^ 0x01 ^ 0x41, 0x55}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(WriteFrame, RefusesWhatCannotBeSent) {
    ScriptedDevice::install(3);
    const uint8_t body[2] = {1, 2};
    for (int p : {0, 4, 5, 7}) {
        errno = 0;
        EXPECT_EQ(virt_com_writemsg(body, 2, p), -1);
        EXPECT_EQ(errno, -15) << p;
    }
    // Protocol 2 without the reader's acknowledgement.
    errno = 0;
    EXPECT_EQ(virt_com_writemsg(body, 2, 2), -1);
    EXPECT_EQ(errno, -13);
    // Closed port: -1, errno untouched; removed device: -80.
    virt_com_setstat(VIRT_COM_CLOSED);
    errno = 5;
    EXPECT_EQ(virt_com_writemsg(body, 2, 3), -1);
    EXPECT_EQ(errno, 5);
    virt_com_setstat(VIRT_COM_REMOVED);
    vrtest::LogCapture log;
    EXPECT_EQ(virt_com_writemsg(body, 2, 3), -1);
    EXPECT_EQ(errno, -80);
    EXPECT_TRUE(log.contains("EDEVINVAL virt_com_writemsg"));
}

TEST(ReadFrame, Protocol3BodyAfterNoise) {
    ScriptedDevice &dev = ScriptedDevice::install(3);
    Bytes noise{0x55, 0x02, 0x13};
    dev.feed(noise);
    dev.feed(vrtest::p3_reply({0x00, 0xAB, 0xCD}));
    uint8_t out[VIRT_COM_RSP_MAX];
    EXPECT_EQ(virt_com_readmsg(out, 3, 1000), 3);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x00, 0xAB, 0xCD}));
    EXPECT_EQ(tessil.s_com.enc_reply, 0);
}

TEST(ReadFrame, Protocol3ReaderStatusesFailAndKeepEncryptedFlag) {
    const std::pair<uint8_t, int> rows[] = {{0x91, -111}, {0x90, -112}, {0x8F, -113}, {0x8E, -114}};
    for (auto [status, code] : rows) {
        ScriptedDevice &dev = ScriptedDevice::install(3);
        tessil.s_com.enc_reply = 1;
        dev.feed(vrtest::p3_reply({status, 0x01}));
        uint8_t out[VIRT_COM_RSP_MAX];
        errno = 0;
        EXPECT_EQ(virt_com_readmsg(out, 3, 1000), -1);
        EXPECT_EQ(errno, code);
        EXPECT_EQ(tessil.s_com.enc_reply, 1) << "the failed read leaves the flag";
    }
    // An encrypted head sets the flag.
    ScriptedDevice &dev = ScriptedDevice::install(3);
    dev.feed(vrtest::p3_reply({0x00, 0x01}, 0x42));
    uint8_t out[VIRT_COM_RSP_MAX];
    EXPECT_EQ(virt_com_readmsg(out, 3, 1000), 2);
    EXPECT_EQ(tessil.s_com.enc_reply, 1);
}

TEST(ReadFrame, Protocol3CorruptedChecksum) {
    ScriptedDevice &dev = ScriptedDevice::install(3);
    Bytes frame = vrtest::p3_reply({0x00, 0x01, 0x02});
    frame.back() ^= 0x01;
    dev.feed(frame);
    vrtest::LogCapture log;
    uint8_t out[VIRT_COM_RSP_MAX];
    EXPECT_EQ(virt_com_readmsg(out, 3, 1000), -2);
    EXPECT_EQ(errno, -19);
    EXPECT_TRUE(log.contains("virt_com_readmsg EMESG crc err"));
}

TEST(ReadFrame, Protocol3BadLengthsAndTruncation) {
    struct Case {
        Bytes input;
        const char *log;
    };
    const Case cases[] = {
        {{0x02, 0x02, 0x00, 0x00}, "virt_com_readmsg msg_len err: 0"},
        {{0x02, 0x02, 0x01, 0x10}, "virt_com_readmsg msg_len err: 4097"},
        {{0x02, 0x02, 0x05}, "frame len flag timout"},
        {{0x02, 0x02, 0x05, 0x00, 0x00, 0x01}, "frame body timout"},
        {{0x13, 0x37}, "frame_head_flag timeout"},
    };
    for (const Case &c : cases) {
        ScriptedDevice &dev = ScriptedDevice::install(3);
        dev.feed(c.input);
        vrtest::LogCapture log;
        uint8_t out[VIRT_COM_RSP_MAX];
        errno = 0;
        EXPECT_EQ(virt_com_readmsg(out, 3, 20), -1);
        EXPECT_EQ(errno, -14);
        EXPECT_TRUE(log.contains(c.log)) << c.log;
    }
}

TEST(ReadFrame, Protocol3RouteChangeAbortsTheWait) {
    ScriptedDevice::install(3);
    suart_set_categstat(1);
    vrtest::LogCapture log;
    uint8_t out[VIRT_COM_RSP_MAX];
    EXPECT_EQ(virt_com_readmsg(out, 3, 5000), -1);
    EXPECT_EQ(errno, -14);
    EXPECT_EQ(suart_get_categstat(), 0);
    EXPECT_TRUE(log.contains("EDEVINVAL virt_com_readmsg  222"));
}

TEST(ReadFrame, Protocol6OneAndTwoLengthBytes) {
    ScriptedDevice &dev = ScriptedDevice::install(6);
    Bytes data(256);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    dev.feed(vrtest::p6_reply(0x00, data));
    dev.feed(vrtest::p6_reply(0x05, {0x11}));
    uint8_t out[VIRT_COM_RSP_MAX];
    ASSERT_EQ(virt_com_readmsg(out, 6, 1000), 257);
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(Bytes(out + 1, out + 257), data);
    ASSERT_EQ(virt_com_readmsg(out, 6, 1000), 2);
    EXPECT_EQ(out[0], 0x05);
    EXPECT_EQ(out[1], 0x11);
}

TEST(ReadFrame, Protocol6ChecksumAndLength) {
    ScriptedDevice &dev = ScriptedDevice::install(6);
    Bytes frame = vrtest::p6_reply(0x00, {0x01, 0x02});
    frame.back() ^= 0xFF;
    dev.feed(frame);
    vrtest::LogCapture log;
    uint8_t out[VIRT_COM_RSP_MAX];
    EXPECT_EQ(virt_com_readmsg(out, 6, 1000), -1);
    EXPECT_EQ(errno, -111);
    EXPECT_TRUE(log.contains("virt_com_readmsg: bcc check fail"));

    dev.feed({0x02, 0x42, 0x00, 0x10, 0x01});  // 4097 data bytes announced
    EXPECT_EQ(virt_com_readmsg(out, 6, 1000), -1);
    EXPECT_EQ(errno, -14);
}

TEST(ReadFrame, Protocol1StuffingChecksumAndLimits) {
    ScriptedDevice &dev = ScriptedDevice::install(1);
    // Body AA 01 5A: the reader stuffs a byte after 0xAA; L counts the
    // bytes after unstuffing, checksum last.
    const uint8_t check = 0x01 ^ 0x5A;  // XOR of bytes 1..L-1 is 0
    dev.feed({0xAA, 0xBB, 0x04, 0x00, 0xAA, 0x00, 0x01, 0x5A, check});
    uint8_t out[VIRT_COM_RSP_MAX];
    ASSERT_EQ(virt_com_readmsg(out, 1, 0), 3);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0xAA, 0x01, 0x5A}));

    dev.feed({0xAA, 0xBB, 0x03, 0x00, 0x10, 0x01, 0x02});
    EXPECT_EQ(virt_com_readmsg(out, 1, 0), -16);

    // A length beyond the reply buffer is refused before reading on.
    dev.feed({0xAA, 0xBB, 0xFF, 0xFF});
    EXPECT_EQ(virt_com_readmsg(out, 1, 0), -1);
    EXPECT_EQ(errno, -14);

    // With the default time-out the first stray byte ends the read.
    dev.feed({0x13, 0xAA, 0xBB});
    EXPECT_EQ(virt_com_readmsg(out, 1, 0), -1);
    EXPECT_EQ(errno, -14);
}

TEST(ReadFrame, Protocol2HasNoReplyFrame) {
    ScriptedDevice &dev = ScriptedDevice::install(2);
    dev.feed({0x02, 0x02, 0x02});
    uint8_t out[VIRT_COM_RSP_MAX];
    EXPECT_EQ(virt_com_readmsg(out, 2, 0), -1);
    EXPECT_EQ(errno, -14);
}

}  // namespace
