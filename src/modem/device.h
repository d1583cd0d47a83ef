// Internal interface of the modem device: its three threads, the wake-up
// signal and handler stacks that steer them, the audio streams, and the
// pieces the carrier selection and channel test share with the threads.
#pragma once

#include <cstdint>

#include "audio/backend.h"
#include "modem/modem.h"

namespace vr::modem {

// Command bytes of the threads.
inline constexpr uint8_t kCmdNone = 0;
inline constexpr uint8_t kCmdOpen = 'U';
inline constexpr uint8_t kCmdClose = 'D';
inline constexpr uint8_t kCmdExit = '3';
inline constexpr uint8_t kCmdRun = 'f';

// Calibration status values.
inline constexpr int kCaliNone = 0;
inline constexpr int kCaliRecordMade = 204;
inline constexpr int kCaliVolumeSet = 221;
inline constexpr int kCaliCalibrating = 170;
inline constexpr int kCaliReady = 255;
inline constexpr int kCaliFailed = 187;
inline constexpr int kTrackReady = 255;

// Stream state bytes.
inline constexpr uint8_t kStreamMade = 4;
inline constexpr uint8_t kStreamRunning = 3;
inline constexpr uint8_t kStreamGone = 2;

// Plug status values.
inline constexpr int kPlugNone = '0';
inline constexpr int kPlugHeadphones = '1';
inline constexpr int kPlugHeadset = '2';

// The "sound" link's device operations (suart_device.cpp).
extern const vr_dev_ops kSoundOps;

// Index of a thread number (1, 2, 4) in per-thread arrays, else -1.
int slot_of(int thread);

// ---- commands: written by the thread itself (in its handlers or its
// loop), read by anyone.
uint8_t command(int thread);
// Sets the command and its time stamp.
void set_command(int thread, uint8_t value);

// ---- the wake-up signal
// Picks the real-time signal the modem wakes its threads with: the first
// one whose action is still the default (the host owns the others), and
// installs suart_signals_handler for it, which only guards against a stray
// delivery. The modem's threads keep it blocked and take it synchronously.
// False when every real-time signal is taken.
bool prepare_wake_signal();
int wake_signal();
// Blocks the wake-up signal in the calling thread.
void block_wake_signal();
// A point where the calling modem thread runs the handlers sent to it
// meanwhile. Cheap when none is pending; nothing on other threads.
void take_signals();
// Sleeps up to ms milliseconds, running any handler that arrives (and
// returning at once after it); the monitor thread's pause.
void nap(unsigned ms);
// Whether the calling modem thread has been told to close its stream or
// leave ('D' or '3'): its audio transfers then give up.
bool told_to_stop();

// ---- threads
// Creates each of the three threads that is not running; 0, or -1 with
// errno -42.
int start_threads();
bool thread_alive(int thread);
// Tells the calling thread which modem thread it is (set on its entry).
void set_current_thread(int thread);
// How long the monitor lets a newly plugged jack settle before it opens the
// receive side (500 ms). Test hook: cycle tests shorten it.
void set_jack_settle_ms(unsigned ms);
void mark_thread(int thread, bool alive);

// ---- audio streams
// Makes the stream of one direction with the modem's format; 0 or -1.
int make_stream(int direction);
// The backend's volume, microphone and headset queries (-1 without one).
int output_volume();
int output_max_volume();
int set_output_volume(int value);
int microphone_muted();
int headset_present();

// ---- received symbols
// The receive thread has appended symbols.
void notify_symbols();
// Waits until the receive ring holds a whole byte (an 'L' and eight
// symbols after it, after any symbols a reader would drop) or the time-out
// passes; true when it does.
bool wait_for_byte(uint32_t timeout_ms);

// ---- channel test, run by the receive thread (analysis states 3 to 5)
// The work of a channel test of one kind (0 fast, 1 normal, 2 full): the
// carrier it found, or -1. It talks to the reader, so the link supplies it.
using ChannelTestRun = int (*)(int kind);
// Stores the kind and the work and has the receive thread run the test.
void start_channel_test(int kind, ChannelTestRun run);
// Channel tests finished so far (the host's wait ends when it grows).
int32_t channel_tests_done();
// The receive thread's part: the work, then the test's end (the port
// closed, the record side stopped, the progress completed).
void run_channel_test();
// The band a spectrum of 21 values (index i: the carrier of width 22 - i)
// passes, as the first and last carrier frequencies in it.
void band_of_spectrum(const int *spectrum, int &start, int &end);
// Feature of the uplink at the carrier in force: the mean deviation of
// the received samples from their mean (0 when they cannot be read).
int extract_feature();

// Samples source over the record stream, for the signal path's readers.
int read_record(void *context, int16_t *samples, int count);

}  // namespace vr::modem
