// The "sound" link end to end: the library's modem against the simulated
// reader's audio front end on the virtual line (virtual sample clock unless
// a case says otherwise), through the card framework and the control codes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio.h"
#include "card.h"
#include "modem/modem.h"
#include "field.h"
#include "pcd.h"
#include "sound_link.h"
#include "sound_session.h"
#include "suart.h"
#include "suart_signal.h"
#include "sys.h"
#include "tessil.h"

namespace {

using vrtest::SoundLink;
using Bytes = std::vector<uint8_t>;

const unsigned char kKey[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint16_t kCmdEcho = 0x0F02;
constexpr uint16_t kCmdSetCarrier = 0x0F01;

std::vector<Bytes> echoes(const vrsim::Simulator &sim) {
    std::vector<Bytes> out;
    for (const auto &r : sim.requests())
        if (r.cmd == kCmdEcho) out.push_back(r.data);
    return out;
}

class SoundE2e : public SoundLink {
protected:
    picc *open_card() { return picc_open("mifare_s50", "sound", 0, PICC_SEARCH_PLAIN); }

    // A card session over the link: write, read back, dump the whole card
    // and compare it with the card's memory.
    void card_session() { vrtest::card_session_with_dump(*front); }
};

TEST_F(SoundE2e, ReaderInfoOverTheAudioLink) {
    start_reader();
    ASSERT_EQ(picc_connect("sound", 0, 1, nullptr), 0) << errno;
    EXPECT_EQ(virt_com_status(), VIRT_COM_OPEN);
    unsigned char version[32] = {};
    ASSERT_EQ(pcd_get_firmware_version(version), 0) << errno;
    EXPECT_EQ(std::memcmp(version, "vantel-sim 1.0.0", 16), 0);
    unsigned char *model = pcd_hard_model();
    ASSERT_NE(model, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char *>(model), "VR1356-S");
    std::free(model);
    // Code 48 reports the algorithm and carrier the handshake left.
    int info[2] = {};
    ASSERT_EQ(picc_ctrl(nullptr, PICC_CTRL_UPLINK_INFO, info), 0);
    EXPECT_EQ(info[0], 2);
    EXPECT_EQ(info[1], 5512);
    EXPECT_EQ(front->uplink_frequency(), 5512);
}

TEST_F(SoundE2e, MifareSessionAndDump) {
    start_reader();
    card_session();
}

TEST_F(SoundE2e, EncryptedLinkServesTheCard) {
    start_reader();
    vrtest::card_session_enciphered(*front);
}

// Noise and a clock offset on both directions, within what the default
// carrier tolerates: 25 dB SNR, +250 ppm on the uplink, -250 on the
// downlink, a DC offset and an inverted uplink.
TEST_F(SoundE2e, NoisyLineWithClockOffsets) {
    vrsim::AudioOptions audio;
    audio.uplink.snr_db = 25;
    audio.uplink.clock_ppm = 250;
    audio.uplink.dc_offset = 600;
    audio.uplink.invert = true;
    audio.uplink.seed = 7;
    audio.downlink.snr_db = 25;
    audio.downlink.clock_ppm = -250;
    audio.downlink.seed = 8;
    start_reader(audio);
    card_session();
}

// The same session at audio pace: the far end takes samples in real time,
// so the link runs as on a sound card.
TEST_F(SoundE2e, CardSessionAtAudioPace) {
    vr::audio::line::Options line;
    line.virtual_clock = false;
    start_reader({}, line);
    front->field().place(vrtest::filled_card());
    picc *p = open_card();
    ASSERT_NE(p, nullptr) << errno;
    ASSERT_EQ(picc_auth(p, kKey, 0x60, 12), 0);
    unsigned char back[16] = {};
    ASSERT_EQ(picc_read(p, back, 13), 0);
    EXPECT_EQ(back[0], static_cast<uint8_t>(13 * 16));
}

// A headset path that passes up to 3.4 kHz (sixth order), and from 50 Hz
// (the line code has low-frequency content that a higher high-pass would
// distort). Data on a carrier needs the octave below it too (long lobes are
// half its frequency): 2004 Hz works, 5512 and 7350 Hz do not, nor does
// anything above about 3.4 kHz.
vrsim::AudioOptions band_limited() {
    vrsim::AudioOptions audio;
    audio.uplink.bandpass_low_hz = 50;
    audio.uplink.bandpass_high_hz = 3400;
    audio.uplink.bandpass_order = 6;
    audio.uplink.noise_rms = 60;
    return audio;
}

// Mode 6 scores 7350, 5512 and 2004 Hz: on the band-limited channel the
// first two fail and the link settles on 2004.
TEST_F(SoundE2e, ScoredChoiceSettlesInsideThePassBand) {
    start_reader(band_limited());
    ASSERT_EQ(virt_com_open("sound", 0), 0);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_HANDSHAKE, 6), 0);
    EXPECT_EQ(front->uplink_frequency(), 2004);
    EXPECT_EQ(signal_width2freq(vr::modem::up_short_width()), 2004);
    unsigned char version[32] = {};
    EXPECT_EQ(pcd_get_firmware_version(version), 0) << "the link works on the chosen carrier";
}

// The normal channel test measures the uplink at every carrier and picks
// one inside the band the channel passes.
TEST_F(SoundE2e, NormalChannelTestFindsACarrierInsideThePassBand) {
    start_reader(band_limited());
    ASSERT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_CHANTEST, 1, 0), 0);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_PROGRESS), 100);
    const int best = picc_ctrl(nullptr, PICC_CTRL_AUDIO_BEST_FREQ);
    EXPECT_GE(best, 1800) << "with its octave below inside the band";
    EXPECT_LE(best, 3400);
    EXPECT_EQ(virt_com_status(), VIRT_COM_CLOSED) << "the test ends the link";
    // The link opens again afterwards.
    EXPECT_EQ(virt_com_open("sound", 0), 0);
}

// The blocking wait ends with the test, also for the kinds that end at a
// few percent.
TEST_F(SoundE2e, FastChannelTestEndsTheWait) {
    start_reader();
    EXPECT_EQ(signal_chantest(0, 0), 0);
    EXPECT_EQ(signal_get_process(), 4);
    EXPECT_EQ(signal_best_frequence(), 5000);
}

TEST_F(SoundE2e, HandshakeAtAGivenFrequency) {
    start_reader();
    ASSERT_EQ(virt_com_open("sound", 0), 0);
    EXPECT_EQ(signal_try_communicate(4410), 0);
    EXPECT_EQ(front->uplink_frequency(), 4410);
    EXPECT_EQ(vr::modem::up_short_width(), 5);
    bool moved = false;
    for (const auto &r : front->sim().requests())
        moved = moved || (r.cmd == kCmdSetCarrier && r.data == Bytes{0x11, 0x3A});
    EXPECT_TRUE(moved) << "the reader was told 4410 Hz";
}

// A carrier whose short echoes fail twice is given up before the long
// echoes are tried.
TEST_F(SoundE2e, ScoreGivesUpAfterTwoShortEchoFailures) {
    start_reader();
    ASSERT_EQ(virt_com_open("sound", 0), 0);
    ASSERT_EQ(signal_change_frequence(5512), 0);
    front->sim().clear_log();
    // Every second reply is a refusal: the set-carrier answer goes through,
    // the first and third short echoes fail.
    front->sim().inject_every(vrsim::Fault::with_status(0x0C), 2);
    EXPECT_EQ(signal_try_communicate_4(5512), -1);
    for (const Bytes &e : echoes(front->sim())) EXPECT_EQ(e.size(), 16u) << "no 128-byte echo went out";
}

TEST_F(SoundE2e, CommTestPatterns) {
    start_reader();
    ASSERT_EQ(virt_com_open("sound", 0), 0);
    struct Case {
        int param;
        Bytes expected;  // empty: 16 bytes of any value
    };
    const Case cases[] = {
        {0x00000005, {0, 1, 2, 3, 4}},
        {0x0200AA20, Bytes(32, 0xAA)},
        {0x01000010, {}},
    };
    for (const Case &c : cases) {
        front->sim().clear_log();
        EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 0, c.param), 0) << std::hex << c.param;
        const auto sent = echoes(front->sim());
        ASSERT_EQ(sent.size(), 1u);
        if (c.expected.empty())
            EXPECT_EQ(sent[0].size(), 16u);
        else
            EXPECT_EQ(sent[0], c.expected);
    }
}

// The frequency test plays a tone; the reply owed by it does not hold up
// the next command: when the first answer is lost, the port is open again
// afterwards and the next command goes without the reader's echo in front.
TEST_F(SoundE2e, UplinkFrequencyTest) {
    start_reader();
    ASSERT_EQ(virt_com_open("sound", 0), 0);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_UPLINK_FREQ_TEST, 2004), 0);
    EXPECT_EQ(front->tones(), 1);
    EXPECT_EQ(front->uplink_frequency(), 5512) << "the carrier stays";
    unsigned char version[32] = {};
    EXPECT_EQ(pcd_get_firmware_version(version), 0);

    front->sim().inject(vrsim::Fault::drop());
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_UPLINK_FREQ_TEST, 2004), 0);
    EXPECT_EQ(virt_com_status(), VIRT_COM_OPEN);
    front->sim().clear_log();
    EXPECT_EQ(pcd_get_firmware_version(version), 0);
    EXPECT_TRUE(echoes(front->sim()).empty()) << "no ping before the command";
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_UPLINK_FREQ_TEST, 30000), -1) << "a reader refuses 30 kHz";
}

TEST_F(SoundE2e, UnplugAndReplug) {
    start_reader();
    ASSERT_EQ(virt_com_open("sound", 0), 0);
    vr::audio::line::plug(false);
    while (virt_com_status() != VIRT_COM_REMOVED) sys_delay_nus(10000);
    unsigned char version[32] = {};
    EXPECT_EQ(pcd_get_firmware_version(version), -1);
    EXPECT_EQ(errno, -80);
    vr::audio::line::plug(true);
    while (virt_com_status() != VIRT_COM_OPEN) sys_delay_nus(10000);
    // The receive side calibrates again before the link carries commands.
    EXPECT_EQ(pcd_get_firmware_version(version), 0) << errno;
}

TEST_F(SoundE2e, UltraConnectTypes) {
    start_reader();
    // Type 2: a fixed carrier with the pattern decoder.
    ASSERT_EQ(picc_ctrl(nullptr, PICC_CTRL_ULTRA_CONNECT, "sound", 2, 0, 2004), 0) << errno;
    EXPECT_EQ(vr::modem::uplink_alg(), 0);
    EXPECT_EQ(front->uplink_frequency(), 2004);
    unsigned char version[32] = {};
    EXPECT_EQ(pcd_get_firmware_version(version), 0);
    virt_com_close();
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_ULTRA_CONNECT, "sound", 2, 7, 2004), -24) << "no algorithm 7";
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_ULTRA_CONNECT, "sound", 9, 0, 0), -24) << "no connect type 9";
    EXPECT_EQ(virt_com_status(), VIRT_COM_CLOSED);
}

}  // namespace
