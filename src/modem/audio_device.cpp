// The modem's audio device: its two streams over the platform's audio
// backend, whole-block transfers over the backend's partial ones, and the
// backend's volume, microphone and headset queries.
#include <mutex>

#include "log.h"
#include "modem/device.h"
#include "sys.h"

namespace vr::modem {

namespace {

using vr::audio::kPlayback;
using vr::audio::kRecord;

// The buffer size the modem asks its streams for, in frames.
constexpr int kStreamFrames = 512;
// A record stream that delivers nothing for this long has failed.
constexpr uint32_t kStallMs = 500;

const vr::audio::Backend *backend() { return vr::audio::backend(); }

uint8_t &stream_state(int direction) {
    return direction == kPlayback ? state().play_state : state().rec_state;
}

int32_t &started(int direction) { return direction == kPlayback ? state().play_started : state().rec_started; }

// The receive thread and a caller measuring the carrier may both read the
// record stream: each read is whole, one after the other.
std::mutex &record_lock() {
    static std::mutex *m = new std::mutex;  // never destroyed: threads outlive exit
    return *m;
}

}  // namespace

int make_stream(int direction) {
    const vr::audio::Backend *b = backend();
    if (!b) return -1;
    const suart_state &s = state();
    const bool playback = direction == kPlayback;
    const int channels = playback ? s.play_channels : s.rec_channels;
    const int rate = playback ? s.play_rate : s.rec_rate;
    if (b->init(direction, channels, rate, kStreamFrames) != 0) return -1;
    if (load(stream_state(direction)) != kStreamRunning) store(stream_state(direction), kStreamMade);
    return 0;
}

int output_volume() { return backend() ? backend()->volume() : -1; }
int output_max_volume() { return backend() ? backend()->max_volume() : -1; }
int set_output_volume(int value) { return backend() ? backend()->set_volume(value) : -1; }
int microphone_muted() { return backend() ? backend()->microphone_muted() : -1; }
int headset_present() { return backend() ? backend()->headset() : -1; }

int read_record(void *, int16_t *samples, int count) {
    return audio_device_read(samples, count) == count ? count : -1;
}

}  // namespace vr::modem

using namespace vr::modem;

VR_API int audio_device_open(void) { return 0; }

VR_API int audio_device_init(void) {
    if (backend()) return 0;
    log_print(1, "audio: no audio backend");
    return -1;
}

VR_API int audio_device_ioctl(int command, void *argument) {
    (void)command;
    (void)argument;
    return 0;
}

VR_API int audio_device_read(int16_t *samples, int count) {
    const vr::audio::Backend *b = backend();
    if (!b || !samples || count < 0) return -1;
    std::lock_guard hold(record_lock());
    int done = 0;
    uint32_t last_progress = getTickCount();
    while (done < count) {
        // A modem thread answers its handlers between pieces, and gives up
        // the block when told to close.
        take_signals();
        if (told_to_stop()) return -1;
        const int n = b->read(samples + done, count - done);
        if (n < 0) return -1;
        if (n > 0) {
            done += n;
            last_progress = getTickCount();
        } else if (getTickCount() - last_progress >= kStallMs) {
            return -1;
        }
    }
    return count;
}

VR_API int audio_device_write(const int16_t *samples, int count) {
    const vr::audio::Backend *b = backend();
    if (!b || !samples || count < 0) return -1;
    int done = 0;
    while (done < count) {
        take_signals();
        if (told_to_stop()) return -1;
        const int n = b->write(samples + done, count - done);
        if (n < 0) return -1;
        done += n;
    }
    return count;
}

VR_API int audio_device_start(int direction) {
    const vr::audio::Backend *b = backend();
    if (!b) return -1;
    if (load(stream_state(direction)) == kStreamRunning) return 0;
    if (b->start(direction) != 0) return -1;
    store(stream_state(direction), kStreamRunning);
    store(started(direction), int32_t{1});
    return 0;
}

VR_API int audio_device_pause(int direction) {
    if (load(stream_state(direction)) == kStreamGone) return 0;
    if (const vr::audio::Backend *b = backend()) b->uninit(direction);
    store(stream_state(direction), kStreamGone);
    store(started(direction), int32_t{0});
    return 0;
}

VR_API int audio_device_close(int direction) {
    // Releasing the stream also detaches the calling thread from the Java
    // VM when the "android" backend attached it.
    audio_device_pause(direction);
    return 0;
}
