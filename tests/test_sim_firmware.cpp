// The reader firmware model, driven directly: reply layouts of the reader
// commands, the settings they store, and the status bytes of refused
// requests.
#include <gtest/gtest.h>

#include "firmware.h"

using vrsim::Bytes;
using vrsim::Family;
using vrsim::Firmware;
using vrsim::Reply;
using vrsim::Request;

namespace {

Reply run(Firmware& fw, uint16_t cmd, Bytes data = {}) { return fw.handle(Request{cmd, std::move(data)}); }

}  // namespace

// Commands that answer with data: code, request data, expected reply data.
TEST(SimFirmware, ReportsFirstFamily) {
    Firmware fw;
    struct Case {
        const char* name;
        uint16_t cmd;
        Bytes data;
        Bytes reply;
    };
    const Case cases[] = {
        {"firmware version", 0x0103, {},
         {'v', 'a', 'n', 't', 'e', 'l', '-', 's', 'i', 'm', ' ', '1', '.', '0', '.', '0'}},
        {"model / OTP serial", 0x0104, {}, {'V', 'R', '1', '3', '5', '6', '-', 'S', 0x00}},
        {"machine id", 0x0601, {}, {0x01}},
        {"serial number", 0x0603, {}, {0x56, 0x52, 0, 0, 0, 0, 0, 0x01}},
        {"battery", 0x0F10, {}, {210}},
        {"jack", 0x0F0A, {}, {0x00, 0x00}},
        {"valid card", 0x7F32, {}, {0x00, 0x00}},
        {"package size", 0x0F30, {0x02}, {64}},
        {"uart mode", 0x0F31, {0x02}, {0}},
        {"uart delay", 0x0F32, {0x02}, {0}},
        {"set uart delay reports it", 0x0F32, {0x01, 0x03}, {0x03}},
        {"echo", 0x0F02, {0x11, 0x22, 0x33}, {0x11, 0x22, 0x33}},
        {"sam reset", 0x0403, {}, {0x00, 0x00, 0x90, 0x00, 0x56, 0x52, 0x53, 0x41, 0x4D, 0, 0, 0, 0, 0, 0, 0x01}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Reply r = run(fw, c.cmd, c.data);
        EXPECT_EQ(r.status, 0x00);
        EXPECT_EQ(r.data, c.reply);
    }
}

// Setters store what they are sent, and the matching getter reports it.
TEST(SimFirmware, SettersStoreAndGettersReport) {
    Firmware fw;
    EXPECT_EQ(run(fw, 0x010D, {0x02, 0x03}).status, 0);
    EXPECT_EQ(run(fw, 0x0110, {1, 2, 0x34, 0x12, 5}).status, 0);
    EXPECT_EQ(run(fw, 0x010E, {0x01, 0x02}).status, 0);
    EXPECT_EQ(run(fw, 0x010F, {0x03, 0x04}).status, 0);
    EXPECT_EQ(run(fw, 0x010C, {0x00}).status, 0);
    EXPECT_EQ(run(fw, 0x0108, {'B'}).status, 0);
    EXPECT_EQ(run(fw, 0x0101, {0x05}).status, 0);
    EXPECT_EQ(run(fw, 0x0602, {0x7E}).status, 0);
    EXPECT_EQ(run(fw, 0x0604, {1, 2, 3, 4, 5, 6, 7, 8}).status, 0);
    EXPECT_EQ(run(fw, 0x0114, {0x33}).status, 0);
    EXPECT_EQ(run(fw, 0x0115, {24, 1, 2, 3, 4, 5}).status, 0);
    EXPECT_EQ(run(fw, 0x0117, {'H', 'i'}).status, 0);
    EXPECT_EQ(run(fw, 0x0F30, {0x01, 31}).status, 0);
    EXPECT_EQ(run(fw, 0x0F31, {0x01, 1}).status, 0);
    EXPECT_EQ(run(fw, 0x7F31, {0xAB, 0xCD}).status, 0);
    EXPECT_EQ(run(fw, 0x0F05, {0x03, 0x01, 0x2C}).status, 0);
    const Bytes key16(16, 0x5A);
    EXPECT_EQ(run(fw, 0x0710, key16).status, 0);
    EXPECT_EQ(run(fw, 0x0711, Bytes(16, 0xA5)).status, 0);

    const vrsim::Settings s = fw.settings();
    EXPECT_EQ(s.buzzer, (std::array<uint8_t, 2>{2, 3}));
    EXPECT_EQ(s.buzzer_ex, (std::array<uint8_t, 5>{1, 2, 0x34, 0x12, 5}));
    EXPECT_EQ(s.beeps, 2u);
    EXPECT_EQ(s.led, (std::array<uint8_t, 2>{1, 2}));
    EXPECT_EQ(s.ledr, (std::array<uint8_t, 2>{3, 4}));
    EXPECT_FALSE(s.antenna_on);
    EXPECT_EQ(s.picc_protocol, 'B');
    EXPECT_EQ(s.baud_code, 5);
    EXPECT_EQ(s.brightness, 0x33);
    EXPECT_EQ(s.date, (std::array<uint8_t, 6>{24, 1, 2, 3, 4, 5}));
    EXPECT_EQ(s.lcd_text, (Bytes{'H', 'i'}));
    EXPECT_EQ(s.poweroff_delay, 300);
    EXPECT_EQ(s.ulc_key[0], 0x5A);
    EXPECT_EQ(s.dataenc_key[15], 0xA5);

    EXPECT_EQ(run(fw, 0x0601).data, (Bytes{0x7E}));
    EXPECT_EQ(run(fw, 0x0603).data, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(run(fw, 0x0F30, {0x02}).data, (Bytes{31}));
    EXPECT_EQ(run(fw, 0x0F31, {0x02}).data, (Bytes{1}));
    EXPECT_EQ(run(fw, 0x7F32).data, (Bytes{0xAB, 0xCD}));
}

TEST(SimFirmware, KeysAreKeptPerIndexAndType) {
    Firmware fw;
    EXPECT_EQ(run(fw, 0x0605, {0x60, 0x04, 1, 2, 3, 4, 5, 6}).status, 0);
    EXPECT_EQ(run(fw, 0x0605, {0x61, 0x04, 9, 9, 9, 9, 9, 9}).status, 0);
    EXPECT_EQ(run(fw, 0x0605, {0x60, 0x05, 7, 7, 7, 7, 7, 7}).status, 0);
    EXPECT_EQ(run(fw, 0x0605, {0x60, 0x04, 6, 5, 4, 3, 2, 1}).status, 0);  // replaces
    const auto keys = fw.settings().keys;
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys.at({0x04, 0x60}), (Bytes{6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(keys.at({0x04, 0x61}), (Bytes{9, 9, 9, 9, 9, 9}));
    EXPECT_EQ(keys.at({0x05, 0x60}), (Bytes{7, 7, 7, 7, 7, 7}));
}

TEST(SimFirmware, RandomBytesAreFreshAndKept) {
    Firmware fw;
    fw.seed_random(7);
    const Reply a = run(fw, 0x0F09, {8});
    EXPECT_EQ(a.status, 0);
    ASSERT_EQ(a.data.size(), 8u);
    EXPECT_EQ(fw.last_random(), a.data);
    const Reply b = run(fw, 0x0F09, {8});
    EXPECT_NE(a.data, b.data);
    EXPECT_EQ(run(fw, 0x0F09, {200}).data.size(), 200u);
    // The same seed gives the same bytes (reproducible link keys).
    Firmware again;
    again.seed_random(7);
    EXPECT_EQ(run(again, 0x0F09, {8}).data, a.data);
}

// Refusals, with the status bytes that map to the intended codes
// (first family: 0x0B -22, 0x0C -24, 0x8E -114, 0x8F -113).
TEST(SimFirmware, RefusesBadRequests) {
    Firmware fw;
    struct Case {
        const char* name;
        uint16_t cmd;
        Bytes data;
        uint8_t status;
    };
    const Case cases[] = {
        {"unknown command", 0x7777, {}, 0x0B},
        {"card protocol C", 0x0108, {'C'}, 0x0C},
        {"antenna 2", 0x010C, {0x02}, 0x0C},
        {"key type 0x62", 0x0605, {0x62, 0x00, 1, 2, 3, 4, 5, 6}, 0x0C},
        {"key missing", 0x0605, {0x60, 0x00}, 0x8E},
        {"buzzer one byte", 0x010D, {0x01}, 0x8E},
        {"serial number 7 bytes", 0x0604, {1, 2, 3, 4, 5, 6, 7}, 0x8E},
        {"ulc key 15 bytes", 0x0710, Bytes(15, 0), 0x8E},
        {"package size sub 3", 0x0F30, {0x03}, 0x0C},
        {"package size no sub", 0x0F30, {}, 0x8E},
        {"poweroff sub 1", 0x0F05, {0x01, 0x00, 0x10}, 0x0C},
        {"random no count", 0x0F09, {}, 0x8E},
    };
    const vrsim::Settings before = fw.settings();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Reply r = run(fw, c.cmd, c.data);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.data.empty());
    }
    const vrsim::Settings after = fw.settings();
    EXPECT_EQ(after.picc_protocol, before.picc_protocol);
    EXPECT_EQ(after.antenna_on, before.antenna_on);
    EXPECT_TRUE(after.keys.empty());
    EXPECT_EQ(after.beeps, 0u);
}

TEST(SimFirmware, RepeatRequestAsksForThePreviousFrame) {
    Firmware fw;
    EXPECT_TRUE(run(fw, 0x0216).repeat_previous);
    Firmware second(Family::second);
    EXPECT_TRUE(run(second, 0x0216).repeat_previous);
}

TEST(SimFirmware, EncipheredRequestNeedsTheLinkCipher) {
    Firmware fw;
    Request rq{0x010D, {0x00, 0x02, 1, 2, 3, 4, 5, 6, 7, 8}, true};
    EXPECT_EQ(fw.handle(rq).status, 0x8F);
    EXPECT_EQ(fw.settings().beeps, 0u);
}

// Second family: 0x87 and the link commands; its own status bytes
// (0x03 -24, 0x1A -22).
TEST(SimFirmware, SecondFamily) {
    Firmware fw(Family::second);
    EXPECT_EQ(run(fw, 0x87, {'B'}).status, 0);
    EXPECT_EQ(fw.settings().picc_protocol, 'B');
    EXPECT_EQ(run(fw, 0x87, {'Z'}).status, 0x03);
    EXPECT_EQ(run(fw, 0x87, {}).status, 0x03);
    EXPECT_EQ(run(fw, 0x0F02, {0x11, 0x22, 0x33}).data, (Bytes{0x11, 0x22, 0x33}));
    // First-family commands are not this family's.
    EXPECT_EQ(run(fw, 0x010D, {1, 2}).status, 0x1A);
    EXPECT_EQ(run(fw, 0x0D, {1, 2}).status, 0x1A);
    EXPECT_EQ(fw.unknown_command_status(), 0x1A);
}

// Later command areas plug in through the table.
TEST(SimFirmware, CommandsCanBeAdded) {
    Firmware fw;
    EXPECT_FALSE(fw.has_command(0x0777));
    fw.add_command(0x0777, [](vrsim::FirmwareState& st, const Request&) {
        return st.settings.antenna_on ? Reply::ok({0xDE, 0xAD, 0xBE, 0xEF}) : Reply::error(0x0D);
    });
    EXPECT_TRUE(fw.has_command(0x0777));
    EXPECT_EQ(run(fw, 0x0777).data, (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
    run(fw, 0x010C, {0x00});
    EXPECT_EQ(run(fw, 0x0777).status, 0x0D);
}
