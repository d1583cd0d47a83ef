// The virtual line: an in-process duplex sample pipe between the modem (the
// "line" audio backend, the phone's side) and a far end that plays the
// reader (the simulator's audio front end). The far end drives the line's
// sample clock: it takes the host's playback in chunks and gives back the
// reader's samples for the host's record stream.
//
// Two clocks:
//  - audio pace: the far end takes a chunk when its time has come in real
//    time; a host that writes late leaves silence (underrun), a host that
//    reads late loses the oldest samples (overrun), as a sound card does;
//  - virtual sample clock: time moves only as fast as both sides go (and no
//    faster than `speed` times real time, when set). No sample is lost: the
//    far end waits for the host's playback while the host writes, and for
//    room in the host's record buffer while the host's record stream runs.
//    When the host stops writing (its playback stopped, or nothing written
//    for a while) and waits to read, the far end goes on with silence, as a
//    stopped stream plays silence. Time stands still while neither side
//    waits for it, so an idle, closed link costs nothing.
//
// Without a far end, or with the jack unplugged, the host's samples go
// nowhere and its reads return silence, at audio pace. The headset is
// reported present only while a far end is attached and plugged in.
#pragma once

#include <cstdint>

namespace vr::audio::line {

inline constexpr int kRate = 44100;

struct Options {
    bool virtual_clock = true;
    // Virtual clock only: at most this many times real time; 0, no limit.
    double speed = 0.0;
};

// Stages of opening the modem that the line can withhold (a bit set), so
// that each of its failures can be provoked.
enum Withhold : unsigned {
    kWithholdNone = 0,
    kWithholdRecordStream = 1u << 0,  // the record stream cannot be made
    kWithholdVolume = 1u << 1,        // setting the volume has no effect
    kWithholdMicrophone = 1u << 2,    // the microphone is reported muted
    kWithholdSamples = 1u << 3,       // the record stream delivers nothing
    kWithholdReadError = 1u << 4,     // reading the record stream fails
};

// Connects a far end (plugged in) and starts the clock. One far end at a
// time: false when one is attached already.
bool attach(const Options &options);
// Disconnects it: the headset is gone, and far-end calls return -1 until
// the next attach. Safe from any thread.
void detach();
bool attached();

// The jack: plugging in or pulling out the reader while attached.
void plug(bool in);
bool plugged();

void withhold(unsigned stages);

// Far end, downlink: the host's next `frames` stereo frames (silence where
// the host played nothing). Blocks as the clock says; frames, or -1 once
// detached.
int far_read(int16_t *stereo, int frames);
// Far end, uplink: mono samples for the host's record stream (dropped while
// that stream is stopped or the jack is out). count, or -1 once detached.
int far_write(const int16_t *mono, int count);

struct Stats {
    uint64_t clock;     // frames the far end has taken since attach
    long underruns;     // far-end chunks padded with silence while playing
    long overruns;      // host record samples lost to a full buffer
};
Stats stats();

}  // namespace vr::audio::line
