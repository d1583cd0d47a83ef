// Carrier selection's rules on their own: the carrier a band allows, the
// scored choice, the band a spectrum passes, the channel test's progress,
// and echo requests refused before any traffic.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <vector>

#include "audio.h"
#include "link/audio_link.h"
#include "modem/device.h"
#include "suart_signal.h"

namespace {

TEST(CarrierChoice, CarrierOfABand) {
    struct Case {
        int start, end, carrier;
    };
    const Case cases[] = {
        {1002, 11025, 5512},  // capped at the default carrier
        {4000, 5000, -1},     // less than an octave: 2 x 1000 < 5000
        {1002, 4410, 4410},   // the band's top
        {2000, 4000, 4000},   // exactly an octave
        {1002, 0, -1},        // no band
    };
    for (const Case &c : cases) EXPECT_EQ(signal_carrier_freq(c.start, c.end), c.carrier) << c.start << ".." << c.end;
}

TEST(CarrierChoice, ScoredChoiceKeepsTheEarlierOnTies) {
    struct Case {
        std::array<int, 3> scores;
        int pick;
    };
    const Case cases[] = {
        {{19, 26, 26}, 1},  // 5512: the tie with 2004 keeps the earlier
        {{26, 19, 26}, 0},  // 7350
        {{26, 26, 26}, 0},
        {{-1, -1, 3}, 2},
        {{-1, -1, -1}, 0},
    };
    for (const Case &c : cases) EXPECT_EQ(vr::link::scored_choice_index(c.scores.data()), c.pick);
}

TEST(CarrierChoice, BandOfASpectrum) {
    struct Case {
        std::array<int, 21> spectrum;  // index i: the carrier of width 22 - i
        int start, end;
    };
    std::array<int, 21> middle{};  // only 1225..3675 Hz (widths 18..6) pass
    for (int i = 4; i <= 16; ++i) middle[static_cast<std::size_t>(i)] = 1000;
    middle[17] = 600;  // 4410 Hz: below 0.707 of the middle level
    const Case cases[] = {
        {{}, 1002, 11025},  // flat: everything passes
        {middle, 1225, 3675},
    };
    for (const Case &c : cases) {
        int start = 0, end = 0;
        vr::modem::band_of_spectrum(c.spectrum.data(), start, end);
        EXPECT_EQ(start, c.start);
        EXPECT_EQ(end, c.end);
    }
    EXPECT_EQ(signal_carrier_freq(1002, 11025), 5512) << "a flat spectrum's carrier";
}

TEST(CarrierChoice, ChannelTestProgress) {
    signal_set_proval(0);
    EXPECT_EQ(signal_get_process(), 0);
    for (int step = 0; step < 23; ++step) signal_set_process();  // 21 carriers, the choice, the end
    EXPECT_EQ(signal_get_process(), 100);
    signal_set_proval(5);
    EXPECT_EQ(signal_get_process(), 4) << "the fast test's end";
    signal_set_proval(-1);
    EXPECT_EQ(signal_get_process(), -1);
}

// Bad requests never reach the port (which is not even open here).
TEST(CarrierChoice, EchoArgumentsAreCheckedFirst) {
    std::vector<unsigned char> data(4096, 0);
    errno = 0;
    EXPECT_EQ(audio_send_data(data.data(), 4088), -1);
    EXPECT_EQ(errno, -24);
    errno = 0;
    EXPECT_EQ(audio_send_data(nullptr, 4), -1);
    EXPECT_EQ(errno, -24);
    errno = 0;
    EXPECT_EQ(audio_echo(data.data(), nullptr, 4), -1);
    EXPECT_EQ(errno, -24);
    errno = 0;
    EXPECT_EQ(audio_change_frequence(0x10000), -1);
    EXPECT_EQ(errno, -24);
}

}  // namespace
