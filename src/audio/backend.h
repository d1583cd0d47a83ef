// The audio platform layer: what the modem needs from the platform's sound
// system, as one small operation table per backend. The modem reaches
// samples only through these slots (by way of the audio_device_* functions)
// and asks them for volume, microphone and headset state.
//
// Backends, one file each:
//   "pulse"   a Linux sound server through libpulse (default on Linux);
//   "line"    an in-process virtual line to a simulated reader (tests);
//   "android" the host's media classes through the Java VM (default on
//             Android; elsewhere it serves a program running in a Java VM
//             that provides those classes).
// The choice is made in one place, backend() below.
#pragma once

#include <cstdint>

namespace vr::audio {

// Stream directions, as the modem numbers them.
inline constexpr int kRecord = 0;
inline constexpr int kPlayback = 1;

// Operation table of a backend. Every slot is filled; a slot may block only
// where its contract says so. The playback stream belongs to the modem's
// send thread and the record stream to its receive thread (the caller's
// thread reads the record stream only while the receive side is parked),
// so no slot needs to serialise two users of one stream; the queries may
// come from any thread at any time and must be safe for that.
struct Backend {
    const char *name;
    // Makes the stream of one direction: 16-bit samples at rate, channels
    // interleaved, with buffers of about frames frames. 0, or -1 when the
    // stream cannot be made. A second init of a made stream is a no-op (0).
    int (*init)(int direction, int channels, int rate, int frames);
    // Starts / stops the flow of a made stream; 0, or -1. Stopping drops
    // what was queued and not yet played or read.
    int (*start)(int direction);
    int (*stop)(int direction);
    // Moves up to count samples (not frames). Blocks for a short while (tens
    // of milliseconds at most) when nothing can move, then returns what
    // moved, possibly 0, so that callers can look at their commands between
    // calls. -1 when the stream is not running or has failed.
    int (*read)(int16_t *samples, int count);
    int (*write)(const int16_t *samples, int count);
    // Releases the stream of one direction (stopping it first).
    void (*uninit)(int direction);
    // The output volume in the backend's own steps, its maximum, and
    // setting it; -1 when unknown or refused. Setting the maximum must read
    // back as the maximum.
    int (*volume)();
    int (*max_volume)();
    int (*set_volume)(int value);
    // 1 when the microphone is muted, 0 when not, -1 when unknown.
    int (*microphone_muted)();
    // 1 when a headset (the reader) is plugged in, 0 when not, -1 unknown.
    int (*headset)();
};

// The backend in use: the one named by the environment variable
// VANTEL_RFID_AUDIO ("pulse", "line" or "android"), else the platform's default. Null
// when the name is unknown or the platform's backend is not built (the
// modem then fails to open with -10). Chosen once per process, at the first
// call, unless select() chose before.
const Backend *backend();

// Chooses the backend by name for the rest of the process (tests, tools);
// false for an unknown name.
bool select(const char *name);

// The tables, for select() and the platform choice.
extern const Backend kPulseBackend;
extern const Backend kLineBackend;
extern const Backend kAndroidBackend;

}  // namespace vr::audio
