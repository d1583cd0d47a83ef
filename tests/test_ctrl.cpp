// The control dispatcher and the card-operation dispatchers over a
// scripted device: the exact reader commands each control code sends, the
// argument checks in their order, and exclusive use across threads.
#include <gtest/gtest.h>

#include <pthread.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "audio.h"
#include "mifare.h"
#include "pboc.h"
#include "picc.h"
#include "scripted_device.h"
#include "suart.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vrtest::p3_reply;
using vrtest::ScriptedDevice;

// The body of the single protocol-3 frame written since the last clear.
Bytes sent_body(const ScriptedDevice &dev) {
    const Bytes w = dev.written();
    if (w.size() < 7) return {};
    const std::size_t n = w[2] | w[3] << 8;
    return Bytes(w.begin() + 4, w.begin() + 4 + static_cast<long>(n));
}

class Ctrl : public ::testing::Test {
protected:
    void SetUp() override {
        picc_regapi(VR_FAMILY_FIRST);
        dev = &ScriptedDevice::install(3, 200);
    }
    ScriptedDevice *dev = nullptr;
};

TEST_F(Ctrl, RawCommandLengthPrefixed) {
    dev->feed(p3_reply({0x00, 0xAA, 0xBB, 0xCC}));
    unsigned char buf[4200] = {0x00, 0x03, 0x0D, 0x01, 0x07};
    ASSERT_EQ(picc_ctrl(nullptr, PICC_CTRL_RAW, buf), 0);
    EXPECT_EQ(sent_body(*dev), (Bytes{0x0D, 0x01, 0x07}));
    EXPECT_EQ(Bytes(buf, buf + 5), (Bytes{0x00, 0x03, 0xAA, 0xBB, 0xCC}));
}

TEST_F(Ctrl, RawCommandInHexAndBytes) {
    dev->feed(p3_reply({0x00, 0x01, 0xFE}));
    char out[64] = {};
    int length = 0;
    ASSERT_EQ(picc_ctrl(nullptr, PICC_CTRL_RAW_HEX, "0301ab", out, &length), 0);
    EXPECT_EQ(sent_body(*dev), (Bytes{0x03, 0x01, 0xAB}));
    EXPECT_STREQ(out, "01FE");
    EXPECT_EQ(length, 4);

    dev->clear_written();
    dev->feed(p3_reply({0x00, 0x42}));
    const unsigned char in[3] = {0x09, 0x0F, 0x01};
    unsigned char bytes_out[8] = {};
    length = 3;
    ASSERT_EQ(picc_ctrl(nullptr, PICC_CTRL_RAW_BYTES, in, bytes_out, &length), 0);
    EXPECT_EQ(sent_body(*dev), (Bytes{0x09, 0x0F, 0x01}));
    EXPECT_EQ(length, 1);
    EXPECT_EQ(bytes_out[0], 0x42);
}

TEST_F(Ctrl, BadHexIsRefusedBeforeAnyTraffic) {
    char out[16];
    int length = 0;
    for (const char *text : {"030", "03zz", "0x01"}) {
        EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_RAW_HEX, text, out, &length), -21) << text;
    }
    EXPECT_TRUE(dev->written().empty());
    // A command longer than any request is refused too.
    std::string huge(2 * 5000, 'A');
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_RAW_HEX, huge.c_str(), out, &length), -21);
    unsigned char big[5000] = {};
    length = sizeof big;
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_RAW_BYTES, big, big, &length), -24);
    EXPECT_TRUE(dev->written().empty());
}

picc *fake_card(const char *type) {
    auto *p = static_cast<picc *>(calloc(1, sizeof(picc)));
    p->picc_type = strdup(type);
    p->card_status = PICC_STATUS_ACTIVE;
    return p;
}

TEST_F(Ctrl, ApduHeadersFollowTheCardType) {
    struct Case {
        const char *type;
        Bytes header;
    };
    for (const Case &c : {Case{"CPU CARD", {0x11, 0x02}}, Case{"cid card x", {0x03, 0x03}},
                          Case{"Mifare S50", {0x11, 0x02}}}) {
        picc *card = fake_card(c.type);
        dev->clear_written();
        dev->feed(p3_reply({0x00, 0x6F, 0x00, 0x90, 0x00}));
        char out[64] = {};
        int length = 0;
        ASSERT_EQ(picc_ctrl(card, PICC_CTRL_APDU_HEX, "00A40400", out, &length), 0) << c.type;
        Bytes expected = c.header;
        expected.insert(expected.end(), {0x00, 0xA4, 0x04, 0x00});
        EXPECT_EQ(sent_body(*dev), expected);
        EXPECT_STREQ(out, "6F009000");
        EXPECT_EQ(length, 8);
        picc_free(card);
    }
    char out[8];
    int length;
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_APDU_HEX, "00", out, &length), -47);
}

TEST_F(Ctrl, ApduBatchOnACidCard) {
    picc *card = fake_card("CID CARD");
    // Two answers, each a big-endian length and its bytes.
    dev->feed(p3_reply({0x00, 0x00, 0x02, 0x90, 0x00, 0x00, 0x03, 0x01, 0x6A, 0x82}));
    char out[64] = {};
    int length = 0;
    ASSERT_EQ(picc_ctrl(card, PICC_CTRL_APDU_BATCH_HEX, "00A4,00B0009F", out, &length), 0);
    EXPECT_EQ(sent_body(*dev), (Bytes{0x05, 0x03, 0x00, 0x02, 0x00, 0xA4, 0x00, 0x04, 0x00, 0xB0, 0x00, 0x9F}));
    EXPECT_STREQ(out, "9000,016A82");
    EXPECT_EQ(length, 12);

    dev->clear_written();
    dev->feed(p3_reply({0x00, 0x00, 0x01, 0x55}));
    const unsigned char body[] = {0x00, 0x01, 0x84};
    unsigned char bytes_out[16] = {};
    length = 3;
    ASSERT_EQ(picc_ctrl(card, PICC_CTRL_APDU_BATCH_BYTES, body, bytes_out, &length), 0);
    EXPECT_EQ(sent_body(*dev), (Bytes{0x05, 0x03, 0x00, 0x01, 0x84}));
    EXPECT_EQ(length, 3);
    EXPECT_EQ(Bytes(bytes_out, bytes_out + 3), (Bytes{0x00, 0x01, 0x55}));

    // An answer item longer than the reply is malformed.
    dev->feed(p3_reply({0x00, 0x00, 0x09, 0x90}));
    EXPECT_EQ(picc_ctrl(card, PICC_CTRL_APDU_BATCH_HEX, "00A4", out, &length), -21);
    picc_free(card);
}

TEST_F(Ctrl, ReaderCodesAndTheirBodies) {
    struct Case {
        int code;
        std::vector<int> args;
        Bytes body;
    };
    const Case cases[] = {
        {PICC_CTRL_ANTENNA_OPEN, {}, {0x0C, 0x01, 0x01}},
        {PICC_CTRL_SET_BUZZER, {2, 3}, {0x0D, 0x01, 0x02, 0x03}},
        {PICC_CTRL_SET_LEDR, {1, 0}, {0x0F, 0x01, 0x01, 0x00}},
        {PICC_CTRL_SET_BRIGHTNESS, {7}, {0x14, 0x01, 0x07}},
        {PICC_CTRL_SET_BUZZER_EX, {1, 2, 0x1234, 3}, {0x10, 0x01, 0x01, 0x02, 0x34, 0x12, 0x03}},
    };
    for (const Case &c : cases) {
        dev->clear_written();
        dev->feed(p3_reply({0x00}));
        int rc = -99;
        switch (c.args.size()) {
        case 0: rc = picc_ctrl(nullptr, c.code); break;
        case 1: rc = picc_ctrl(nullptr, c.code, c.args[0]); break;
        case 2: rc = picc_ctrl(nullptr, c.code, c.args[0], c.args[1]); break;
        default: rc = picc_ctrl(nullptr, c.code, c.args[0], c.args[1], c.args[2], c.args[3]); break;
        }
        EXPECT_EQ(rc, 0) << c.code;
        EXPECT_EQ(sent_body(*dev), c.body) << c.code;
    }
    // A reader status becomes the code: 0x0D -> -30.
    dev->feed(p3_reply({0x0D}));
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_ANTENNA_OPEN), -30);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_PORT_STATUS), 0x33);
}

TEST_F(Ctrl, CodesOutsideTheTableOrThisBuild) {
    for (int code : std::initializer_list<int>{81, 200, 14, 26, 35, 49, 78, PICC_CTRL_USB_VENDOR})
        EXPECT_EQ(picc_ctrl(nullptr, code, 0, 0), -22) << code;
    // Driver codes: no record -> -47 / -24, a record whose driver has no
    // control operation -> -22.
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_ULC_START_PAGE, 4), -47);
    unsigned char buf[4];
    int len = 4;
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_ID_READ, buf, &len), -24);
    picc *card = fake_card("Mifare S50");
    EXPECT_EQ(picc_ctrl(card, PICC_CTRL_ID_READ, nullptr, &len), -24);
    EXPECT_EQ(picc_ctrl(card, PICC_CTRL_ID_READ, buf, &len), -22);
    EXPECT_EQ(picc_ctrl(card, PICC_CTRL_ULC_START_PAGE, 4), -22);
    picc_free(card);
    EXPECT_TRUE(dev->written().empty());
}

TEST_F(Ctrl, ExclusiveUseBelongsToOneThread) {
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_TAKE_EXCLUSIVE), 0);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_TAKE_EXCLUSIVE), 0) << "taking it twice is fine";
    int other_take = 0, other_release = 0;
    std::thread other([&] {
        other_take = picc_ctrl(nullptr, PICC_CTRL_TAKE_EXCLUSIVE);
        other_release = picc_ctrl(nullptr, PICC_CTRL_RELEASE_EXCLUSIVE);
    });
    other.join();
    EXPECT_EQ(other_take, -85);
    EXPECT_EQ(other_release, -85);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_RELEASE_EXCLUSIVE), 0);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_RELEASE_EXCLUSIVE), 0) << "releasing a free lock";
    std::thread taker([&] { other_take = picc_ctrl(nullptr, PICC_CTRL_TAKE_EXCLUSIVE); });
    taker.join();
    EXPECT_EQ(other_take, 0);
}

TEST_F(Ctrl, DispatcherChecksInOrder) {
    unsigned char buf[16];
    EXPECT_EQ(picc_read(nullptr, buf, 4), -47);
    picc record{};
    ASSERT_EQ(picc_init(&record, "mifare_s70"), 0);
    EXPECT_EQ(picc_read(&record, nullptr, 4), -24);
    EXPECT_EQ(picc_readdata(&record, 16, 4, buf), -22) << "the 4K driver has no byte view";
    // Not selected and not in the open-card list: selection fails.
    EXPECT_EQ(picc_read(&record, buf, 4), -37);
    EXPECT_EQ(picc_auth(&record, nullptr, 0x60, 4), -37) << "a null key is not a missing buffer";
    EXPECT_EQ(picc_lock(&record, 1), -22);
    EXPECT_EQ(picc_sign(&record, buf), -22);
    EXPECT_EQ(picc_seccnt(&record), 40);
    EXPECT_EQ(picc_blkcnt(&record), 256);
    EXPECT_EQ(picc_seccnt(nullptr), -47);
    EXPECT_TRUE(dev->written().empty()) << "no reader traffic for refused calls";
    free(record.vendor);
    free(record.picc_type);
    free(record.protocol_name);
}

TEST_F(Ctrl, DriverFailureMarksTheCardAndReportsTheCode) {
    picc record{};
    ASSERT_EQ(picc_init(&record, "mifare_s70"), 0);
    record.card_status = PICC_STATUS_ACTIVE;
    dev->feed(p3_reply({0x16}));  // authentication refused
    EXPECT_EQ(picc_auth(&record, nullptr, 0x60, 4), -34);
    EXPECT_EQ(record.card_status, PICC_STATUS_FAILED);
    record.card_status = PICC_STATUS_ACTIVE;
    dev->feed(p3_reply({0x17}));
    unsigned char buf[16];
    EXPECT_EQ(picc_read(&record, buf, 4), -1) << "reads report -1";
    free(record.vendor);
    free(record.picc_type);
    free(record.protocol_name);
}

TEST_F(Ctrl, AudioSettingsAndUplinkInfo) {
    suart_init(0);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 3, 0), 2) << "default uplink algorithm";
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 1, 1), 1);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 3, 0), 1);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 2, 0), 0);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 4, 0), 0);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 5, 0), 4) << "uplink short width";
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 6, 0), 0);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 7, 16), 0);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 8, 1234), 0);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 9, 0), 1234);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 8, -9), 0);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 9, 0), -1) << "results are clamped at -1";
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 42, 0), 0);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 0, 0), -1);
    int words[2] = {};
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_UPLINK_INFO, words), 0);
    EXPECT_EQ(words[0], 1);
    EXPECT_EQ(words[1], 5512);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_UPLINK_INFO, nullptr), -24);
}

TEST(HexText, DecodeAndEncode) {
    unsigned char out[4] = {};
    EXPECT_EQ(pboc_str2data("0A1b", out, 2), 0);
    EXPECT_EQ(out[0], 0x0A);
    EXPECT_EQ(out[1], 0x1B);
    EXPECT_EQ(pboc_str2data("0A1b", out, 1), -1);
    EXPECT_EQ(pboc_str2data("0A1", out, 4), -1);
    EXPECT_EQ(pboc_str2data("0G", out, 4), -1);
    EXPECT_EQ(pboc_str2data(nullptr, out, 4), -1);
    EXPECT_EQ(pboc_str2data("00", out, -1), -1);
    char *text = pboc_data2str(reinterpret_cast<const unsigned char *>("\x00\xab\xff"), 3);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "00ABFF");
    free(text);
}

TEST(RawPassThrough, LengthLimits) {
    picc_regapi(VR_FAMILY_FIRST);
    ScriptedDevice::install(3, 200);
    unsigned char cmd[8] = {};
    int len = 4097;
    errno = 0;
    EXPECT_EQ(audio_raw_cmd(cmd, &len), -1);
    EXPECT_EQ(errno, -15);
    EXPECT_EQ(len, 0);
    len = 1;
    EXPECT_EQ(audio_raw_cmd(cmd, &len), -1);
    EXPECT_EQ(errno, -24);
}

}  // namespace

namespace {

// Search modes of picc_open over scripted reader replies: a card that
// answers only a wake-up (halted) and no card at all.
class OpenModes : public ::testing::Test {
protected:
    void SetUp() override {
        picc_regapi(VR_FAMILY_FIRST);
        dev = &ScriptedDevice::install(3, 50);
    }
    // Replies up to the card's request: antenna off, antenna on, protocol.
    void feed_until_request() {
        dev->feed(p3_reply({0x00}));
        dev->feed(p3_reply({0x00}));
        dev->feed(p3_reply({0x00}));
    }
    picc *open(uint8_t mode) {
        virt_com_setstat(VIRT_COM_OPEN);
        return picc_open("mifare_s70", "uart", 0, mode, nullptr, "/unused");
    }
    ScriptedDevice *dev = nullptr;
};

TEST_F(OpenModes, IdleOnlyReportsAHaltedCard) {
    feed_until_request();
    dev->feed(p3_reply({0x14}));        // no idle card answers the request
    dev->feed(p3_reply({0x00}));        // protocol
    dev->feed(p3_reply({0x00, 0x02, 0x00}));  // a halted card answers the wake-up
    errno = 0;
    EXPECT_EQ(open(PICC_SEARCH_IDLE_ONLY), nullptr);
    EXPECT_EQ(errno, -51);
    EXPECT_EQ(piccs_list_len(&tessil.piccs), 0);
}

TEST_F(OpenModes, WakeModeWakesAHaltedCard) {
    feed_until_request();
    dev->feed(p3_reply({0x14}));
    dev->feed(p3_reply({0x00}));                          // protocol
    dev->feed(p3_reply({0x00, 0x02, 0x00}));              // wake-up
    dev->feed(p3_reply({0x00, 0x01, 0x02, 0x03, 0x04}));  // anticollision
    dev->feed(p3_reply({0x00}));                          // select
    picc *p = open(PICC_SEARCH_WAKE);
    ASSERT_NE(p, nullptr) << errno;
    EXPECT_EQ(picc_uidlen(p), 4);
    EXPECT_EQ(picc_status(p), PICC_STATUS_ACTIVE);
}

}  // namespace
