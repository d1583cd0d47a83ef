// The vantel-rfid-sim program: path on standard output, the control
// channel on standard input, options, and how it ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "child_process.h"
#include "dumpfile.h"
#include "host_link.h"

using namespace std::chrono_literals;
using vrsim::Bytes;

namespace {

const std::string kProgram = std::string(VR_BINARY_DIR) + "/bin/vantel-rfid-sim";

// One run of the program with pipes on its standard input and output.
class SimProcess : public vrtest::ChildProcess {
public:
    bool start(const std::vector<std::string>& args) { return ChildProcess::start(kProgram, args); }
};

}  // namespace

TEST(SimProgram, PrintsPathAndObeysControlCommands) {
    SimProcess p;
    ASSERT_TRUE(p.start({}));
    const auto path = p.line();
    ASSERT_TRUE(path);
    EXPECT_EQ(path->rfind("/dev/pts/", 0), 0u) << *path;
    vrsim::HostLink host;
    ASSERT_TRUE(host.open(*path));
    auto r = host.command(3, 0x0F02, Bytes{0x11, 0x22, 0x33}, 2s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, (Bytes{0x11, 0x22, 0x33}));

    EXPECT_EQ(p.ask("fault status 0x0d"), "ok");
    r = host.command(3, 0x010D, Bytes{1, 1}, 2s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0x0D);

    EXPECT_EQ(p.ask("battery 200"), "ok");
    r = host.command(3, 0x0F10, {}, 2s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, Bytes{200});

    const auto bad = p.ask("explode now");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->rfind("error:", 0), 0u);
    EXPECT_EQ(p.ask("fault explode")->rfind("error:", 0), 0u);

    const auto moved = p.ask("reconnect");
    ASSERT_TRUE(moved);
    ASSERT_EQ(moved->rfind("ok /dev/pts/", 0), 0u) << *moved;
    EXPECT_TRUE(host.line_failed());
    ASSERT_TRUE(host.open(moved->substr(3)));
    ASSERT_TRUE(host.command(3, 0x0F02, Bytes{0x01}, 2s));

    EXPECT_EQ(p.ask("quit"), "ok");
    EXPECT_EQ(p.wait(), 0);
}

// The end of the control input (a program started in the background with
// no input) leaves the reader answering; a signal ends it.
TEST(SimProgram, SecondFamilyServesPastTheEndOfInput) {
    SimProcess p;
    ASSERT_TRUE(p.start({"--family", "2"}));
    const auto path = p.line();
    ASSERT_TRUE(path);
    vrsim::HostLink host;
    ASSERT_TRUE(host.open(*path));
    p.close_input();
    ASSERT_TRUE(host.write(Bytes{0x02, 0x02, 0x02, 0x0F, 0x11, 0x22, 0x33, 0x0F, 0x55}));
    const auto r = host.read_frame(6, 2s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, (Bytes{0x11, 0x22, 0x33}));
    EXPECT_EQ(p.wait(200ms), -1);
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(), 0);
}

TEST(SimProgram, FaultsAndLinkFromTheCommandLine) {
    char dir_template[] = "/tmp/vrsim-prog-XXXXXX";
    ASSERT_NE(::mkdtemp(dir_template), nullptr);
    const std::string link = std::string(dir_template) + "/reader";
    SimProcess p;
    ASSERT_TRUE(p.start({"--link", link, "--fault", "drop:x2", "--no-control"}));
    EXPECT_EQ(p.line(), link);
    vrsim::HostLink host;
    ASSERT_TRUE(host.open(link));
    for (uint8_t k = 1; k <= 3; ++k) ASSERT_TRUE(host.send_request(3, 0x0F02, Bytes{k}));
    const auto r = host.read_frame(3, 2s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, Bytes{3});
    // With --no-control the end of input does not end it; a signal does.
    p.close_input();
    ASSERT_TRUE(host.command(3, 0x0F02, Bytes{4}, 2s));
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    std::filesystem::remove_all(dir_template);
}

// A card in the field from the start, then placed and removed through the
// control channel.
TEST(SimProgram, CardFromTheCommandLineAndTheControlChannel) {
    SimProcess p;
    ASSERT_TRUE(p.start({"--card", "mifare_s70:A1B2C3D4"}));
    const auto path = p.line();
    ASSERT_TRUE(path);
    vrsim::HostLink host;
    ASSERT_TRUE(host.open(*path));
    auto r = host.command(3, 0x0213, Bytes{0x52}, 2s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, (Bytes{7, 0x02, 0x00, 0xA1, 0xB2, 0xC3, 0xD4, 0x18}));
    EXPECT_EQ(p.ask("card show"), "ok mifare_s70 uid=A1B2C3D4 atqa=0002 sak=18 state=active");
    EXPECT_EQ(p.ask("card place mifare_ul 04010203040506"),
              "ok mifare_ul uid=04010203040506 atqa=0044 sak=00 state=idle");
    r = host.command(3, 0x0213, Bytes{0x52}, 2s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, (Bytes{10, 0x44, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x00}));
    EXPECT_EQ(p.ask("card remove"), "ok");
    r = host.command(3, 0x0213, Bytes{0x52}, 2s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0x0D);
    EXPECT_EQ(p.ask("quit"), "ok");
    EXPECT_EQ(p.wait(), 0);
}

TEST(SimProgram, CardFromADumpFile) {
    char dir_template[] = "/tmp/vrsim-prog-XXXXXX";
    ASSERT_NE(::mkdtemp(dir_template), nullptr);
    const std::string file = std::string(dir_template) + "/card.eml";
    vrdump::CardImage image = vrdump::CardImage::empty(vrdump::Kind::classic_1k);
    for (auto& r : image.readable) r = 1;
    image.blocks[0] = {0x51, 0x52, 0x53, 0x54, 0x51 ^ 0x52 ^ 0x53 ^ 0x54, 0x08, 0x04, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(vrdump::save_file(file, image));
    SimProcess p;
    ASSERT_TRUE(p.start({"--card-file", file}));
    const auto path = p.line();
    ASSERT_TRUE(path);
    EXPECT_EQ(p.ask("card show"), "ok mifare_s50 uid=51525354 atqa=0004 sak=08 state=idle");
    EXPECT_EQ(p.ask("quit"), "ok");
    EXPECT_EQ(p.wait(), 0);
    std::filesystem::remove_all(dir_template);
}

// card save writes the card in the field, keys included, in a form card
// load takes back: a Classic Mini here, whose 320-byte image is the
// smallest form. An Ultralight is saved too (its round trip is
// test_sim_iso_cards').
TEST(SimProgram, CardSavedAndLoadedAgain) {
    char dir_template[] = "/tmp/vrsim-prog-XXXXXX";
    ASSERT_NE(::mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;
    SimProcess p;
    ASSERT_TRUE(p.start({"--card", "mifare_s20:0A0B0C0D"}));
    ASSERT_TRUE(p.line());
    EXPECT_EQ(p.ask("card save " + dir + "/mini.mfd"), "ok saved " + dir + "/mini.mfd");
    EXPECT_EQ(std::filesystem::file_size(dir + "/mini.mfd"), 320u);
    EXPECT_EQ(p.ask("card save " + dir + "/mini.json"), "ok saved " + dir + "/mini.json");
    vrdump::CardImage image;
    ASSERT_TRUE(vrdump::load_file(dir + "/mini.json", image));
    EXPECT_EQ(image.kind, vrdump::Kind::classic_mini);
    EXPECT_EQ(image.uid, (std::vector<uint8_t>{0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_EQ(image.sak, 0x09);
    ASSERT_TRUE(image.keys[4].a && image.keys[4].b);
    EXPECT_EQ(*image.keys[4].b, (vrdump::Key{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

    ASSERT_EQ(p.ask("card place mifare_ul")->rfind("ok mifare_ul", 0), 0u);
    EXPECT_EQ(p.ask("card save " + dir + "/ul.json"), "ok saved " + dir + "/ul.json");
    EXPECT_EQ(p.ask("card load " + dir + "/mini.mfd"), "ok mifare_s20 uid=0A0B0C0D atqa=0004 sak=09 state=idle");
    EXPECT_EQ(p.ask("quit"), "ok");
    EXPECT_EQ(p.wait(), 0);
    std::filesystem::remove_all(dir);
}

TEST(SimProgram, RefusesBadOptions) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--protocol", "4"}, {"--family", "3"}, {"--fault", "explode"},
          {"--baud"}, {"--bogus"}, {"--card", "mifare_s99"}, {"--card", "mifare_s50:1122"},
          {"--card-file", "/nonexistent/card.mfd"}}) {
        SimProcess p;
        ASSERT_TRUE(p.start(args));
        EXPECT_EQ(p.wait(), 2) << args[0];
    }
}
