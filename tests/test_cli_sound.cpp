// The command-line tool on the audio link: --sim --audio runs the simulated
// reader on the virtual line in the tool's process, or (with
// VANTEL_RFID_AUDIO=pulse) the simulator program on a private sound server.
#include <gtest/gtest.h>

#include <string>

#include "shell_run.h"

namespace {

using ToolRun = vrtest::ShellRun;
using vrtest::run_shell;

ToolRun run_tool(const std::string &args) {
    return run_shell("env -u VANTEL_RFID_AUDIO " + std::string(VR_BINARY_DIR) + "/bin/vantel-rfid --sim --audio " + args);
}

bool has(const ToolRun &r, const char *text) { return r.output.find(text) != std::string::npos; }

TEST(CliSound, ReaderAndCardOverTheVirtualLine) {
    const ToolRun info = run_tool("reader info");
    EXPECT_EQ(info.status, 0) << info.output;
    EXPECT_TRUE(has(info, "firmware version:  vantel-sim 1.0.0")) << info.output;
    const ToolRun read = run_tool(
        "--sim-control 'card place mifare_s50 DEADBEEF' mifare read 0 --key FFFFFFFFFFFF");
    EXPECT_EQ(read.status, 0) << read.output;
    EXPECT_TRUE(has(read, "de ad be ef") || has(read, "DE AD BE EF")) << "block 0 holds the UID\n" << read.output;
}

TEST(CliSound, ModemCommands) {
    struct Case {
        const char *args;
        const char *expected[2];
    };
    const Case cases[] = {
        {"modem echo 64 2", {"echo of 64 bytes: 2 of 2 came back", ""}},
        {"modem chantest fast", {"progress 4%", "best carrier 5000 Hz"}},
        {"modem choose", {"carrier 7350 Hz", ""}},
    };
    for (const Case &c : cases) {
        const ToolRun r = run_tool(c.args);
        EXPECT_EQ(r.status, 0) << c.args << "\n" << r.output;
        for (const char *text : c.expected) EXPECT_TRUE(has(r, text)) << c.args << ": " << text << "\n" << r.output;
    }
    EXPECT_EQ(run_tool("modem chantest slow").status, 2);
}

TEST(CliSound, SimulatorProgramOnAPrivateSoundServer) {
    const ToolRun r = run_shell("sh " + std::string(VR_SOURCE_DIR) + "/scripts/pulse-private.sh run env VANTEL_RFID_AUDIO=pulse " +
                          std::string(VR_BINARY_DIR) + "/bin/vantel-rfid --sim --audio reader info");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(has(r, "model:             VR1356-S")) << r.output;
}

}  // namespace
