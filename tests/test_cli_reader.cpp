// The command-line tool's reader commands, run as a program against the
// simulator program it starts itself.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "shell_run.h"

namespace {

using ToolRun = vrtest::ShellRun;

ToolRun run_tool(const std::string &args) {
    return vrtest::run_shell(std::string(VR_BINARY_DIR) + "/bin/vantel-rfid " + args);
}

TEST(CliReader, InfoShowsTheReadersIdentity) {
    const ToolRun r = run_tool("--sim reader info");
    EXPECT_EQ(r.status, 0) << r.output;
    for (const char *text : {"firmware version:  vantel-sim 1.0.0", "model:             VR1356-S",
                             "machine id:        1", "OTP serial:", "battery:           75%"})
        EXPECT_NE(r.output.find(text), std::string::npos) << text << "\n" << r.output;
}

TEST(CliReader, BeepLedAntennaAndRaw) {
    for (const char *args : {"--sim reader beep", "--sim reader led 1 0", "--sim reader antenna off"}) {
        const ToolRun r = run_tool(args);
        EXPECT_EQ(r.status, 0) << args << "\n" << r.output;
    }
    // Command 0x0F09 asks the reader for 3 random bytes: the reply line holds
    // exactly three bytes in hexadecimal.
    const ToolRun raw = run_tool("--sim raw 09 0F 03");
    EXPECT_EQ(raw.status, 0) << raw.output;
    EXPECT_TRUE(std::regex_search(raw.output, std::regex("(^|\n)[0-9A-F]{2} [0-9A-F]{2} [0-9A-F]{2}\n")))
        << raw.output;
}

// What the reader refuses is a failure (1) with the code and both messages.
TEST(CliReader, ReaderErrorsShowTheCodeAndBothMessages) {
    const ToolRun unknown = run_tool("--sim raw 7E7E");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.output.find("error -22: not such command / "), std::string::npos) << unknown.output;
}

TEST(CliReader, SecondFamilyReader) {
    const ToolRun r = run_tool("--sim --family 2 reader beep");
    EXPECT_EQ(r.status, 0) << r.output;
}

}  // namespace
