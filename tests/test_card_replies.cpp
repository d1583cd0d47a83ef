// The new card drivers and the SAM layer against reader answers of every
// shape, from a scripted device: lengths and counts taken from an answer
// are checked against what it holds, a refused answer copies nothing, and
// the SAM frame's own checks.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "cpucard.h"
#include "identity.h"
#include "picc.h"
#include "scripted_device.h"
#include "tessil.h"
#include "ultralight.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vrtest::p3_reply;
using vrtest::ScriptedDevice;

constexpr unsigned char kSentinel = 0xA5;

Bytes ok_reply(const Bytes &data) {
    Bytes body{0x00};
    body.insert(body.end(), data.begin(), data.end());
    return p3_reply(body);
}

// A SAM answer frame: preamble, length, SW1 SW2 SW3, data, check byte.
Bytes sam_answer_frame(const Bytes &data, uint8_t sw3 = 0x90, int length_adjust = 0) {
    Bytes f{0xAA, 0xAA, 0xAA, 0x96, 0x69};
    const size_t n = 3 + data.size() + 1 + static_cast<size_t>(length_adjust);
    f.push_back(static_cast<uint8_t>(n >> 8));
    f.push_back(static_cast<uint8_t>(n & 0xFF));
    f.insert(f.end(), {0x00, 0x00, sw3});
    f.insert(f.end(), data.begin(), data.end());
    uint8_t x = 0;
    for (size_t i = 5; i < f.size(); ++i) x ^= f[i];
    f.push_back(x);
    return f;
}

// The data of a read answer: the record lengths, then the records.
Bytes record_data(std::initializer_list<int> lengths, size_t body) {
    Bytes d;
    for (int n : lengths) {
        d.push_back(static_cast<uint8_t>(n >> 8));
        d.push_back(static_cast<uint8_t>(n & 0xFF));
    }
    for (size_t i = 0; i < body; ++i) d.push_back(static_cast<uint8_t>(i));
    return d;
}

class CardReplies : public ::testing::Test {
protected:
    void SetUp() override {
        picc_regapi(VR_FAMILY_FIRST);
        dev = &ScriptedDevice::install(3, 100);
    }
    ScriptedDevice *dev = nullptr;
    picc record{};
};

TEST_F(CardReplies, CpuActivationChecksUidAndAtsAgainstTheAnswer) {
    // SAK, UID length 4, UID, the CID byte, ATS 05 78 80 70 02.
    dev->feed(ok_reply({0x20, 0x04, 1, 2, 3, 4, 0x00, 0x05, 0x78, 0x80, 0x70, 0x02}));
    ASSERT_EQ(cpucard_anticoll(&record, 0), 0);
    EXPECT_EQ(record.uid_len, 4);
    EXPECT_EQ(record.ats_len, 5);
    EXPECT_EQ(record.ats[0], 0x05);
    EXPECT_EQ(record.card_status, PICC_STATUS_ACTIVE);

    struct Case {
        Bytes answer;
        const char *why;
    };
    const Case bad[] = {
        {{0x20, 0x0B, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0, 1, 0}, "UID of 11 bytes"},
        {{0x20, 0x04, 1, 2, 3, 4, 0x00, 0x21}, "ATS of 33 bytes"},
        {{0x20, 0x04, 1, 2, 3, 4, 0x00, 0x05, 0x78}, "ATS longer than the answer"},
        {{0x20, 0x07, 1, 2, 3}, "UID longer than the answer"},
        {{0x20}, "no UID length"},
    };
    for (const Case &c : bad) {
        picc fresh{};
        std::memset(fresh.uid, kSentinel, sizeof fresh.uid);
        dev->feed(ok_reply(c.answer));
        errno = 0;
        EXPECT_EQ(cpucard_anticoll(&fresh, 0), -1) << c.why;
        EXPECT_EQ(errno, -16) << c.why;
        EXPECT_EQ(fresh.uid[0], kSentinel) << c.why;
        EXPECT_EQ(fresh.uid_len, 0) << c.why;
    }
}

TEST_F(CardReplies, ExchangeBufferTakesWhatItsLengthByteCounts) {
    unsigned char buffer[300];
    std::memset(buffer, kSentinel, sizeof buffer);
    buffer[0] = 2;
    buffer[1] = 0x00;
    buffer[2] = 0x84;
    dev->feed(ok_reply(Bytes(255, 0x42)));
    ASSERT_EQ(cpucard_read(buffer, 0), 0);
    EXPECT_EQ(buffer[0], 255);
    EXPECT_EQ(buffer[255], 0x42);
    EXPECT_EQ(buffer[256], kSentinel);
    // 256 bytes cannot be counted in the length byte: refused, not copied.
    std::memset(buffer, kSentinel, sizeof buffer);
    buffer[0] = 1;
    dev->feed(ok_reply(Bytes(256, 0x42)));
    errno = 0;
    EXPECT_EQ(cidcard_read(buffer, 0), -1);
    EXPECT_EQ(errno, -16);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[2], kSentinel);
}

TEST_F(CardReplies, CidActivationAnswersOfTheWrongLength) {
    dev->feed(p3_reply({0x00}));  // card protocol 'B'
    dev->feed(ok_reply(Bytes(12, 0x50)));
    errno = 0;
    EXPECT_EQ(cidcard_anticoll(&record, 0), -1);
    EXPECT_EQ(errno, -16);
    dev->feed(p3_reply({0x00}));
    dev->feed(ok_reply({0x50, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    dev->feed(ok_reply({0x08, 0x00, 0x00}));
    errno = 0;
    EXPECT_EQ(cidcard_anticoll(&record, 0), -1) << "ATTRIB answer of 3 bytes";
    EXPECT_EQ(errno, -16);
    EXPECT_EQ(record.uid_len, 13);
    EXPECT_EQ(record.uid[11], 12);
    EXPECT_EQ(record.uid[12], 0) << "the thirteenth byte is zero";
}

TEST_F(CardReplies, CidApduAnswersAreSplitWithinTheirLength) {
    const unsigned char apdu[] = {0x00, 0xA4, 0x00, 0x00};
    cid_apdu_response r{};
    dev->feed(ok_reply({0x90, 0x00, 0x77}));
    ASSERT_EQ(cidApduWithBytesEx(&record, apdu, 4, &r), 1);
    EXPECT_EQ(r.sw, 0x9000);
    EXPECT_EQ(r.len, 0);
    dev->feed(ok_reply({0xAB, 0xCD, 0x62, 0x82, 0x00}));
    ASSERT_EQ(cidApduWithBytesEx(&record, apdu, 4, &r), 1);
    EXPECT_EQ(r.sw, 0x6282);
    EXPECT_EQ(r.len, 2);
    EXPECT_EQ(r.data[1], 0xCD);
    // Shorter than a status word, or more data than the record counts.
    for (const Bytes &answer : {Bytes{0x90, 0x00}, Bytes{}, Bytes(256 + 3, 0x11)}) {
        dev->feed(ok_reply(answer));
        errno = 0;
        EXPECT_EQ(cidApduWithBytesEx(&record, apdu, 4, &r), 0) << answer.size();
        EXPECT_EQ(errno, -16);
    }
    EXPECT_EQ(cidApduWithBytesEx(&record, apdu, 0, &r), 0);
    EXPECT_EQ(cidApduWithBytesEx(&record, apdu, 2047, &r), 0);
    EXPECT_EQ(dev->unread(), 0u);

    // READ BINARY: a piece longer than asked would overrun the caller.
    unsigned char out[8];
    std::memset(out, kSentinel, sizeof out);
    int count = -1;
    dev->feed(ok_reply({1, 2, 3, 4, 5, 0x90, 0x00, 0x00}));
    EXPECT_EQ(readBin(&record, out, 4, 8, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(out[0], kSentinel);
    EXPECT_EQ(readBin(&record, out, 0, 8, &count), 0) << "no chunk";
}

TEST_F(CardReplies, UltralightAndIdentityAnswersTooShort) {
    dev->feed(ok_reply({0x00, 0x07, 1, 2, 3, 4, 5, 6}));  // one UID byte missing
    errno = 0;
    EXPECT_EQ(m0ul_anticoll(&record, 0), -1);
    EXPECT_EQ(errno, -16);
    EXPECT_EQ(record.uid_len, 0);
    unsigned char page[4];
    dev->feed(ok_reply({1, 2, 3}));
    EXPECT_EQ(m0ulc_read(page, 4), -1);
    unsigned char range[8];
    dev->feed(ok_reply({1, 2, 3, 4, 5, 6, 7}));
    errno = 0;
    EXPECT_EQ(m0ul_readdata(16, 8, range), -1) << "7 bytes for 8";
    EXPECT_EQ(errno, -16);
    dev->feed(p3_reply({0x00}));  // card protocol 'A'
    dev->feed(ok_reply({0x44, 0x00, 0x00}));
    errno = 0;
    EXPECT_EQ(m0ul_req(), -1) << "an ATQA of three bytes";
    EXPECT_EQ(errno, -20);

    // The identity card's identifier: 8 bytes, after the field's reset.
    dev->feed(p3_reply({0x00}));
    dev->feed(p3_reply({0x00}));
    dev->feed(ok_reply({1, 2, 3, 4, 5, 6, 7}));
    errno = 0;
    EXPECT_EQ(identity_anticoll(&record, 0), -1);
    EXPECT_EQ(errno, -16);
    EXPECT_EQ(record.uid_len, 0);
}

// ------------------------------------------------------------------ SAM

TEST(SamFrames, RequestFrameAndStatusTable) {
    uint8_t frame[16];
    const uint8_t parameter = 0xFF;
    ASSERT_EQ(sam_searial(0x10, &parameter, 1, frame), 10);
    EXPECT_EQ(Bytes(frame, frame + 10), (Bytes{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x10, 0xFF, 0xEC}));
    EXPECT_EQ(sam_searial(0x10, nullptr, 1, frame), -1);
    EXPECT_EQ(sam_searial(0x10, &parameter, -1, frame), -1);

    struct Case {
        uint8_t sw1, sw2, sw3;
        int result;
    };
    const Case table[] = {
        {0, 0, 0x90, 0},     {0, 0, 0x9F, 0},     {1, 0, 0x90, -99},  {1, 0, 0x31, -129}, {0, 7, 0x32, -130},
        {0, 0, 0x10, -127},  {0, 0, 0x11, -126},  {0, 0, 0x21, -128}, {0, 0, 0x23, -125}, {0, 0, 0x33, -131},
        {0, 0, 0x37, -132},  {0, 0, 0x3F, -133},  {9, 9, 0x40, -134}, {9, 9, 0x41, -135}, {9, 9, 0x47, -136},
        {0, 0, 0x60, -137},  {0, 0, 0x66, -138},  {0, 0, 0x80, -30},  {1, 1, 0x81, -37},  {0, 0, 0x91, -139},
        {0, 1, 0x91, -99},   {0, 0, 0x55, -99},   {0, 0, 0x24, -99},
    };
    for (const Case &c : table) {
        const uint8_t sw[3] = {c.sw1, c.sw2, c.sw3};
        EXPECT_EQ(sam_check_state(sw), c.result) << int(c.sw1) << " " << int(c.sw2) << " " << int(c.sw3);
    }
    EXPECT_EQ(sam_check_state(nullptr), -99);
}

TEST(SamFrames, AnswersRefusedBeforeAnythingIsCopied) {
    sam_answer out;
    std::memset(&out, kSentinel, sizeof out);
    const Bytes good = sam_answer_frame({1, 2, 3});
    ASSERT_EQ(sam_unserial(good.data(), static_cast<int>(good.size()), &out), 0);
    EXPECT_EQ(out.len, 3);
    EXPECT_EQ(out.data[2], 3);
    EXPECT_EQ(out.sw3, 0x90);

    Bytes bad_preamble = good;
    bad_preamble[4] = 0x68;
    Bytes bad_check = good;
    bad_check.back() ^= 1;
    const Bytes long_field = sam_answer_frame({1, 2, 3}, 0x90, 1);
    const Bytes failed = sam_answer_frame({}, 0x41);
    for (const Bytes &f : {bad_preamble, bad_check, long_field, Bytes(good.begin(), good.begin() + 10), failed}) {
        std::memset(&out, kSentinel, sizeof out);
        EXPECT_EQ(sam_unserial(f.data(), static_cast<int>(f.size()), &out), -1);
        EXPECT_EQ(out.len, static_cast<int32_t>(0xA5A5A5A5)) << "nothing written";
        EXPECT_EQ(out.data[0], kSentinel);
    }
    EXPECT_EQ(errno, -135) << "the SAM's own failure is the code";
    EXPECT_EQ(sam_unserial(nullptr, 11, &out), -1);
    // The reader's short answer keeps the full answer's length field.
    EXPECT_EQ(sam_unserial_shortcut(good.data(), static_cast<int>(good.size()), &out), -1);
    const Bytes shortcut = sam_answer_frame({1, 2, 3}, 0x90, 1280);
    EXPECT_EQ(sam_unserial_shortcut(shortcut.data(), static_cast<int>(shortcut.size()), &out), 0);
    EXPECT_EQ(sam_unserial(shortcut.data(), static_cast<int>(shortcut.size()), &out), -1);
}

class SamReads : public ::testing::Test {
protected:
    void SetUp() override {
        picc_regapi(VR_FAMILY_FIRST);
        dev = &ScriptedDevice::install(3, 100);
        std::memset(text, kSentinel, sizeof text);
        std::memset(photo, kSentinel, sizeof photo);
    }
    int read() {
        return sam_read_text_photo(text, &text_length, photo, &photo_length);
    }
    ScriptedDevice *dev = nullptr;
    unsigned char text[SAM_TEXT_MAX + 8];
    unsigned char photo[SAM_PHOTO_MAX + 8];
    int text_length = SAM_TEXT_MAX + 8;
    int photo_length = SAM_PHOTO_MAX + 8;
};

TEST_F(SamReads, RecordLengthsAreCheckedBeforeAnyCopy) {
    // A text of 257 bytes: refused before anything is copied.
    dev->feed(ok_reply(sam_answer_frame(record_data({257, 0}, 257))));
    EXPECT_EQ(read(), -1);
    EXPECT_EQ(text[0], kSentinel);
    EXPECT_EQ(text_length, SAM_TEXT_MAX + 8);
    // Lengths the data does not hold.
    dev->feed(ok_reply(sam_answer_frame(record_data({10, 20}, 29))));
    EXPECT_EQ(read(), -1);
    EXPECT_EQ(text[0], kSentinel);
    // No room for even the lengths.
    dev->feed(ok_reply(sam_answer_frame({0x00, 0x01, 0x00})));
    EXPECT_EQ(read(), -1);
    // A photo of exactly 1024 bytes is fine; each record lands in its
    // buffer and no further.
    dev->feed(ok_reply(sam_answer_frame(record_data({4, 1024}, 4 + 1024))));
    ASSERT_EQ(read(), 0);
    EXPECT_EQ(text_length, 4);
    EXPECT_EQ(photo_length, 1024);
    EXPECT_EQ(text[3], 3);
    EXPECT_EQ(text[4], kSentinel);
    EXPECT_EQ(photo[0], 4);
    EXPECT_EQ(photo[1024], kSentinel);
}

TEST_F(SamReads, FingerprintAloneFromTheShortAnswer) {
    unsigned char finger[SAM_FINGER_MAX];
    int finger_length = sizeof finger;
    // Lengths 256, 1024, 6 and then only the fingerprint; the length field
    // counts the 1280 bytes left out.
    Bytes data = record_data({256, 1024, 6}, 0);
    data.insert(data.end(), {9, 8, 7, 6, 5, 4});
    dev->feed(ok_reply(sam_answer_frame(data, 0x90, 1280)));
    ASSERT_EQ(sam_read_finger(finger, &finger_length), 0);
    EXPECT_EQ(finger_length, 6);
    EXPECT_EQ(finger[5], 4);
    // A fingerprint of 1025 bytes is refused.
    Bytes too_long = record_data({256, 1024, 1025}, 0);
    dev->feed(ok_reply(sam_answer_frame(too_long, 0x90, 1280)));
    EXPECT_EQ(sam_read_finger(finger, &finger_length), -1);
}

}  // namespace
