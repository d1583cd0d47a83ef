// A private PulseAudio server for a test, started and stopped with the
// project's script; the test process gets the client environment (the
// host's side of the line: PULSE_SINK=down, PULSE_SOURCE=up.monitor).
#pragma once

#include <string>

namespace vrtest {

class PrivatePulse {
public:
    PrivatePulse();
    ~PrivatePulse();
    PrivatePulse(const PrivatePulse &) = delete;
    PrivatePulse &operator=(const PrivatePulse &) = delete;

    [[nodiscard]] bool running() const { return running_; }
    // The script's complaint when the server did not start.
    [[nodiscard]] const std::string &error() const { return error_; }

private:
    std::string dir_;
    bool running_ = false;
    std::string error_;
};

}  // namespace vrtest
