// The `card` and `mifare` commands of the command-line tool, run as the
// program itself against the simulator program, whose control channel
// places the virtual cards. What a command changed is checked through the
// card afterwards (a changed key must be needed, a read-only block must
// refuse writes), not only through the command's own report.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "dumpfile.h"
#include "raw_pty.h"
#include "tool_runner.h"

namespace {

using namespace std::chrono_literals;

constexpr const char *kTransportKey = "FFFFFFFFFFFF";

// A block as the tool's view shows it: "DE AD BE EF ...".
std::string spaced(const vrdump::Block &block) {
    std::string s;
    for (uint8_t b : block) s += (s.empty() ? "" : " ") + vrdump::hex(std::span(&b, 1));
    return s;
}

using Outcome = vrtest::ProgramOutcome;
using vrtest::run_tool;
using vrtest::ScratchDir;
using vrtest::SimProgram;
using vrtest::slurp;

// One simulated reader per test, with a virtual card placed in its field.
class MifareCli : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.start());
        ASSERT_NE(sim_.ask("help").find("card"), std::string::npos) << "the simulator program lists no card commands";
    }

    void place(const std::string &type, const std::string &uid) {
        const std::string answer = sim_.ask("card place " + type + " " + uid);
        ASSERT_EQ(answer.rfind("ok", 0), 0u) << answer;
    }

    Outcome tool(std::initializer_list<std::string> args) {
        std::vector<std::string> all{"--device", sim_.path()};
        all.insert(all.end(), args.begin(), args.end());
        return run_tool(all, scratch_);
    }

    // Runs a command that must succeed.
    Outcome ok(std::initializer_list<std::string> args) {
        Outcome o = tool(args);
        EXPECT_EQ(o.status, 0) << o.out << o.err;
        return o;
    }

    SimProgram sim_;
    ScratchDir scratch_;
};

// ------------------------------------------------------------- detection

TEST_F(MifareCli, CardShowsTypeUidAtqaSakInTheFamiliarLayout) {
    place("mifare_s50", "DEADBEEF");
    const Outcome o = ok({"card"});
    EXPECT_TRUE(o.has_out("Mifare S50")) << o.out;
    EXPECT_TRUE(o.has_out("    ATQA (SENS_RES): 00  04\n")) << o.out;
    EXPECT_TRUE(o.has_out("       UID (NFCID1): de  ad  be  ef\n")) << o.out;
    EXPECT_TRUE(o.has_out("      SAK (SEL_RES): 08\n")) << o.out;
}

TEST_F(MifareCli, CardShowsA4KCard) {
    place("mifare_s70", "01020304");
    const Outcome o = ok({"card"});
    EXPECT_TRUE(o.has_out("Mifare S70")) << o.out;
    EXPECT_TRUE(o.has_out("ATQA (SENS_RES): 00  02\n")) << o.out;
    EXPECT_TRUE(o.has_out("SAK (SEL_RES): 18\n")) << o.out;
}

TEST_F(MifareCli, NoCardIsAnErrorWithBothMessages) {
    for (auto args : {std::initializer_list<std::string>{"card"}, {"mifare", "read", "4"}}) {
        const Outcome o = tool(args);
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(o.has_err("card failed: error -")) << o.err;
        EXPECT_TRUE(o.has_err(" / ")) << "English and Chinese texts: " << o.err;
    }
}

// ---------------------------------------------------------- read, write

TEST_F(MifareCli, WriteThenReadShowsHexAndAscii) {
    place("mifare_s50", "DEADBEEF");
    const Outcome w = ok({"mifare", "write", "4", "48656C6C6F2C2063617264210000FF7F", "--key", kTransportKey});
    EXPECT_TRUE(w.has_out("block 4 written and verified")) << w.out;
    const Outcome r = ok({"mifare", "read", "4", "--key", kTransportKey});
    EXPECT_EQ(r.out, "  4  48 65 6C 6C 6F 2C 20 63 61 72 64 21 00 00 FF 7F  |Hello, card!....|\n");
}

// Without a key the default key opens a new card; --stored-key uses what
// store-key put in the reader, one key or a binary key file's keys.
TEST_F(MifareCli, DefaultKeyAndKeysStoredInTheReader) {
    place("mifare_s50", "DEADBEEF");
    ok({"mifare", "read", "4"});
    ok({"mifare", "keys", "1", "--new-key-a", "A0A1A2A3A4A5"});
    EXPECT_EQ(tool({"mifare", "read", "4"}).status, 1) << "the default key no longer opens sector 1";
    EXPECT_EQ(tool({"mifare", "read", "4", "--stored-key"}).status, 1) << "no stored key opens sector 1 yet";
    EXPECT_TRUE(ok({"mifare", "store-key", "1", "--key", "A0A1A2A3A4A5"}).has_out("key A stored in slot 1"));
    EXPECT_TRUE(ok({"mifare", "read", "4", "--stored-key"}).has_out("  4  "));

    // A binary key file: every key A, then every key B.
    std::string keys;
    for (int s = 0; s < 16; ++s) keys += s == 2 ? "\xC0\xC1\xC2\xC3\xC4\xC5" : "\xFF\xFF\xFF\xFF\xFF\xFF";
    for (int s = 0; s < 16; ++s) keys += "\xFF\xFF\xFF\xFF\xFF\xFF";
    std::ofstream(scratch_ / "card.keys", std::ios::binary) << keys;
    ok({"mifare", "keys", "2", "--new-key-a", "C0C1C2C3C4C5"});
    EXPECT_TRUE(ok({"mifare", "store-key", "--keys", scratch_ / "card.keys"}).has_out("16 sectors"));
    EXPECT_TRUE(ok({"mifare", "read", "8", "--stored-key"}).has_out("  8  "));
    EXPECT_TRUE(ok({"mifare", "read", "9", "--keys", scratch_ / "card.keys"}).has_out("  9  "));
}

TEST_F(MifareCli, RefusalsBeforeAnyCardAccess) {
    place("mifare_s50", "DEADBEEF");
    const struct {
        std::vector<std::string> args;
        int status;
        const char *message;
    } cases[] = {
        {{"read", "64"}, 2, "block must be 0..63"},
        {{"read", "-1"}, 2, "block must be 0.."},
        {{"write", "4", "0011"}, 2, "16 bytes of data"},
        {{"write", "4", "00112233445566778899AABBCCDDEEF"}, 2, "16 bytes of data"},
        {{"write", "4", "00112233445566778899AABBCCDDEEGG"}, 2, "16 bytes of data"},
        {{"write", "0", "00112233445566778899AABBCCDDEEFF"}, 2, "manufacturer block"},
        {{"write", "7", "FFFFFFFFFFFFFF078069FFFFFFFFFFFF"}, 2, "give --trailers"},
        {{"write", "7", "FFFFFFFFFFFFFF0F8069FFFFFFFFFFFF", "--trailers"}, 2, "inconsistent"},
        // Trailer condition 111: nothing could ever change the sector's
        // access conditions again.
        {{"write", "7", "FFFFFFFFFFFF77878869FFFFFFFFFFFF", "--trailers"}, 2, "give --force"},
        {{"access", "1", "-", "-", "-", "111"}, 2, "give --force"},
        {{"read", "4", "--key", "FFFF"}, 2, "a key is 12 hex digits"},
        {{"read", "4", "--key", kTransportKey, "--stored-key"}, 2, "give one of"},
        {{"read", "4", "--bogus"}, 2, "unknown option --bogus"},
        {{"store-key", "1"}, 2, "needs --key"},
        {{"read", "4", "--key-type", "C"}, 2, "--key-type takes A or B"},
        {{"value", "3"}, 2, "cannot be a value block"},
        {{"value", "5", "inc", "-1"}, 2, "value BLOCK"},
        {{"value", "5", "restore", "9"}, 2, "same sector"},
        {{"access", "1", "000", "000", "000", "2"}, 2, "three bits"},
        {{"keys", "1"}, 2, "--new-key-a"},
        {{"keys", "16", "--new-key-a", kTransportKey}, 2, "sector must be 0..15"},
        {{"frobnicate"}, 2, "unknown subcommand"},
        {{"dump", "card.txt"}, 2, "unknown dump format"},
        {{"dump", "/nonexistent/dir/card.json"}, 2, "no such directory"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> all{"--device", sim_.path(), "mifare"};
        all.insert(all.end(), c.args.begin(), c.args.end());
        const Outcome o = run_tool(all, scratch_);
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_TRUE(o.has_err(c.message)) << o.err;
    }
    // Nothing above reached the card's memory.
    const Outcome r = ok({"mifare", "read", "7", "--key", kTransportKey});
    EXPECT_TRUE(r.has_out("FF 07 80 69")) << r.out;
}

// ------------------------------------------------------------ keys, access

TEST_F(MifareCli, ChangedKeyIsTheOneTheCardDemands) {
    place("mifare_s50", "DEADBEEF");
    const Outcome k = ok({"mifare", "keys", "1", "--key", kTransportKey, "--new-key-a", "A0A1A2A3A4A5"});
    EXPECT_TRUE(k.has_out("written and verified")) << k.out;
    EXPECT_EQ(tool({"mifare", "read", "4", "--key", kTransportKey}).status, 1);
    ok({"mifare", "read", "4", "--key", "A0A1A2A3A4A5"});
    // Other sectors keep the transport key.
    ok({"mifare", "read", "8", "--key", kTransportKey});
    // Key B: both keys change, and key B then opens the sector.
    ok({"mifare", "keys", "2", "--key", kTransportKey, "--new-key-a", "A0A1A2A3A4A5", "--new-key-b",
        "B0B1B2B3B4B5"});
    ok({"mifare", "access", "2", "--key", "A0A1A2A3A4A5", "011", "011", "011", "011", "--new-key-b",
        "B0B1B2B3B4B5"});
    ok({"mifare", "read", "9", "--key-b", "B0B1B2B3B4B5"});
}

TEST_F(MifareCli, AccessConditionsAreEnforcedAfterTheChange) {
    place("mifare_s50", "DEADBEEF");
    // Block 4 read-only (010), the others unchanged.
    const Outcome a = ok({"mifare", "access", "1", "010", "-", "-", "-", "--key", kTransportKey});
    EXPECT_TRUE(a.has_out("written and verified")) << a.out;
    EXPECT_TRUE(a.has_out("block 4") && a.has_out("C1C2C3=010  read A|B, write never")) << a.out;
    const Outcome refused = tool({"mifare", "write", "4", "00112233445566778899AABBCCDDEEFF", "--key", kTransportKey});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.has_err("write failed: error")) << refused.err;
    ok({"mifare", "write", "5", "00112233445566778899AABBCCDDEEFF", "--key", kTransportKey});
    const Outcome shown = ok({"mifare", "access", "1", "--key", kTransportKey});
    EXPECT_TRUE(shown.has_out("C1C2C3=001  key A: write A;")) << shown.out;
}

// ----------------------------------------------------------------- value

TEST_F(MifareCli, ValueBlockSetIncrementDecrementAndCopy) {
    place("mifare_s50", "DEADBEEF");
    const struct {
        std::vector<std::string> args;
        const char *shown;
    } steps[] = {
        {{"5", "set", "100"}, "block 5: value 100"},
        {{"5", "inc", "5"}, "block 5: value 105"},
        {{"5", "dec", "10"}, "block 5: value 95"},
        {{"5", "set", "-7"}, "block 5: value -7"},
        {{"5", "restore", "6"}, "block 6: value -7"},
        {{"6"}, "block 6: value -7 (F9FFFFFF)"},
    };
    for (const auto &s : steps) {
        std::vector<std::string> all{"--device", sim_.path(), "mifare", "value"};
        all.insert(all.end(), s.args.begin(), s.args.end());
        all.insert(all.end(), {"--key", kTransportKey});
        const Outcome o = run_tool(all, scratch_);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_TRUE(o.has_out(s.shown)) << o.out;
    }
    // The card keeps the value-block format: value, inverted, value, address.
    const Outcome r = ok({"mifare", "read", "5", "--key", kTransportKey});
    EXPECT_TRUE(r.has_out("F9 FF FF FF 06 00 00 00 F9 FF FF FF 05 FA 05 FA")) << r.out;
    // A block not in the value format is refused by the card.
    EXPECT_EQ(tool({"mifare", "value", "4", "inc", "1", "--key", kTransportKey}).status, 1);
}

// ------------------------------------------------- the workflow of a dump

// The output is checked before the card is read: an existing file is
// replaced only with --force (checked before the reader is even opened,
// as the missing device shows), and --quiet leaves out the hex view.
TEST_F(MifareCli, DumpChecksItsFileFirstAndReplacesOnlyWithForce) {
    place("mifare_s50", "DEADBEEF");
    std::ofstream(scratch_ / "old.json") << "keep me";
    const Outcome refused = run_tool({"--device", "/nonexistent/tty", "mifare", "dump", scratch_ / "old.json"},
                                     scratch_);
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(refused.has_err("old.json: exists; not replaced (--force replaces it)")) << refused.err;
    EXPECT_EQ(slurp(scratch_ / "old.json"), "keep me");

    const Outcome quiet = ok({"mifare", "dump", scratch_ / "old.json", "--force", "--quiet"});
    EXPECT_FALSE(quiet.has_out("sector 0\n")) << quiet.out;
    EXPECT_FALSE(quiet.has_err("reading")) << "no progress on a standard error that is no terminal";
    EXPECT_TRUE(quiet.has_out("MIFARE Classic 1K DEADBEEF: 64 blocks, 64 read")) << quiet.out;
    vrdump::CardImage image;
    ASSERT_TRUE(vrdump::load_file(scratch_ / "old.json", image));
}

// A dictionary is tried on every sector as key A and key B; the keys found
// are shown, saved in the JSON dump and carried in the dump's trailers.
TEST_F(MifareCli, KeyDictionaryFindsBothKeysOfEverySector) {
    place("mifare_s50", "DEADBEEF");
    ok({"mifare", "keys", "1", "--new-key-a", "A0A1A2A3A4A5", "--new-key-b", "B0B1B2B3B4B5"});
    // Key B hidden in sector 1 (trailer 011: key B writes, nobody reads it).
    ok({"mifare", "access", "1", "-", "-", "-", "011", "--key", "A0A1A2A3A4A5"});
    std::ofstream(scratch_ / "keys.dic") << "# candidates\n112233445566\nB0B1B2B3B4B5\nFFFFFFFFFFFF\n"
                                         << "A0A1A2A3A4A5  # found on site\n";
    const Outcome d = ok({"mifare", "dump", scratch_ / "card.json", "--keys", scratch_ / "keys.dic", "--quiet"});
    EXPECT_TRUE(d.has_out("64 blocks, 64 read")) << d.out;
    EXPECT_TRUE(d.has_out("     1  A0A1A2A3A4A5  B0B1B2B3B4B5\n")) << d.out;
    EXPECT_TRUE(d.has_out("     0  FFFFFFFFFFFF  FFFFFFFFFFFF\n")) << d.out;
    // Refused candidates are part of a search, not errors to report.
    EXPECT_FALSE(d.has_err("JNI_LIBLOG")) << d.err;
    vrdump::CardImage image;
    ASSERT_TRUE(vrdump::load_file(scratch_ / "card.json", image));
    EXPECT_EQ(image.keys[1].a, (vrdump::Key{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}));
    EXPECT_EQ(image.keys[1].b, (vrdump::Key{0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5}));
    EXPECT_EQ(vrdump::hex(image.blocks[7]), "A0A1A2A3A4A5" + vrdump::hex(std::span(image.blocks[7]).subspan(6, 4)) +
                                                 "B0B1B2B3B4B5");
    // The dictionary serves the other commands too.
    ok({"mifare", "read", "5", "--keys", scratch_ / "keys.dic"});
}

// Access conditions that freeze the trailer are written only with --force,
// and then indeed can no longer be changed.
TEST_F(MifareCli, FrozenAccessConditionsNeedForce) {
    place("mifare_s50", "DEADBEEF");
    const Outcome frozen = ok({"mifare", "access", "2", "-", "-", "-", "110", "--force"});
    EXPECT_TRUE(frozen.has_out("written and verified")) << frozen.out;
    const Outcome again = tool({"mifare", "access", "2", "-", "-", "-", "001", "--new-key-b", kTransportKey});
    EXPECT_EQ(again.status, 1) << again.out;
}

// A Classic Mini (SAK 09) is shown and handled as what it is: five sectors.
TEST_F(MifareCli, ClassicMiniHasFiveSectors) {
    place("mifare_s20", "0A0B0C0D");
    EXPECT_TRUE(ok({"card"}).has_out("ISO/IEC 14443A card: MIFARE Classic Mini")) << "named as a Mini";
    const Outcome d = ok({"mifare", "dump", scratch_ / "mini.mfd", "--quiet"});
    EXPECT_TRUE(d.has_out("MIFARE Classic Mini 0A0B0C0D: 20 blocks, 20 read")) << d.out;
    EXPECT_EQ(std::filesystem::file_size(scratch_ / "mini.mfd"), 320u);
    ok({"mifare", "read", "19"});
    const Outcome beyond = tool({"mifare", "read", "20"});
    EXPECT_EQ(beyond.status, 2);
    EXPECT_TRUE(beyond.has_err("block must be 0..19 on this card")) << beyond.err;
}

// On a terminal, a dump shows how far it has come on standard error.
TEST_F(MifareCli, DumpShowsProgressOnATerminal) {
    place("mifare_s50", "DEADBEEF");
    vrtest::RawPty terminal;
    const Outcome o = run_tool({"--device", sim_.path(), "mifare", "dump", "--quiet"}, scratch_, terminal.path());
    EXPECT_EQ(o.status, 0);
    std::string shown;
    char buf[4096];
    ssize_t n;
    fcntl(terminal.master(), F_SETFL, O_NONBLOCK);
    while ((n = ::read(terminal.master(), buf, sizeof buf)) > 0) shown.append(buf, static_cast<std::size_t>(n));
    EXPECT_NE(shown.find("\rreading MIFARE Classic 1K, sector: 16/16"), std::string::npos) << shown;
}

// ------------------------------------------------------ dump and restore

TEST_F(MifareCli, DumpWritesEveryFormWithTheSameCard) {
    place("mifare_s50", "DEADBEEF");
    ok({"mifare", "write", "9", "54686520717569636B2062726F776E21", "--key", kTransportKey});
    vrdump::CardImage first;
    for (const char *name : {"card.json", "card.eml", "card.mfd"}) {
        const Outcome d = ok({"mifare", "dump", scratch_ / name, "--key", kTransportKey});
        EXPECT_TRUE(d.has_out("  9  54 68 65 20 71 75 69 63 6B 20 62 72 6F 77 6E 21  |The quick brown!|")) << d.out;
        EXPECT_TRUE(d.has_out("MIFARE Classic 1K DEADBEEF: 64 blocks, 64 read")) << d.out;
        vrdump::CardImage image;
        const vrdump::Status s = vrdump::load_file(scratch_ / name, image);
        ASSERT_TRUE(s) << s.error;
        EXPECT_EQ(image.uid, (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));
        // The keys used are in the trailers, not the zeros the card shows.
        EXPECT_EQ(vrdump::hex(std::span(image.blocks[3]).first(6)), kTransportKey);
        if (first.blocks.empty()) first = image;
        EXPECT_EQ(image.blocks, first.blocks) << name;
    }
    EXPECT_EQ(std::filesystem::file_size(scratch_ / "card.mfd"), 1024u);
}

TEST_F(MifareCli, UnreadableSectorsAreReportedNotZeroed) {
    place("mifare_s50", "DEADBEEF");
    ok({"mifare", "keys", "3", "--key", kTransportKey, "--new-key-a", "A0A1A2A3A4A5"});
    const Outcome d = tool({"mifare", "dump", scratch_ / "partial.eml", "--key", kTransportKey});
    EXPECT_EQ(d.status, 1);
    EXPECT_TRUE(d.has_out("64 blocks, 60 read, 4 unreadable")) << d.out;
    EXPECT_TRUE(d.has_out(" 12  -- -- --")) << d.out;
    EXPECT_TRUE(d.has_err("sector 3 authentication")) << d.err;
    vrdump::CardImage image;
    ASSERT_TRUE(vrdump::load_file(scratch_ / "partial.eml", image));
    EXPECT_EQ(image.unreadable_count(), 4);
    EXPECT_EQ(image.readable[16], 1) << "the sectors after the locked one are read";
    // A binary image cannot mark them: refused unless zeros are asked for.
    const Outcome bin = tool({"mifare", "dump", scratch_ / "partial.mfd", "--key", kTransportKey});
    EXPECT_TRUE(bin.has_err("block 12 is unreadable")) << bin.err;
    EXPECT_FALSE(std::filesystem::exists(scratch_ / "partial.mfd"));
}

TEST_F(MifareCli, RestoreSkipsBlockZeroAndTrailersUnlessAskedAndVerifies) {
    place("mifare_s50", "DEADBEEF");
    ok({"mifare", "dump", scratch_ / "orig.json", "--key", kTransportKey});
    vrdump::CardImage image;
    ASSERT_TRUE(vrdump::load_file(scratch_ / "orig.json", image));
    image.blocks[0][8] ^= 0xFF;      // manufacturer data: must never be written
    image.blocks[4].fill(0x44);
    image.blocks[62].fill(0x62);
    image.keys[1].a = vrdump::Key{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
    ASSERT_TRUE(vrdump::save_file(scratch_ / "edited.mfd", image));

    const Outcome plain = ok({"mifare", "restore", scratch_ / "edited.mfd", "--key", kTransportKey});
    EXPECT_TRUE(plain.has_out("47 blocks written and verified")) << plain.out;
    EXPECT_TRUE(plain.has_out("16 trailers skipped")) << plain.out;
    EXPECT_TRUE(ok({"mifare", "read", "4", "--key", kTransportKey}).has_out("44 44 44"));
    EXPECT_TRUE(ok({"mifare", "read", "62", "--key", kTransportKey}).has_out("62 62 62"));
    ok({"mifare", "read", "5", "--key", kTransportKey});  // sector 1 keeps its key

    const Outcome trailers = ok({"mifare", "restore", scratch_ / "edited.mfd", "--key", kTransportKey, "--trailers"});
    EXPECT_TRUE(trailers.has_out("63 blocks written and verified")) << trailers.out;
    EXPECT_EQ(tool({"mifare", "read", "5", "--key", kTransportKey}).status, 1);
    ok({"mifare", "read", "5", "--key", "A0A1A2A3A4A5"});
    // Block 0 is as the card was made, not as the file has it.
    vrdump::CardImage orig;
    ASSERT_TRUE(vrdump::load_file(scratch_ / "orig.json", orig));
    EXPECT_TRUE(ok({"mifare", "read", "0", "--key", kTransportKey}).has_out(spaced(orig.blocks[0])));
}

TEST_F(MifareCli, RestoreRefusesAnImageOfTheOtherSize) {
    place("mifare_s50", "DEADBEEF");
    ASSERT_TRUE(vrdump::save_file(scratch_ / "big.eml", vrdump::CardImage::empty(vrdump::Kind::classic_4k)));
    const Outcome o = tool({"mifare", "restore", scratch_ / "big.eml", "--key", kTransportKey});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.has_err("holds a MIFARE Classic 4K, the card in the field is a MIFARE Classic 1K")) << o.err;
}

TEST_F(MifareCli, FourKLargeSectorsAndTheirTrailers) {
    place("mifare_s70", "01020304");
    ok({"mifare", "write", "200", "000102030405060708090A0B0C0D0E0F", "--key", kTransportKey});
    EXPECT_TRUE(ok({"mifare", "read", "200", "--key", kTransportKey}).has_out("200  00 01 02 03"));
    // Sector 36 is blocks 192..207: its trailer is 207.
    ok({"mifare", "keys", "36", "--key", kTransportKey, "--new-key-a", "A0A1A2A3A4A5"});
    EXPECT_EQ(tool({"mifare", "read", "200", "--key", kTransportKey}).status, 1);
    ok({"mifare", "read", "207", "--key", "A0A1A2A3A4A5"});
    ok({"mifare", "read", "191", "--key", kTransportKey});
    const Outcome a = ok({"mifare", "access", "36", "--key", "A0A1A2A3A4A5"});
    EXPECT_TRUE(a.has_out("blocks 202-206")) << a.out;
    const Outcome d = tool({"mifare", "dump", scratch_ / "k4.mfd", "--key", kTransportKey, "--zero-unreadable"});
    EXPECT_TRUE(d.has_out("MIFARE Classic 4K 01020304: 256 blocks, 240 read, 16 unreadable")) << d.out;
    EXPECT_EQ(std::filesystem::file_size(scratch_ / "k4.mfd"), 4096u);
}

TEST_F(MifareCli, TheSimulatorLoadsADumpFile) {
    vrdump::CardImage image = vrdump::CardImage::empty(vrdump::Kind::classic_1k);
    for (auto &r : image.readable) r = 1;
    image.uid = {0x11, 0x22, 0x33, 0x44};
    image.atqa = {0x04, 0x00};
    image.sak = 0x08;
    image.blocks[0] = {0x11, 0x22, 0x33, 0x44, 0x11 ^ 0x22 ^ 0x33 ^ 0x44, 0x08, 0x04, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int s = 0; s < 16; ++s) {
        vrdump::Block &t = image.blocks[vrdump::trailer_block(s)];
        t = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0x80, 0x69, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    }
    image.blocks[4] = {'l', 'o', 'a', 'd', 'e', 'd', ' ', 'f', 'r', 'o', 'm', ' ', 'J', 'S', 'O', 'N'};
    ASSERT_TRUE(vrdump::save_file(scratch_ / "card.json", image));
    const std::string answer = sim_.ask("card load " + (scratch_ / "card.json"));
    ASSERT_EQ(answer.rfind("ok", 0), 0u) << answer;
    EXPECT_TRUE(ok({"card"}).has_out("UID (NFCID1): 11  22  33  44"));
    EXPECT_TRUE(ok({"mifare", "read", "4", "--key", kTransportKey}).has_out("|loaded from JSON|"));
}

// ------------------------------------------------------------ no reader

TEST(MifareConvert, TranslatesBetweenFormsWithoutAReader) {
    ScratchDir scratch;
    vrdump::CardImage image = vrdump::CardImage::empty(vrdump::Kind::classic_1k);
    for (auto &r : image.readable) r = 1;
    image.blocks[0] = {0xDE, 0xAD, 0xBE, 0xEF, 0x22, 0x08, 0x04, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
    image.blocks[9].fill(0x99);
    image.readable[10] = 0;
    ASSERT_TRUE(vrdump::save_file(scratch / "in.json", image));

    Outcome o = run_tool({"mifare", "convert", scratch / "in.json", scratch / "out.eml"}, scratch);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(o.has_out("MIFARE Classic 1K DEADBEEF, 64 blocks, 1 unreadable")) << o.out;
    vrdump::CardImage back;
    ASSERT_TRUE(vrdump::load_file(scratch / "out.eml", back));
    EXPECT_EQ(back.blocks[9], image.blocks[9]);
    EXPECT_EQ(back.readable[10], 0);

    o = run_tool({"mifare", "convert", scratch / "in.json", scratch / "out.mfd"}, scratch);
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.has_err("block 10 is unreadable")) << o.err;
    o = run_tool({"mifare", "convert", scratch / "in.json", scratch / "out.mfd", "--zero-unreadable"}, scratch);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(std::filesystem::file_size(scratch / "out.mfd"), 1024u);

    std::ofstream(scratch / "bad.json") << "{\"FileType\": \"mfc v2\", \"blocks\": {\"0\": \"00\"}}";
    o = run_tool({"mifare", "convert", scratch / "bad.json", scratch / "x.eml"}, scratch);
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(o.has_err("bad.json: \"blocks\": block 0 must be 32 hexadecimal digits")) << o.err;
    o = run_tool({"mifare", "convert", scratch / "in.json"}, scratch);
    EXPECT_EQ(o.status, 2);
}

}  // namespace
