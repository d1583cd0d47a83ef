// The "line" audio backend: the host's side of the virtual line (line.h),
// and the far end's calls.
#include "audio/line.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <vector>
#include <mutex>
#include <thread>

#include "audio/backend.h"

namespace vr::audio::line {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Host playback buffer, in frames: what the host may write ahead of the far
// end (about 6 ms, the latency of the downlink).
constexpr std::size_t kPlaybackFrames = 256;
// Host record buffer, in samples: on the virtual clock the far end waits
// when it is full; at audio pace the oldest samples are lost beyond it.
constexpr std::size_t kRecordVirtual = 1024;
constexpr std::size_t kRecordAudio = kRate / 2;
// A host call that cannot move a sample returns after this long, so that
// the modem's threads can look at their commands.
constexpr auto kHostWait = 20ms;
// Virtual clock: how long the far end waits for a playing host to catch up
// before it takes what is there and pads it with silence. The modem plays
// without a break while its stream runs (idle patterns between frames), so
// a gap is a writer held up (a loaded machine, a sanitizer), and silence
// padded into a frame would cost the frame. Only a running stream that the
// modem leaves unfed on purpose (calibrating) waits the grace out, once.
constexpr auto kWriterGrace = 1000ms;
// Without a far end the host's reads are cut into pieces this long.
constexpr int kIdleChunk = kRate / 100;

constexpr int kVolumeMax = 15;
constexpr int kVolumeStart = 9;

struct Stream {
    bool made = false;
    bool running = false;
};

// A fixed ring of samples: the line's buffers never allocate while it runs.
class SampleRing {
public:
    explicit SampleRing(std::size_t capacity) : data_(capacity) {}
    [[nodiscard]] std::size_t size() const { return size_; }
    [[nodiscard]] std::size_t room() const { return data_.size() - size_; }
    [[nodiscard]] bool empty() const { return size_ == 0; }
    void clear() { head_ = size_ = 0; }
    // Appends n samples; n must not exceed room().
    void push(const int16_t *src, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) data_[(head_ + size_ + i) % data_.size()] = src[i];
        size_ += n;
    }
    // Takes the n oldest samples into dst (dropped when dst is null); n must
    // not exceed size().
    void pop(int16_t *dst, std::size_t n) {
        for (std::size_t i = 0; dst && i < n; ++i) dst[i] = data_[(head_ + i) % data_.size()];
        head_ = (head_ + n) % data_.size();
        size_ -= n;
    }

private:
    std::vector<int16_t> data_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

// Each side waits on its own condition and is woken only when what it
// waits for may have come (a write does not wake the far end at audio
// pace, whose time comes from the clock): a quiet link costs few wake-ups.
struct State {
    std::mutex m;
    std::condition_variable far_cv;     // the far end: samples, room or time
    std::condition_variable writer_cv;  // the host's writer: room
    std::condition_variable reader_cv;  // the host's reader: samples
    bool far_waiting = false;
    bool writer_waiting = false;
    int readers_waiting = 0;
    std::size_t reader_wants = 0;  // samples the waiting reader asked for
    Options options;
    bool attached = false;
    bool plugged = false;
    unsigned withheld = kWithholdNone;
    int volume = kVolumeStart;
    Stream play;
    Stream record;
    SampleRing down{2 * kPlaybackFrames};  // interleaved stereo
    SampleRing up{kRecordAudio};           // mono
    Clock::time_point start{};
    Clock::time_point last_write{};
    uint64_t clock = 0;
    long underruns = 0;
    long overruns = 0;

    // Something every side may care about changed (streams, jack, far end).
    void wake_all() {
        far_cv.notify_all();
        writer_cv.notify_all();
        reader_cv.notify_all();
    }
    void wake_far() {
        if (far_waiting) far_cv.notify_one();
    }
    void wake_writer() {
        if (writer_waiting) writer_cv.notify_one();
    }
    void wake_reader() {
        if (readers_waiting > 0 && up.size() >= reader_wants) reader_cv.notify_all();
    }
};

// Made on first use and never destroyed: the modem's threads may still be
// waiting on it while the process exits.
State &line() {
    static State *s = new State;
    return *s;
}

bool connected(const State &s) { return s.attached && s.plugged; }

Clock::time_point at_frame(const State &s, uint64_t frame, double speed) {
    const double seconds = static_cast<double>(frame) / (kRate * speed);
    return s.start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Audio pace without a far end (or with the jack out): the samples take
// their time and go nowhere.
void pace(int frames) {
    std::this_thread::sleep_for(std::chrono::microseconds(1000000LL * frames / kRate));
}

// ---- the host's operations

int host_init(int direction, int channels, int rate, int frames) {
    (void)frames;
    State &s = line();
    std::lock_guard hold(s.m);
    if (rate != kRate || channels < 1 || channels > 2) return -1;
    if (direction == kRecord && (s.withheld & kWithholdRecordStream)) return -1;
    (direction == kPlayback ? s.play : s.record).made = true;
    return 0;
}

int host_start(int direction) {
    State &s = line();
    std::lock_guard hold(s.m);
    Stream &stream = direction == kPlayback ? s.play : s.record;
    if (!stream.made) return -1;
    stream.running = true;
    s.wake_all();
    return 0;
}

int host_stop(int direction) {
    State &s = line();
    std::lock_guard hold(s.m);
    Stream &stream = direction == kPlayback ? s.play : s.record;
    stream.running = false;
    (direction == kPlayback ? s.down : s.up).clear();
    s.wake_all();
    return 0;
}

void host_uninit(int direction) {
    host_stop(direction);
    State &s = line();
    std::lock_guard hold(s.m);
    (direction == kPlayback ? s.play : s.record).made = false;
}

int host_write(const int16_t *samples, int count) {
    State &s = line();
    std::unique_lock hold(s.m);
    if (!s.play.running || !samples || count < 0) return -1;
    if (!connected(s)) {
        hold.unlock();
        pace(count / 2);
        return count;
    }
    // A writer waiting for room is as busy as one that writes: the far end
    // must not take it for a stopped host and pad with silence.
    s.last_write = Clock::now();
    const auto full = [&s] { return s.down.size() >= 2 * kPlaybackFrames; };
    if (full()) {
        s.writer_waiting = true;
        s.writer_cv.wait_for(hold, kHostWait, [&] { return !full() || !s.play.running || !connected(s); });
        s.writer_waiting = false;
        if (!s.play.running) return -1;
        if (full() || !connected(s)) return 0;
    }
    const std::size_t take = std::min(s.down.room(), static_cast<std::size_t>(count)) & ~std::size_t{1};
    s.down.push(samples, take);
    s.last_write = Clock::now();
    if (s.options.virtual_clock) s.wake_far();
    return static_cast<int>(take);
}

int host_read(int16_t *samples, int count) {
    State &s = line();
    std::unique_lock hold(s.m);
    if (!s.record.running || !samples || count < 0) return -1;
    if (s.withheld & kWithholdReadError) return -1;
    if (s.withheld & kWithholdSamples) {
        s.reader_cv.wait_for(hold, kHostWait);
        return 0;
    }
    if (!connected(s)) {
        hold.unlock();
        const int n = std::min(count, kIdleChunk);
        std::fill_n(samples, n, int16_t{0});
        pace(n);
        return n;
    }
    // Wait for the whole request (as much as the buffer holds), so that a
    // block comes in one piece rather than one per far-end chunk.
    const std::size_t capacity = s.options.virtual_clock ? kRecordVirtual : kRecordAudio;
    const std::size_t want = std::min(static_cast<std::size_t>(count), capacity);
    if (s.up.size() < want) {
        ++s.readers_waiting;
        s.reader_wants = want;
        if (s.options.virtual_clock) s.wake_far();  // time must move for the reader
        s.reader_cv.wait_for(hold, kHostWait,
                             [&] { return s.up.size() >= want || !s.record.running || !connected(s); });
        if (--s.readers_waiting == 0) s.reader_wants = 0;
    }
    if (!s.record.running) return -1;
    const std::size_t take = std::min(s.up.size(), static_cast<std::size_t>(count));
    s.up.pop(samples, take);
    if (s.options.virtual_clock) s.wake_far();  // room for the far end
    return static_cast<int>(take);
}

int host_volume() {
    State &s = line();
    std::lock_guard hold(s.m);
    return s.volume;
}

int host_max_volume() { return kVolumeMax; }

int host_set_volume(int value) {
    State &s = line();
    std::lock_guard hold(s.m);
    if (value < 0 || value > kVolumeMax) return -1;
    if (!(s.withheld & kWithholdVolume)) s.volume = value;
    return 0;
}

int host_microphone_muted() {
    State &s = line();
    std::lock_guard hold(s.m);
    return (s.withheld & kWithholdMicrophone) ? 1 : 0;
}

int host_headset() {
    State &s = line();
    std::lock_guard hold(s.m);
    return connected(s) ? 1 : 0;
}

// Whether the far end may take the next chunk of frames now; otherwise the
// time to look again (max: when something changes).
bool far_may_take(const State &s, int frames, Clock::time_point now, Clock::time_point &next) {
    next = Clock::time_point::max();
    if (!s.options.virtual_clock) {
        next = at_frame(s, s.clock + static_cast<uint64_t>(frames), 1.0);
        return now >= next;
    }
    if (s.options.speed > 0.0) {
        const auto due = at_frame(s, s.clock, s.options.speed);
        if (now < due) {
            next = due;
            return false;
        }
    }
    if (s.down.size() >= 2 * static_cast<std::size_t>(frames)) return true;
    if (s.readers_waiting == 0) return false;
    // A reader waits for time to move: go on unless a playing host is just
    // behind with its samples.
    if (!s.play.running || !connected(s)) return true;
    const auto grace_end = std::max(s.last_write, s.start) + kWriterGrace;
    if (now >= grace_end) return true;
    next = grace_end;
    return false;
}

}  // namespace

bool attach(const Options &options) {
    State &s = line();
    std::lock_guard hold(s.m);
    if (s.attached) return false;
    s.options = options;
    s.attached = true;
    s.plugged = true;
    s.start = Clock::now();
    s.last_write = s.start;
    s.clock = 0;
    s.underruns = 0;
    s.overruns = 0;
    s.down.clear();
    s.up.clear();
    s.wake_all();
    return true;
}

void detach() {
    State &s = line();
    std::lock_guard hold(s.m);
    s.attached = false;
    s.plugged = false;
    s.down.clear();
    s.up.clear();
    s.wake_all();
}

bool attached() {
    State &s = line();
    std::lock_guard hold(s.m);
    return s.attached;
}

void plug(bool in) {
    State &s = line();
    std::lock_guard hold(s.m);
    s.plugged = in && s.attached;
    if (!s.plugged) {
        s.down.clear();
        s.up.clear();
    }
    s.wake_all();
}

bool plugged() {
    State &s = line();
    std::lock_guard hold(s.m);
    return s.plugged;
}

void withhold(unsigned stages) {
    State &s = line();
    std::lock_guard hold(s.m);
    s.withheld = stages;
    s.wake_all();
}

int far_read(int16_t *stereo, int frames) {
    State &s = line();
    std::unique_lock hold(s.m);
    if (!stereo || frames <= 0) return -1;
    for (;;) {
        if (!s.attached) return -1;
        Clock::time_point next;
        if (far_may_take(s, frames, Clock::now(), next)) break;
        s.far_waiting = true;
        if (next == Clock::time_point::max())
            s.far_cv.wait(hold);
        else
            s.far_cv.wait_until(hold, next);
        s.far_waiting = false;
    }
    const std::size_t wanted = 2 * static_cast<std::size_t>(frames);
    const std::size_t take = std::min(s.down.size(), wanted);
    s.down.pop(stereo, take);
    std::fill(stereo + take, stereo + wanted, int16_t{0});
    if (take < wanted && s.play.running && connected(s)) ++s.underruns;
    s.clock += static_cast<uint64_t>(frames);
    s.wake_writer();
    return frames;
}

int far_write(const int16_t *mono, int count) {
    State &s = line();
    std::unique_lock hold(s.m);
    if (!mono || count < 0) return -1;
    if (!s.attached) return -1;
    if (!s.record.running || !connected(s)) return count;
    const auto n = static_cast<std::size_t>(count);
    if (s.options.virtual_clock) {
        // Never lose a sample: wait for the host to make room (a chunk larger
        // than the buffer goes in once the buffer is empty).
        const auto ready = [&] {
            return !s.attached || !s.record.running || !connected(s) || s.up.empty() ||
                   s.up.size() + n <= kRecordVirtual;
        };
        while (!ready()) {
            s.far_waiting = true;
            s.far_cv.wait(hold);
            s.far_waiting = false;
        }
        if (!s.attached) return -1;
        if (!s.record.running || !connected(s)) return count;
    }
    // At audio pace a host that does not read in time loses the oldest.
    const std::size_t fits = std::min(n, kRecordAudio);
    if (fits > s.up.room()) {
        s.up.pop(nullptr, fits - s.up.room());
        ++s.overruns;
    }
    s.up.push(mono + (n - fits), fits);
    s.wake_reader();
    return count;
}

Stats stats() {
    State &s = line();
    std::lock_guard hold(s.m);
    return Stats{s.clock, s.underruns, s.overruns};
}

}  // namespace vr::audio::line

namespace vr::audio {

const Backend kLineBackend = {
    .name = "line",
    .init = line::host_init,
    .start = line::host_start,
    .stop = line::host_stop,
    .read = line::host_read,
    .write = line::host_write,
    .uninit = line::host_uninit,
    .volume = line::host_volume,
    .max_volume = line::host_max_volume,
    .set_volume = line::host_set_volume,
    .microphone_muted = line::host_microphone_muted,
    .headset = line::host_headset,
};

}  // namespace vr::audio
