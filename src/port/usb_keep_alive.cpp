// The USB links' keep-alive timer: see usb_keep_alive.h.
#include "port/usb_keep_alive.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "log.h"

namespace vr::port::usb {

using Clock = std::chrono::steady_clock;

struct KeepAlive::State {
    std::chrono::milliseconds period;
    int give_up_after;
    KeepAliveAction action;

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::optional<Clock::time_point> deadline;  // armed until then
    int failures = 0;
    bool stopping = false;
    std::atomic<int> holders{1};
};

KeepAlive::KeepAlive(std::chrono::milliseconds period, int give_up_after, KeepAliveAction action)
    : state_(new State) {
    state_->period = period;
    state_->give_up_after = give_up_after;
    state_->action = action;
    ++state_->holders;
    joinable_ = pthread_create(&thread_, nullptr, run, state_) == 0;
    if (!joinable_) --state_->holders;  // no keep-alive then: the link works without it
}

void KeepAlive::release(State *state) {
    if (--state->holders == 0) delete state;
}

KeepAlive::~KeepAlive() {
    stop();
    release(state_);
}

void KeepAlive::arm() {
    std::lock_guard hold(state_->mutex);
    state_->deadline = Clock::now() + state_->period;
    state_->wake.notify_all();
}

void KeepAlive::cancel() {
    std::lock_guard hold(state_->mutex);
    state_->deadline.reset();
}

bool KeepAlive::armed() const {
    std::lock_guard hold(state_->mutex);
    return state_->deadline.has_value();
}

void KeepAlive::stop() {
    {
        std::lock_guard hold(state_->mutex);
        state_->stopping = true;
        state_->deadline.reset();
        state_->wake.notify_all();
    }
    if (!joinable_) return;
    joinable_ = false;
    // The thread holds its own share of the state, so it may outlive this
    // object when it is the one closing the link.
    if (pthread_equal(thread_, pthread_self()))
        pthread_detach(thread_);
    else
        pthread_join(thread_, nullptr);
}

void *KeepAlive::run(void *shared) {
    State *state = static_cast<State *>(shared);
    run_timer(state);
    release(state);
    return nullptr;
}

void KeepAlive::run_timer(State *state) {
    std::unique_lock hold(state->mutex);
    while (!state->stopping) {
        if (!state->deadline) {
            state->wake.wait(hold);
            continue;
        }
        if (Clock::now() < *state->deadline) {
            state->wake.wait_until(hold, *state->deadline);
            continue;
        }
        state->deadline.reset();
        hold.unlock();
        const KeepAliveResult result = state->action ? state->action() : KeepAliveResult::busy;
        hold.lock();
        if (state->stopping) break;
        switch (result) {
        case KeepAliveResult::sent:
            log_print(2, "usbhid handler:  keep-alive packet sended\n");
            state->failures = 0;
            break;
        case KeepAliveResult::failed:
            if (++state->failures > state->give_up_after) {
                log_print(1, "usbhid handler: the usb device detahced\n");
                state->failures = 0;
                continue;  // stays disarmed
            }
            break;
        case KeepAliveResult::busy:  // the link is in use: that is traffic too
            break;
        }
        state->deadline = Clock::now() + state->period;
    }
}

}  // namespace vr::port::usb
