// The front end's port on a sound server: the downlink recorded from a
// source (the monitor of the sink the host plays into), the uplink played
// into a sink (whose monitor the host records), through libpulse.
#include <pulse/error.h>
#include <pulse/simple.h>

#include <atomic>
#include <vector>

#include "audio_front.h"

namespace vrsim {

namespace {

constexpr uint32_t kRate = 44100;
// The far end's buffers: a record fragment of 10 ms, and 40 ms of playback
// queued (shorter ones underran under load).
constexpr int kFragmentMs = 10;
constexpr int kPlaybackMs = 40;

class PulsePort : public AudioPort {
public:
    PulsePort(pa_simple* record, pa_simple* play) : record_(record), play_(play) {}
    ~PulsePort() override {
        pa_simple_free(record_);
        pa_simple_free(play_);
    }

    int read_downlink(int16_t* stereo, int frames) override {
        if (stopping_) return -1;
        int error = 0;
        const auto bytes = static_cast<size_t>(frames) * 2 * sizeof(int16_t);
        return pa_simple_read(record_, stereo, bytes, &error) < 0 ? -1 : frames;
    }

    // The uplink goes out on both channels alike, so the host's mono
    // recording of the monitor is the same signal.
    int write_uplink(const int16_t* mono, int count) override {
        if (stopping_) return -1;
        both_.resize(static_cast<size_t>(2 * count));
        for (int i = 0; i < count; ++i) both_[2 * static_cast<size_t>(i)] = both_[2 * static_cast<size_t>(i) + 1] = mono[i];
        int error = 0;
        return pa_simple_write(play_, both_.data(), both_.size() * sizeof(int16_t), &error) < 0 ? -1 : count;
    }

    // Both calls return within a fragment while the server runs.
    void interrupt() override { stopping_ = true; }

private:
    pa_simple* record_;
    pa_simple* play_;
    std::vector<int16_t> both_;
    std::atomic<bool> stopping_{false};
};

}  // namespace

std::unique_ptr<AudioPort> open_pulse_port(const char* source, const char* sink, std::string* why) {
    const pa_sample_spec format{PA_SAMPLE_S16LE, kRate, 2};
    const uint32_t none = static_cast<uint32_t>(-1);
    const auto fragment = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentMs * 1000, &format));
    const auto queued = static_cast<uint32_t>(pa_usec_to_bytes(kPlaybackMs * 1000, &format));
    const pa_buffer_attr record_attr{none, none, none, none, fragment};
    const pa_buffer_attr play_attr{none, queued, none, none, none};
    int error = 0;
    pa_simple* record = pa_simple_new(nullptr, "vantel-rfid-sim", PA_STREAM_RECORD, source, "reader downlink",
                                      &format, nullptr, &record_attr, &error);
    pa_simple* play = record ? pa_simple_new(nullptr, "vantel-rfid-sim", PA_STREAM_PLAYBACK, sink,
                                             "reader uplink", &format, nullptr, &play_attr, &error)
                             : nullptr;
    if (!play) {
        if (record) pa_simple_free(record);
        if (why) *why = pa_strerror(error);
        return nullptr;
    }
    return std::make_unique<PulsePort>(record, play);
}

}  // namespace vrsim
