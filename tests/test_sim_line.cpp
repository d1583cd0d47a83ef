// The simulator over a real pseudo-terminal: a host writes frames to the
// slave path and reads the reader's frames back, byte for byte. Covers the
// protocols, the repeat request, every fault kind, pacing, hang-up and
// reconnection through the published link.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "host_link.h"
#include "sim_harness.h"

using namespace std::chrono_literals;
using vrsim::Bytes;
using vrsim::Decode;
using vrsim::Fault;
using vrsim::ReplyFrame;

namespace {

class SimLine : public testing::Test {
protected:
    void start(vrsim::SimOptions options = {}) {
        sim = vrsim::start_simulator(std::move(options));
        ASSERT_TRUE(sim) << "cannot start the simulator: " << strerror(errno);
        protocol = sim->protocol();
        ASSERT_TRUE(host.open(sim->path()));
    }
    std::optional<ReplyFrame> command(uint16_t cmd, Bytes data = {}) {
        return host.command(protocol, cmd, data, 2s);
    }
    std::optional<ReplyFrame> read() { return host.read_frame(protocol, 2s); }
    bool send(uint16_t cmd, const Bytes& data) { return host.send_request(protocol, cmd, data); }

    std::unique_ptr<vrsim::Simulator> sim;
    vrsim::HostLink host;
    int protocol = 3;
};

Bytes echo_data(uint8_t tag) { return {tag, 0x5A, tag}; }

// The echo request as the link writes it: protocol 6 has one-byte codes,
// so the echo goes as the raw body 02 0F <data> there.
Bytes echo_frame(int protocol, uint8_t tag) {
    const Bytes data = echo_data(tag);
    Bytes body = protocol == 6 ? Bytes{0x02, 0x0F} : vrsim::request_body(protocol, 0x0F02, {});
    body.insert(body.end(), data.begin(), data.end());
    return vrsim::encode_host_frame(protocol, body);
}

}  // namespace

TEST_F(SimLine, AnswersReaderCommands) {
    start();
    struct Case {
        const char* name;
        uint16_t cmd;
        Bytes data;
        uint8_t status;
        Bytes reply;
    };
    const Case cases[] = {
        {"buzzer", 0x010D, {0x02, 0x03}, 0x00, {}},
        {"set machine id", 0x0602, {0x42}, 0x00, {}},
        {"get machine id", 0x0601, {}, 0x00, {0x42}},
        {"echo", 0x0F02, {0x11, 0x22, 0x33}, 0x00, {0x11, 0x22, 0x33}},
        {"battery", 0x0F10, {}, 0x00, {210}},
        {"unknown", 0x7777, {}, 0x0B, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = command(c.cmd, c.data);
        ASSERT_TRUE(r);
        ASSERT_EQ(r->kind, Decode::frame);
        EXPECT_EQ(r->status, c.status);
        EXPECT_EQ(r->data, c.reply);
    }
    const auto fw = command(0x0103);
    ASSERT_TRUE(fw);
    EXPECT_EQ(fw->data.size(), 16u);
    EXPECT_EQ(sim->firmware().settings().buzzer, (std::array<uint8_t, 2>{2, 3}));
}

TEST_F(SimLine, LogsFramesByteForByte) {
    start();
    const Bytes request = {0x02, 0x02, 0x04, 0x00, 0x0D, 0x01, 0x02, 0x03, 0x13, 0x92, 0x55};
    ASSERT_TRUE(host.write(request));
    ASSERT_TRUE(read());
    ASSERT_TRUE(sim->wait_sent(1, 2s));
    EXPECT_EQ(sim->frames_received(), std::vector<Bytes>{request});
    EXPECT_EQ(sim->frames_sent(), (std::vector<Bytes>{{0x02, 0x02, 0x01, 0x00, 0x00, 0x20, 0x00}}));
    EXPECT_EQ(sim->requests(), (std::vector<vrsim::Request>{{0x010D, {0x02, 0x03}}}));
    sim->clear_log();
    EXPECT_TRUE(sim->frames_received().empty());
    EXPECT_TRUE(sim->frames_sent().empty());
}

// Garbage around frames is skipped, and a frame split over two writes is
// put back together.
TEST_F(SimLine, SkipsGarbageAndJoinsSplitFrames) {
    start();
    const Bytes first = vrsim::encode_host_frame(3, vrsim::request_body(3, 0x0F02, echo_data(1)));
    const Bytes second = vrsim::encode_host_frame(3, vrsim::request_body(3, 0x0F02, echo_data(2)));
    Bytes part1 = {0xFF, 0x00};
    part1.insert(part1.end(), first.begin(), first.begin() + 5);
    Bytes part2(first.begin() + 5, first.end());
    part2.push_back(0x13);
    part2.insert(part2.end(), second.begin(), second.end());
    ASSERT_TRUE(host.write(part1));
    ASSERT_TRUE(host.write(part2));
    const auto a = read();
    const auto b = read();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->data, echo_data(1));
    EXPECT_EQ(b->data, echo_data(2));
    EXPECT_EQ(sim->garbage_bytes(), 3u);
    EXPECT_EQ(sim->frames_received(), (std::vector<Bytes>{first, second}));
}

TEST_F(SimLine, BadCrcIsAnsweredWithStatus91) {
    start();
    Bytes bad = vrsim::encode_host_frame(3, vrsim::request_body(3, 0x010D, Bytes{2, 3}));
    bad[bad.size() - 2] ^= 0xFF;
    ASSERT_TRUE(host.write(bad));
    const auto r = read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0x91);
    EXPECT_EQ(sim->firmware().settings().beeps, 0u);
    ASSERT_TRUE(sim->wait_received(1, 2s));
    EXPECT_EQ(sim->frames_received()[0], bad);
}

// Protocols 1 and 6 have no status for a spoiled request: it goes
// unanswered, and the next good request is answered.
TEST_F(SimLine, BadChecksumIsIgnoredInProtocols1And6) {
    for (int p : {1, 6}) {
        SCOPED_TRACE(p);
        vrsim::SimOptions o;
        o.protocol = p;
        start(o);
        Bytes bad = echo_frame(p, 1);
        bad[bad.size() - (p == 6 ? 2 : 1)] ^= 0x01;
        // Protocol 6 may take the spoiled frame for the start of a longer
        // one; the idle gap ends that, so send the good frame after it.
        ASSERT_TRUE(host.write(bad));
        ASSERT_TRUE(sim->wait_received(1, 2s));
        ASSERT_TRUE(host.write(echo_frame(p, 2)));
        const auto r = read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->data, echo_data(2));
        ASSERT_TRUE(sim->wait_sent(1, 2s));
        EXPECT_EQ(sim->frames_sent().size(), 1u);
    }
}

TEST_F(SimLine, RepeatRequestResendsThePreviousFrame) {
    start();
    ASSERT_TRUE(command(0x0603));
    const auto again = command(0x0216);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->data, (Bytes{0x56, 0x52, 0, 0, 0, 0, 0, 0x01}));
    ASSERT_TRUE(sim->wait_sent(2, 2s));
    const auto sent = sim->frames_sent();
    EXPECT_EQ(sent[0], sent[1]);
}

TEST_F(SimLine, SecondFamilySpeaksProtocol6) {
    vrsim::SimOptions o;
    o.family = 2;
    start(o);
    EXPECT_EQ(protocol, 6);
    // 0x87 'A', written as the library frames it.
    ASSERT_TRUE(host.write(Bytes{0x02, 0x02, 0x87, 0x01, 0x41, 0xC5, 0x55}));
    auto r = read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0x00);
    // The ping and the repeat request, raw bodies 02 0F 11 22 33 and 16 02.
    ASSERT_TRUE(host.write(Bytes{0x02, 0x02, 0x02, 0x0F, 0x11, 0x22, 0x33, 0x0F, 0x55}));
    r = read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0x00);
    EXPECT_EQ(r->data, (Bytes{0x11, 0x22, 0x33}));
    ASSERT_TRUE(host.write(Bytes{0x02, 0x02, 0x16, 0x02, 0x16, 0x55}));
    r = read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, (Bytes{0x11, 0x22, 0x33}));
    r = command(0x0D, {0x02, 0x03});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0x1A);
    ASSERT_TRUE(sim->wait_sent(4, 2s));
    const auto sent = sim->frames_sent();
    EXPECT_EQ(sent[0], (Bytes{0x02, 0x02, 0x00, 0x00, 0x02}));
    EXPECT_EQ(sent[1], (Bytes{0x02, 0x02, 0x00, 0x03, 0x11, 0x22, 0x33, 0x01}));
    EXPECT_EQ(sent[2], sent[1]);
}

TEST_F(SimLine, Protocol1EchoesTheCommandAndStuffs) {
    vrsim::SimOptions o;
    o.protocol = 1;
    start(o);
    auto r = command(0x0602, {0xAA});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0x00);
    EXPECT_EQ(r->cmd_echo, 0x0602);
    r = command(0x0601);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->cmd_echo, 0x0601);
    EXPECT_EQ(r->data, (Bytes{0xAA}));
    ASSERT_TRUE(sim->wait_sent(2, 2s));
    EXPECT_EQ(sim->frames_sent()[1],
              (Bytes{0xAA, 0xBB, 0x07, 0x00, 0x00, 0x00, 0x01, 0x06, 0x00, 0xAA, 0x00, 0xAD}));
}

TEST_F(SimLine, Protocol2AcknowledgesHandshakeAndFrame) {
    vrsim::SimOptions o;
    o.protocol = 2;
    start(o);
    ASSERT_TRUE(host.write(Bytes{0x02}));
    EXPECT_EQ(host.read_bytes(1, 2s), Bytes{0x10});
    ASSERT_TRUE(host.write(Bytes{0x01, 0x0D, 0x03, 0x01, 0x02, 0x03, 0x0F, 0x10, 0x03}));
    EXPECT_EQ(host.read_bytes(1, 2s), Bytes{0x10});
    EXPECT_EQ(sim->firmware().settings().buzzer, (std::array<uint8_t, 2>{2, 3}));
}

// ------------------------------------------------------------ faults

TEST_F(SimLine, DropSendsNothingButRunsTheCommand) {
    start();
    sim->inject(Fault::drop(), 3);
    for (uint8_t k = 1; k <= 4; ++k) ASSERT_TRUE(send(0x0F02, echo_data(k)));
    const auto r = read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, echo_data(4));
    ASSERT_TRUE(sim->wait_sent(1, 2s));
    EXPECT_EQ(sim->frames_sent().size(), 1u);
    EXPECT_EQ(sim->faults_queued(), 0u);
    sim->inject(Fault::drop());
    ASSERT_TRUE(send(0x010D, {1, 1}));
    ASSERT_TRUE(sim->wait_received(5, 2s));
    ASSERT_TRUE(command(0x0F02, echo_data(9)));
    EXPECT_EQ(sim->firmware().settings().beeps, 1u);
}

TEST_F(SimLine, DelayHoldsTheReply) {
    start();
    sim->inject(Fault::delay(150));
    const auto t0 = std::chrono::steady_clock::now();
    const auto r = command(0x0F02, echo_data(1));
    const auto took = std::chrono::steady_clock::now() - t0;
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, echo_data(1));
    EXPECT_GE(took, 150ms);
}

// A spoiled reply; the repeat request gets the good frame (twice spoiled:
// the second repeat does).
TEST_F(SimLine, CorruptCrcOnceThenRepeatIsGood) {
    start();
    sim->inject(Fault::crc(), 2);
    auto r = command(0x0603);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind, Decode::bad_checksum);
    r = command(0x0216);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind, Decode::bad_checksum);
    r = command(0x0216);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->kind, Decode::frame);
    EXPECT_EQ(r->data.size(), 8u);
    ASSERT_TRUE(sim->wait_sent(3, 2s));
    const auto sent = sim->frames_sent();
    ASSERT_EQ(sent[0].size(), sent[2].size());
    EXPECT_TRUE(std::equal(sent[0].begin(), sent[0].end() - 1, sent[2].begin()));
    EXPECT_NE(sent[0].back(), sent[2].back());
}

TEST_F(SimLine, StaleAndLatePingRepliesComeFirst) {
    for (int p : {3, 6, 1}) {
        SCOPED_TRACE(p);
        vrsim::SimOptions o;
        o.protocol = p;
        start(o);
        sim->inject(Fault::stale90());
        sim->inject(Fault::lateping());
        ASSERT_TRUE(host.write(echo_frame(p, 1)));
        auto r = read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 0x90);
        EXPECT_TRUE(r->data.empty());
        r = read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->data, echo_data(1));
        ASSERT_TRUE(host.write(echo_frame(p, 2)));
        r = read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 0x00);
        EXPECT_EQ(r->data, (Bytes{0x11, 0x22, 0x33}));
        if (p == 1) {
            EXPECT_EQ(r->cmd_echo, 0x0F02);
        }
        r = read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->data, echo_data(2));
    }
}

TEST_F(SimLine, TenStaleReportsGoFirstInOneAnswer) {
    start();
    sim->inject(Fault::stale90(10));
    ASSERT_TRUE(host.write(echo_frame(3, 1)));
    for (int k = 0; k < 10; ++k) {
        const auto r = read();
        ASSERT_TRUE(r) << k;
        EXPECT_EQ(r->status, 0x90) << k;
    }
    const auto r = read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, echo_data(1));
}

// Noise takes the reply's place in every protocol; the command still runs,
// and nothing in the noise can be read as the start of a frame.
TEST_F(SimLine, GarbageTakesTheReplysPlace) {
    for (int p : {3, 6, 1, 2}) {
        SCOPED_TRACE(p);
        vrsim::SimOptions o;
        o.protocol = p;
        start(o);
        sim->inject(Fault::garbage());
        if (p == 2) {
            ASSERT_TRUE(host.write(Bytes{0x02}));
            ASSERT_EQ(host.read_bytes(1, 2s), Bytes{0x10}) << "the handshake is answered";
        }
        ASSERT_TRUE(host.write(echo_frame(p, 1)));
        const Bytes noise = host.read_bytes(16, 2s);
        ASSERT_EQ(noise.size(), 16u);
        for (uint8_t b : noise) EXPECT_TRUE(b != 0x02 && b != 0x42 && b != 0xAA && b != 0x10) << int(b);
        EXPECT_TRUE(host.read_bytes(1, 50ms).empty()) << "no reply after the noise";
        ASSERT_FALSE(sim->requests().empty());
        EXPECT_EQ(sim->requests().back().data, echo_data(1)) << "the command ran";
        ASSERT_TRUE(host.write(echo_frame(p, 2)));
        if (p != 2) {
            const auto r = read();
            ASSERT_TRUE(r);
            EXPECT_EQ(r->data, echo_data(2));
        }
    }
}

TEST_F(SimLine, InjectedStatusReplacesTheCommand) {
    start();
    sim->inject(Fault::with_status(0x0D));
    auto r = command(0x010D, {0x02, 0x03});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0x0D);
    EXPECT_EQ(sim->firmware().settings().beeps, 0u);
    r = command(0x010D, {0x02, 0x03});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0x00);
    EXPECT_EQ(sim->firmware().settings().beeps, 1u);
}

TEST_F(SimLine, PeriodicFaultHitsEveryNthReply) {
    start();
    sim->inject_every(Fault::drop(), 2);
    for (uint8_t k = 1; k <= 4; ++k) ASSERT_TRUE(send(0x0F02, echo_data(k)));
    auto r = read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, echo_data(1));
    r = read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, echo_data(3));
    ASSERT_TRUE(sim->wait_handled(4, 2s));
    sim->clear_faults();
    r = command(0x0F02, echo_data(5));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, echo_data(5));
    r = command(0x0F02, echo_data(6));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, echo_data(6));
}

TEST_F(SimLine, HangupFaultClosesTheLine) {
    start();
    sim->inject(Fault::hangup());
    ASSERT_TRUE(send(0x010D, {1, 1}));
    EXPECT_FALSE(read());
    EXPECT_TRUE(host.line_failed());
    EXPECT_FALSE(sim->connected());
    EXPECT_EQ(sim->firmware().settings().beeps, 0u);
    ASSERT_TRUE(sim->reconnect());
    ASSERT_TRUE(host.open(sim->path()));
    ASSERT_TRUE(command(0x0F02, echo_data(1)));
}

// ------------------------------------------------------------ pacing

// 105 request bytes and 103 reply bytes at 9600 baud: at least 80 % of
// their wire time (216 ms) passes before the whole reply is in.
TEST_F(SimLine, PacedLineTakesWireTime) {
    vrsim::SimOptions o;
    o.baud = 9600;
    start(o);
    const Bytes data(96, 0x3C);
    const Bytes request = vrsim::encode_host_frame(3, vrsim::request_body(3, 0x0F02, data));
    ASSERT_EQ(request.size(), 105u);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(host.write(request));
    const auto r = read();
    const auto took = std::chrono::steady_clock::now() - t0;
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, data);
    const auto wire = std::chrono::microseconds((105 + 103) * 10 * 1'000'000LL / 9600);
    EXPECT_GE(took, wire * 8 / 10);
}

// ------------------------------------------------------------ the line

TEST_F(SimLine, ReconnectRepointsTheLink) {
    char dir_template[] = "/tmp/vrsim-link-XXXXXX";
    ASSERT_NE(::mkdtemp(dir_template), nullptr);
    const std::filesystem::path dir = dir_template;
    vrsim::SimOptions o;
    o.link = (dir / "reader").string();
    start(o);
    EXPECT_EQ(sim->path(), o.link);
    EXPECT_EQ(std::filesystem::read_symlink(o.link).string(), sim->slave_path());
    ASSERT_TRUE(command(0x0602, {0x33}));

    sim->hangup();
    EXPECT_FALSE(command(0x0601));
    EXPECT_TRUE(host.line_failed());
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(o.link)));
    vrsim::HostLink other;
    EXPECT_FALSE(other.open(o.link));

    ASSERT_TRUE(sim->reconnect());
    ASSERT_TRUE(host.open(o.link));
    const auto r = command(0x0601);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, (Bytes{0x33}));  // the reader kept its settings

    sim.reset();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(o.link)));
    std::filesystem::remove_all(dir);
}

TEST_F(SimLine, StopAndStartKeepTheLine) {
    start();
    const std::string before = sim->slave_path();
    sim->stop();
    EXPECT_FALSE(sim->running());
    ASSERT_TRUE(send(0x0F02, echo_data(1)));
    ASSERT_TRUE(sim->start());
    EXPECT_EQ(sim->slave_path(), before);
    const auto r = read();  // the request written while stopped
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, echo_data(1));
}

TEST(SimStart, RefusesUnknownProtocolAndFamily) {
    for (auto [family, protocol] : {std::pair{1, 4}, std::pair{1, 5}, std::pair{3, 0}}) {
        vrsim::SimOptions o;
        o.family = family;
        o.protocol = protocol;
        vrsim::Simulator sim(o);
        EXPECT_FALSE(sim.start());
        EXPECT_EQ(errno, EINVAL);
    }
}
