// The "sound" link end to end: the library's modem against the simulated
// reader's audio front end on the virtual line.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "pcd.h"
#include "sound_link.h"
#include "suart.h"
#include "suart_signal.h"
#include "tessil.h"

namespace {

using vrtest::SoundLink;

TEST_F(SoundLink, ConnectsAndReadsReaderInfo) {
    start_reader();
    ASSERT_EQ(picc_connect("sound", 0, 1, nullptr), 0) << errno;
    unsigned char version[32] = {};
    ASSERT_EQ(pcd_get_firmware_version(version), 0) << errno;
    EXPECT_EQ(std::memcmp(version, "vantel-sim 1.0.0", 16), 0);
}

}  // namespace
