// The audio front end on the library's virtual line: for tests and tools
// that run the host and the simulated reader in one process. (Kept out of
// the simulator's own library, which needs nothing of the host's.)
#pragma once

#include <memory>

#include "audio/line.h"
#include "audio_front.h"

namespace vrsim {

class LinePort : public AudioPort {
public:
    // Connects to the virtual line as its far end, plugged in; null when a
    // far end is connected already.
    static std::unique_ptr<LinePort> attach(const vr::audio::line::Options& options);
    ~LinePort() override;

    int read_downlink(int16_t* stereo, int frames) override;
    int write_uplink(const int16_t* mono, int count) override;
    // Disconnects from the line (blocked calls return -1).
    void interrupt() override;

private:
    LinePort() = default;
};

// Selects the library's "line" audio backend and starts a simulated reader
// on it; null (errno set) when it cannot start.
std::unique_ptr<AudioFrontEnd> start_line_simulator(AudioOptions options = {},
                                                    vr::audio::line::Options line = {});

}  // namespace vrsim
