// Decoding a recorded uplink (a capture of the headset's microphone) with
// the receive side's own calibration and demodulator, as the receive
// thread would have: the way to look at a real reader's signal offline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vr::modem {

struct CaptureDecode {
    std::vector<uint8_t> bytes;
    std::string symbols;      // 'S' / 'L' in the order they were found
    int level_mid = 0;        // the calibrated slicing level
    int short_width = 0;      // samples per short / long lobe
    int long_width = 0;
};

// Calibrates on the first tenth of a second and demodulates the rest at the
// uplink carrier in force (the modem's settings; suart_init gives the
// defaults). Mono 16-bit samples at 44100 Hz. False when there are too few
// samples to calibrate on or calibration fails. Uses the modem's state:
// not while the "sound" link is open.
bool decode_capture(const int16_t *samples, std::size_t count, CaptureDecode &out);

// Bytes from a symbol stream as the receive side frames them: a long start
// symbol, then eight data symbols; symbols before a start are skipped.
std::vector<uint8_t> bytes_from_symbols(std::string_view symbols);

}  // namespace vr::modem
