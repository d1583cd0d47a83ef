// How the modem's threads are steered: per-thread handler stacks, a
// real-time wake-up signal, the flag words, and the handlers themselves.
//
// A sender pushes a handler on the target thread's stack and sends the
// target the wake-up signal; the target runs one handler per signal taken.
// The threads keep the signal blocked at all times and take it only
// synchronously: while asleep (sigwaitinfo) or at the safe points of their
// loops (take_signals). So a wake-up sent between a thread's look at its
// command and its sleep stays pending and ends the sleep at once: none is
// lost. And since handlers run on the thread's own stack outside signal
// context, they may do anything the thread itself may do.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>

#include "core/errors.h"
#include "core/lock.h"
#include "log.h"
#include "modem/device.h"
#include "sys.h"

struct suart_handler_node {
    int sender;  // low 8 bits of the sender's thread number
    suart_handler handler;
    suart_handler_node *next;
};

namespace vr::modem {

namespace {

constexpr int kDeliveryAttempts = 3;
constexpr int kDeliveryWaitMs = 30;

std::atomic<int> g_wake_signal{0};
// Signals sent to each thread and not yet taken: lets the safe points skip
// the system call when nothing is pending.
std::atomic<int> g_pending[3];

std::atomic_ref<suart_handler_node *> stack_of(int slot) {
    return std::atomic_ref<suart_handler_node *>(state().stacks[slot]);
}

void push(int slot, suart_handler_node *node) {
    auto top = stack_of(slot);
    node->next = top.load(std::memory_order_relaxed);
    while (!top.compare_exchange_weak(node->next, node, std::memory_order_release, std::memory_order_relaxed)) {
    }
}

// Only the owning thread pops its stack, so there is one consumer and the
// next pointer read here cannot belong to a node popped meanwhile.
suart_handler_node *pop(int slot) {
    auto top = stack_of(slot);
    suart_handler_node *node = top.load(std::memory_order_acquire);
    while (node && !top.compare_exchange_weak(node, node->next, std::memory_order_acquire)) {
    }
    return node;
}

std::atomic_ref<int32_t> signal_word() { return std::atomic_ref<int32_t>(state().signal_flags); }

int set_bit(int32_t suart_state::*word, int thread) {
    if (slot_of(thread) < 0) return -1;
    MutexHold hold(&state().lock);
    state().*word |= thread;
    return 0;
}

int clear_bit(int32_t suart_state::*word, int thread) {
    if (slot_of(thread) < 0) return -1;
    MutexHold hold(&state().lock);
    state().*word &= ~thread;
    return 0;
}

int get_bit(int32_t suart_state::*word, int thread) {
    if (slot_of(thread) < 0) return 0;
    MutexHold hold(&state().lock);
    return (state().*word & thread) ? 1 : 0;
}

sigset_t wake_set() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, wake_signal());
    return set;
}

// Runs the handler a signal taken by the calling thread brings.
void took_signal(int slot) {
    // The count is a hint for the safe points; a signal that came from
    // elsewhere must not drive it below zero.
    if (g_pending[slot].fetch_sub(1, std::memory_order_relaxed) <= 0)
        g_pending[slot].fetch_add(1, std::memory_order_relaxed);
    suart_signals_handler(wake_signal());
}

pthread_t thread_id(int thread) {
    suart_state &s = state();
    switch (thread) {
    case SUART_THREAD_SEND: return load(s.thread_send);
    case SUART_THREAD_RECV: return load(s.thread_recv);
    default: return load(s.thread_monitor);
    }
}

bool wait_for_signal_flag(int thread, int ms) {
    for (int waited = 0;; ++waited) {
        if (signal_word().load() & thread) return true;
        if (waited >= ms) return false;
        sys_delay_nus(1000);
    }
}

}  // namespace

int slot_of(int thread) {
    switch (thread) {
    case SUART_THREAD_SEND: return 0;
    case SUART_THREAD_RECV: return 1;
    case SUART_THREAD_MONITOR: return 2;
    default: return -1;
    }
}

uint8_t command(int thread) {
    suart_state &s = state();
    switch (thread) {
    case SUART_THREAD_SEND: return load(s.send_cmd);
    case SUART_THREAD_RECV: return load(s.recv_cmd);
    case SUART_THREAD_MONITOR: return load(s.monitor_cmd);
    default: return kCmdNone;
    }
}

void set_command(int thread, uint8_t value) {
    suart_state &s = state();
    const auto now = static_cast<int64_t>(std::time(nullptr));
    switch (thread) {
    case SUART_THREAD_SEND:
        store(s.send_cmd, value);
        store(s.send_stamp, now);
        break;
    case SUART_THREAD_RECV:
        store(s.recv_cmd, value);
        store(s.recv_stamp, now);
        break;
    case SUART_THREAD_MONITOR:
        store(s.monitor_cmd, value);
        store(s.monitor_stamp, now);
        break;
    default: break;
    }
}

bool prepare_wake_signal() {
    if (g_wake_signal.load() != 0) return true;
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) != 0) continue;
        if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
        struct sigaction guard {};
        guard.sa_handler = suart_signals_handler;
        sigemptyset(&guard.sa_mask);
        if (sigaction(sig, &guard, nullptr) != 0) continue;
        g_wake_signal = sig;
        log_print(2, "suart: wake-up signal %d", sig);
        return true;
    }
    log_print(1, "suart: no free real-time signal");
    return false;
}

int wake_signal() { return g_wake_signal.load(); }

void block_wake_signal() {
    const sigset_t set = wake_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void take_signals() {
    const int slot = slot_of(suart_current_thread());
    if (slot < 0 || g_pending[slot].load(std::memory_order_relaxed) <= 0) return;
    const sigset_t set = wake_set();
    const timespec now{0, 0};
    while (sigtimedwait(&set, nullptr, &now) > 0) took_signal(slot);
}

void nap(unsigned ms) {
    const int slot = slot_of(suart_current_thread());
    if (slot < 0) {
        sys_delay_nus(ms * 1000u);
        return;
    }
    const sigset_t set = wake_set();
    const timespec wait{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    if (sigtimedwait(&set, nullptr, &wait) > 0) {
        took_signal(slot);
        take_signals();
    }
}

bool told_to_stop() {
    const int thread = suart_current_thread();
    if (thread < 0) return false;
    const uint8_t cmd = command(thread);
    return cmd == kCmdClose || cmd == kCmdExit;
}

}  // namespace vr::modem

using namespace vr::modem;

namespace vr::modem {

namespace {

// Each modem thread knows its own number; every other thread has none.
thread_local int t_self = 0;

}  // namespace

void set_current_thread(int thread) { t_self = thread; }

}  // namespace vr::modem

// The safe points ask this many times a second: each modem thread keeps its
// number at hand rather than comparing thread ids.
VR_API int suart_current_thread(void) {
    if (t_self != 0) return thread_alive(t_self) && pthread_equal(pthread_self(), thread_id(t_self)) ? t_self : -1;
    return -1;
}

VR_API int suart_set_sleep_flag(int thread) { return set_bit(&suart_state::sleep_flags, thread); }
VR_API int suart_get_sleep_flag(int thread) { return get_bit(&suart_state::sleep_flags, thread); }
VR_API int suart_clear_sleep_flag(int thread) { return clear_bit(&suart_state::sleep_flags, thread); }
VR_API int suart_set_thread_close_flag(int thread) { return set_bit(&suart_state::close_flags, thread); }
VR_API int suart_get_thread_close_flag(int thread) { return get_bit(&suart_state::close_flags, thread); }

VR_API int suart_clear_thread_close_flag(void) {
    vr::MutexHold hold(&state().lock);
    state().close_flags = 0;
    return 0;
}

// The signal flags are set by the thread that takes a signal, which may
// not take the modem mutex there: an atomic word.
VR_API int suart_set_signal_flag(int thread) {
    if (slot_of(thread) < 0) return -1;
    signal_word().fetch_or(thread);
    return 0;
}

VR_API int suart_get_signal_flag(int thread) {
    if (slot_of(thread) < 0) return 0;
    return (signal_word().load() & thread) ? 1 : 0;
}

VR_API int suart_clear_signal_flag(int thread) {
    if (slot_of(thread) < 0) return -1;
    signal_word().fetch_and(~thread);
    return 0;
}

VR_API int suart_send_signal(int sender, int target, suart_handler handler) {
    const int slot = slot_of(target);
    if (slot < 0 || !handler) return -1;
    if (!thread_alive(target) || wake_signal() == 0) return -1;
    push(slot, new suart_handler_node{sender & 0xFF, handler, nullptr});
    suart_clear_signal_flag(target);
    const bool to_self = suart_current_thread() == target;
    for (int attempt = 0; attempt < kDeliveryAttempts; ++attempt) {
        if (suart_get_signal_flag(target)) return 0;
        g_pending[slot].fetch_add(1, std::memory_order_relaxed);
        if (pthread_kill(thread_id(target), wake_signal()) != 0) {
            g_pending[slot].fetch_sub(1, std::memory_order_relaxed);
            break;
        }
        // A thread that signals itself takes the signal right away, as an
        // unblocked signal would be delivered before pthread_kill returns.
        if (to_self) take_signals();
        if (wait_for_signal_flag(target, kDeliveryWaitMs)) return 0;
    }
    if (suart_get_signal_flag(target)) return 0;
    log_print(1, "fail to send signal,send: %d,recv: %d", sender, target);
    return -1;
}

VR_API void suart_signals_handler(int signal) {
    (void)signal;
    const int thread = suart_current_thread();
    const int slot = slot_of(thread);
    if (slot < 0) return;
    suart_set_signal_flag(thread);
    suart_handler_node *node = pop(slot);
    if (!node) return;
    node->handler();
    delete node;
}

VR_API void suart_hanlder_timeout(int signal) {
    (void)signal;
    // The mark of the original design; nothing reads it.
    static std::atomic<int> timeout_mark{0};
    timeout_mark = 0x3333;
}

VR_API void suart_thread_sleep(void) {
    const int thread = suart_current_thread();
    const int slot = slot_of(thread);
    if (slot < 0) return;
    suart_set_sleep_flag(thread);
    log_print(2, "thread %d, go to sleep", thread);
    const sigset_t set = wake_set();
    int sig;
    do {
        sig = sigwaitinfo(&set, nullptr);
    } while (sig < 0 && errno == EINTR);
    if (sig > 0) took_signal(slot);
    log_print(2, "thread %d, wake up", thread);
    suart_clear_sleep_flag(thread);
}

// ---- the handlers

namespace {

// The open, close and exit commands never replace an exit that is pending.
void command_unless_exit(int thread, uint8_t value) {
    if (command(thread) != kCmdExit) set_command(thread, value);
}

}  // namespace

VR_API void suart_handler_idle(void) {}

VR_API void suart_handler_open_senddev(void) { command_unless_exit(SUART_THREAD_SEND, kCmdOpen); }
VR_API void suart_handler_open_recvdev(void) { command_unless_exit(SUART_THREAD_RECV, kCmdOpen); }
VR_API void suart_handler_close_senddev(void) { command_unless_exit(SUART_THREAD_SEND, kCmdClose); }
VR_API void suart_handler_close_recvdev(void) { command_unless_exit(SUART_THREAD_RECV, kCmdClose); }

VR_API void suart_handler_start_chantest(void) { store(state().analysis_state, int32_t{5}); }

VR_API void suart_handler_init_downlink(void) { set_command(SUART_THREAD_SEND, kCmdRun); }

VR_API void suart_handler_update_downlink(void) {
    apply_pending_downlink();
    set_command(SUART_THREAD_SEND, kCmdRun);
}

VR_API void suart_handler_update_uplink(void) { apply_pending_uplink(); }

VR_API void suart_handler_send_thread_exit(void) { set_command(SUART_THREAD_SEND, kCmdExit); }
VR_API void suart_handler_recv_thread_exit(void) { set_command(SUART_THREAD_RECV, kCmdExit); }
VR_API void suart_handler_monitor_thread_exit(void) { set_command(SUART_THREAD_MONITOR, kCmdExit); }

VR_API void suart_handler_pause_analyse(void) {
    suart_state &s = state();
    const int32_t now = load(s.analysis_state);
    if (now == 6) return;  // paused already: keep what was saved
    store(s.analysis_saved, now);
    store(s.analysis_state, int32_t{6});
}

// The samples carried from before the pause no longer join the stream
// (the caller read what lay between), so the analysis starts afresh.
VR_API void suart_handler_resume_analyse(void) {
    suart_state &s = state();
    if (load(s.analysis_state) != 6) return;
    store(s.analysis_state, load(s.analysis_saved));
    s.rx_carry = 0;
}
