// The simulator's wire codec: checksums, byte-exact frames of every
// protocol in both directions, round trips, and decoders fed partial,
// corrupted and random input.
#include <gtest/gtest.h>

#include <random>
#include <string_view>

#include "faults.h"
#include "frame.h"

using vrsim::Bytes;
using vrsim::ByteView;
using vrsim::Decode;

namespace {

ByteView text(std::string_view s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

Bytes pattern(size_t n, uint8_t seed) {
    // Includes every byte the frames treat specially (02, 42, 55, AA, BB).
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 37);
    return b;
}

}  // namespace

TEST(SimChecksum, KnownAnswers) {
    EXPECT_EQ(vrsim::crc16_modbus(text("123456789")), 0x4B37);
    EXPECT_EQ(vrsim::crc16_modbus({}), 0xFFFF);
    // The length field and body of the buzzer request 0D 01 02 03.
    const uint8_t buzzer[] = {0x04, 0x00, 0x0D, 0x01, 0x02, 0x03};
    EXPECT_EQ(vrsim::crc16_modbus(buzzer), 0x9213);
    const uint8_t x[] = {0x02, 0x87, 0x01, 0x41};
    EXPECT_EQ(vrsim::xor_of(x), 0xC5);
}

// Requests as the host writes them: built from command and data, and
// decoded back to the same body.
struct HostCase {
    const char* name;
    int protocol;
    uint16_t cmd;
    Bytes data;
    Bytes frame;
};

TEST(SimHostFrames, ByteExact) {
    const HostCase cases[] = {
        {"p3 buzzer 2,3", 3, 0x010D, {0x02, 0x03},
         {0x02, 0x02, 0x04, 0x00, 0x0D, 0x01, 0x02, 0x03, 0x13, 0x92, 0x55}},
        {"p3 ping", 3, 0x0F02, {0x11, 0x22, 0x33},
         {0x02, 0x02, 0x05, 0x00, 0x02, 0x0F, 0x11, 0x22, 0x33, 0x3C, 0x64, 0x55}},
        {"p6 card protocol A", 6, 0x87, {0x41}, {0x02, 0x02, 0x87, 0x01, 0x41, 0xC5, 0x55}},
        {"p1 buzzer", 1, 0x010D, {0x02, 0x03},
         {0xAA, 0xBB, 0x07, 0x00, 0x00, 0x00, 0x0D, 0x01, 0x02, 0x03, 0x0D}},
        {"p2 buzzer", 2, 0x010D, {0x02, 0x03},
         {0x01, 0x0D, 0x03, 0x01, 0x02, 0x03, 0x0F, 0x10, 0x03}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes body = vrsim::request_body(c.protocol, c.cmd, c.data);
        EXPECT_EQ(vrsim::encode_host_frame(c.protocol, body), c.frame);
        const auto f = vrsim::decode_host_frame(c.protocol, c.frame, false);
        ASSERT_EQ(f.kind, Decode::frame);
        EXPECT_EQ(f.consumed, c.frame.size());
        EXPECT_EQ(f.body, body);
        const auto rq = vrsim::parse_request_body(c.protocol, f.body, f.encrypted);
        ASSERT_TRUE(rq);
        EXPECT_EQ(rq->cmd, c.cmd);
        EXPECT_EQ(rq->data, c.data);
    }
}

// Bodies the link writes raw in any protocol (ping, repeat request), and
// the protocol-1 stuffing of a body byte 0xAA.
TEST(SimHostFrames, RawBodiesAndStuffing) {
    struct Raw {
        const char* name;
        int protocol;
        Bytes frame;
        uint16_t cmd;
        Bytes data;
    };
    const Raw cases[] = {
        {"p6 ping", 6, {0x02, 0x02, 0x02, 0x0F, 0x11, 0x22, 0x33, 0x0F, 0x55}, 0x0F02, {0x11, 0x22, 0x33}},
        {"p6 repeat", 6, {0x02, 0x02, 0x16, 0x02, 0x16, 0x55}, 0x0216, {}},
        {"p1 AA 01", 1, {0xAA, 0xBB, 0x05, 0x00, 0x00, 0x00, 0xAA, 0x00, 0x01, 0xAB}, 0x01AA, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto f = vrsim::decode_host_frame(c.protocol, c.frame, false);
        ASSERT_EQ(f.kind, Decode::frame);
        EXPECT_EQ(f.consumed, c.frame.size());
        const auto rq = vrsim::parse_request_body(c.protocol, f.body, false);
        ASSERT_TRUE(rq);
        EXPECT_EQ(rq->cmd, c.cmd);
        EXPECT_EQ(rq->data, c.data);
        EXPECT_EQ(vrsim::encode_host_frame(c.protocol, f.body), c.frame);
    }
}

TEST(SimHostFrames, EncryptedHeadIsReported) {
    Bytes body{0x0D, 0x01, 0x00, 0x08};
    body.resize(12, 0x00);
    const Bytes frame = vrsim::encode_host_frame(3, body, true);
    EXPECT_EQ(frame, (Bytes{0x42, 0x02, 0x0C, 0x00, 0x0D, 0x01, 0x00, 0x08, 0, 0, 0, 0, 0, 0, 0, 0,
                            0x29, 0xE2, 0x55}));
    const auto f = vrsim::decode_host_frame(3, frame, false);
    ASSERT_EQ(f.kind, Decode::frame);
    EXPECT_TRUE(f.encrypted);
    EXPECT_TRUE(vrsim::parse_request_body(3, f.body, f.encrypted)->encrypted);
}

struct ReplyCase {
    const char* name;
    int protocol;
    uint16_t cmd;
    uint8_t status;
    Bytes data;
    Bytes frame;
};

TEST(SimReplyFrames, ByteExact) {
    const ReplyCase cases[] = {
        {"p3 ok", 3, 0x010D, 0x00, {}, {0x02, 0x02, 0x01, 0x00, 0x00, 0x20, 0x00}},
        {"p3 ping answer", 3, 0x0F02, 0x00, {0x11, 0x22, 0x33},
         {0x02, 0x02, 0x04, 0x00, 0x00, 0x11, 0x22, 0x33, 0x09, 0x2F}},
        {"p3 crc error", 3, 0, 0x91, {}, {0x02, 0x02, 0x01, 0x00, 0x91, 0xE1, 0xAC}},
        {"p6 ok", 6, 0x87, 0x00, {}, {0x02, 0x02, 0x00, 0x00, 0x02}},
        {"p6 ping answer", 6, 0x0F02, 0x00, {0x11, 0x22, 0x33}, {0x02, 0x02, 0x00, 0x03, 0x11, 0x22, 0x33, 0x01}},
        {"p1 ok", 1, 0x010D, 0x00, {}, {0xAA, 0xBB, 0x06, 0x00, 0x00, 0x00, 0x0D, 0x01, 0x00, 0x0C}},
        {"p1 data AA", 1, 0x0601, 0x00, {0xAA},
         {0xAA, 0xBB, 0x07, 0x00, 0x00, 0x00, 0x01, 0x06, 0x00, 0xAA, 0x00, 0xAD}},
        {"p1 checksum AA", 1, 0x0601, 0x00, {0xAD},
         {0xAA, 0xBB, 0x07, 0x00, 0x00, 0x00, 0x01, 0x06, 0x00, 0xAD, 0xAA, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes frame = vrsim::encode_reply_frame(c.protocol, c.status, c.data, c.cmd);
        EXPECT_EQ(frame, c.frame);
        const auto r = vrsim::decode_reply_frame(c.protocol, frame);
        ASSERT_EQ(r.kind, Decode::frame);
        EXPECT_EQ(r.consumed, frame.size());
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.data, c.data);
        if (c.protocol == 1) {
            EXPECT_EQ(r.cmd_echo, c.cmd);
        }
    }
}

TEST(SimReplyFrames, Protocol6LongForm) {
    const Bytes data = pattern(256, 1);
    const Bytes frame = vrsim::encode_reply_frame(6, 0x00, data);
    ASSERT_EQ(frame.size(), 5u + 256u + 1u);
    EXPECT_EQ((Bytes{frame.begin(), frame.begin() + 5}), (Bytes{0x02, 0x42, 0x00, 0x01, 0x00}));
    const auto r = vrsim::decode_reply_frame(6, frame);
    ASSERT_EQ(r.kind, Decode::frame);
    EXPECT_EQ(r.data, data);
}

// Every protocol, bodies from 2 bytes to the largest, in both directions.
TEST(SimFrames, RoundTrips) {
    for (int protocol : {1, 3, 6}) {
        for (size_t n : {size_t{0}, size_t{1}, size_t{170}, size_t{255}, size_t{256}, size_t{1000},
                         size_t{4090}}) {
            SCOPED_TRACE(testing::Message() << "protocol " << protocol << " data " << n);
            const Bytes data = pattern(n, static_cast<uint8_t>(n));
            const Bytes body = vrsim::request_body(protocol, 0x0F02, data);
            const Bytes hf = vrsim::encode_host_frame(protocol, body);
            const auto h = vrsim::decode_host_frame(protocol, hf, false);
            ASSERT_EQ(h.kind, Decode::frame);
            EXPECT_EQ(h.consumed, hf.size());
            const auto rq = vrsim::parse_request_body(protocol, h.body, false);
            ASSERT_TRUE(rq);
            EXPECT_EQ(rq->data, data);
            EXPECT_EQ(rq->cmd, protocol == 6 ? 0x02 : 0x0F02);

            const Bytes rf = vrsim::encode_reply_frame(protocol, 0x00, data, 0x0F02);
            const auto r = vrsim::decode_reply_frame(protocol, rf);
            ASSERT_EQ(r.kind, Decode::frame);
            EXPECT_EQ(r.consumed, rf.size());
            EXPECT_EQ(r.data, data);
        }
    }
    // Protocol 2 bodies (the length field holds one byte).
    for (size_t n : {size_t{1}, size_t{2}, size_t{200}}) {
        const Bytes body = pattern(n, 9);
        const Bytes hf = vrsim::encode_host_frame(2, body);
        const auto h = vrsim::decode_host_frame(2, hf, false);
        ASSERT_EQ(h.kind, Decode::frame);
        EXPECT_EQ(h.body, body);
    }
}

// Every proper prefix of a frame asks for more and claims no byte; on an
// idle line the prefix is given up one byte at a time. The buffers are
// exact copies, so an overread shows under the address sanitizer.
TEST(SimHostFrames, PrefixesNeedMore) {
    for (int protocol : {1, 2, 3, 6}) {
        const Bytes body = vrsim::request_body(protocol, 0x0605, pattern(14, 0xA0));
        const Bytes frame = vrsim::encode_host_frame(protocol, body);
        for (size_t k = 1; k < frame.size(); ++k) {
            SCOPED_TRACE(testing::Message() << "protocol " << protocol << " prefix " << k);
            const Bytes prefix(frame.begin(), frame.begin() + static_cast<long>(k));
            const auto f = vrsim::decode_host_frame(protocol, prefix, false);
            EXPECT_EQ(f.kind, Decode::need_more);
            const auto g = vrsim::decode_host_frame(protocol, prefix, true);
            if (protocol == 3 && k == frame.size() - 1) {
                // Only the trailer is missing: taken as a frame on an idle line.
                EXPECT_EQ(g.kind, Decode::frame);
                EXPECT_EQ(g.consumed, k);
            } else {
                EXPECT_EQ(g.kind, Decode::garbage);
                EXPECT_EQ(g.consumed, 1u);
            }
        }
    }
}

TEST(SimHostFrames, GarbageBeforeFrameIsSkipped) {
    const Bytes frame = {0x02, 0x02, 0x04, 0x00, 0x0D, 0x01, 0x02, 0x03, 0x13, 0x92, 0x55};
    Bytes buf = {0xFF, 0x00, 0x13, 0x55};
    buf.insert(buf.end(), frame.begin(), frame.end());
    auto f = vrsim::decode_host_frame(3, buf, false);
    EXPECT_EQ(f.kind, Decode::garbage);
    EXPECT_EQ(f.consumed, 4u);
    f = vrsim::decode_host_frame(3, ByteView(buf).subspan(4), false);
    EXPECT_EQ(f.kind, Decode::frame);
    // A head byte followed by anything but 02 is one byte of garbage.
    const Bytes false_head = {0x02, 0x07, 0x02, 0x02};
    EXPECT_EQ(vrsim::decode_host_frame(3, false_head, false).consumed, 1u);
    // A length outside 1..4096 cannot be a frame.
    const Bytes too_long = {0x02, 0x02, 0x01, 0x10, 0x00};
    EXPECT_EQ(vrsim::decode_host_frame(3, too_long, false).kind, Decode::garbage);
}

TEST(SimHostFrames, BadChecksumIsReported) {
    for (int protocol : {1, 2, 3, 6}) {
        SCOPED_TRACE(protocol);
        const Bytes body = vrsim::request_body(protocol, 0x010D, Bytes{0x02, 0x03});
        Bytes frame = vrsim::encode_host_frame(protocol, body);
        // The checksum byte: protocol 3 the CRC high byte, 1 the last byte,
        // 2 and 6 the byte before the two closing / one closing byte.
        const size_t at = protocol == 3 ? frame.size() - 2
                        : protocol == 2 ? frame.size() - 3
                        : protocol == 6 ? frame.size() - 2
                                        : frame.size() - 1;
        frame[at] ^= 0x40;
        // Idle line: protocol 6 could otherwise still be waiting for a
        // longer (two-length-byte) reading of the same bytes.
        const auto f = vrsim::decode_host_frame(protocol, frame, true);
        EXPECT_EQ(f.kind, Decode::bad_checksum);
        EXPECT_EQ(f.consumed, frame.size());
    }
}

TEST(SimReplyFrames, CorruptedChecksumIsDetected) {
    for (int protocol : {1, 3, 6}) {
        // 0xAD makes the protocol-1 checksum 0xAA (stuffed).
        for (const Bytes& data : {Bytes{}, Bytes{0xAD}, Bytes{0xAB}, pattern(300, 3)}) {
            SCOPED_TRACE(testing::Message() << "protocol " << protocol << " data " << data.size());
            Bytes frame = vrsim::encode_reply_frame(protocol, 0x00, data, 0x0601);
            vrsim::corrupt_checksum(frame, protocol);
            const auto r = vrsim::decode_reply_frame(protocol, frame);
            EXPECT_EQ(r.kind, Decode::bad_checksum);
            EXPECT_EQ(r.consumed, frame.size());
        }
    }
}

// Random input: results stay inside the buffer, and whatever the decoder
// claims it can always make progress.
TEST(SimFrames, RandomInputStaysInBounds) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 3000; ++round) {
        Bytes buf(rng() % 40);
        for (auto& b : buf) {
            const uint8_t specials[] = {0x02, 0x42, 0x55, 0xAA, 0xBB, 0x10, 0x03, 0x01};
            b = rng() % 3 == 0 ? specials[rng() % 8] : static_cast<uint8_t>(rng());
        }
        for (int protocol : {1, 2, 3, 6}) {
            for (bool gap : {false, true}) {
                const auto h = vrsim::decode_host_frame(protocol, buf, gap);
                EXPECT_LE(h.consumed, buf.size());
                if (gap && !buf.empty()) {
                    EXPECT_NE(h.kind, Decode::need_more);
                }
            }
            const auto r = vrsim::decode_reply_frame(protocol, buf);
            EXPECT_LE(r.consumed, buf.size());
        }
    }
}

TEST(SimRequestBody, Protocol6Forms) {
    // One length byte below 256 data bytes, two from 256 on.
    EXPECT_EQ(vrsim::request_body(6, 0x87, Bytes{0x41}), (Bytes{0x87, 0x01, 0x41}));
    const Bytes big = pattern(300, 0);
    const Bytes body = vrsim::request_body(6, 0x30, big);
    EXPECT_EQ(body[1], 0x01);
    EXPECT_EQ(body[2], 0x2C);
    const auto rq = vrsim::parse_request_body(6, body, false);
    ASSERT_TRUE(rq);
    EXPECT_EQ(rq->cmd, 0x30);
    EXPECT_EQ(rq->data, big);
    // A body that fits no layout is refused.
    EXPECT_FALSE(vrsim::parse_request_body(6, Bytes{0x30, 0x05, 0x01}, false));
    EXPECT_FALSE(vrsim::parse_request_body(3, Bytes{0x30}, false));
}

TEST(SimFaultOrder, Parses) {
    using vrsim::Fault;
    using vrsim::FaultOrder;
    struct Case {
        const char* text;
        FaultOrder order;
    };
    const Case good[] = {
        {"drop", {Fault::drop(), 1, 0}},
        {"drop x3", {Fault::drop(), 3, 0}},
        {"delay 500", {Fault::delay(500), 1, 0}},
        {"delay:250", {Fault::delay(250), 1, 0}},
        {"crc", {Fault::crc(), 1, 0}},
        {"stale90 x2", {Fault::stale90(), 2, 0}},
        {"stale90 10 x2", {Fault::stale90(10), 2, 0}},
        {"garbage every 1", {Fault::garbage(), 1, 1}},
        {"lateping", {Fault::lateping(), 1, 0}},
        {"status 0x0d", {Fault::with_status(0x0D), 1, 0}},
        {"status=145", {Fault::with_status(0x91), 1, 0}},
        {"hangup", {Fault::hangup(), 1, 0}},
        {"crc every 10", {Fault::crc(), 1, 10}},
    };
    for (const auto& c : good) {
        SCOPED_TRACE(c.text);
        const auto order = vrsim::parse_fault_order(c.text);
        ASSERT_TRUE(order);
        EXPECT_EQ(*order, c.order);
    }
    for (const char* bad : {"", "explode", "delay", "delay x", "status 0x100", "status", "drop x0",
                            "drop every 0", "drop extra", "crc every", "stale90 0"}) {
        SCOPED_TRACE(bad);
        std::string why;
        EXPECT_FALSE(vrsim::parse_fault_order(bad, &why));
        EXPECT_FALSE(why.empty());
    }
    // Every kind's description reads back as the same fault.
    const std::pair<Fault, const char*> described[] = {
        {Fault::drop(), "drop"},         {Fault::delay(450), "delay 450"},
        {Fault::crc(), "crc"},           {Fault::stale90(), "stale90"},
        {Fault::lateping(), "lateping"}, {Fault::with_status(0x0D), "status 0x0d"},
        {Fault::hangup(), "hangup"},     {Fault::enc_ragged(), "enc_ragged"},
        {Fault::enc_overlong(), "enc_overlong"}, {Fault::garbage(), "garbage"},
        {Fault::stale90(10), "stale90 10"},
    };
    for (const auto& [fault, text] : described) {
        SCOPED_TRACE(text);
        EXPECT_EQ(vrsim::describe(fault), text);
        const auto order = vrsim::parse_fault_order(vrsim::describe(fault));
        ASSERT_TRUE(order);
        EXPECT_EQ(order->fault, fault);
    }
}

TEST(SimFaultPlan, QueueFirstThenEveryNth) {
    using vrsim::Fault;
    vrsim::FaultPlan plan;
    plan.add(Fault::drop(), 2);
    plan.add(Fault::crc());
    plan.every(Fault::delay(5), 3);
    std::vector<std::optional<Fault>> got;
    for (int i = 0; i < 9; ++i) got.push_back(plan.next());
    // Replies 1-3 take the queue; the periodic fault hits replies 6 and 9
    // (reply 3 was due too, but the queue had it).
    EXPECT_EQ(got[0], Fault::drop());
    EXPECT_EQ(got[1], Fault::drop());
    EXPECT_EQ(got[2], Fault::crc());
    EXPECT_EQ(got[3], std::nullopt);
    EXPECT_EQ(got[4], std::nullopt);
    EXPECT_EQ(got[5], Fault::delay(5));
    EXPECT_EQ(got[8], Fault::delay(5));
    plan.clear();
    EXPECT_EQ(plan.next(), std::nullopt);
    EXPECT_EQ(plan.queued(), 0u);
}
