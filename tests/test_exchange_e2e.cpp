// The command exchange end to end over a pseudo-terminal against the
// simulated reader: frames of every protocol byte for byte, each recovery
// path, the failure counter and the port state machine.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "link/link.h"
#include "log_capture.h"
#include "pcd.h"
#include "sim_link.h"
#include "virt_com.h"

namespace {

using vrsim::Fault;
using vrtest::Bytes;

class Exchange : public vrtest::SimLink {};

TEST_F(Exchange, Protocol3FrameByteForByte) {
    open_link();
    ASSERT_EQ(pcd_set_buzzer(2, 3), 0);
    const auto frames = sim->frames_received();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (Bytes{0x02, 0x02, 0x04, 0x00, 0x0D, 0x01, 0x02, 0x03, 0x13, 0x92, 0x55}));
    EXPECT_EQ(sim->firmware().settings().buzzer, (std::array<uint8_t, 2>{2, 3}));
}

TEST_F(Exchange, Protocol1EndToEnd) {
    open_link(1, 1);
    unsigned char version[16];
    ASSERT_EQ(pcd_get_firmware_version(version), 0);
    EXPECT_EQ(Bytes(version, version + 5), (Bytes{'v', 'a', 'n', 't', 'e'}));
    ASSERT_EQ(pcd_set_led(0xAA, 1), 0);
    // The 0xAA body byte is stuffed; the length field counts the body + 3;
    // the checksum covers the length's high byte through the body.
    EXPECT_EQ(sim->frames_received().back(),
              (Bytes{0xAA, 0xBB, 0x07, 0x00, 0x00, 0x00, 0x0E, 0x01, 0xAA, 0x00, 0x01,
                     static_cast<uint8_t>(0x0E ^ 0x01 ^ 0xAA ^ 0x01)}));
    EXPECT_EQ(sim->firmware().settings().led[0], 0xAA);
}

TEST_F(Exchange, Protocol6SecondFamily) {
    open_link(2);
    ASSERT_EQ(pcd_set_picc_protocol('B'), 0);
    EXPECT_EQ(sim->frames_received().back(), (Bytes{0x02, 0x02, 0x87, 0x01, 0x42, 0x02 ^ 0x87 ^ 0x01 ^ 0x42, 0x55}));
    EXPECT_EQ(sim->firmware().settings().picc_protocol, 'B');
    // The second family's placeholders send nothing.
    sim->clear_log();
    EXPECT_EQ(pcd_set_buzzer(1, 1), 0);
    EXPECT_EQ(pcd_set_baud(1), -1);
    EXPECT_EQ(errno, -22);
    EXPECT_TRUE(sim->frames_received().empty());
    // A reader status comes back through the second family's table and the
    // public function clamps it to -1; errno holds the family's own code,
    // which the first family's table lacks for these statuses (no card, a
    // command the firmware does not know, a failed read).
    for (const auto &[status, code] : {std::pair{0x01, -30}, std::pair{0x1A, -22}, std::pair{0x0B, -35}}) {
        sim->inject(Fault::with_status(static_cast<uint8_t>(status)));
        errno = 0;
        EXPECT_EQ(pcd_set_picc_protocol('A'), -1);
        EXPECT_EQ(errno, code) << status;
    }
}

TEST_F(Exchange, StaleAndLatePingRepliesAreSkipped) {
    open_link(2);
    vrtest::LogCapture log;
    sim->inject(Fault::stale90());
    ASSERT_EQ(pcd_set_picc_protocol('A'), 0);
    EXPECT_TRUE(log.contains("resp 90 timeout warning!!!!"));
    sim->inject(Fault::lateping());
    ASSERT_EQ(pcd_set_picc_protocol('A'), 0);
    EXPECT_TRUE(log.contains("retry response delayed warning!!!!"));
    EXPECT_EQ(sim->requests().size(), 2u) << "no command was sent twice";
}

// Ten time-out reports ahead of one reply: the exchange reads ten frames,
// checks the last and fails through the second family's table. The reply
// behind them is still owed, so the next command pings past it first.
TEST_F(Exchange, TenTimeOutReportsAheadOfOneReply) {
    open_link(2);
    sim->inject(Fault::stale90(10));
    errno = 0;
    EXPECT_EQ(pcd_set_picc_protocol('A'), -1);
    EXPECT_EQ(errno, -112);
    EXPECT_EQ(commands(), (std::vector<uint16_t>{0x87}));
    EXPECT_EQ(virt_com_status(), VIRT_COM_CHECK);
    sim->clear_log();
    EXPECT_EQ(pcd_set_picc_protocol('A'), 0);
    EXPECT_EQ(commands(), (std::vector<uint16_t>{0x0F02, 0x87}));
    EXPECT_EQ(virt_com_status(), VIRT_COM_OPEN);
}

TEST_F(Exchange, LatePingSkippedInProtocol3) {
    open_link();
    vrtest::LogCapture log;
    sim->inject(Fault::lateping());
    unsigned char mid = 0;
    ASSERT_EQ(pcd_get_mid(&mid), 0);
    EXPECT_EQ(mid, 0x01);
    EXPECT_TRUE(log.contains("retry response delayed warning!!!!"));
}

TEST_F(Exchange, CorruptedReplyIsAskedForAgainNotResent) {
    open_link();
    vrtest::LogCapture log;
    sim->inject(Fault::crc());
    ASSERT_EQ(pcd_set_buzzer(1, 2), 0);
    EXPECT_TRUE(log.contains("crc resend ok"));
    EXPECT_EQ(commands(), (std::vector<uint16_t>{0x010D, 0x0216}));
    EXPECT_EQ(sim->firmware().settings().beeps, 1u) << "the buzzer sounded once";
    // Two corrupted replies in a row: the second repeat request succeeds.
    sim->clear_log();
    sim->inject(Fault::crc(), 2);
    ASSERT_EQ(pcd_set_buzzer(1, 2), 0);
    EXPECT_TRUE(log.contains("crc resend ok two"));
    EXPECT_EQ(commands(), (std::vector<uint16_t>{0x010D, 0x0216, 0x0216}));
}

TEST_F(Exchange, MissingReplyIsResentOnceThenFails) {
    open_link();
    vrtest::LogCapture log;
    sim->inject(Fault::drop());
    ASSERT_EQ(pcd_set_led(1, 1), 0);
    EXPECT_TRUE(log.contains("retry, errno:-14"));
    EXPECT_EQ(commands(), (std::vector<uint16_t>{0x010E, 0x010E}));
    // The lost reply is still owed: the port is left to be checked, and the
    // next command first sends a ping to mark where owed replies end, and
    // finds nothing before its answer.
    EXPECT_EQ(virt_com_status(), VIRT_COM_CHECK);
    sim->clear_log();
    unsigned char mid = 0;
    ASSERT_EQ(pcd_get_mid(&mid), 0);
    EXPECT_EQ(commands(), (std::vector<uint16_t>{0x0F02, 0x0601}));
    EXPECT_FALSE(log.contains("late reply dropped"));

    sim->inject(Fault::drop(), 2);
    errno = 0;
    EXPECT_EQ(pcd_set_led(1, 1), -1);
    EXPECT_EQ(errno, -14);
}

// Protocol-3 replies do not name their command. A command whose reply came
// late leaves replies owed that may arrive while the next command runs; they
// must not be taken for its reply. The port time-out is 100 ms, so a
// command waits 200 ms for each of its two sends.
TEST_F(Exchange, LateRepliesAreNotTakenForTheNextCommands) {
    struct Case {
        const char *what;
        std::vector<unsigned> delays_ms;  // delays of the next replies, in order
        bool first_succeeds;
    } cases[] = {
        // Answered while the resend waits; the resend's reply comes 100 ms
        // into the next command.
        {"resend's reply owed", {250, 100}, true},
        // Later than both sends: the command fails, and both replies come
        // after the next command's first marker has gone unanswered.
        {"both replies after the command gave up", {700}, false},
    };
    open_link();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        vrtest::LogCapture log;
        for (unsigned ms : c.delays_ms) sim->inject(Fault::delay(ms));
        unsigned char mid = 0;
        EXPECT_EQ(pcd_get_mid(&mid), c.first_succeeds ? 0 : -1);
        unsigned char version[16] = {};
        ASSERT_EQ(pcd_get_firmware_version(version), 0);
        EXPECT_EQ(Bytes(version, version + 5), (Bytes{'v', 'a', 'n', 't', 'e'}));
        EXPECT_TRUE(log.contains("late reply dropped"));
        // Back in step: the next command sends no marker.
        sim->clear_log();
        ASSERT_EQ(pcd_get_mid(&mid), 0);
        EXPECT_EQ(commands(), (std::vector<uint16_t>{0x0601}));
    }
}

TEST_F(Exchange, DefaultTimeoutWaitsTwiceThePortDefault) {
    open_link();
    sim->inject(Fault::drop(), 2);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(pcd_set_led(1, 1), -1);
    const auto waited = std::chrono::steady_clock::now() - start;
    // Two sends, each waiting up to 2 x 100 ms for a head.
    EXPECT_GE(waited, std::chrono::milliseconds(380));
}

TEST_F(Exchange, ReaderStatusBecomesTheErrorCode) {
    open_link();
    const std::pair<uint8_t, int> rows[] = {{0x0D, -30}, {0x16, -34}, {0x0B, -22}, {0x8E, -14}};
    for (auto [status, code] : rows) {
        sim->inject(Fault::with_status(status), 2);
        errno = 0;
        EXPECT_EQ(pcd_antenna_open(), -1) << int(status);
        EXPECT_EQ(errno, code) << int(status);
        sim->clear_faults();
    }
    // Unknown commands are the reader's "not such command".
    virt_com_req req{};
    virt_com_rsp rsp{};
    req.cmd = 0x7E7E;
    EXPECT_EQ(virt_com_command(&req, &rsp, 0), -1);
    EXPECT_EQ(errno, -22);
}

TEST_F(Exchange, ParsedReplyResetsTheFailureCount) {
    open_link();
    for (int round = 0; round < 3; ++round) {
        sim->inject(Fault::drop(), 2);
        for (int i = 0; i < 2; ++i) EXPECT_EQ(pcd_set_led(1, 1), i == 0 ? -1 : 0);
        // drop x2 fails one command (two failures); the next one succeeds.
    }
    EXPECT_EQ(virt_com_status(), VIRT_COM_OPEN);
}

TEST_F(Exchange, PortStatesGateEveryCommand) {
    open_link();
    // To be checked: a ping goes first, then the command.
    virt_com_setstat(VIRT_COM_CHECK);
    ASSERT_EQ(pcd_set_led(0, 1), 0);
    EXPECT_EQ(commands(), (std::vector<uint16_t>{0x0F02, 0x010E}));
    EXPECT_EQ(virt_com_status(), VIRT_COM_OPEN);
    // No answer to two pings: the reader is gone.
    virt_com_setstat(VIRT_COM_CHECK);
    sim->inject(Fault::drop(), 2);
    errno = 0;
    EXPECT_EQ(pcd_set_led(0, 1), -1);
    EXPECT_EQ(errno, -81);
    // Removed device and closed port.
    virt_com_setstat(VIRT_COM_REMOVED);
    EXPECT_EQ(pcd_set_led(0, 1), -1);
    EXPECT_EQ(errno, -80);
    uint8_t buf[VIRT_COM_RSP_MAX];
    EXPECT_EQ(virt_com_readmsg(buf, 3, 100), -1);
    EXPECT_EQ(errno, -80);
    virt_com_setstat(VIRT_COM_OPEN);
    ASSERT_EQ(virt_com_close(), 0);
    EXPECT_EQ(pcd_set_led(0, 1), -1);
    EXPECT_EQ(errno, -10);
    EXPECT_EQ(virt_com_ping(), -1);
}

TEST_F(Exchange, PingAndRepeatRequestDirectly) {
    open_link();
    EXPECT_EQ(virt_com_ping(), 0);
    EXPECT_EQ(sim->frames_received().back(),
              (Bytes{0x02, 0x02, 0x05, 0x00, 0x02, 0x0F, 0x11, 0x22, 0x33, 0x3C, 0x64, 0x55}));
    ASSERT_EQ(pcd_set_brightness(9), 0);
    uint8_t reply[VIRT_COM_RSP_MAX];
    EXPECT_EQ(virt_com_get_pre_response(reply), 1) << "the status-only reply again";
    EXPECT_EQ(reply[0], 0x00);
}

TEST_F(Exchange, HangUpFailsTheExchange) {
    open_link();
    sim->hangup();
    errno = 0;
    EXPECT_EQ(pcd_set_led(1, 1), -1);
    // The line is gone: flushing it before the command already fails.
    EXPECT_EQ(errno, -21);
}

TEST_F(Exchange, BadArguments) {
    open_link();
    virt_com_rsp rsp{};
    virt_com_req req{};
    EXPECT_EQ(virt_com_command(nullptr, &rsp, 0), -1);
    EXPECT_EQ(errno, -24);
    EXPECT_EQ(virt_com_command(&req, nullptr, 0), -1);
    EXPECT_EQ(virt_com_command(&req, &rsp, -5), -1);
    EXPECT_EQ(errno, -24);
    req.len = 4095;  // with the 2-byte code the body would exceed 4096
    EXPECT_EQ(virt_com_command(&req, &rsp, 0), -1);
    EXPECT_EQ(errno, -24);
    EXPECT_TRUE(sim->frames_received().empty());
}

// A failing reader, for every link protocol: what each call sends, what it
// returns, and how the count of consecutive link failures and the port
// state stand after it. Frames: 'C' the command, 'P' the reader's echo
// (ping) that checks the link before the command goes.
struct Call {
    std::string frames;
    int rc;
    int err;  // errno after a failure
    int failures;
    int state;
};

struct Script {
    const char *name;
    int protocol;
    // How the reader fails: a fault on every reply, or on the next `count`.
    vrsim::Fault fault;
    unsigned every;
    unsigned count;
    std::vector<Call> calls;
};

void PrintTo(const Script &s, std::ostream *os) { *os << s.name << " on protocol " << s.protocol; }

std::vector<Call> calls(std::initializer_list<std::vector<Call>> parts) {
    std::vector<Call> out;
    for (const auto &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// n calls of which the k-th (from 1) leaves base + k * step failures.
std::vector<Call> repeated(int n, const std::string &frames, int rc, int err, int base, int step, int state) {
    std::vector<Call> out;
    for (int k = 1; k <= n; ++k) out.push_back({frames, rc, err, base + k * step, state});
    return out;
}

constexpr int kOpen = VIRT_COM_OPEN, kCheck = VIRT_COM_CHECK, kClosed = VIRT_COM_CLOSED;

// A dead reader (silent, or answering line noise) on a protocol with reply
// frames: the command is sent and resent; then every call checks the link
// with two pings and fails with -81 without sending the command, each ping
// counting as a failure, so the port closes at the eleventh failure, in
// the sixth call, as it would without the check.
std::vector<Call> dead_reader() {
    return calls({{{"CC", -1, -14, 2, kCheck}},
                  repeated(4, "PP", -1, -81, 2, 2, kCheck),
                  {{"P", -1, -10, 0, kClosed}, {"", -1, -10, 0, kClosed}}});
}
// Protocol 2 has no reply frames, so nothing is ever owed and no ping goes:
// a reader that does not acknowledge fails each send once.
std::vector<Call> dead_reader_p2() {
    return calls({repeated(10, "C", -1, -13, 0, 1, kOpen), {{"C", -1, -13, 0, kClosed}, {"", -1, -10, 0, kClosed}}});
}

std::vector<Script> scripts() {
    using vrsim::Fault;
    std::vector<Script> out;
    for (int p : {1, 3, 6}) {
        out.push_back({"silent", p, Fault::drop(), 1, 0, dead_reader()});
        out.push_back({"garbage", p, Fault::garbage(), 1, 0, dead_reader()});
        // Back after the command, its resend and the first ping: the second
        // ping gets its answer and the command goes right after it.
        out.push_back({"wakes_up", p, Fault::drop(), 0, 3,
                       {{"CC", -1, -14, 2, kCheck}, {"PPC", 0, 0, 0, kOpen}, {"C", 0, 0, 0, kOpen}}});
    }
    // Ten replies in a row are only the reader's time-out report (0x90).
    // Protocols 3 and 6 do not take it for a reply: the command fails as
    // for a silent reader, and ten reports make ten failures, not eleven,
    // so the sixth call finds the reader answering again.
    for (int p : {3, 6})
        out.push_back({"ten_0x90", p, Fault::with_status(0x90), 0, 10,
                       calls({{{"CC", -1, -14, 2, kCheck}},
                              repeated(4, "PP", -1, -81, 2, 2, kCheck),
                              {{"PC", 0, 0, 0, kOpen}, {"C", 0, 0, 0, kOpen}}})});
    // Protocol 1 replies carry their command: each report is that command's
    // failed reply (-112), and the link stays in step.
    out.push_back({"ten_0x90", 1, Fault::with_status(0x90), 0, 10,
                   calls({repeated(10, "C", -1, -112, 0, 0, kOpen), {{"C", 0, 0, 0, kOpen}}})});

    out.push_back({"silent", 2, Fault::drop(), 1, 0, dead_reader_p2()});
    out.push_back({"garbage", 2, Fault::garbage(), 1, 0, dead_reader_p2()});
    // Acknowledged again, the reader still sends no reply frame: each call
    // fails its send and resend with -14, and no ping is ever sent.
    out.push_back({"wakes_up", 2, Fault::drop(), 0, 3,
                   calls({repeated(3, "C", -1, -13, 0, 1, kOpen), {{"CC", -1, -14, 5, kOpen}}})});
    out.push_back({"ten_0x90", 2, Fault::with_status(0x90), 0, 10,
                   calls({repeated(5, "CC", -1, -14, 0, 2, kOpen), {{"C", -1, -10, 0, kClosed}}})});
    return out;
}

class FailingReader : public vrtest::SimLink, public ::testing::WithParamInterface<Script> {};

TEST_P(FailingReader, KeepsToTheCommandsOwnAttemptsAndCounts) {
    const Script &s = GetParam();
    open_link(s.protocol == 6 ? 2 : 1, s.protocol == 6 ? 0 : s.protocol);
    const uint16_t command = s.protocol == 6 ? 0x87 : 0x0108;
    if (s.every)
        sim->inject_every(s.fault, s.every);
    else
        sim->inject(s.fault, s.count);
    for (std::size_t i = 0; i < s.calls.size(); ++i) {
        const Call &c = s.calls[i];
        SCOPED_TRACE("call " + std::to_string(i + 1));
        sim->clear_log();
        errno = 0;
        EXPECT_EQ(pcd_set_picc_protocol('A'), c.rc);
        if (c.rc != 0) {
            EXPECT_EQ(errno, c.err);
        }
        // A read that gave up on a slow machine leaves the reader answering
        // after the call: let it finish (protocol 2 adds a handshake frame
        // to each) before the next call is counted.
        const std::size_t frames = c.frames.size() * (s.protocol == 2 ? 2 : 1);
        EXPECT_TRUE(sim->wait_handled(frames, std::chrono::seconds(2)));
        std::string sent;
        for (uint16_t cmd : commands()) sent += cmd == 0x0F02 ? 'P' : cmd == command ? 'C' : '?';
        EXPECT_EQ(sent, c.frames);
        EXPECT_EQ(vr::link::consecutive_link_failures(), c.failures);
        EXPECT_EQ(virt_com_status(), c.state);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryProtocol, FailingReader, ::testing::ValuesIn(scripts()),
                         [](const ::testing::TestParamInfo<Script> &info) {
                             return std::string(info.param.name) + "_p" + std::to_string(info.param.protocol);
                         });

}  // namespace
