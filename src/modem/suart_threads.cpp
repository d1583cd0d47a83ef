// The modem's three long-lived threads. The send thread plays the downlink,
// the receive thread records and analyses the uplink (calibration and
// channel test included), the monitor thread watches the headset jack.
// Each obeys one command byte that handlers sent to it set; each sleeps
// until woken when it has nothing to do. They are made once per process
// and parked, never ended, when the link closes.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>

#include "core/errors.h"
#include "core/lock.h"
#include "log.h"
#include "modem/device.h"
#include "sys.h"
#include "virt_com.h"

namespace vr::modem {

namespace {

// The receive thread analyses the uplink in blocks of this many samples:
// a reply's last byte waits for the end of its block before it is seen, so
// a live link reads shorter blocks than the 2048 that a measurement takes.
constexpr int kLiveBlock = 512;
constexpr int kPausedPassUs = 1000;
constexpr int kFailedReadUs = 10000;
// An idle link plays its idle patterns several to a write: the same samples
// for a sixth of the calls (a byte queued meanwhile waits at most for those
// few patterns, about 2 ms at the default carrier).
constexpr int kIdleBurst = 6;
constexpr unsigned kJackPollMs = 300;
std::atomic<unsigned> g_jack_settle_ms{500};

bool stream_made(uint8_t stream_state) {
    return stream_state == kStreamMade || stream_state == kStreamRunning;
}

void enter(int thread, pthread_t &id_word) {
    block_wake_signal();
    store(id_word, pthread_self());
    set_current_thread(thread);
    mark_thread(thread, true);
}

// The exit command: note it, and park until woken by the next open.
void park_after_exit(int thread) {
    suart_set_thread_close_flag(thread);
    set_command(thread, kCmdNone);
    suart_thread_sleep();
}

// ---- send thread

int play(void *, const int16_t *samples, int n) { return audio_device_write(samples, n); }

bool playback_running() { return load(state().play_state) == kStreamRunning; }

// Step 2: make the playback stream; false (after logging) when it cannot.
bool prepare_playback() {
    suart_set_trackstat(0);
    if (make_stream(vr::audio::kPlayback) != 0) {
        log_print(1, "fata error: can't inittial audiotrack\n");
        return false;
    }
    // The backends play at unity gain, the stereo volume the modem wants.
    suart_set_trackstat(kTrackReady);
    return true;
}

void send_data() {
    if (!playback_running()) {
        suart_thread_sleep();
        return;
    }
    // Nothing goes out while the receive side calibrates, nor before the
    // lobes are built: wait a little rather than spin.
    if (suart_get_calistat() == kCaliCalibrating || send_pass(play, nullptr, kIdleBurst) < 0) sys_delay_nus(1000);
}

void send_step() {
    constexpr int self = SUART_THREAD_SEND;
    const uint8_t cmd = command(self);
    if (!stream_made(load(state().play_state))) {
        if (cmd == kCmdExit) {
            suart_set_trackstat(0);
            park_after_exit(self);
        } else if (cmd == kCmdOpen) {
            if (!prepare_playback()) suart_thread_sleep();
        } else {
            if (cmd == kCmdClose) set_command(self, kCmdNone);
            suart_thread_sleep();
        }
        return;
    }
    switch (cmd) {
    case kCmdClose:
        audio_device_pause(vr::audio::kPlayback);
        suart_set_trackstat(0);
        set_command(self, kCmdNone);
        suart_thread_sleep();
        break;
    case kCmdOpen:
        if (!playback_running()) {
            if (suart_get_trackstat() == 0) {
                audio_device_close(vr::audio::kPlayback);  // made again by the next pass
                return;
            }
            audio_device_start(vr::audio::kPlayback);
        }
        set_command(self, kCmdNone);
        break;
    case kCmdExit:
        if (playback_running()) audio_device_pause(vr::audio::kPlayback);
        suart_set_trackstat(0);
        park_after_exit(self);
        break;
    default: send_data(); break;
    }
}

void *send_mesg_thread(void *) {
    enter(SUART_THREAD_SEND, state().thread_send);
    for (;;) {
        take_signals();
        send_step();
    }
}

// ---- receive thread

bool record_running() { return load(state().rec_state) == kStreamRunning; }

// Gives the output volume back as it was before calibration raised it.
void restore_volume() {
    suart_state &s = state();
    const int32_t saved = load(s.saved_volume);
    if (saved >= 0 && saved != output_volume()) set_output_volume(saved);
    store(s.saved_volume, int32_t{-1});
}

// Steps 2 to 4: make the record stream, raise the output volume to its
// maximum, check the microphone. A failure leaves the calibration status
// where it stopped (the opener reports it) and false.
bool prepare_record() {
    suart_state &s = state();
    suart_set_calistat(kCaliNone);
    store(s.recv_stage, int32_t{0});
    if (make_stream(vr::audio::kRecord) != 0) {
        log_print(1, "fata error: can't inittial audiorecord\n");
        return false;
    }
    suart_set_calistat(kCaliRecordMade);
    const int current = output_volume();
    const int maximum = output_max_volume();
    if (load(s.saved_volume) < 0) store(s.saved_volume, static_cast<int32_t>(current));
    store(s.max_volume, static_cast<int32_t>(maximum));
    set_output_volume(maximum);
    const int now = output_volume();
    if (now != maximum || maximum < 0) {
        log_print(1, "fail to adjust volume");
        log_print(1, "current volume: %d max volume: %d", now, maximum);
        audio_device_close(vr::audio::kRecord);
        return false;
    }
    log_print(1, "curvol: %d, maxvol: %d", current, maximum);
    suart_set_calistat(kCaliVolumeSet);
    // A muted microphone hears nothing: calibrating on silence would report
    // a working link that no reply can reach. Stop here, so the opener
    // reports the muted microphone.
    if (microphone_muted() == 1) {
        log_print(1, "microphone is muted,please check system config");
        audio_device_close(vr::audio::kRecord);
        return false;
    }
    suart_set_calistat(kCaliCalibrating);
    return true;
}

// The open command steps the analysis state: a first open calibrates once,
// an open during calibration once more, a channel test is left alone.
void step_analysis_on_open() {
    suart_state &s = state();
    if (load(s.recv_stage) == 2) return;
    const int32_t now = load(s.analysis_state);
    int32_t next = 0;
    if (now == 0) next = 1;
    else if (now == 1) next = load(s.recv_stage) == 3 ? 2 : 1;
    else if (now == 2) next = 2;
    store(s.analysis_state, next);
}

void analysis_pass() {
    suart_state &s = state();
    switch (load(s.analysis_state)) {
    case 0:
        if (receive_block(read_record, nullptr, kLiveBlock) >= 0)
            notify_symbols();
        else
            sys_delay_nus(kFailedReadUs);  // a failed stream: do not spin on it
        break;
    case 1:
    case 2:
        switch (calibration_step(read_record, nullptr)) {
        case Calibration::kReady: suart_send_signal(SUART_THREAD_RECV, SUART_THREAD_SEND, suart_handler_open_senddev); break;
        case Calibration::kFailed:
            if (command(SUART_THREAD_RECV) != kCmdExit) set_command(SUART_THREAD_RECV, kCmdClose);
            break;
        case Calibration::kAgain: break;
        }
        break;
    case 3:
    case 4:
    case 5: run_channel_test(); break;
    default: sys_delay_nus(kPausedPassUs); break;  // paused (6) or idle
    }
}

void recv_step() {
    constexpr int self = SUART_THREAD_RECV;
    const uint8_t cmd = command(self);
    if (!stream_made(load(state().rec_state))) {
        if (cmd == kCmdExit) {
            suart_set_calistat(kCaliNone);
            park_after_exit(self);
        } else if (cmd == kCmdOpen) {
            if (!prepare_record()) suart_thread_sleep();
        } else {
            if (cmd == kCmdClose) {
                suart_set_calistat(kCaliNone);
                set_command(self, kCmdNone);
            }
            suart_thread_sleep();
        }
        return;
    }
    switch (cmd) {
    case kCmdClose:
        audio_device_pause(vr::audio::kRecord);
        suart_set_calistat(kCaliNone);
        restore_volume();
        set_command(self, kCmdNone);
        suart_thread_sleep();
        break;
    case kCmdOpen:
        if (!record_running()) {
            if (suart_get_calistat() == kCaliNone) {
                audio_device_close(vr::audio::kRecord);  // made again by the next pass
                return;
            }
            audio_device_start(vr::audio::kRecord);
        }
        step_analysis_on_open();
        set_command(self, kCmdNone);
        break;
    case kCmdExit:
        if (record_running()) audio_device_pause(vr::audio::kRecord);
        suart_set_calistat(kCaliNone);
        restore_volume();
        park_after_exit(self);
        break;
    default: analysis_pass(); break;
    }
}

void *recv_mesg_thread(void *) {
    enter(SUART_THREAD_RECV, state().thread_recv);
    for (;;) {
        take_signals();
        recv_step();
    }
}

// ---- monitor thread

// The reader was pulled out: both sides close, the port reads "removed".
void headset_gone() {
    suart_send_signal(SUART_THREAD_MONITOR, SUART_THREAD_SEND, suart_handler_close_senddev);
    suart_send_signal(SUART_THREAD_MONITOR, SUART_THREAD_RECV, suart_handler_close_recvdev);
    suart_set_calistat(kCaliNone);
    suart_set_plugstat(kPlugNone);
    if (virt_com_status() != VIRT_COM_CLOSED) virt_com_setstat(VIRT_COM_REMOVED);
}

// The reader is (back) in: the receive side opens and calibrates, a port
// marked removed is open again.
void headset_here() {
    suart_send_signal(SUART_THREAD_MONITOR, SUART_THREAD_RECV, suart_handler_open_recvdev);
    suart_set_plugstat(kPlugHeadset);
    if (virt_com_status() == VIRT_COM_REMOVED) virt_com_setstat(VIRT_COM_OPEN);
}

bool present(int jack) { return jack == kPlugHeadphones || jack == kPlugHeadset; }

void *monitor_thread(void *) {
    constexpr int self = SUART_THREAD_MONITOR;
    enter(self, state().thread_monitor);
    suart_set_plugstat(kPlugNone);
    int previous = kPlugNone;
    for (;;) {
        take_signals();
        if (command(self) == kCmdExit) {
            previous = kPlugNone;
            suart_set_plugstat(kPlugNone);
            // The port reads "removed" only when it was open; a port that
            // is being opened or is closed stays as it is.
            if (virt_com_status() == VIRT_COM_OPEN) virt_com_setstat(VIRT_COM_REMOVED);
            park_after_exit(self);
            continue;
        }
        const int jack = suart_check_jack();
        if (jack == kPlugNone) {
            if (previous != kPlugNone) headset_gone();
            previous = kPlugNone;
        } else if (present(jack) && previous != kPlugHeadset) {
            nap(g_jack_settle_ms.load());
            if (command(self) != kCmdExit && suart_check_jack() != kPlugNone) {
                headset_here();
                previous = kPlugHeadset;
            }
        }
        nap(kJackPollMs);
    }
}

using ThreadMain = void *(*)(void *);

struct ThreadEntry {
    int thread;
    ThreadMain main;
    pthread_t suart_state::*id;
};

constexpr ThreadEntry kThreadTable[] = {
    {SUART_THREAD_SEND, send_mesg_thread, &suart_state::thread_send},
    {SUART_THREAD_RECV, recv_mesg_thread, &suart_state::thread_recv},
    {SUART_THREAD_MONITOR, monitor_thread, &suart_state::thread_monitor},
};

// Restores the calling thread's signal mask when it goes out of scope.
class MaskHold {
public:
    MaskHold() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, wake_signal());
        pthread_sigmask(SIG_BLOCK, &set, &saved_);
    }
    ~MaskHold() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    MaskHold(const MaskHold &) = delete;
    MaskHold &operator=(const MaskHold &) = delete;

private:
    sigset_t saved_;
};

}  // namespace

void set_jack_settle_ms(unsigned ms) { g_jack_settle_ms = ms; }

bool thread_alive(int thread) { return (load(state().alive_flags) & thread) != 0; }

void mark_thread(int thread, bool alive) {
    std::atomic_ref<int32_t> flags(state().alive_flags);
    if (alive)
        flags.fetch_or(thread);
    else
        flags.fetch_and(~thread);
}

int start_threads() {
    // The threads are born with the wake-up signal blocked, so none can be
    // hit by it before it blocks the signal itself.
    MaskHold mask;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    int rc = 0;
    for (const ThreadEntry &t : kThreadTable) {
        if (thread_alive(t.thread)) continue;
        pthread_t id;
        if (pthread_create(&id, &attr, t.main, nullptr) != 0) {
            rc = vr::fail(vr::kEThread);
            break;
        }
        store(state().*t.id, id);
        mark_thread(t.thread, true);
    }
    pthread_attr_destroy(&attr);
    return rc;
}

}  // namespace vr::modem
