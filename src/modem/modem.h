// Internal interface of the audio modem's signal path: access to the modem
// state in the global record, the accessors the card-control codes use, and
// the per-pass work of the send and receive sides, for the modem threads.
#pragma once

#include <atomic>
#include <cstdint>

#include "suart.h"
#include "suart_signal.h"
#include "tessil.h"

namespace vr::modem {

inline suart_state &state() { return tessil.s_com.suart; }

// Words that one thread writes while another reads them (configuration the
// host changes, pending widths) go through relaxed atomic accesses.
template <class T>
inline T load(T &word) {
    return std::atomic_ref<T>(word).load(std::memory_order_relaxed);
}
template <class T>
inline void store(T &word, T value) {
    std::atomic_ref<T>(word).store(value, std::memory_order_relaxed);
}

inline bool valid_width(int w) { return w >= SUART_WIDTH_MIN && w <= SUART_WIDTH_MAX; }

// ---- accessors for the card-control codes (23 and 48)
int uplink_alg();
int set_uplink_alg(int value);  // returns value
int suart_debug();
int set_suart_debug(int value);  // returns value
int up_short_width();
int level_mid();

// ---- frequency changes
// Copy the pending widths and durations into force (long values twice the
// short ones). The downlink update rebuilds the lobe buffers at once in the
// layout in force, so the next lobe written has the new width. Neither logs
// nor allocates: both may run inside the modem threads' signal handlers.
void apply_pending_downlink();
void apply_pending_uplink();
// Moves the receiver to the carrier freq (a frequency signal_width2freq
// gives): its width and lobe duration become the pending uplink values,
// handed to the receive thread, and the active receive frequency. Nothing
// for a frequency without a width.
void retune_uplink(int freq);
// Hand the pending values to the side that owns the widths. Until the modem
// threads exist this applies them on the calling thread.
void request_downlink_update();
void request_uplink_update();

// ---- send side
// Receives n interleaved 16-bit samples; returns n, or -1.
using SampleSink = int (*)(void *context, const int16_t *samples, int n);
// One pass of the send path: every byte queued in the send ring becomes its
// lobes, written byte by byte to the sink, back to back; with nothing queued
// `idle_patterns` idle patterns are written in one call (one by default; at
// most what the send buffer holds, six at the widest carrier). Nothing is written while calibrating (170).
// Returns the samples written, or -1 (no lobes built, or the sink failed).
int send_pass(SampleSink sink, void *context, int idle_patterns = 1);

// ---- receive side
// The pattern decoder (signal_fetch_pulse_pattern) takes blocks of fewer
// than this many samples.
inline constexpr int kPatternBlockLimit = 544;

// One pass of the receive loop (analysis state 0): reads a block of
// `block` samples (at most 2048) after the samples carried from the last
// pass, analyses it with
// the pipeline of uplink_alg up to its last falling crossing and carries
// what follows the last crossing found (when short enough) to the next
// pass, so that consecutive blocks measure the lobes as one stream.
// Symbols go to the receive ring. Returns the samples consumed by the
// analysis, or -1 when the source fails (the carry is kept).
int receive_block(signal_read_fn read, void *context, int block = SUART_RX_BLOCK);

// Outcome of one calibration step of the receive loop.
enum class Calibration { kFailed, kAgain, kReady };
// Calibration step (analysis states 1 and 2): up to four level
// calibrations, sleeping between failures; then the lobes are rebuilt and
// the analysis state steps down. kReady: calibration status is 255 and the
// caller opens the send side; kFailed: status 187 and the caller closes the
// record side; kAgain: one more step to go.
Calibration calibration_step(signal_read_fn read, void *context,
                             unsigned retry_sleep_us = 500000);

// Slices samples at level in place: 1 above it, else 0; with repair, the
// width-2 run repair of signal_thresholding follows.
void slice(int16_t *samples, int n, int level, bool repair);

// Appends symbols to the receive ring, as many as it has room for (a full
// ring loses the rest, as a full ring loses any symbol).
void append_symbols(const char *symbols, int n);

// Number of samples analysed and carried for width w (see receive_block).
int lookback_window(int w);
int carry_limit(int w);

}  // namespace vr::modem
