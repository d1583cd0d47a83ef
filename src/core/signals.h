// The audio modem wakes its threads with the first real-time signal that
// the C library leaves to applications (32 on Android; glibc keeps 32 and
// 33 for itself, so SIGRTMIN is higher there). Calls into the Java VM run
// with it blocked, so that the signal never lands inside the VM.
#pragma once

#include <pthread.h>
#include <signal.h>

namespace vr {

inline int modem_wake_signal() { return SIGRTMIN; }

// Blocks the modem's wake signal on the calling thread for the lifetime of
// the object and restores the thread's previous mask at the end.
class ModemSignalBlock {
public:
    ModemSignalBlock() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, modem_wake_signal());
        pthread_sigmask(SIG_BLOCK, &set, &previous_);
    }
    ~ModemSignalBlock() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    ModemSignalBlock(const ModemSignalBlock &) = delete;
    ModemSignalBlock &operator=(const ModemSignalBlock &) = delete;

private:
    sigset_t previous_;
};

}  // namespace vr
