// The "pulse" audio backend: a Linux sound server through libpulse (the
// PulseAudio server, or PipeWire's server for the same protocol). Streams
// go to the default sink and source, which the usual PULSE_SINK and
// PULSE_SOURCE variables may name; PULSE_SERVER names the server. The
// library never spawns a server.
//
// Streams use the blocking "simple" interface with small fixed buffers;
// volume, mute and port availability come from the server's introspection
// over one connection kept for the process.
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/simple.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "audio/backend.h"
#include "log.h"

namespace vr::audio {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kClientName = "vantel-rfid";
constexpr int kRate = 44100;
// Playback latency target (the downlink's delay) and record fragment.
constexpr int kPlaybackMs = 40;
constexpr int kFragmentMs = 10;
// The server keeps at most this much unread record data; older is lost.
constexpr int kRecordKeepMs = 500;
// Playback goes to the server in pieces of one fragment; a read takes what
// the caller asks for up to 50 ms, so a caller regains control soon and a
// block comes in one call rather than one per fragment.
constexpr int kPieceFrames = kRate * kFragmentMs / 1000;
constexpr int kReadFrames = kRate / 20;
constexpr auto kQueryTimeout = std::chrono::seconds(2);
constexpr int kVolumeMax = 100;  // volumes are reported in percent

uint32_t bytes_for_ms(int ms, int channels) {
    return static_cast<uint32_t>(static_cast<int64_t>(kRate) * ms / 1000 * channels * 2);
}

// ---- streams

struct Stream {
    std::mutex m;
    pa_simple *handle = nullptr;
    int channels = 0;
    bool running = false;
    // Playback: samples gathered into one fragment before they go to the
    // server, so that the modem's short writes do not each cost a message.
    std::vector<int16_t> staged;
};

Stream &stream(int direction) {
    static Stream *streams = new Stream[2];
    return streams[direction == kPlayback ? 1 : 0];
}

void release(Stream &s) {
    if (s.handle) pa_simple_free(s.handle);
    s.handle = nullptr;
    s.running = false;
    s.staged.clear();
}

int pulse_init(int direction, int channels, int rate, int frames) {
    (void)frames;
    Stream &s = stream(direction);
    std::lock_guard hold(s.m);
    if (s.handle) return 0;
    if (rate != kRate || channels < 1 || channels > 2) return -1;
    const pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<uint32_t>(rate), static_cast<uint8_t>(channels)};
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    if (direction == kPlayback) {
        attr.tlength = bytes_for_ms(kPlaybackMs, channels);
    } else {
        attr.fragsize = bytes_for_ms(kFragmentMs, channels);
        attr.maxlength = bytes_for_ms(kRecordKeepMs, channels);
    }
    int error = 0;
    s.handle = pa_simple_new(nullptr, kClientName,
                             direction == kPlayback ? PA_STREAM_PLAYBACK : PA_STREAM_RECORD, nullptr,
                             direction == kPlayback ? "modem downlink" : "modem uplink", &format, nullptr,
                             &attr, &error);
    if (!s.handle) {
        log_print(1, "audio: pulse %s stream: %s", direction == kPlayback ? "playback" : "record",
                  pa_strerror(error));
        return -1;
    }
    s.channels = channels;
    s.staged.reserve(static_cast<std::size_t>(kPieceFrames * channels));
    return 0;
}

int pulse_start(int direction) {
    Stream &s = stream(direction);
    std::lock_guard hold(s.m);
    if (!s.handle) return -1;
    int error = 0;
    // What the server buffered while the stream was stopped is stale.
    if (!s.running) pa_simple_flush(s.handle, &error);
    s.running = true;
    return 0;
}

int pulse_stop(int direction) {
    Stream &s = stream(direction);
    std::lock_guard hold(s.m);
    if (!s.handle) return 0;
    int error = 0;
    s.staged.clear();
    if (s.running) pa_simple_flush(s.handle, &error);
    s.running = false;
    return 0;
}

void pulse_uninit(int direction) {
    Stream &s = stream(direction);
    std::lock_guard hold(s.m);
    release(s);
}

int pulse_write(const int16_t *samples, int count) {
    Stream &s = stream(kPlayback);
    std::lock_guard hold(s.m);
    if (!s.handle || !s.running || !samples || count < 0) return -1;
    const auto piece = static_cast<std::size_t>(kPieceFrames * s.channels);
    const std::size_t take = std::min(piece - s.staged.size(), static_cast<std::size_t>(count));
    s.staged.insert(s.staged.end(), samples, samples + take);
    if (s.staged.size() == piece) {
        int error = 0;
        if (pa_simple_write(s.handle, s.staged.data(), piece * sizeof(int16_t), &error) < 0) {
            log_print(1, "audio: pulse write: %s", pa_strerror(error));
            release(s);
            return -1;
        }
        s.staged.clear();
    }
    return static_cast<int>(take);
}

int pulse_read(int16_t *samples, int count) {
    Stream &s = stream(kRecord);
    std::lock_guard hold(s.m);
    if (!s.handle || !s.running || !samples || count < 0) return -1;
    const int n = std::min(count, kReadFrames * s.channels);
    int error = 0;
    if (pa_simple_read(s.handle, samples, static_cast<std::size_t>(n) * sizeof(int16_t), &error) < 0) {
        log_print(1, "audio: pulse read: %s", pa_strerror(error));
        release(s);
        return -1;
    }
    return n;
}

// ---- introspection over one connection, serialised

class Server {
public:
    // Runs fn(context) to start an operation that calls done() when
    // finished, and waits for it; false when the server cannot be reached
    // or does not answer in time.
    template <class Start>
    bool run(Start start) {
        std::lock_guard hold(m_);
        if (!connect()) return false;
        finished_ = false;
        pa_operation *op = start(context_, this);
        if (!op) return false;
        const bool ok = iterate_until([this] { return finished_; });
        if (!ok) pa_operation_cancel(op);
        pa_operation_unref(op);
        return ok;
    }
    void done() { finished_ = true; }

private:
    bool connect() {
        if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) return true;
        disconnect();
        loop_ = pa_mainloop_new();
        if (!loop_) return false;
        context_ = pa_context_new(pa_mainloop_get_api(loop_), kClientName);
        if (!context_ || pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            disconnect();
            return false;
        }
        const bool ready = iterate_until([this] {
            const pa_context_state_t st = pa_context_get_state(context_);
            return st == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(st);
        }) && pa_context_get_state(context_) == PA_CONTEXT_READY;
        if (!ready) disconnect();
        return ready;
    }
    void disconnect() {
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        if (loop_) pa_mainloop_free(loop_);
        context_ = nullptr;
        loop_ = nullptr;
    }
    template <class Done>
    bool iterate_until(Done is_done) {
        const auto deadline = Clock::now() + kQueryTimeout;
        while (!is_done()) {
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            if (pa_mainloop_prepare(loop_, static_cast<int>(left.count())) < 0 || pa_mainloop_poll(loop_) < 0 ||
                pa_mainloop_dispatch(loop_) < 0)
                return false;
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) return is_done();
        }
        return true;
    }

    std::mutex m_;
    pa_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    bool finished_ = false;
};

Server &server() {
    static Server *s = new Server;
    return *s;
}

const char *sink_name() {
    const char *name = std::getenv("PULSE_SINK");
    return name && *name ? name : "@DEFAULT_SINK@";
}

const char *source_name() {
    const char *name = std::getenv("PULSE_SOURCE");
    return name && *name ? name : "@DEFAULT_SOURCE@";
}

// What one device reports.
struct DeviceInfo {
    bool found = false;
    int channels = 0;
    int volume = -1;   // percent
    bool muted = false;
    bool port_unplugged = false;
    Server *server = nullptr;
};

template <class Info>
void take_info(DeviceInfo &out, const Info *i) {
    out.found = true;
    out.channels = i->volume.channels;
    out.volume = static_cast<int>(
        std::lround(static_cast<double>(pa_cvolume_avg(&i->volume)) * kVolumeMax / PA_VOLUME_NORM));
    out.muted = i->mute != 0;
    out.port_unplugged = i->active_port && i->active_port->available == PA_PORT_AVAILABLE_NO;
}

void on_sink(pa_context *, const pa_sink_info *i, int eol, void *user) {
    auto *out = static_cast<DeviceInfo *>(user);
    if (eol) {
        out->server->done();
        return;
    }
    take_info(*out, i);
}

void on_source(pa_context *, const pa_source_info *i, int eol, void *user) {
    auto *out = static_cast<DeviceInfo *>(user);
    if (eol) {
        out->server->done();
        return;
    }
    take_info(*out, i);
}

DeviceInfo sink_info() {
    DeviceInfo info;
    info.server = &server();
    if (!server().run([&info](pa_context *c, Server *) {
            return pa_context_get_sink_info_by_name(c, sink_name(), on_sink, &info);
        }))
        info.found = false;
    return info;
}

DeviceInfo source_info() {
    DeviceInfo info;
    info.server = &server();
    if (!server().run([&info](pa_context *c, Server *) {
            return pa_context_get_source_info_by_name(c, source_name(), on_source, &info);
        }))
        info.found = false;
    return info;
}

int pulse_volume() {
    const DeviceInfo info = sink_info();
    return info.found ? info.volume : -1;
}

int pulse_max_volume() { return kVolumeMax; }

struct SetResult {
    Server *server;
    bool ok = false;
};

void on_set(pa_context *, int success, void *user) {
    auto *r = static_cast<SetResult *>(user);
    r->ok = success != 0;
    r->server->done();
}

int pulse_set_volume(int value) {
    if (value < 0 || value > kVolumeMax) return -1;
    const DeviceInfo info = sink_info();
    if (!info.found || info.channels <= 0) return -1;
    pa_cvolume volume;
    pa_cvolume_set(&volume, static_cast<unsigned>(info.channels),
                   static_cast<pa_volume_t>(static_cast<int64_t>(value) * PA_VOLUME_NORM / kVolumeMax));
    SetResult result{&server()};
    const bool answered = server().run([&](pa_context *c, Server *) {
        return pa_context_set_sink_volume_by_name(c, sink_name(), &volume, on_set, &result);
    });
    return answered && result.ok ? 0 : -1;
}

int pulse_microphone_muted() {
    const DeviceInfo info = source_info();
    return info.found ? (info.muted ? 1 : 0) : -1;
}

// The reader is present unless the server says the output's or the
// input's port has nothing plugged in; servers and devices without jack
// detection report ports as available or unknown.
int pulse_headset() {
    const DeviceInfo sink = sink_info();
    if (!sink.found) return -1;
    if (sink.port_unplugged) return 0;
    const DeviceInfo source = source_info();
    return source.found && source.port_unplugged ? 0 : 1;
}

}  // namespace

const Backend kPulseBackend = {
    .name = "pulse",
    .init = pulse_init,
    .start = pulse_start,
    .stop = pulse_stop,
    .read = pulse_read,
    .write = pulse_write,
    .uninit = pulse_uninit,
    .volume = pulse_volume,
    .max_volume = pulse_max_volume,
    .set_volume = pulse_set_volume,
    .microphone_muted = pulse_microphone_muted,
    .headset = pulse_headset,
};

}  // namespace vr::audio
