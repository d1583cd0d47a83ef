// The `card` and `mifare` commands of the command-line tool, run as the
// program itself against the simulator program, whose control channel
// places the virtual cards. What a command changed is checked through the
// card afterwards (a changed key must be needed, a read-only block must
// refuse writes), not only through the command's own report.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "dumpfile.h"

extern char **environ;

namespace {

using namespace std::chrono_literals;

const std::string kTool = std::string(VR_BINARY_DIR) + "/bin/vantel-rfid";
const std::string kSimulator = std::string(VR_BINARY_DIR) + "/bin/vantel-rfid-sim";
constexpr const char *kTransportKey = "FFFFFFFFFFFF";

struct Outcome {
    int status = -1;
    std::string out, err;
    bool has_out(const std::string &piece) const { return out.find(piece) != std::string::npos; }
    bool has_err(const std::string &piece) const { return err.find(piece) != std::string::npos; }
};

// A block as the tool's view shows it: "DE AD BE EF ...".
std::string spaced(const vrdump::Block &block) {
    std::string s;
    for (uint8_t b : block) s += (s.empty() ? "" : " ") + vrdump::hex(std::span(&b, 1));
    return s;
}

std::string slurp(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A scratch directory for dump files and captured output.
class ScratchDir {
public:
    ScratchDir() {
        dir_ = std::filesystem::temp_directory_path() /
               ("vr_mifare_cli_" + std::to_string(getpid()) + "_" + std::to_string(counter_++));
        std::filesystem::create_directories(dir_);
    }
    ~ScratchDir() { std::filesystem::remove_all(dir_); }
    std::string operator/(const std::string &name) const { return (dir_ / name).string(); }

private:
    static inline int counter_ = 0;
    std::filesystem::path dir_;
};

// Runs the tool with the arguments; standard output and error are captured.
Outcome run_tool(const std::vector<std::string> &args, const ScratchDir &scratch) {
    const std::string out = scratch / "stdout", err = scratch / "stderr";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all{kTool};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    Outcome o;
    if (posix_spawn(&pid, kTool.c_str(), &fa, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&fa);
    o.out = slurp(out);
    o.err = slurp(err);
    return o;
}

// The simulator program with its control channel on a pipe; its first
// line is the path of the reader's line.
class SimProgram {
public:
    bool start() {
        if (!child_.start(kSimulator)) return false;
        const auto first = child_.line(std::chrono::seconds(5));
        if (!first) return false;
        path_ = *first;
        return true;
    }

    const std::string &path() const { return path_; }

    // Sends one control line; its one-line answer.
    std::string ask(const std::string &command) {
        return child_.ask(command, std::chrono::seconds(5)).value_or("error: no answer");
    }

private:
    vrtest::ChildProcess child_;
    std::string path_;
};

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

TEST_F(MifareCli, WithoutAKeyTheReadersStoredKeyIsUsed) {
    place("mifare_s50", "DEADBEEF");
    ok({"mifare", "keys", "1", "--key", kTransportKey, "--new-key-a", "A0A1A2A3A4A5"});
    EXPECT_EQ(tool({"mifare", "read", "4"}).status, 1) << "no stored key opens sector 1 yet";
    // Download key A into the reader (command 0x0605: type, index, key) in
    // slot 0 and in the sector's own slot.
    for (const char *slot : {"00", "01"}) ok({"raw", std::string("0506 60 ") + slot + " A0A1A2A3A4A5"});
    const Outcome r = ok({"mifare", "read", "4"});
    EXPECT_TRUE(r.has_out("  4  ")) << r.out;
}

TEST_F(MifareCli, RefusalsBeforeAnyCardAccess) {
    place("mifare_s50", "DEADBEEF");
    const struct {
        std::vector<std::string> args;
        int status;
        const char *message;
    } cases[] = {
        {{"read", "64"}, 2, "block must be 0..63"},
        {{"read", "-1"}, 2, "block must be 0..63"},
        {{"write", "4", "0011"}, 2, "16 bytes of data"},
        {{"write", "4", "00112233445566778899AABBCCDDEEF"}, 2, "16 bytes of data"},
        {{"write", "4", "00112233445566778899AABBCCDDEEGG"}, 2, "16 bytes of data"},
        {{"write", "0", "00112233445566778899AABBCCDDEEFF"}, 1, "manufacturer block"},
        {{"write", "7", "FFFFFFFFFFFFFF078069FFFFFFFFFFFF"}, 1, "give --trailers"},
        {{"write", "7", "FFFFFFFFFFFFFF0F8069FFFFFFFFFFFF", "--trailers"}, 1, "inconsistent"},
        {{"read", "4", "--key", "FFFF"}, 2, "--key takes a key of 12 hex digits"},
        {{"read", "4", "--key-type", "C"}, 2, "--key-type takes A or B"},
        {{"value", "3"}, 2, "cannot be a value block"},
        {{"value", "5", "inc", "-1"}, 2, "value BLOCK"},
        {{"value", "5", "restore", "9"}, 2, "same sector"},
        {{"access", "1", "000", "000", "000", "2"}, 2, "three bits"},
        {{"keys", "1"}, 2, "--new-key-a"},
        {{"keys", "16", "--new-key-a", kTransportKey}, 2, "sector must be 0..15"},
        {{"frobnicate"}, 2, "unknown subcommand"},
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

// ------------------------------------------------------ dump and restore

TEST_F(MifareCli, DumpWritesEveryFormWithTheSameCard) {
    place("mifare_s50", "DEADBEEF");
    ok({"mifare", "write", "9", "54686520717569636B2062726F776E21", "--key", kTransportKey});
    vrdump::CardImage first;
    for (const char *name : {"card.json", "card.eml", "card.mfd"}) {
        const Outcome d = ok({"mifare", "dump", scratch_ / name, "--key", kTransportKey});
        EXPECT_TRUE(d.has_out("  9  54 68 65 20 71 75 69 63 6B 20 62 72 6F 77 6E 21  |The quick brown!|")) << d.out;
        EXPECT_TRUE(d.has_out("1K card DEADBEEF: 64 blocks, 64 read")) << d.out;
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
    EXPECT_TRUE(o.has_err("holds a 4K card, the card in the field is 1K")) << o.err;
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
    EXPECT_TRUE(d.has_out("4K card 01020304: 256 blocks, 240 read, 16 unreadable")) << d.out;
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
    EXPECT_TRUE(o.has_out("1K card DEADBEEF, 64 blocks, 1 unreadable")) << o.out;
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
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.has_err("bad.json: \"blocks\": block 0 must be 32 hexadecimal digits")) << o.err;
    o = run_tool({"mifare", "convert", scratch / "in.json"}, scratch);
    EXPECT_EQ(o.status, 2);
}

}  // namespace
