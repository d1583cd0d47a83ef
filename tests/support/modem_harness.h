// Loopback helpers for the audio modem's tests: configure the modem at a
// width and uplink algorithm, modulate bytes through the send path, run
// samples through the receive loop and decode the symbols.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vrtest {

// suart_init, then both directions at carrier width w, the uplink
// algorithm alg, antiphase lobes, and empty send and receive rings.
void modem_setup(int w, int alg);
// Releases the rings made by modem_setup.
void modem_teardown();

// How bytes are laid out on the line: bursts of `burst` bytes back to back
// (as the send path sends what was queued together), `idle` idle patterns
// between bursts, `lead` idle patterns before the first and `tail` after
// the last.
struct Framing {
    int burst = 1;
    int idle = 1;
    int lead = 8;
    int tail = 600;
};

// Interleaved stereo samples of the bytes, made by the send path.
std::vector<int16_t> modulate(std::span<const uint8_t> bytes, const Framing &framing);

// Runs mono samples through the receive loop in blocks of 2048 (a partial
// last block is dropped) and returns the symbols appended to the ring. A
// fresh stream starts with nothing carried; otherwise the receive state
// goes on from where it is.
std::string receive(std::span<const int16_t> mono, bool fresh = true);

// Takes every symbol out of the receive ring.
std::string drain_ring();

// Bytes from symbols, by the rules of the modem's byte reader: symbols
// before an 'L' are dropped; an 'L' and the eight symbols after it are one
// byte; an incomplete last byte is dropped.
std::vector<uint8_t> decode_symbols(const std::string &symbols);

// Level calibration over the first 4410 samples of mono (sets level_mid),
// keeping the uplink width of modem_setup.
int calibrate(std::span<const int16_t> mono);

// Random bytes from a fixed seed.
std::vector<uint8_t> random_bytes(std::size_t n, uint32_t seed);

}  // namespace vrtest
