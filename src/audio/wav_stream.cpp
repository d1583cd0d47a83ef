// Playing WAV files through the platform's playback stream and recording
// the record stream into one: see wav.h. Both use the audio layer's
// backend, so they work wherever the modem does.
//
// A recording ends at a deadline the recording loop checks between reads,
// not by an alarm signal: the library may live in a Java VM's process,
// whose signal handling is not ours to change.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

#include "audio/backend.h"
#include "core/errors.h"
#include "log.h"
#include "wav.h"

namespace {

using vr::audio::kPlayback;
using vr::audio::kRecord;
using Clock = std::chrono::steady_clock;

constexpr int kPlayChunkFrames = 512;
constexpr int kRecordChunkBytes = 4096;
constexpr int kRecordRate = 44100;
// Stopping a stream drops what it has queued: a file's last samples are
// followed by this much silence, so that they are played before the stop.
constexpr int kTailMs = 100;

std::atomic<bool> g_finish_recording{false};

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

// Reads up to n bytes, retrying interrupted reads: the count, 0 at the end
// of the file, -1 on an error.
ssize_t read_some(int fd, void *out, std::size_t n) {
    for (;;) {
        const ssize_t got = read(fd, out, n);
        if (got >= 0 || errno != EINTR) return got;
    }
}

bool write_all(int fd, const void *data, std::size_t n) {
    const auto *p = static_cast<const uint8_t *>(data);
    while (n > 0) {
        const ssize_t put = write(fd, p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

// 8-bit WAV samples are unsigned around 128; the streams take 16-bit ones.
void widen(const uint8_t *bytes, int count, int16_t *samples) {
    for (int i = 0; i < count; ++i) samples[i] = static_cast<int16_t>((bytes[i] - 128) * 256);
}

// Hands every sample to the stream (its writes may take part of a block).
bool play_samples(const vr::audio::Backend &b, const int16_t *samples, int count) {
    for (int done = 0; done < count;) {
        const int n = b.write(samples + done, count - done);
        if (n < 0) return false;
        done += n;
    }
    return true;
}

// Copies the samples that follow the header to the playback stream.
int play_data(const vr::audio::Backend &b, int fd, const wav_header &h) {
    const int channels = static_cast<int>(wav_file_get_channels(&h));
    const int bits = static_cast<int>(wav_file_get_precision(&h));
    int64_t left = wav_file_get_dsize(&h);
    const std::size_t chunk_bytes = static_cast<std::size_t>(kPlayChunkFrames * channels * bits / 8);
    std::vector<uint8_t> bytes(chunk_bytes);
    std::vector<int16_t> samples(static_cast<std::size_t>(kPlayChunkFrames * channels));
    std::size_t carried = 0;  // bytes of a frame cut by a short read
    while (left > 0) {
        const std::size_t want = std::min<std::size_t>(chunk_bytes - carried, static_cast<std::size_t>(left));
        const ssize_t got = read_some(fd, bytes.data() + carried, want);
        if (got < 0) return -1;
        if (got == 0) break;  // the file ended before its declared data size
        left -= got;
        const std::size_t have = carried + static_cast<std::size_t>(got);
        const std::size_t whole = have - have % static_cast<std::size_t>(channels * bits / 8);
        const int count = static_cast<int>(whole * 8 / static_cast<std::size_t>(bits));
        if (bits == 8) widen(bytes.data(), count, samples.data());
        else std::memcpy(samples.data(), bytes.data(), whole);
        if (!play_samples(b, samples.data(), count)) return -1;
        carried = have - whole;
        std::memmove(bytes.data(), bytes.data() + whole, carried);
    }
    const std::vector<int16_t> tail(static_cast<std::size_t>(wav_file_get_rate(&h) * kTailMs / 1000 * channels));
    return play_samples(b, tail.data(), static_cast<int>(tail.size())) ? 0 : -1;
}

wav_header recording_header(uint32_t data_size) {
    wav_header h;
    wav_file_init_header(&h, WAV_LAYOUT_PLAIN);
    wav_file_set_channels(&h, 1);
    wav_file_set_rate(&h, kRecordRate);
    wav_file_set_ssize(&h, 2);
    wav_file_set_precision(&h, 16);
    wav_file_set_bps(&h, kRecordRate * 2);
    wav_file_set_dsize(&h, data_size);
    wav_file_set_fsize(&h, 44 + data_size);
    return h;
}

// Copies the record stream to fd until the deadline or a stop request:
// the bytes written, or -1.
int64_t record_until(const vr::audio::Backend &b, int fd, Clock::time_point deadline) {
    int16_t samples[kRecordChunkBytes / 2];
    int64_t written = 0;
    while (!g_finish_recording.load() && Clock::now() < deadline) {
        const int n = b.read(samples, kRecordChunkBytes / 2);
        if (n < 0) {
            log_print(1, "fail to fetch samples");
            return -1;
        }
        const auto bytes = static_cast<std::size_t>(n) * 2;
        if (!write_all(fd, samples, bytes)) {
            log_print(1, "fail to write data to file");
            return -1;
        }
        written += static_cast<int64_t>(bytes);
    }
    return written;
}

}  // namespace

VR_API int android_play_wav(const char *path) {
    const vr::audio::Backend *b = vr::audio::backend();
    wav_header h;
    const Fd fd(wav_file_open(path, &h));
    if (fd.get() < 0 || !b) return -1;
    const int channels = static_cast<int>(wav_file_get_channels(&h));
    if (b->init(kPlayback, channels, static_cast<int>(wav_file_get_rate(&h)),
                kPlayChunkFrames * static_cast<int>(wav_file_get_ssize(&h))) != 0 ||
        b->start(kPlayback) != 0) {
        b->uninit(kPlayback);
        return -1;
    }
    const int rc = play_data(*b, fd.get(), h);
    b->uninit(kPlayback);
    return rc;
}

VR_API int android_play_file(const char *path, int type, int) {
    if ((type & 0xFF) != 0) return -1;
    return android_play_wav(path);
}

VR_API int android_record_wav(const char *path, int, int seconds, int) {
    const vr::audio::Backend *b = vr::audio::backend();
    if (!path || !b || seconds < 0) return vr::fail(vr::kEArg);
    const Fd fd(open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
        log_print(1, "err:%s", std::strerror(errno));
        return -1;
    }
    wav_header h = recording_header(0);
    if (wav_file_set_header(fd.get(), &h) != 0) return -1;
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    g_finish_recording = false;
    if (b->start(kRecord) != 0) return -1;
    const int64_t written = record_until(*b, fd.get(), deadline);
    b->stop(kRecord);
    g_finish_recording = false;
    if (written < 0 || written > UINT32_MAX - 44) return -1;
    log_print(2, "data size: %d", static_cast<int>(written));
    h = recording_header(static_cast<uint32_t>(written));
    return wav_file_set_header(fd.get(), &h);
}

VR_API void android_record_stop_recording(void) { g_finish_recording = true; }

VR_API int android_record_file(const char *path, int type, int seconds, int unused) {
    const vr::audio::Backend *b = vr::audio::backend();
    if ((type & 0xFF) != 0 || !b || b->init(kRecord, 1, kRecordRate, 512) != 0) return -1;
    const int rc = android_record_wav(path, 0, seconds, unused);
    b->uninit(kRecord);
    return rc;
}
