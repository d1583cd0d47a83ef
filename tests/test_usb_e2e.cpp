// The USB links end to end: the real libusb against emulated devices whose
// far end is the simulated reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "pcd.h"
#include "picc.h"
#include "sim_harness.h"
#include "tessil.h"
#include "usb_bed.h"
#include "usbhid.h"
#include "virt_com.h"

namespace {

using vrsim::UsbKind;

class UsbLink : public ::testing::TestWithParam<UsbKind> {
protected:
    void plug(UsbKind kind) {
        vrsim::SimOptions o;
        o.family = kind == UsbKind::pdiusbd12 ? 2 : 1;
        sim = vrsim::start_simulator(o);
        ASSERT_TRUE(sim);
        bed = std::make_unique<vrtest::UsbBed>();
        ASSERT_TRUE(bed->ok()) << bed->why();
        dev = bed->plug(kind, sim->path(), sim->protocol());
        ASSERT_TRUE(dev) << bed->why();
        name = vrsim::usb_identity(kind).name;
    }
    void TearDown() override {
        virt_com_close();
        if (fd >= 0) close(fd);
        bed.reset();
        sim.reset();
    }
    std::unique_ptr<vrsim::Simulator> sim;
    std::unique_ptr<vrtest::UsbBed> bed;
    vrtest::EmulatedUsb *dev = nullptr;
    const char *name = "";
    int fd = -1;
};

TEST_P(UsbLink, OpensByIdsAndTalks) {
    plug(GetParam());
    picc_regapi(VR_FAMILY_FIRST);
    ASSERT_EQ(virt_com_open(name, 0, -1, -1, nullptr), 0) << errno;
    unsigned char mid = 0;
    EXPECT_EQ(pcd_get_mid(&mid), 0) << errno;
}

INSTANTIATE_TEST_SUITE_P(All, UsbLink,
                         ::testing::Values(UsbKind::hid_reader, UsbKind::ch340g, UsbKind::ch9326, UsbKind::pdiusbd12));

}  // namespace
