// The USB links' reports and keep-alive timer, without a device: frames cut
// into reports and glued back (against the simulated reader's side of the
// same framing), reports a device should not have sent, and the timer's
// rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "log_capture.h"
#include "port/usb_attachments.h"
#include "port/usb_keep_alive.h"
#include "port/usb_reports.h"
#include "usb_device.h"

namespace {

using namespace std::chrono_literals;
using vr::port::usb::Assembler;
using vr::port::usb::Layout;
using Bytes = std::vector<uint8_t>;

Bytes counting(int n, uint8_t first = 0x02) {
    Bytes b(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) b[static_cast<size_t>(i)] = static_cast<uint8_t>(i == 0 ? first : i);
    return b;
}

Bytes cut(const Bytes &message, int size) {
    Bytes out(1024, 0xEE);
    const int n = vr::port::usb::cut_message(message.data(), static_cast<int>(message.size()), size, out.data(),
                                             static_cast<int>(out.size()));
    out.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return out;
}

TEST(UsbReports, FramesAreCutAsTheDeviceExpects) {
    // A 100-byte frame in 48-byte reports: three, markers 82 02, 82 02, 02 02.
    const Bytes frame = counting(100);
    const Bytes r = cut(frame, 48);
    ASSERT_EQ(r.size(), 3u * 48);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 2), (Bytes{0x82, 0x02}));
    EXPECT_TRUE(std::equal(frame.begin() + 2, frame.begin() + 48, r.begin() + 2));
    EXPECT_EQ(Bytes(r.begin() + 48, r.begin() + 50), (Bytes{0x82, 0x02}));
    EXPECT_TRUE(std::equal(frame.begin() + 48, frame.begin() + 94, r.begin() + 50));
    EXPECT_EQ(Bytes(r.begin() + 96, r.begin() + 98), (Bytes{0x02, 0x02}));
    EXPECT_TRUE(std::equal(frame.begin() + 94, frame.end(), r.begin() + 98));
    EXPECT_TRUE(std::all_of(r.begin() + 104, r.end(), [](uint8_t b) { return b == 0; }));
    // A 20-byte frame in a 32-byte report: as it is, 12 zeros after it.
    const Bytes one = cut(counting(20), 32);
    ASSERT_EQ(one.size(), 32u);
    EXPECT_TRUE(std::equal(one.begin(), one.begin() + 20, counting(20).begin()));
    EXPECT_TRUE(std::all_of(one.begin() + 20, one.end(), [](uint8_t b) { return b == 0; }));
    // Too long to send, or nothing to send.
    EXPECT_TRUE(cut(counting(263), 48).empty());
    EXPECT_TRUE(cut(Bytes{}, 48).empty());
    // Room for fewer reports than the frame needs.
    Bytes small(2 * 48);
    EXPECT_EQ(vr::port::usb::cut_message(frame.data(), 100, 48, small.data(), static_cast<int>(small.size())), -1);
}

// Every frame length, through each attachment, both ways: what the host
// cuts, the reader's side glues back to the same frame; what the reader
// cuts, the host glues back to the same bytes (the reader's zero padding
// after a long frame's end is left for the framing to skip).
TEST(UsbReports, EveryLengthRoundTripsThroughEachAttachment) {
    for (const auto &a : vr::port::usb::kAttachments) {
        SCOPED_TRACE(a.type);
        const auto kind = *vrsim::usb_kind_named(a.type);
        const int protocol = a.layout == Layout::protocol6 ? 6 : 3;
        for (int body = 1; body <= 255; ++body) {
            // Host to reader: a request frame.
            vrsim::Bytes data(static_cast<size_t>(body), 0x5A);
            const vrsim::Bytes frame =
                vrsim::encode_host_frame(protocol, vrsim::request_body(protocol, 0x0F02, data));
            if (frame.size() > 262) break;
            vrsim::UsbReports reader(kind);
            const Bytes reports = cut(frame, a.report_size);
            vrsim::Bytes got;
            for (size_t at = 0; at < reports.size(); at += static_cast<size_t>(a.report_size)) {
                const vrsim::Bytes r =
                    reader.from_host(vrsim::ByteView(reports).subspan(at, static_cast<size_t>(a.report_size)), protocol);
                if (!r.empty()) got = r;
            }
            ASSERT_EQ(got, frame) << body;
        }
        for (int body = 1; body <= 600; body += 7) {
            // Reader to host: a reply frame.
            const vrsim::Bytes reply = vrsim::encode_reply_frame(protocol, 0, vrsim::Bytes(static_cast<size_t>(body), 0xC3));
            Assembler host(a.layout, a.report_size);
            Bytes glued;
            for (const vrsim::Bytes &r : vrsim::UsbReports(kind).to_host(reply)) {
                uint8_t piece[64];
                const int n = host.take(r.data(), static_cast<int>(r.size()), piece);
                ASSERT_GE(n, 0) << body;
                glued.insert(glued.end(), piece, piece + n);
            }
            EXPECT_FALSE(host.continuing());
            ASSERT_GE(glued.size(), reply.size()) << body;
            EXPECT_TRUE(std::equal(reply.begin(), reply.end(), glued.begin())) << body;
            EXPECT_TRUE(std::all_of(glued.begin() + static_cast<long>(reply.size()), glued.end(),
                                    [](uint8_t b) { return b == 0; }));
        }
    }
}

// What a device sends is untrusted: a report that claims more than it
// holds is refused whole, nothing is written past the frame bytes it
// carries, and the assembler's state stays as it was.
TEST(UsbReports, ReportsClaimingMoreThanTheyHoldAreRefused) {
    struct Case {
        const char *what;
        Layout layout;
        int size;
        Bytes report;
        int valid;
        bool continuing;
    };
    Bytes long_length(48, 0);
    long_length[0] = 0x02, long_length[1] = 0x02, long_length[2] = 43;  // 43 + 6 > 48
    Bytes high_length(48, 0);
    high_length[0] = 0x02, high_length[3] = 0x01;  // 256 + 6
    Bytes p6_length(32, 0);
    p6_length[0] = 0x02, p6_length[3] = 28;  // 28 + 5 > 32
    Bytes short_whole(48, 0);
    short_whole[0] = 0x02, short_whole[2] = 10;  // 16 bytes of frame, 12 sent
    Bytes first_of_long(32, 0x11);
    first_of_long[0] = 0x82;
    const Case cases[] = {
        {"length beyond the report", Layout::protocol3, 48, long_length, 48, false},
        {"high length byte", Layout::protocol3, 48, high_length, 48, false},
        {"protocol 6 length beyond the report", Layout::protocol6, 32, p6_length, 32, false},
        {"whole frame longer than what came", Layout::protocol3, 48, short_whole, 12, false},
        {"start of a long frame cut short", Layout::protocol3, 32, first_of_long, 31, false},
        {"continuation cut short", Layout::protocol3, 32, Bytes(32, 0x02), 20, true},
        {"more than a report", Layout::protocol3, 31, Bytes(32, 0x02), 32, false},
        {"too short to hold a length", Layout::protocol6, 32, Bytes(32, 0x02), 3, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Assembler host(c.layout, c.size);
        if (c.continuing) {
            Bytes start(static_cast<size_t>(c.size), 0x33);
            start[0] = 0x82;
            uint8_t scratch[64];
            ASSERT_EQ(host.take(start.data(), c.size, scratch), c.size);
        }
        uint8_t out[128];
        std::fill(std::begin(out), std::end(out), 0xEE);
        EXPECT_EQ(host.take(c.report.data(), c.valid, out), -1);
        EXPECT_TRUE(std::all_of(std::begin(out), std::end(out), [](uint8_t b) { return b == 0xEE; }));
        EXPECT_EQ(host.continuing(), c.continuing);
    }
    // A whole frame is copied up to its end and no further.
    Bytes whole(48, 0x77);
    whole[0] = 0x02, whole[1] = 0x02, whole[2] = 3, whole[3] = 0;
    uint8_t out[128];
    std::fill(std::begin(out), std::end(out), 0xEE);
    Assembler host(Layout::protocol3, 48);
    EXPECT_EQ(host.take(whole.data(), 9, out), 9);
    EXPECT_EQ(out[9], 0xEE);
}

// Received bytes thrown away in the middle of a long frame: without a
// reset, the next reply's report would be taken for that frame's end and
// lose its head.
TEST(UsbReports, AResetForgetsALongFrameUnderWay) {
    Assembler host(Layout::protocol3, 32);
    Bytes start(32, 0x44);
    start[0] = 0x82;
    uint8_t out[64];
    ASSERT_EQ(host.take(start.data(), 32, out), 32);
    ASSERT_TRUE(host.continuing());
    host.reset();
    const vrsim::Bytes reply = vrsim::encode_reply_frame(3, 0, vrsim::Bytes{1, 2, 3});
    vrsim::Bytes report = reply;
    report.resize(32, 0);
    ASSERT_EQ(host.take(report.data(), 32, out), static_cast<int>(reply.size()));
    EXPECT_TRUE(std::equal(reply.begin(), reply.end(), out));
}

// ------------------------------------------------------------ keep-alive

std::atomic<int> g_runs{0};
std::atomic<vr::port::KeepAliveResult> g_result{vr::port::KeepAliveResult::sent};

vr::port::KeepAliveResult counted_action() {
    ++g_runs;
    return g_result.load();
}

template <typename Pred>
bool eventually(Pred pred, std::chrono::milliseconds limit = 2000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

TEST(UsbKeepAlive, FiresAfterSilenceAndAgainEachPeriod) {
    g_runs = 0;
    g_result = vr::port::KeepAliveResult::sent;
    vrtest::LogCapture log;
    vr::port::usb::KeepAlive timer(30ms, 40, counted_action);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(g_runs, 0) << "not armed yet";
    timer.arm();
    EXPECT_TRUE(eventually([] { return g_runs >= 3; }));
    EXPECT_TRUE(log.contains("usbhid handler:  keep-alive packet sended"));
    // Traffic cancels it until the next arm.
    timer.cancel();
    const int runs = g_runs;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(g_runs, runs);
}

TEST(UsbKeepAlive, ArmingAgainPostponesIt) {
    g_runs = 0;
    g_result = vr::port::KeepAliveResult::sent;
    vr::port::usb::KeepAlive timer(500ms, 40, counted_action);
    const auto until = std::chrono::steady_clock::now() + 800ms;
    while (std::chrono::steady_clock::now() < until) {
        timer.arm();
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(g_runs, 0);
}

TEST(UsbKeepAlive, GivesUpAfterTooManyFailures) {
    g_runs = 0;
    g_result = vr::port::KeepAliveResult::failed;
    vrtest::LogCapture log;
    vr::port::usb::KeepAlive timer(1ms, 40, counted_action);
    timer.arm();
    ASSERT_TRUE(eventually([] { return g_runs >= 41; }));
    EXPECT_TRUE(eventually([&] { return !timer.armed(); }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(g_runs, 41) << "stays off after the 41st failure";
    EXPECT_TRUE(log.contains("usbhid handler: the usb device detahced"));
    // A busy link is neither a success nor a failure: it tries again.
    g_runs = 0;
    g_result = vr::port::KeepAliveResult::busy;
    timer.arm();
    EXPECT_TRUE(eventually([] { return g_runs >= 50; }));
}

// The keep-alive's own exchange may close the link (the exchange's run of
// failures), which stops the timer from its own thread.
vr::port::usb::KeepAlive *g_self = nullptr;
std::atomic<bool> g_stopped{false};
std::atomic<int> g_closing_runs{0};
vr::port::KeepAliveResult closing_action() {
    ++g_closing_runs;
    g_self->stop();
    g_stopped = true;
    return vr::port::KeepAliveResult::failed;
}

TEST(UsbKeepAlive, StoppedFromItsOwnThread) {
    g_stopped = false;
    g_closing_runs = 0;
    auto timer = std::make_unique<vr::port::usb::KeepAlive>(1ms, 40, closing_action);
    g_self = timer.get();
    timer->arm();
    ASSERT_TRUE(eventually([] { return g_stopped.load(); }));
    // A failed exchange would re-arm a 1 ms period: once stopped, it stays
    // quiet over many periods.
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(g_closing_runs, 1);
    EXPECT_FALSE(timer->armed());
    timer.reset();  // the detached thread ends on its own
    std::this_thread::sleep_for(20ms);
}

}  // namespace
