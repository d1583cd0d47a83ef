// The audio front end's port on the virtual line: see line_port.h.
#include "line_port.h"

#include <cerrno>

#include "audio/backend.h"

namespace vrsim {

std::unique_ptr<LinePort> LinePort::attach(const vr::audio::line::Options& options) {
    if (!vr::audio::line::attach(options)) return nullptr;
    return std::unique_ptr<LinePort>(new LinePort);
}

LinePort::~LinePort() { vr::audio::line::detach(); }

int LinePort::read_downlink(int16_t* stereo, int frames) { return vr::audio::line::far_read(stereo, frames); }

int LinePort::write_uplink(const int16_t* mono, int count) { return vr::audio::line::far_write(mono, count); }

void LinePort::interrupt() { vr::audio::line::detach(); }

std::unique_ptr<AudioFrontEnd> start_line_simulator(AudioOptions options, vr::audio::line::Options line) {
    if (!vr::audio::select("line")) {
        errno = EINVAL;
        return nullptr;
    }
    auto port = LinePort::attach(line);
    if (!port) {
        errno = EBUSY;
        return nullptr;
    }
    auto front = std::make_unique<AudioFrontEnd>(std::move(port), std::move(options));
    if (!front->start()) return nullptr;
    return front;
}

}  // namespace vrsim
