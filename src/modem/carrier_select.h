// Internal pieces of the carrier selection shared with the link set-up
// and the tests.
#pragma once

namespace vr::modem {

// A carrier whose short and long echoes all came back.
inline constexpr int kPerfectScore = 100;
// The least score the simple uplink algorithm is trusted with.
inline constexpr int kMinScoreSimple = 8;

// The scored choice among three candidates: the later of two only when it
// scores higher, so ties keep the earlier one. Index 0, 1 or 2.
int scored_choice_index(const int scores[3]);

// Connecting a card session over "sound": the carrier choice of the card
// framework's connect operations. 0, or -1 with errno set.
// picc_connect: uplink algorithm 2 and the default handshake, else
// algorithm 0 and the handshake once more.
int connect_sound();
// picc_ultra_connect: by connect type (0/-1 as connect_sound, 1 with the
// scored handshake, 2 a fixed carrier with the given algorithm, 3 the same
// without echo tests); other types do nothing.
int ultra_connect_sound(int connect_type, int alg, int freq);

// Control codes 19 and 24: the handshake, closing the port when it fails,
// and the frequency test, logging a failure; neither result goes below -1.
int ctrl_handshake(int mode);
int ctrl_uplink_freq_test(int freq);

}  // namespace vr::modem
