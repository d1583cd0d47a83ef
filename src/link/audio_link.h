// Internal pieces of the audio link's carrier selection shared with the
// card framework and the tests.
#pragma once

namespace vr::link {

// A carrier whose short and long echoes all came back.
inline constexpr int kPerfectScore = 100;
// The least score the simple uplink algorithm is trusted with.
inline constexpr int kMinScoreSimple = 8;

// The scored choice among three candidates: the later of two only when it
// scores higher, so ties keep the earlier one. Index 0, 1 or 2.
int scored_choice_index(const int scores[3]);

// Opens the port on the "sound" link as virt_com_open does for that name
// (the audio link has no start-up settings): the handshakes open the link
// themselves. 0, or -1 with errno -10.
int open_sound_port();

// Control codes 19 and 24: the handshake, closing the port when it fails,
// and the frequency test, logging a failure; neither result goes below -1.
int control_handshake(int mode);
int control_uplink_freq_test(int freq);

}  // namespace vr::link
