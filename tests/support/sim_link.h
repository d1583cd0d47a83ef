// End-to-end fixture: the library's serial link opened on a simulated
// reader's pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "link/link.h"
#include "picc.h"
#include "sim_harness.h"
#include "tessil.h"
#include "virt_com.h"

namespace vrtest {

using Bytes = std::vector<uint8_t>;

// Short reply time-outs keep the failure paths quick: a missing reply
// costs twice the time-out (the head search's budget).
constexpr int kTestTimeoutMs = 100;

class SimLink : public ::testing::Test {
protected:
    // family 1 or 2; protocol 0 for the family's own.
    void open_link(int family = 1, int protocol = 0, unsigned baud = 0) {
        vrsim::SimOptions o;
        o.family = family;
        o.protocol = protocol;
        o.baud = baud;
        sim = vrsim::start_simulator(o);
        ASSERT_TRUE(sim) << "simulator did not start";
        // Every test starts with a link in step, as a fresh process has it.
        vr::link::reset_exchange_state();
        // The serial driver comes with the first family's registration; a
        // second-family reader on a serial line is registered over it.
        picc_regapi(VR_FAMILY_FIRST);
        if (family == 2) picc_regapi(VR_FAMILY_SECOND);
        if (protocol) virt_com_set_protocl(protocol);
        ASSERT_EQ(virt_com_open("uart", 0, nullptr, sim->path().c_str()), 0);
        tessil.s_com.timeout = kTestTimeoutMs;
    }
    // Cards the test left open are dropped too, so that the next test in
    // the same process opens its card afresh instead of finding this one's
    // record (and what it had read) in the open-card list.
    void TearDown() override {
        piccs_list_delall(&tessil.piccs);
        virt_com_close();
        sim.reset();
    }
    // Request bodies the reader received, as the simulator decoded them.
    std::vector<uint16_t> commands() const {
        std::vector<uint16_t> out;
        for (const auto &r : sim->requests()) out.push_back(r.cmd);
        return out;
    }
    std::unique_ptr<vrsim::Simulator> sim;
};

}  // namespace vrtest
