// The tool's `bank` command, run as the program against the simulator
// program with its bank card: the card information masked and whole, the
// APDU log, a purchase with the issuer's answer on standard input, and the
// tool's refusals.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tool_runner.h"

namespace {

using Outcome = vrtest::ProgramOutcome;
using vrtest::ScratchDir;

constexpr const char *kPan = "6229990000123459";
constexpr const char *kPanBytes = "62 29 99 00 00 12 34 59";
constexpr const char *kHolder = "VANTEL/TEST CARD";
constexpr const char *kIdNumber = "990001200001010011";

class BankCli : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.start());
        ASSERT_EQ(sim_.ask("card place pboc_card 62010203").rfind("ok", 0), 0u);
    }
    // The tool against the simulator; standard input holds `input`.
    Outcome tool(const std::vector<std::string> &args, const std::string &input = "") {
        std::vector<std::string> all{"--device", sim_.path(), "bank"};
        all.insert(all.end(), args.begin(), args.end());
        const std::string in = scratch_ / "stdin";
        std::ofstream(in) << input;
        return vrtest::run_tool(all, scratch_, {}, in);
    }
    vrtest::SimProgram sim_;
    ScratchDir scratch_;
};

TEST_F(BankCli, InformationMaskedUnlessAsked) {
    const Outcome masked = tool({"info"});
    ASSERT_EQ(masked.status, 0) << masked.err;
    EXPECT_EQ(masked.out,
              "card number:   622999000012****\n"
              "expiry:        12/30\n"
              "holder:        VANTEL/TEST CAR*\n"
              "ID type:       00\n"
              "ID number:     99000120000101****\n"
              "balance:       100.00\n"
              "application:   A000000333010101 \"PBOC DEBIT\" (priority 1)\n");
    for (const Outcome &o : {masked, tool({"info", "--verbose"})}) {
        for (const char *secret : {kPan, kPanBytes, kHolder, kIdNumber}) {
            EXPECT_FALSE(o.has_out(secret)) << secret << "\n" << o.out;
            EXPECT_FALSE(o.has_err(secret)) << secret << "\n" << o.err;
        }
    }

    const Outcome whole = tool({"info", "--unmask"});
    ASSERT_EQ(whole.status, 0) << whole.err;
    EXPECT_TRUE(whole.has_out(std::string("card number:   ") + kPan + "\n"));
    EXPECT_TRUE(whole.has_out(std::string("holder:        ") + kHolder + "\n"));
    EXPECT_TRUE(whole.has_out(std::string("ID number:     ") + kIdNumber + "\n"));
    EXPECT_TRUE(whole.has_out("track 2:       6229990000123459D30122201234567890\n"));
}

TEST_F(BankCli, ApduLog) {
    const Outcome o = tool({"info", "--verbose"});
    ASSERT_EQ(o.status, 0) << o.err;
    // The records' answers show their size and status word only.
    EXPECT_TRUE(o.has_out("> 00 A4 04 00 07 A0 00 00 03 33 01 01\n< 6F 3B 84 08")) << o.out;
    EXPECT_TRUE(o.has_out("> 00 B2 01 0C 00\n< (67 data bytes) 90 00\n")) << o.out;
    EXPECT_TRUE(o.has_out("> 00 B2 04 0C 00\n< 6A 83\n")) << o.out;
    EXPECT_TRUE(o.has_out("> 80 CA 9F 79 09\n< 9F 79 06 00 00 00 01 00 00 90 00\n")) << o.out;
    const Outcome whole = tool({"info", "--verbose", "--unmask"});
    EXPECT_TRUE(whole.has_out("> 00 B2 01 0C 00\n< 70 41 57 11 62 29 99 00 00 12 34 59 D3")) << whole.out;
}

TEST_F(BankCli, PurchaseThenTheIssuersAnswer) {
    // No issuer authentication data: the response code "00" approves.
    const Outcome o = tool({"purchase", "12.34"}, "finish 8A023030\n");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(o.has_out("online message (")) << o.out;
    EXPECT_TRUE(o.has_out("part 1 (")) << o.out;
    EXPECT_TRUE(o.has_out("  62 29 99 00 00 12 34 59\n")) << "the message goes to the issuer whole";
    EXPECT_TRUE(o.has_out("9f02-")) << o.out;
    EXPECT_TRUE(o.has_out("  00 00 00 00 12 34\n")) << "the amount in cents";
    EXPECT_TRUE(o.has_out("second GENERATE AC: TC (approved)\n")) << o.out;
    EXPECT_EQ(sim_.ask("bank show").substr(0, 2), "ok");
    EXPECT_NE(sim_.ask("bank show").find("last=TC"), std::string::npos);

    // A script whose command lacks its MAC: the card refuses it.
    const Outcome s = tool({"purchase", "5"}, "finish 8A023030720E9F1804A1B2C3D48605841E000000\n");
    ASSERT_EQ(s.status, 0) << s.err;
    EXPECT_TRUE(s.has_out("script result: 11, identifier A1B2C3D4: failed at command 1\n")) << s.out;
    EXPECT_EQ(sim_.ask("bank show").find("blocked=yes"), std::string::npos);

    // A script with nothing to run.
    const Outcome n = tool({"purchase", "0.5"}, "finish 8A02303072079F180401020304\n");
    EXPECT_TRUE(n.has_out("script result: 00, identifier 01020304: not performed\n")) << n.out;
}

TEST_F(BankCli, RefusalsAndErrors) {
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{}, {"info", "extra"}, {"purchase"}, {"purchase", "abc"},
                                               {"purchase", "1.234"}, {"purchase", "12345678901"},
                                               {"frob"}, {"info", "--frob"}, {"finish", "zz"}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        const Outcome o = tool(args);
        EXPECT_EQ(o.status, 2) << o.out << o.err;
    }
    // The end on its own has no purchase of this session to end.
    const Outcome finish = tool({"finish", "8A023030"});
    EXPECT_EQ(finish.status, 1);
    EXPECT_TRUE(finish.has_err("no purchase to end in this session")) << finish.err;
    EXPECT_TRUE(finish.has_err("-108")) << finish.err;
    // Something other than `finish HEX` on standard input.
    EXPECT_EQ(tool({"purchase", "1"}, "pay now\n").status, 2);
    // No card in the field.
    ASSERT_EQ(sim_.ask("card remove"), "ok");
    const Outcome none = tool({"info"});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(none.has_err("error -")) << none.err;
}

}  // namespace
