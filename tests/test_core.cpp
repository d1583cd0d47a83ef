// Core: error tables, status translation, rings, symbol decoding, counted
// buffers, logging, clock, and the all-zero state record.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <string>

#include "log.h"
#include "log_capture.h"
#include "picc.h"
#include "ringbuf.h"
#include "stbuff.h"
#include "sys.h"
#include "tessil.h"

namespace {

constexpr const char *kGeneralZh = "通用错误";

TEST(ErrorMessages, EnglishAndChineseByCode) {
    struct Row {
        int code;
        const char *en;  // null: the platform's strerror text
        const char *zh;
    };
    const Row rows[] = {
        {0, "success", "执行成功"},
        {-10, "fail to open the port", "打开通信设备失败，请检查系统设置或权限"},
        {-19, "received message crc check wrong", "消息收取校验失败，请检查通信设备或权限"},
        {-22, "not such command", "当前设备不支持该操作,详情请联系技术支持"},
        {-32, "fail to execute reqa/reqb", "感应区内没有发现IC卡，请将正确的IC卡放置于感应区"},
        {-49, nullptr, "通信设备尚未打开"},
        {-57, "fail to authenticate,please download the password again", "EEPROM密码验证失败，请重新下载密码"},
        {-72, "fail to  access jack error", "麦克风访问失败"},
        {-80, nullptr, "设备已拔出，操作前请先插入设备"},
        {-99, "unknown error", "未知错误"},
        {-105, "verify faily", "数据不匹配，校验失败"},
        {-114, nullptr, "指令长度错误"},
        {-139, nullptr, "身份证中无此项内容"},
        // codes the library sets without a message of their own
        {-61, nullptr, kGeneralZh},
        {-41, nullptr, kGeneralZh},
        {-106, nullptr, kGeneralZh},
        {1, nullptr, kGeneralZh},
        {-140, nullptr, kGeneralZh},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.code);
        errno = r.code;
        const std::string english = sys_strerror();  // may be the platform's reused buffer
        EXPECT_EQ(english, r.en ? std::string(r.en) : std::string(strerror(r.code)));
        EXPECT_STREQ(sys_strerror_ch(r.code), r.zh);
        EXPECT_STREQ(picc_strerror(r.code), r.zh);
    }
}

TEST(StatusTranslation, FirstFamilyStoresCodeInErrno) {
    const std::pair<int, int> rows[] = {
        {0x0A, -21}, {0x0B, -22}, {0x0C, -24}, {0x0D, -30}, {0x0E, -31}, {0x14, -32}, {0x15, -32},
        {0x16, -34}, {0x17, -35}, {0x18, -36}, {0x1E, -52}, {0x1F, -53}, {0x20, -54}, {0x21, -55},
        {0x22, -56}, {0x23, -57}, {0x24, -58}, {0x25, -58}, {0x05, -99}, {0x7F, -99}, {0x8E, -114},
        {0x8F, -113}, {0x91, -111}, {0x75, -99}, {0xFF, -1}, {0x80, -128},
    };
    for (auto [status, code] : rows) {
        SCOPED_TRACE(status);
        errno = 12345;
        EXPECT_EQ(return_code(status), -1);
        EXPECT_EQ(errno, code);
    }
    errno = 7;
    EXPECT_EQ(return_code(0), 0);
    EXPECT_EQ(errno, 0);
}

TEST(StatusTranslation, SecondFamilyReturnsCodeAndLeavesErrno) {
    const std::pair<int, int> rows[] = {
        {-215, -71}, {-214, -70}, {-211, -69}, {-194, -68}, {-115, -67}, {-82, -66}, {-81, -65},
        {-80, -64},  {-66, -14},  {-64, -14},  {-17, -14},  {-16, -14},  {-65, -13}, {-49, -15},
        {-48, -15},  {-36, -10},  {-34, -10},  {-33, -10},  {-32, -10},  {-35, -11}, {1, -30},
        {2, -16},    {5, -16},    {21, -16},   {3, -24},    {9, -24},    {100, -24}, {124, -24},
        {4, -34},    {10, -34},   {6, -14},    {27, -14},   {8, -62},    {24, -62},  {11, -35},
        {12, -35},   {18, -35},   {15, -36},   {16, -36},   {17, -36},   {19, -63},  {25, -38},
        {26, -22},   {60, -22},   {0, -99},    {7, -99},    {-1, -99},
    };
    for (auto [status, code] : rows) {
        SCOPED_TRACE(status);
        errno = 4242;
        EXPECT_EQ(dc_errno_transform(status), code);
        EXPECT_EQ(errno, 4242);
    }
}

class RingTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ringbuf_create(&ring, 4), 0); }
    void TearDown() override { ringbuf_destroy(&ring); }
    ringbuf ring{};
};

TEST_F(RingTest, AllOrNothingInOrderAcrossTheWrap) {
    const uint8_t in[4] = {1, 2, 3, 4};
    EXPECT_EQ(ringbuf_insert(&ring, in, 4), 4);
    EXPECT_EQ(ringbuf_insert(&ring, in, 1), -1);
    EXPECT_EQ(ringbuf_free(&ring), 0);
    uint8_t out[5] = {0, 0, 0, 0, 0xEE};
    EXPECT_EQ(ringbuf_delete(&ring, out, 5), -1);
    EXPECT_EQ(out[0], 0) << "a refused delete takes nothing";
    EXPECT_EQ(ringbuf_len(&ring), 4);
    EXPECT_EQ(ringbuf_delete(&ring, out, 3), 3);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[2], 3);
    // Wrap around the end of the storage.
    const uint8_t more[3] = {5, 6, 7};
    EXPECT_EQ(ringbuf_insert(&ring, more, 3), 3);
    EXPECT_EQ(ringbuf_front(&ring), 4);
    EXPECT_EQ(ringbuf_rear(&ring), 7);
    EXPECT_EQ(ringbuf_delete(&ring, out, 4), 4);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{4, 5, 6, 7}));
    EXPECT_EQ(ringbuf_empty(&ring), 0);
}

TEST_F(RingTest, FrontOfByteFFLooksLikeEmpty) {
    EXPECT_EQ(ringbuf_front(&ring), -1);
    EXPECT_EQ(ringbuf_empty(&ring), 0);
    const uint8_t ff = 0xFF;
    ringbuf_insert(&ring, &ff, 1);
    EXPECT_EQ(ringbuf_empty(&ring), -1);
    EXPECT_EQ(ringbuf_front(&ring), -1);
    EXPECT_EQ(ringbuf_flush(&ring), 0);
    EXPECT_EQ(ringbuf_len(&ring), 0);
}

TEST(CountedBuffer, OwnsItsCopy) {
    const char text[] = "abc";
    stbuff *b = stbuff_create(text, 3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(stbuff_length(b), 3);
    EXPECT_NE(stbuff_data(b), reinterpret_cast<const unsigned char *>(text));
    EXPECT_EQ(std::memcmp(stbuff_data(b), "abc", 3), 0);
    EXPECT_EQ(stbuff_replace(b, "hello", 5), 0);
    EXPECT_EQ(stbuff_length(b), 5);
    stbuff_delete(b);

    EXPECT_EQ(stbuff_create(text, -1), nullptr);
    stbuff *empty = stbuff_create(nullptr, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(stbuff_length(empty), -1);
    EXPECT_EQ(stbuff_data(empty), nullptr);
    EXPECT_EQ(stbuff_replace(empty, "x", 1), 0);
    EXPECT_EQ(stbuff_replace(empty, nullptr, 0), 0);
    EXPECT_EQ(stbuff_length(empty), -1);
    EXPECT_EQ(stbuff_length(nullptr), -1);
    // A record of length 0 is not freed by stbuff_delete: free it here.
    stbuff_delete(empty);
    free(empty);
}

TEST(Logging, PrefixLevelsAndSilentDebug) {
    vrtest::LogCapture log;
    EXPECT_GT(log_print(1, "boom %d", 42), 0);
    EXPECT_EQ(log_print(3, "debug"), 3);
    EXPECT_EQ(log_print(4, "nope"), 4);
    EXPECT_EQ(log_print(0, "nope"), 0);
    EXPECT_EQ(log_print(2, nullptr), 2);
    log_print(2, "info");
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    const std::regex prefix(R"(^<E> \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} boom 42$)");
    EXPECT_TRUE(std::regex_match(lines[0], prefix)) << lines[0];
    EXPECT_EQ(lines[1].rfind("<I> ", 0), 0u);
    va_list none{};
    EXPECT_EQ(log_vprint(2, "x", none), 2);
    EXPECT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(format_display("abc", 3, 1), 0);
}

TEST(Clock, TickCountWorksWhileTheOtherClockIsUnsupported) {
    errno = 0;
    EXPECT_EQ(sys_get_tickcount(), -1);
    EXPECT_EQ(errno, -22);
    const uint32_t a = getTickCount();
    sys_delay_nus(20000);
    const uint32_t elapsed = getTickCount() - a;
    EXPECT_GE(elapsed, 19u);
}

TEST(StateRecord, AllZeroAtLoadWithReadyLocks) {
    const tessil_t zero{};
    EXPECT_EQ(std::memcmp(&tessil, &zero, sizeof zero), 0);
    // The statically initialised mutex is all zero, so the record's locks
    // work without any set-up.
    const pthread_mutex_t initialiser = PTHREAD_MUTEX_INITIALIZER;
    const pthread_mutex_t zeroed{};
    EXPECT_EQ(std::memcmp(&initialiser, &zeroed, sizeof zeroed), 0);
    EXPECT_EQ(pthread_mutex_trylock(&tessil.api_lock), 0);
    pthread_mutex_unlock(&tessil.api_lock);
}

}  // namespace
