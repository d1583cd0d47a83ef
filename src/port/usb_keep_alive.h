// The USB links' keep-alive: after a period without report traffic a timer
// thread runs one keep-alive exchange (the port's keep-alive action). It
// runs outside any signal context, on its own thread, so the exchange takes
// the locks every other caller takes.
#pragma once

#include <chrono>
#include <memory>
#include <thread>

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
    struct State;
    static void run(std::shared_ptr<State> state);

    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace vr::port::usb
