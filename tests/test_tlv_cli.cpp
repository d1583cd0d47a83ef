// The "tlv" command of the command-line tool, called as the tool's
// dispatcher calls it.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "../cli/cmd_tlv.cpp"
#include "command_capture.h"

namespace {

using vrtest::Outcome;

Outcome run_tlv(std::initializer_list<const char *> args) { return vrtest::run_command(cli_cmd_tlv, "tlv", args); }

std::string line(int indent, unsigned tag, int length) {
    char head[32];
    std::snprintf(head, sizeof head, "%*s%x-", indent, "", tag);
    return head + std::string(get_value(tag, LIST_TAGS)) + ": (" + std::to_string(length) +
           " byte)\n";
}

TEST(TlvCli, PrintsTheTreeWithDescriptions) {
    const std::string expected = line(0, 0x6F, 10) + line(2, 0x84, 2) + "    a0 00\n" +
                                 line(2, 0xA5, 4) + line(4, 0x50, 2) + "      s:\"AB\"\n";
    const Outcome one = run_tlv({"6F0A8402A000A50450024142"});
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.out, expected);
    EXPECT_EQ(one.err, "");
    // Bytes may come as separate arguments, spaced or in lower case.
    const Outcome spaced = run_tlv({"6f 0a 84 02 a0 00", "A5", "04", "50:02:41:42"});
    EXPECT_EQ(spaced.status, 0);
    EXPECT_EQ(spaced.out, expected);
}

TEST(TlvCli, SeveralElementsAndLongLengths) {
    const Outcome r = run_tlv({"9F0281060000000001005A02123400FFFF"});
    EXPECT_EQ(r.status, 0);
    // The zero tag byte ends the elements, as in the library's scan.
    EXPECT_EQ(r.out, line(0, 0x9F02, 6) + "  00 00 00 00 01 00\n" + line(0, 0x5A, 2) +
                         "  12 34\n");
}

TEST(TlvCli, MalformedDataIsReported) {
    const struct {
        const char *hex;
        const char *printed_first;  // tag line printed before the fault, or ""
        const char *error;
    } cases[] = {
        {"500541", "", "tlv: malformed element at byte 0\n"},
        {"6F04500541 42", "6f-", "tlv: malformed element at byte 2\n"},
        {"5A0211225082000241", "5a-", "tlv: malformed element at byte 4\n"},
        {"9F", "", "tlv: malformed element at byte 0\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.hex);
        const Outcome r = run_tlv({c.hex});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.error);
        EXPECT_EQ(r.out.rfind(c.printed_first, 0), 0u);
    }
}

TEST(TlvCli, UsageErrors) {
    for (auto args : {std::initializer_list<const char *>{}, {"XYZ"}, {"6F0"}, {""}}) {
        const Outcome r = run_tlv(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err, "");
    }
}

}  // namespace
