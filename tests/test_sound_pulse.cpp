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
#include "sound_session.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

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

TEST_F(SoundPulse, ReaderInfo) {
    ASSERT_EQ(picc_connect("sound", 0, 1, nullptr), 0) << errno;
    unsigned char version[32] = {};
    ASSERT_EQ(pcd_get_firmware_version(version), 0) << errno;
    EXPECT_EQ(std::memcmp(version, "vantel-sim 1.0.0", 16), 0);
}

TEST_F(SoundPulse, MifareSessionAndDump) { vrtest::card_session_with_dump(*front); }

TEST_F(SoundPulse, EncryptedLinkServesTheCard) { vrtest::card_session_enciphered(*front); }

}  // namespace
