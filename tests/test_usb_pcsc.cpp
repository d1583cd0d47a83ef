// USB readers through pcscd: a private pcscd whose hot-plug reads the
// driver's bundle finds an attachment emulated with umockdev (the real
// libusb in pcscd's process, the simulated reader behind the device) and
// hands the driver its usb:... name; a libpcsclite client uses the reader.
// Runs under the umockdev preload.
#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "card.h"
#include "pcsc_client.h"
#include "private_pcscd.h"
#include "sim_harness.h"
#include "usb_bed.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

constexpr auto kEventWait = 6s;
constexpr const char *kUmockdevPreload = "libumockdev-preload.so.0";

class UsbPcsc : public ::testing::Test {
protected:
    void SetUp() override {
        sim = vrsim::start_simulator();
        ASSERT_TRUE(sim) << "simulator did not start";
        bed = std::make_unique<vrtest::UsbBed>();
        ASSERT_TRUE(bed->ok()) << bed->why();
        dev = bed->plug(vrsim::UsbKind::ch9326, sim->path(), sim->protocol());
        ASSERT_TRUE(dev) << bed->why();
        ASSERT_TRUE(dev->add_interface()) << dev->why();
        const std::string drivers = std::filesystem::path(VR_IFD_BUNDLE).parent_path();
        ASSERT_TRUE(daemon.start_hotplug(drivers, kUmockdevPreload)) << daemon.error();
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context), SCARD_S_SUCCESS);
    }
    void TearDown() override {
        if (card) SCardDisconnect(card, SCARD_LEAVE_CARD);
        if (context) SCardReleaseContext(context);
        EXPECT_TRUE(daemon.running()) << daemon.log();
        // Under the preload pcscd's shutdown may stall in its hot-plug thread
        // (a removed attachment's channel is closed before the shutdown).
        EXPECT_TRUE(daemon.stop_cleanly(std::chrono::seconds(3))) << daemon.log();
    }

    // The reader pcscd's hot-plug added, "" when none shows in time.
    std::string wait_for_reader() { return vrtest::wait_for_reader(context); }

    bool wait_present(const std::string &reader) {
        return vrtest::wait_reader_state(context, reader.c_str(), SCARD_STATE_PRESENT, kEventWait);
    }

    Bytes send(const Bytes &command) {
        Bytes answer;
        vrtest::transmit(card, command, answer);
        return answer;
    }

    std::unique_ptr<vrsim::Simulator> sim;
    std::unique_ptr<vrtest::UsbBed> bed;
    vrtest::EmulatedUsb *dev = nullptr;
    vrtest::PrivatePcscd daemon;
    SCARDCONTEXT context = 0;
    SCARDHANDLE card = 0;
};

// The reader pcscd names after the bundle's row for the attachment; the
// driver opens it from the usb:1a86/e010:libudev:0:/dev/bus/usb/001/002
// name pcscd gives, and carries the card's commands over the USB link.
TEST_F(UsbPcsc, HotPlugFindsTheAttachmentAndTheDriverServesIt) {
    const std::string reader = wait_for_reader();
    ASSERT_EQ(reader, "vantel-rfid USB reader (ch9326) 00 00") << daemon.log();
    auto classic = vrsim::Card::classic_1k({0x11, 0x22, 0x33, 0x44});
    sim->field().place(classic);
    ASSERT_TRUE(wait_present(reader)) << daemon.log();
    DWORD protocol = 0;
    ASSERT_EQ(SCardConnect(context, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card, &protocol),
              SCARD_S_SUCCESS);
    const Bytes ok{0x90, 0x00};
    EXPECT_EQ(send({0xFF, 0xCA, 0x00, 0x00, 0x00}), (Bytes{0x11, 0x22, 0x33, 0x44, 0x90, 0x00}));
    EXPECT_EQ(send({0xFF, 0x82, 0x00, 0x00, 0x06, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), ok);
    EXPECT_EQ(send({0xFF, 0x86, 0x00, 0x00, 0x05, 0x01, 0x00, 0x04, 0x60, 0x00}), ok);
    const auto block = classic->block(4);
    Bytes expected(block.begin(), block.end());
    expected.insert(expected.end(), ok.begin(), ok.end());
    EXPECT_EQ(send({0xFF, 0xB0, 0x00, 0x04, 0x10}), expected);
}

// Pulled out, the attachment leaves pcscd's reader list: pcscd closes the
// driver's channel on a device that is gone, and carries on.
TEST_F(UsbPcsc, AnUnpluggedAttachmentLeavesTheReaderList) {
    ASSERT_FALSE(wait_for_reader().empty()) << daemon.log();
    dev->unplug_with_event();
    const auto deadline = std::chrono::steady_clock::now() + kEventWait;
    LONG rv = SCARD_S_SUCCESS;
    while (std::chrono::steady_clock::now() < deadline) {
        char names[1024];
        DWORD n = sizeof names;
        rv = SCardListReaders(context, nullptr, names, &n);
        if (rv == SCARD_E_NO_READERS_AVAILABLE) break;
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(rv, SCARD_E_NO_READERS_AVAILABLE) << daemon.log();
    EXPECT_NE(daemon.log().find("RFRemoveReader"), std::string::npos) << daemon.log();
    EXPECT_TRUE(daemon.running());
}

}  // namespace
