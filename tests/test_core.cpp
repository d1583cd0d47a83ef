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

TEST(ErrorMessages, EveryCodeHasBothLanguagesAndTheLookupKeepsItsPlace) {
    // Both texts for every code the library knows, and the same Chinese
    // text through picc_strerror; the lookup of one code never lands on a
    // neighbour's row.
    for (int code = 0; code >= -139; --code) {
        SCOPED_TRACE(code);
        errno = code;
        const std::string english = sys_strerror();  // may be the platform's reused buffer
        EXPECT_FALSE(english.empty());
        ASSERT_NE(sys_strerror_ch(code), nullptr);
        EXPECT_STRNE(sys_strerror_ch(code), "");
        EXPECT_STREQ(picc_strerror(code), sys_strerror_ch(code));
        if (code < 0 && std::strcmp(sys_strerror_ch(code), kGeneralZh) != 0) {
            EXPECT_STRNE(sys_strerror_ch(code), sys_strerror_ch(code + 1)) << "repeats the row above";
        }
    }
    // The ends of the table, a code without an English text, and codes
    // outside the table or in its gaps.
    struct Row {
        int code;
        const char *en;  // null: the platform's strerror text
        const char *zh;
    };
    const Row rows[] = {
        {0, "success", "执行成功"},
        {-10, "fail to open the port", "打开通信设备失败，请检查系统设置或权限"},
        {-49, nullptr, "通信设备尚未打开"},
        {-139, nullptr, "身份证中无此项内容"},
        {-61, nullptr, kGeneralZh},
        {-106, nullptr, kGeneralZh},
        {1, nullptr, kGeneralZh},
        {-140, nullptr, kGeneralZh},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.code);
        errno = r.code;
        const std::string english = sys_strerror();
        EXPECT_EQ(english, r.en ? std::string(r.en) : std::string(strerror(r.code)));
        EXPECT_STREQ(sys_strerror_ch(r.code), r.zh);
    }
}

TEST(StatusTranslation, FirstFamilyStoresCodeInErrno) {
    // The first and last mapped status, two statuses sharing a code, an
    // unmapped positive status, and negative status bytes, which are the
    // reader's own codes.
    const std::pair<int, int> rows[] = {
        {0x0A, -21}, {0x14, -32}, {0x15, -32}, {0x24, -58}, {0x25, -58},
        {0x05, -99}, {0x7F, -99}, {0x80, -128}, {0x8E, -114}, {0xFF, -1},
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
    // The lowest and highest mapped statuses, statuses sharing a code, and
    // unmapped ones on either side of zero.
    const std::pair<int, int> rows[] = {
        {-215, -71}, {-66, -14}, {-17, -14}, {1, -30}, {124, -24},
        {60, -22},   {0, -99},   {-1, -99},  {7, -99}, {125, -99},
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

// The level is the process's switch: 0 silences even errors, 3 lets the
// debug lines and the hex dumps through; a level outside 0..3 is refused and
// changes nothing.
TEST(Logging, RunTimeLevel) {
    vrtest::LogCapture log(0);
    EXPECT_EQ(log_print(1, "quiet"), 1);
    EXPECT_EQ(format_display("abc", 3, 1), 0);
    EXPECT_TRUE(log.lines().empty());

    EXPECT_EQ(log_set_level(3), 0);
    log_print(3, "debug %d", 7);
    EXPECT_EQ(format_display("abc", 3, 1), 0);
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(log.lines()[0].rfind("<D> ", 0), 0u);
    EXPECT_NE(log.lines()[1].find("61 62 63"), std::string::npos) << log.lines()[1];

    errno = 0;
    EXPECT_EQ(log_set_level(4), -1);
    EXPECT_EQ(errno, -22);
    EXPECT_EQ(log_set_level(-1), -1);
    EXPECT_EQ(log_set_level(1), 3);
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
