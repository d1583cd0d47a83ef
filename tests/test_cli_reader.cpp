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

// Each reader subcommand on a second-family reader works or says what the
// family lacks; none ends in "unknown error" (the library's log line keeps
// the first family's reading of the status).
TEST(CliReader, SecondFamilyReaderSaysWhatItLacks) {
    struct Case {
        const char *args;
        int status;
        const char *text;
    };
    for (const Case c : {Case{"reader info", 1, "reader info: a second-family reader has no identity commands"},
                         Case{"reader beep", 0, "no buzzer command: nothing was sent"},
                         Case{"reader led 1 0", 0, "no LED command: nothing was sent"},
                         Case{"reader antenna off", 0, "no antenna command: nothing was sent"},
                         Case{"raw 0301", 1, "error -22: not such command"},
                         Case{"--sim-arg=--card --sim-arg=mifare_s50 raw 4100 01", 0, "04 00\n"},
                         Case{"card", 1, "error -30: fail to find the card"}}) {
        const ToolRun r = run_tool(std::string("--sim --family 2 ") + c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.text), std::string::npos) << c.args << "\n" << r.output;
        EXPECT_EQ(r.output.find("error -99"), std::string::npos) << c.args << "\n" << r.output;
    }
}

std::string file_bytes(const std::string &path) {
    std::string out;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

// The same card read through both families: the tool names it alike and
// the dumps hold the same bytes.
TEST(CliReader, SecondFamilyNamesAndDumpsTheCardAsTheFirst) {
    const std::string card = "--sim-arg=--card --sim-arg=mifare_s50:01020304 ";
    const ToolRun named = run_tool("--sim --family 2 " + card + "card");
    EXPECT_EQ(named.status, 0) << named.output;
    EXPECT_NE(named.output.find("MIFARE Classic 1K"), std::string::npos) << named.output;
    EXPECT_NE(named.output.find("01  02  03  04"), std::string::npos) << named.output;

    const std::string dir = ::testing::TempDir();
    std::string dumps[2];
    for (int family : {1, 2}) {
        const std::string path = dir + "/family" + std::to_string(family) + ".mfd";
        std::remove(path.c_str());
        const ToolRun r = run_tool("--sim --family " + std::to_string(family) + " " + card + "mifare dump " + path);
        EXPECT_EQ(r.status, 0) << r.output;
        dumps[family - 1] = file_bytes(path);
        std::remove(path.c_str());
    }
    EXPECT_EQ(dumps[0].size(), 1024u);
    EXPECT_EQ(dumps[0], dumps[1]);
}

}  // namespace
