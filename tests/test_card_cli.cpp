// The tool's `card`, `ultralight`, `apdu` and `idcard` commands, run as the
// program against the simulator program; what a command wrote is checked
// through the card afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tool_runner.h"
#include "ultralight_dump.h"

namespace {

using Outcome = vrtest::ProgramOutcome;
using vrtest::ScratchDir;

class CardCli : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim_.start()); }

    void ask_ok(const std::string &command) {
        const std::string answer = sim_.ask(command);
        ASSERT_EQ(answer.rfind("ok", 0), 0u) << command << ": " << answer;
    }
    Outcome tool(std::initializer_list<std::string> args) {
        std::vector<std::string> all{"--device", sim_.path()};
        all.insert(all.end(), args.begin(), args.end());
        return vrtest::run_tool(all, scratch_);
    }
    Outcome ok(std::initializer_list<std::string> args) {
        Outcome o = tool(args);
        EXPECT_EQ(o.status, 0) << o.out << o.err;
        return o;
    }
    vrtest::SimProgram sim_;
    ScratchDir scratch_;
};

TEST_F(CardCli, CardNamesEveryType) {
    struct Case {
        const char *place;
        const char *name;
    };
    for (const Case c : {Case{"mifare_ul", "ISO/IEC 14443A card: MIFARE Ultralight\n"},
                         Case{"mifare_ulc", "ISO/IEC 14443A card: MIFARE Ultralight C\n"},
                         Case{"cpu_card", "ISO/IEC 14443A card: ISO/IEC 14443-4 CPU card\n"},
                         Case{"cid_card", "ISO/IEC 14443B card: CID card\n"},
                         Case{"id_card 0102030405060708", "ISO/IEC 14443B card: PRC identity card\n"},
                         Case{"mifare_s70", "ISO/IEC 14443A card: MIFARE Classic 4K\n"}}) {
        ask_ok(std::string("card place ") + c.place);
        const Outcome o = ok({"card"});
        EXPECT_TRUE(o.has_out(c.name)) << c.place << ":\n" << o.out;
    }
    EXPECT_TRUE(ok({"card"}).has_out("Mifare S70")) << "the library's type name too";
    ask_ok("card place cpu_card");
    EXPECT_TRUE(ok({"card"}).has_out("ATS: 0a  78  80  70  02"));
    ask_ok("card place id_card 0102030405060708");
    EXPECT_TRUE(ok({"card"}).has_out("identifier: 01  02  03  04  05  06  07  08"));
}

TEST_F(CardCli, UltralightWriteReadDumpAndRestore) {
    ask_ok("card place mifare_ul 04112233445566");
    ok({"ultralight", "write", "5", "CAFEBABE"});
    EXPECT_TRUE(ok({"ultralight", "read", "4", "2"}).has_out("  5  CA FE BA BE"));
    EXPECT_EQ(tool({"ultralight", "write", "1", "00000000"}).status, 2) << "UID pages";
    EXPECT_EQ(tool({"ultralight", "write", "5", "CAFE"}).status, 2);

    const std::string json = scratch_ / "ul.json", bin = scratch_ / "ul.bin";
    ok({"ultralight", "dump", json});
    ok({"ultralight", "dump", bin});
    vrdump::UlImage image;
    ASSERT_TRUE(vrdump::load_ultralight(json, image));
    EXPECT_EQ(image.kind, vrdump::UlKind::ultralight);
    EXPECT_EQ(vrdump::hex(image.uid), "04112233445566");
    EXPECT_EQ(image.pages[5], (vrdump::UlPage{0xCA, 0xFE, 0xBA, 0xBE}));
    EXPECT_EQ(image.unreadable_count(), 0);
    // A second dump to the same file is refused before the card is read,
    // and the first stays as it was.
    const std::string first = vrtest::slurp(json);
    const Outcome again = tool({"ultralight", "dump", json});
    EXPECT_EQ(again.status, 2);
    EXPECT_TRUE(again.has_err("ul.json: exists; not replaced (--force replaces it)")) << again.err;
    EXPECT_EQ(vrtest::slurp(json), first);

    // Restore onto a new card: the data pages come back, the UID does not.
    ask_ok("card place mifare_ul 04AABBCCDDEEFF");
    ok({"ultralight", "restore", bin});
    const Outcome read = ok({"ultralight", "read", "5"});
    EXPECT_TRUE(read.has_out("CA FE BA BE")) << read.out;
    const Outcome dump = ok({"ultralight", "dump"});
    EXPECT_TRUE(dump.has_out("UID 04AABBCCDDEEFF")) << dump.out;
    // A dump of one kind is refused by the other.
    ask_ok("card place mifare_ulc");
    const Outcome wrong = tool({"ultralight", "restore", bin});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_TRUE(wrong.has_err("the dump is of a MIFARE Ultralight, the card a MIFARE Ultralight C")) << wrong.err;
}

TEST_F(CardCli, UltralightCProtectedPagesAndTheKey) {
    ask_ok("card place mifare_ulc");
    const std::string key = "49454D4B41455242214E4143554F5946";
    ok({"ultralight", "write", "42", "14000000", "--c"});  // AUTH0: protect from page 20
    ok({"ultralight", "write", "20", "11223344", "--key", key});
    // Without the key the protected pages are unreadable; the key pages
    // never read.
    const std::string json = scratch_ / "c.json";
    ok({"ultralight", "dump", json});
    vrdump::UlImage image;
    ASSERT_TRUE(vrdump::load_ultralight(json, image));
    EXPECT_EQ(image.kind, vrdump::UlKind::ultralight_c);
    EXPECT_EQ(image.unreadable_count(), 48 - 20);
    EXPECT_EQ(tool({"ultralight", "dump", scratch_ / "c.bin"}).status, 1) << "a .bin cannot mark them";
    ok({"ultralight", "dump", json, "--key", key, "--force"});
    ASSERT_TRUE(vrdump::load_ultralight(json, image));
    EXPECT_EQ(image.unreadable_count(), 4) << "only the key";
    EXPECT_EQ(image.pages[20], (vrdump::UlPage{0x11, 0x22, 0x33, 0x44}));
    const Outcome wrong = tool({"ultralight", "read", "20", "--key", "00112233445566778899AABBCCDDEEFF"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_TRUE(wrong.has_err("authentication failed: error -34")) << wrong.err;
}

TEST_F(CardCli, ApduExplainsStatusWords) {
    ask_ok("card place cpu_card");
    const Outcome o = ok({"apdu", "00A4040C08F056525445535401", "00B0810004", "00A40000027777", "00B2011402"});
    EXPECT_TRUE(o.has_out("< 90 00\n  SW 9000: Command successful")) << o.out;
    EXPECT_TRUE(o.has_out("< 00 01 02 03 90 00\n")) << o.out;
    EXPECT_TRUE(o.has_out("SW 6A82: File not found")) << o.out;
    EXPECT_TRUE(o.has_out("SW 6C10: wrong Le: 16 bytes are available")) << o.out;
    const Outcome batch = ok({"apdu", "--batch", "00A4040C08F056525445535401", "00B2041400"});
    EXPECT_TRUE(batch.has_out("< 04 A4 A4")) << batch.out;
    EXPECT_EQ(tool({"apdu", "00ZZ"}).status, 2);

    // A type B CID card: the reader's own byte follows the status word.
    ask_ok("card place cid_card");
    const Outcome cid = ok({"apdu", "00A40000026002", "80B0000003"});
    EXPECT_TRUE(cid.has_out("< 43 49 44 90 00 00\n  SW 9000")) << cid.out;
}

TEST_F(CardCli, IdcardPrintsTheTextAndSavesThePhotoAndFingerprint) {
    // A card described in a file, its fields in UTF-8.
    const std::string file = scratch_ / "id.json";
    {
        std::ofstream out(file);
        out << R"({"FileType": "prc-id", "Identifier": "1122334455667788",
                   "Text": {"name": "样例姓名", "sex": "1", "address": "模拟市虚构街1号",
                            "number": "11010519880516001X", "valid to": "长期"}})";
    }
    ask_ok("card load " + file);
    const std::string photo = scratch_ / "photo.bin", finger = scratch_ / "finger.bin";
    const Outcome o = ok({"idcard", "read", "--photo", photo, "--fingerprint", finger});
    EXPECT_TRUE(o.has_out("name: 样例姓名\n")) << o.out;
    EXPECT_TRUE(o.has_out("sex: 1 (male)\n")) << o.out;
    EXPECT_TRUE(o.has_out("number: 11010519880516001X\n")) << o.out;
    EXPECT_TRUE(o.has_out("validity: 20200101 - 长期\n")) << o.out;
    EXPECT_EQ(vrtest::slurp(photo).size(), 1024u);
    EXPECT_EQ(vrtest::slurp(finger).size(), 1024u);

    // The SAM failing to select: an error, nothing saved.
    ask_ok("sam fail select 81");
    const std::string photo2 = scratch_ / "photo2.bin";
    const Outcome failed = tool({"idcard", "read", "--photo", photo2});
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(failed.has_err("idcard read failed: error -35")) << failed.err;
    EXPECT_FALSE(std::filesystem::exists(photo2));
}

}  // namespace
