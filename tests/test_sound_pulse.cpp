// The "sound" link through a real sound server: the library's "pulse"
// backend plays into one sink of a private PulseAudio server and records
// the other's monitor; the simulated reader's front end does the reverse.
// The server runs at audio pace and may drop a stretch under load: the
// exchange's own resend rides over it.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "audio/backend.h"
#include "audio_front.h"
#include "card.h"
#include "field.h"
#include "pcd.h"
#include "picc.h"
#include "private_pulse.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

const unsigned char kKey[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

class SoundPulse : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.running()) << "private PulseAudio server: " << server.error();
        ASSERT_TRUE(vr::audio::select("pulse"));
        std::string why;
        auto port = vrsim::open_pulse_port("down.monitor", "up", &why);
        ASSERT_TRUE(port) << why;
        front = std::make_unique<vrsim::AudioFrontEnd>(std::move(port));
        ASSERT_TRUE(front->start());
        picc_regapi(VR_FAMILY_FIRST);
    }
    void TearDown() override {
        virt_com_close();
        if (front) front->stop();
        front.reset();
    }
    vrtest::PrivatePulse server;
    std::unique_ptr<vrsim::AudioFrontEnd> front;
};

TEST_F(SoundPulse, ReaderInfoAndACardRead) {
    auto card = front->field().place(vrsim::Card::classic_1k({0x11, 0x22, 0x33, 0x44}));
    ASSERT_EQ(picc_connect("sound", 0, 1, nullptr), 0) << errno;
    unsigned char version[32] = {};
    ASSERT_EQ(pcd_get_firmware_version(version), 0) << errno;
    EXPECT_EQ(std::memcmp(version, "vantel-sim 1.0.0", 16), 0);

    picc *p = picc_open("mifare_s50", "sound", 0, PICC_SEARCH_PLAIN);
    ASSERT_NE(p, nullptr) << errno;
    ASSERT_EQ(picc_auth(p, kKey, 0x60, 4), 0);
    const unsigned char data[16] = {'p', 'u', 'l', 's', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x77};
    ASSERT_EQ(picc_write(p, data, 5), 0);
    unsigned char back[16] = {};
    ASSERT_EQ(picc_read(p, back, 5), 0);
    EXPECT_EQ(std::memcmp(back, data, 16), 0);
    EXPECT_EQ(card->block(5)[15], 0x77);
    EXPECT_EQ(picc_close(p), 0);
}

}  // namespace
