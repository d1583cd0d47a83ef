// The "sound" link driver: the port's seven device operations over the
// modem, opening (threads, headset, calibration) and closing (parking the
// threads), the headset jack, the carrier setter and the exported active
// data. The file ends in the driver's operation table.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "core/errors.h"
#include "core/lock.h"
#include "log.h"
#include "modem/device.h"
#include "modem/jack.h"
#include "port/port.h"
#include "sys.h"
#include "virt_com.h"

suart_active active_data;

namespace vr::modem {

namespace {

constexpr uint32_t kRingSize = 2926;
// The opener polls each stage this many times, 300 ms apart.
constexpr int kPlugPolls = 10;
constexpr int kStagePolls = 6;
constexpr int kCalibratingPolls = 10;
constexpr uint32_t kPollMs = 300;
constexpr unsigned kLookUs = 10000;  // how often the opener looks meanwhile
constexpr int kClosePolls = 6;
constexpr uint32_t kByteTimeoutMs = 400;

// Waits while still() holds, for as long as `polls` polls 300 ms apart take
// (looking every 10 ms, so a change is seen at once); true when it stopped
// holding.
template <class Still>
bool wait_while(Still still, int polls) {
    const uint32_t budget = static_cast<uint32_t>(polls - 1) * kPollMs;
    const uint32_t start = getTickCount();
    while (still()) {
        if (getTickCount() - start >= budget) return false;
        sys_delay_nus(kLookUs);
    }
    return true;
}

int fail_open(int code) {
    suart_close();
    return vr::fail(code);
}

bool rings_made() { return state().send_ring.buffer && state().recv_ring.buffer; }

// First open in this process: the wake-up signal, the audio device, the
// rings and the threads.
int create_device() {
    suart_state &s = state();
    if (!prepare_wake_signal() || audio_device_open() != 0 || audio_device_init() != 0)
        return vr::fail(vr::kEOpen);
    // Threads another process made (this one is its fork) do not run here.
    store(s.alive_flags, int32_t{0});
    // The rings come before the threads that use them.
    if (!rings_made()) {
        if (ringbuf_create(&s.send_ring, kRingSize) != 0) return vr::fail(vr::kEOpen);
        if (ringbuf_create(&s.recv_ring, kRingSize) != 0) {
            ringbuf_destroy(&s.send_ring);
            return vr::fail(vr::kEOpen);
        }
    }
    if (start_threads() != 0) return -1;
    store(s.owner_pid, static_cast<int32_t>(getpid()));
    return 0;
}

// Later opens: any thread that is gone is made again, and the monitor is
// woken to start the chain (headset, calibration, send side).
int wake_device() {
    if (start_threads() != 0) return -1;
    suart_send_signal(SUART_THREAD_APP, SUART_THREAD_MONITOR, suart_handler_idle);
    return 0;
}

bool unplugged() {
    const int plug = suart_get_plugstat();
    return plug == 0 || plug == kPlugNone;
}

bool calistat_is(int value) { return suart_get_calistat() == value; }

// Waits for the opening chain, stage by stage; 0, or the error code of the
// stage that did not finish.
int wait_for_link() {
    if (!wait_while(unplugged, kPlugPolls)) return vr::kEDevInval;
    if (!wait_while([] { return calistat_is(kCaliNone); }, kStagePolls)) return vr::kEJackAccess;
    if (!wait_while([] { return calistat_is(kCaliRecordMade); }, kStagePolls)) return vr::kEVolume;
    if (!wait_while([] { return calistat_is(kCaliVolumeSet); }, kStagePolls)) return vr::kEMicrophone;
    if (!wait_while([] { return calistat_is(kCaliCalibrating); }, kCalibratingPolls)) return vr::kEOpen;
    if (!calistat_is(kCaliReady)) return vr::kEOpen;
    // Calibration opens the send side; the link is usable once the playback
    // stream is ready, not before (a write would be refused with -84).
    if (!wait_while([] { return suart_get_trackstat() == 0; }, kStagePolls)) return vr::kEPlayback;
    return 0;
}

// Sends a thread its exit handler until it reports that it obeyed. A thread
// asleep is left alone, and so is the calling thread (the receive thread
// closes the port at the end of a channel test, and parks itself after).
void close_thread(int thread, suart_handler exit_handler) {
    if (thread == suart_current_thread() || !thread_alive(thread) || suart_get_sleep_flag(thread)) return;
    for (int attempt = 0; attempt < kClosePolls && !suart_get_thread_close_flag(thread); ++attempt) {
        suart_send_signal(SUART_THREAD_APP, thread, exit_handler);
        wait_while([thread] { return !suart_get_thread_close_flag(thread); }, 2);
    }
    if (!suart_get_thread_close_flag(thread)) log_print(1, "fail to close thread %d,segment %d\n", thread, 3);
}

// ---- received symbols: the receive thread tells readers when it appended.

struct SymbolWait {
    std::mutex m;
    std::condition_variable appended;
};

SymbolWait &symbol_wait() {
    static SymbolWait *w = new SymbolWait;  // never destroyed: threads outlive exit
    return *w;
}

// Whether the ring holds a byte the decoder can take at once: an 'L'
// (symbols before it are dropped by the decoder) with eight after it.
bool byte_ready(ringbuf *ring) {
    if (!ring->buffer) return false;
    MutexHold hold(&ring->lock);
    for (uint32_t i = 0; i < ring->count; ++i) {
        if (ring->buffer[(ring->head + 1 + i) % ring->size] == 'L') return ring->count - i > 8;
    }
    return false;
}

}  // namespace

void notify_symbols() {
    SymbolWait &w = symbol_wait();
    { std::lock_guard hold(w.m); }
    w.appended.notify_all();
}

bool wait_for_byte(uint32_t timeout_ms) {
    SymbolWait &w = symbol_wait();
    ringbuf *ring = &state().recv_ring;
    std::unique_lock hold(w.m);
    return w.appended.wait_for(hold, std::chrono::milliseconds(timeout_ms), [ring] { return byte_ready(ring); });
}

}  // namespace vr::modem

using namespace vr::modem;

VR_API int suart_open(void) {
    store(state().thread_opener, pthread_self());
    const bool first = load(state().owner_pid) != static_cast<int32_t>(getpid());
    if ((first ? create_device() : wake_device()) != 0) return -1;
    const int code = wait_for_link();
    return code == 0 ? 0 : fail_open(code);
}

VR_API int suart_close(void) {
    close_thread(SUART_THREAD_MONITOR, suart_handler_monitor_thread_exit);
    suart_clear_thread_close_flag();
    close_thread(SUART_THREAD_SEND, suart_handler_send_thread_exit);
    close_thread(SUART_THREAD_RECV, suart_handler_recv_thread_exit);
    vr::port::install_device(nullptr, kSoundOps);  // the device name goes
    return 0;
}

VR_API int suart_flush(int which) {
    suart_state &s = state();
    switch (which) {
    case 1: ringbuf_flush(&s.recv_ring); break;
    case 2: ringbuf_flush(&s.send_ring); break;
    case 3:
        ringbuf_flush(&s.recv_ring);
        ringbuf_flush(&s.send_ring);
        break;
    default: return vr::fail(vr::kEArg);
    }
    return 0;
}

VR_API int suart_drain(void) { return vr::fail(vr::kENoCmd); }

VR_API int suart_ioctl(int command, void *argument) {
    (void)command;
    (void)argument;
    return 0;
}

VR_API int suart_read(uint8_t *dst, int n) {
    if (!dst || n <= 0) return vr::fail(vr::kEArg);
    ringbuf *ring = &state().recv_ring;
    for (int i = 0; i < n; ++i) {
        if (!wait_for_byte(kByteTimeoutMs) || ringbuf_suart_delchr(ring, dst + i, 1) != 1) {
            if (n > 1) log_print(1, "!!!! err inter byte timeout !!!!!!!!!!!  ");
            return vr::fail(vr::kEReadTimeout);
        }
    }
    if (suart_debug() > 0) {
        log_print(3, "<--");
        format_display(dst, n, 1);
    }
    return n;
}

VR_API int suart_write(const uint8_t *src, int n) {
    if (!src || n < 0) return vr::fail(vr::kEArg);
    if (suart_debug() > 0) {
        log_print(3, "-->");
        format_display(src, n, 1);
    }
    ringbuf *ring = &state().send_ring;
    // More than the ring holds could never be queued: refuse at once.
    if (!ring->buffer || static_cast<uint32_t>(n) > ring->size) return vr::fail(vr::kEWriteQueue);
    // The send thread empties the ring while the send side runs; once it
    // stops (closed, headset pulled) the room will not come.
    while (ringbuf_free(ring) < n) {
        if (suart_get_trackstat() != kTrackReady || virt_com_status() == VIRT_COM_REMOVED)
            return vr::fail(vr::kEWriteQueue);
        sys_delay_nus(1000);
    }
    if (ringbuf_insert(ring, src, static_cast<uint32_t>(n)) != n) return vr::fail(vr::kEWriteQueue);
    return n;
}

VR_API int suart_set_carier_freq(int direction, int freq) {
    if (signal_selfreq(freq) < 0) {
        log_print(1, "suart: the value of specified frequence is invalid\n");
        return -1;
    }
    if (direction == 0) return set_local_recv_freq(freq);
    if (direction == 1) return set_local_send_freq(freq);
    return vr::fail(vr::kEArg);
}

VR_API int suart_check_jack_linux(void) { return jack_from_presence(headset_present()); }

VR_API int suart_check_jack_android(void) {
    const int from_host = jack_from_presence(headset_present());
    if (from_host >= 0) return from_host;
    return jack_from_switch_files(kSwitchFiles, sizeof kSwitchFiles / sizeof *kSwitchFiles);
}

VR_API int suart_check_jack(void) {
#ifdef __ANDROID__
    return suart_check_jack_android();
#else
    return suart_check_jack_linux();
#endif
}

namespace {

int set_active(int32_t &word, int value) {
    std::atomic_ref<int32_t>(word).store(value);
    return 0;
}

int get_active(int32_t &word) { return std::atomic_ref<int32_t>(word).load(); }

}  // namespace

VR_API int suart_set_mode(int mode) {
    std::atomic_ref<uint8_t>(active_data.mode).store(static_cast<uint8_t>(mode));
    return 0;
}
VR_API int suart_get_mode(void) { return std::atomic_ref<uint8_t>(active_data.mode).load(); }
VR_API int suart_set_active_send_freq(int freq) { return set_active(active_data.send_freq, freq); }
VR_API int suart_get_active_send_freq(void) { return get_active(active_data.send_freq); }
VR_API int suart_set_active_recv_freq(int freq) { return set_active(active_data.recv_freq, freq); }
VR_API int suart_get_active_recv_freq(void) { return get_active(active_data.recv_freq); }
VR_API int suart_set_active_amplitude(int amplitude) { return set_active(active_data.amplitude, amplitude); }
VR_API int suart_get_active_amplitude(void) { return get_active(active_data.amplitude); }

namespace vr::modem {

// The device operations of the "sound" link. Contract: see vr_dev_ops.
// open blocks for the headset and calibration (seconds at most); read
// blocks up to 400 ms per byte; write blocks while the send ring is full
// and the send side runs. No slot takes the port's locks.
const vr_dev_ops kSoundOps = {
    .open = suart_open,
    .close = suart_close,
    .flush = suart_flush,
    .drain = suart_drain,
    .ioctl = suart_ioctl,
    .read = suart_read,
    .write = suart_write,
};

}  // namespace vr::modem
