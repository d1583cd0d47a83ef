// For end-to-end tests of the library: starts an in-process simulated
// reader on a fresh pseudo-terminal and gives its path.
//
//   auto sim = vrsim::start_simulator();            // first family, protocol 3
//   ASSERT_TRUE(sim);
//   virt_com_open("uart", 0, 0, sim->path().c_str());
//   sim->inject(vrsim::Fault::crc());
//   sim->wait_received(1, std::chrono::seconds(2));
#pragma once

#include <memory>

#include "simulator.h"

namespace vrsim {

// A started simulator, or null (errno set) when it cannot start.
inline std::unique_ptr<Simulator> start_simulator(SimOptions options = {}) {
    auto sim = std::make_unique<Simulator>(std::move(options));
    if (!sim->start()) return nullptr;
    return sim;
}

inline std::unique_ptr<Simulator> start_simulator(int family, int protocol = 0) {
    SimOptions options;
    options.family = family;
    options.protocol = protocol;
    return start_simulator(std::move(options));
}

}  // namespace vrsim
