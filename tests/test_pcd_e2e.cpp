// Reader commands end to end against the simulated reader: the request
// each public function sends, what it returns, and its refusals.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "pcd.h"
#include "sim_link.h"

namespace {

using vrsim::Fault;
using vrtest::Bytes;

class Pcd : public vrtest::SimLink {
protected:
    void SetUp() override { open_link(); }
    // The one request the reader received since the last clear.
    vrsim::Request last_request() {
        auto r = sim->requests();
        EXPECT_FALSE(r.empty());
        return r.empty() ? vrsim::Request{} : r.back();
    }
};

struct CommandCase {
    const char *name;
    std::function<int()> call;
    uint16_t cmd;
    Bytes data;
};

TEST_F(Pcd, EachFunctionSendsItsCommand) {
    static const unsigned char mid[1] = {0x42};
    static const unsigned char msn[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    static const unsigned char date[6] = {26, 12, 10, 13, 14, 15};
    static const unsigned char key16[16] = {0xA0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0xAF};
    static const unsigned char valid[2] = {0x12, 0x34};
    static const unsigned char key6[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const CommandCase cases[] = {
        {"picc_protocol", [] { return pcd_set_picc_protocol('B'); }, 0x0108, {'B'}},
        {"antenna_open", [] { return pcd_antenna_open(); }, 0x010C, {0x01}},
        {"antenna_close", [] { return pcd_antenna_close(); }, 0x010C, {0x00}},
        {"baud", [] { return pcd_set_baud(5); }, 0x0101, {0x05}},
        {"protocol", [] { return pcd_set_protocol('A'); }, 0x0108, {'A'}},
        {"download_passwd", [] { return pcd_download_passwd(3, 0x61, key6, 6); }, 0x0605,
         {0x61, 0x03, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"buzzer", [] { return pcd_set_buzzer(2, 3); }, 0x010D, {0x02, 0x03}},
        {"buzzer_ex", [] { return pcd_set_buzzer_ex(1, 2, 0x0304, 5); }, 0x0110, {0x01, 0x02, 0x04, 0x03, 0x05}},
        {"led", [] { return pcd_set_led(1, 0); }, 0x010E, {0x01, 0x00}},
        {"ledr", [] { return pcd_set_ledr(0, 1); }, 0x010F, {0x00, 0x01}},
        {"set_mid", [] { return pcd_set_mid(mid); }, 0x0602, {0x42}},
        {"set_ulc_key", [] { return pcd_set_ulc_key(key16); }, 0x0710, Bytes(key16, key16 + 16)},
        {"set_dataenc_key", [] { return pcd_set_dataenc_key(key16); }, 0x0711, Bytes(key16, key16 + 16)},
        {"set_validcard", [] { return pcd_set_validcard(valid); }, 0x7F31, {0x12, 0x34}},
        {"set_msn", [] { return pcd_set_msn(msn); }, 0x0604, Bytes(msn, msn + 8)},
        {"package_size", [] { return pcd_set_package_max_size(31); }, 0x0F30, {0x01, 31}},
        {"uart_mode", [] { return pcd_set_uart_mode(1); }, 0x0F31, {0x01, 0x01}},
        {"brightness", [] { return pcd_set_brightness(200); }, 0x0114, {200}},
        {"date", [] { return pcd_set_date(date); }, 0x0115, Bytes(date, date + 6)},
        {"lcdstr", [] { return pcd_set_lcdstr("hello"); }, 0x0117, {'h', 'e', 'l', 'l', 'o'}},
        {"poweroff_delay", [] { return pcd_set_poweroff_delay(30); }, 0x0F05, {0x03, 0x01, 0x2C}},
        {"poweroff_delay_high", [] { return pcd_set_poweroff_delay(200); }, 0x0F05, {0x03, 0x07, 0xD0}},
    };
    for (const CommandCase &c : cases) {
        SCOPED_TRACE(c.name);
        sim->clear_log();
        EXPECT_EQ(c.call(), 0);
        const auto r = last_request();
        EXPECT_EQ(r.cmd, c.cmd);
        EXPECT_EQ(r.data, c.data);
    }
    const auto s = sim->firmware().settings();
    EXPECT_EQ(s.machine_id, 0x42);
    EXPECT_EQ(s.serial_number[7], 8);
    EXPECT_EQ(s.lcd_text, (Bytes{'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(s.poweroff_delay, 2000);
    EXPECT_EQ(s.keys.at({3, 0x61}), Bytes(key6, key6 + 6));
}

TEST_F(Pcd, GettersCopyTheReply) {
    unsigned char out[32];
    std::memset(out, 0xEE, sizeof out);
    ASSERT_EQ(pcd_get_firmware_version(out), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 16), "vantel-sim 1.0.0");
    EXPECT_EQ(out[16], 0xEE) << "16 bytes, not more";
    ASSERT_EQ(pcd_get_otp_sn(out), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 8), "VR1356-S");
    unsigned char *model = pcd_hard_model();
    ASSERT_NE(model, nullptr);
    EXPECT_STREQ(reinterpret_cast<char *>(model), "VR1356-S");
    free(model);
    ASSERT_EQ(pcd_get_msn(out), 0);
    EXPECT_EQ(out[0], 0x56);
    ASSERT_EQ(pcd_get_mid(out), 0);
    EXPECT_EQ(out[0], 0x01);
    ASSERT_EQ(pcd_get_jack(out), 0);
    ASSERT_EQ(pcd_get_validcard(out), 0);
    const unsigned char valid[2] = {0x12, 0x34};
    ASSERT_EQ(pcd_set_validcard(valid), 0);
    ASSERT_EQ(pcd_get_validcard(out), 0);
    EXPECT_EQ(Bytes(out, out + 2), Bytes(valid, valid + 2)) << "the valid-card setting read back";
    ASSERT_EQ(pcd_etc_sam_reset(out), 0);
    EXPECT_EQ(out[2], 0x90);
    EXPECT_EQ(pcd_get_package_max_size(), 64);
    ASSERT_EQ(pcd_set_uart_mode(1), 0);
    EXPECT_EQ(pcd_get_uart_mode(), 1);
    EXPECT_EQ(pcd_set_uart_intern_delay(3), 3) << "the setter returns the reply byte";
    EXPECT_EQ(pcd_get_uart_intern_delay(), 3);
    unsigned char random[8];
    ASSERT_EQ(do_pcd_get_rand(random, 8), 0);
    EXPECT_EQ(Bytes(random, random + 8), sim->firmware().last_random());
}

TEST_F(Pcd, BatteryPercentFromTheRawLevel) {
    const std::pair<int, int> rows[] = {{150, 0}, {188, 0}, {189, 3}, {200, 41}, {217, 100}, {230, 100}, {255, 100}};
    for (auto [raw, percent] : rows) {
        sim->firmware().set_battery(static_cast<uint8_t>(raw));
        EXPECT_EQ(pcd_get_power(nullptr), percent) << raw;
    }
}

TEST_F(Pcd, RefusalsBeforeAnyTraffic) {
    errno = 0;
    EXPECT_EQ(pcd_set_picc_protocol('C'), -1);
    EXPECT_EQ(errno, -24);
    unsigned char key[6] = {};
    EXPECT_EQ(pcd_download_passwd(0, 0x62, key, 6), -1);
    EXPECT_EQ(errno, -39);
    const std::string long_text(4095, 'x');
    EXPECT_EQ(pcd_set_lcdstr(long_text.c_str()), -1);
    EXPECT_EQ(errno, -24);
    EXPECT_EQ(pcd_write_eeprom(0, 1, key), -1);
    EXPECT_EQ(errno, -22);
    EXPECT_EQ(pcd_read_eeprom(0, 1, key), -1);
    EXPECT_EQ(errno, -22);
    EXPECT_EQ(pcd_get_mid(nullptr), -1);
    EXPECT_EQ(errno, -24);
    EXPECT_TRUE(sim->frames_received().empty());
    // The longest accepted text goes out whole.
    const std::string text(4094, 'y');
    EXPECT_EQ(pcd_set_lcdstr(text.c_str()), 0);
    EXPECT_EQ(sim->firmware().settings().lcd_text.size(), 4094u);
}

TEST_F(Pcd, ShortOrWrongRepliesAreFailures) {
    // A random-bytes reply of another length fails without a code.
    unsigned char out[16];
    sim->firmware().add_command(0x0F09, [](vrsim::FirmwareState &, const vrsim::Request &) {
        vrsim::Reply r;
        r.data = {1, 2, 3};
        return r;
    });
    EXPECT_EQ(do_pcd_get_rand(out, 8), -1);
    // A firmware version shorter than 16 bytes is malformed.
    sim->firmware().add_command(0x0103, [](vrsim::FirmwareState &, const vrsim::Request &) {
        vrsim::Reply r;
        r.data = {'v', '1'};
        return r;
    });
    errno = 0;
    EXPECT_EQ(pcd_get_firmware_version(out), -1);
    EXPECT_EQ(errno, -16);
}

TEST_F(Pcd, AntennaCloseWaitsAtMostItsOwnTimeout) {
    tessil.s_com.timeout = 3000;
    sim->inject(Fault::drop(), 2);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(pcd_antenna_close(), -1);
    const auto waited = std::chrono::steady_clock::now() - start;
    // Two attempts of 2 x 300 ms, far below the 3 s port default.
    EXPECT_LT(waited, std::chrono::milliseconds(2500));
    EXPECT_GE(waited, std::chrono::milliseconds(1100));
}

}  // namespace
