// The modem device: opening and its failures stage by stage, parking and
// re-using the threads, open/close/plug cycles, delivery of handlers to
// threads that keep going to sleep, and the device operations' refusals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "audio/line.h"
#include "modem/device.h"
#include "modem/jack.h"
#include "sound_link.h"
#include "suart.h"
#include "sys.h"
#include "tessil.h"
#include "thread_count.h"

namespace {

using vrtest::SoundLink;
namespace line = vr::audio::line;

using vrtest::thread_count;

// Waits (bounded) until every modem thread is asleep.
bool all_asleep() {
    for (int i = 0; i < 300; ++i) {
        if (suart_get_sleep_flag(SUART_THREAD_SEND) && suart_get_sleep_flag(SUART_THREAD_RECV) &&
            suart_get_sleep_flag(SUART_THREAD_MONITOR))
            return true;
        sys_delay_nus(10000);
    }
    return false;
}

bool stacks_empty() {
    for (auto *top : vr::modem::state().stacks)
        if (top) return false;
    return true;
}

class ModemDevice : public SoundLink {
protected:
    void SetUp() override { ASSERT_EQ(suart_init(0), 0); }
    int open_errno() {
        errno = 0;
        return suart_open() == 0 ? 0 : errno;
    }
};

TEST_F(ModemDevice, NoHeadsetFailsAfterPolling) {
    ASSERT_TRUE(vr::audio::select("line"));  // nothing on the line
    EXPECT_EQ(open_errno(), -80);
    EXPECT_EQ(suart_get_plugstat(), '0');
}

// The line withholds one stage of the opening at a time; each failure has
// its own code, and the threads made by the first open serve every later
// one.
TEST_F(ModemDevice, EachWithheldStageHasItsCode) {
    vr::modem::set_jack_settle_ms(20);
    start_reader();
    struct Case {
        unsigned withheld;
        int code;
    };
    const Case cases[] = {
        {line::kWithholdRecordStream, -72}, {line::kWithholdVolume, -82},
        {line::kWithholdMicrophone, -83},   {line::kWithholdSamples, -10},
        {line::kWithholdReadError, -10},    {line::kWithholdNone, 0},
    };
    for (const Case &c : cases) {
        line::withhold(c.withheld);
        EXPECT_EQ(open_errno(), c.code) << "withheld " << c.withheld;
        line::withhold(line::kWithholdNone);
        suart_close();
    }
}

TEST_F(ModemDevice, SecondOpenReusesTheThreadsAndCloseParksThem) {
    vr::modem::set_jack_settle_ms(20);
    start_reader();
    ASSERT_EQ(suart_open(), 0);
    suart_state &s = vr::modem::state();
    const pthread_t ids[3] = {s.thread_send, s.thread_recv, s.thread_monitor};
    const int threads = thread_count();
    EXPECT_EQ(suart_get_calistat(), 255);
    EXPECT_EQ(suart_get_trackstat(), 255);
    EXPECT_EQ(suart_close(), 0);
    EXPECT_TRUE(all_asleep()) << "close parks, not ends";
    EXPECT_EQ(suart_get_trackstat(), 0);
    ASSERT_EQ(suart_open(), 0);
    EXPECT_TRUE(pthread_equal(ids[0], s.thread_send) && pthread_equal(ids[1], s.thread_recv) &&
                pthread_equal(ids[2], s.thread_monitor));
    EXPECT_EQ(thread_count(), threads);
    // Closing threads that are asleep sends them nothing.
    EXPECT_EQ(suart_close(), 0);
    ASSERT_TRUE(all_asleep());
    EXPECT_EQ(suart_close(), 0);
    EXPECT_TRUE(stacks_empty());
}

// Opening, closing, and now and then pulling the reader out while open:
// no thread more or less, no handler left on a stack, and the link works
// at the end.
TEST_F(ModemDevice, OpenClosePlugCycles) {
    vr::modem::set_jack_settle_ms(5);
    start_reader();
    ASSERT_EQ(suart_open(), 0);
    const int threads = thread_count();
    for (int cycle = 0; cycle < 200; ++cycle) {
        ASSERT_EQ(suart_close(), 0);
        ASSERT_EQ(suart_open(), 0) << "cycle " << cycle << " errno " << errno;
        if (cycle % 20 == 0) {
            line::plug(false);
            while (suart_get_plugstat() != '0') sys_delay_nus(5000);
            line::plug(true);
            while (suart_get_calistat() != 255 || suart_get_trackstat() != 255) sys_delay_nus(5000);
        }
    }
    EXPECT_EQ(thread_count(), threads);
    ASSERT_EQ(suart_close(), 0);
    ASSERT_TRUE(all_asleep());
    EXPECT_TRUE(stacks_empty());
}

std::atomic<int> g_handled{0};
void count_handler() { ++g_handled; }

// Senders on several threads hammer the three modem threads with handlers
// while those keep going back to sleep (or, for the monitor, to its naps):
// every handler is delivered and run exactly once.
TEST_F(ModemDevice, NoWakeUpIsLost) {
    ASSERT_TRUE(vr::audio::select("line"));
    ASSERT_EQ(open_errno(), -80);  // the threads exist and are idle
    constexpr int kPerSender = 150;
    const int targets[] = {SUART_THREAD_SEND, SUART_THREAD_RECV, SUART_THREAD_MONITOR};
    std::atomic<int> refused{0};
    std::vector<std::thread> senders;
    for (int target : targets) {
        senders.emplace_back([target, &refused] {
            for (int i = 0; i < kPerSender; ++i)
                if (suart_send_signal(SUART_THREAD_APP, target, count_handler) != 0) ++refused;
        });
    }
    for (auto &t : senders) t.join();
    EXPECT_EQ(refused.load(), 0);
    for (int i = 0; i < 200 && g_handled.load() < 3 * kPerSender; ++i) sys_delay_nus(5000);
    EXPECT_EQ(g_handled.load(), 3 * kPerSender);
    EXPECT_TRUE(stacks_empty());
}

TEST_F(ModemDevice, WritesThatCannotQueue) {
    vr::modem::set_jack_settle_ms(20);
    start_reader();
    ASSERT_EQ(suart_open(), 0);
    std::vector<uint8_t> big(2927, 0x55);
    errno = 0;
    EXPECT_EQ(suart_write(big.data(), static_cast<int>(big.size())), -1) << "larger than the ring";
    EXPECT_EQ(errno, -46);
    ASSERT_EQ(suart_close(), 0);
    // The send side is stopped: a full ring is refused at once.
    ASSERT_EQ(suart_write(big.data(), 2926), 2926);
    errno = 0;
    EXPECT_EQ(suart_write(big.data(), 1), -1);
    EXPECT_EQ(errno, -46);
}

TEST_F(ModemDevice, RefusedOperations) {
    struct Case {
        const char *what;
        std::function<int()> call;
        int code;  // errno afterwards, 0: none set
    };
    const Case cases[] = {
        {"flush 0", [] { return suart_flush(0); }, -24},
        {"flush 4", [] { return suart_flush(4); }, -24},
        {"drain", [] { return suart_drain(); }, -22},
        {"carrier below 20 Hz", [] { return suart_set_carier_freq(0, 19); }, 0},
        {"carrier direction 2", [] { return suart_set_carier_freq(2, 5512); }, -24},
        {"signal to thread 3", [] { return suart_send_signal(SUART_THREAD_APP, 3, count_handler); }, 0},
        {"read nothing", [] { return suart_read(nullptr, 1); }, -24},
    };
    for (const Case &c : cases) {
        errno = 0;
        EXPECT_EQ(c.call(), -1) << c.what;
        EXPECT_EQ(errno, c.code) << c.what;
    }
}

// The kernel's switch files: the first that reads '1' or '2' decides,
// else the last one read.
TEST(ModemJack, SwitchFiles) {
    char dir[] = "/tmp/vr-jack-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string base = dir;
    const std::string paths[3] = {base + "/h2w", base + "/usb", base + "/hdmi"};
    struct Case {
        const char *contents[3];  // null: no file
        int jack;
    };
    const Case cases[] = {
        {{"1\n", "0", "0"}, '2'},     {{"2", "1", nullptr}, '1'},  {{"0", nullptr, "1"}, '2'},
        {{"0", "0", "0"}, '0'},       {{nullptr, nullptr, nullptr}, -1}, {{"x", nullptr, nullptr}, -1},
    };
    for (const Case &c : cases) {
        const char *list[3];
        for (int i = 0; i < 3; ++i) {
            unlink(paths[i].c_str());
            if (c.contents[i]) {
                FILE *f = std::fopen(paths[i].c_str(), "w");
                ASSERT_NE(f, nullptr);
                std::fputs(c.contents[i], f);
                std::fclose(f);
            }
            list[i] = paths[i].c_str();
        }
        EXPECT_EQ(vr::modem::jack_from_switch_files(list, 3), c.jack);
    }
    for (const auto &p : paths) unlink(p.c_str());
    rmdir(dir);
}

}  // namespace
