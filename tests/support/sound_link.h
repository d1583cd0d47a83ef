// End-to-end fixture for the "sound" link: a simulated reader's audio
// front end on the library's virtual line, in this process.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "audio/line.h"
#include "line_port.h"
#include "picc.h"
#include "tessil.h"
#include "virt_com.h"

namespace vrtest {

class SoundLink : public ::testing::Test {
protected:
    // The virtual clock at no more than four times real time: fast, and
    // gentle with the machine's cores while the link idles.
    static vr::audio::line::Options quick_line() {
        vr::audio::line::Options line;
        line.speed = 4.0;
        return line;
    }
    // Starts the reader (first family); the link is not opened.
    void start_reader(vrsim::AudioOptions audio = {}, vr::audio::line::Options line = quick_line()) {
        front = vrsim::start_line_simulator(std::move(audio), line);
        ASSERT_TRUE(front) << "audio simulator did not start";
        picc_regapi(VR_FAMILY_FIRST);
    }
    void TearDown() override {
        virt_com_close();
        front.reset();
    }
    std::unique_ptr<vrsim::AudioFrontEnd> front;
};

}  // namespace vrtest
