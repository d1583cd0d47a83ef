// The USB links' keep-alive: after a period without report traffic a timer
// thread runs one keep-alive exchange (the port's keep-alive action). It
// runs outside any signal context, on its own thread, so the exchange takes
// the locks every other caller takes.
#pragma once

#include <pthread.h>

#include <chrono>

#include "port/port.h"

namespace vr::port::usb {

class KeepAlive {
public:
    // The thread starts disarmed. After `give_up_after` failed exchanges in
    // a row it logs that the device went away and stays disarmed.
    KeepAlive(std::chrono::milliseconds period, int give_up_after, KeepAliveAction action);
    ~KeepAlive();
    KeepAlive(const KeepAlive &) = delete;
    KeepAlive &operator=(const KeepAlive &) = delete;

    // Starts the period of silence again.
    void arm();
    // No keep-alive until the next arm (traffic is under way).
    void cancel();
    // Ends the timer thread and waits for it; called from the timer thread
    // itself (a close that its own exchange brought about), the thread ends
    // on its own once that exchange returns.
    void stop();
    bool armed() const;

private:
    // Shared by the object and its thread, freed by whichever lets go last
    // (the thread outlives the object when it stops itself). Plain POSIX
    // threads: std::thread's and std::shared_ptr's type information would
    // be exported from the library.
    struct State;
    static void *run(void *state);
    static void run_timer(State *state);
    static void release(State *state);

    State *state_;
    pthread_t thread_{};
    bool joinable_ = false;
};

}  // namespace vr::port::usb
