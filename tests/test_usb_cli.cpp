// The command-line tool's USB options and `usb list`, run as the program
// against devices emulated in this process: the tool's libusb reaches them
// through the umockdev preload it inherits with the bed's location.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "card.h"
#include "field.h"
#include "sim_harness.h"
#include "tool_runner.h"
#include "usb_bed.h"

extern char **environ;

namespace {

using vrtest::kTool;
using vrtest::slurp;

struct Outcome {
    int status = -1;
    std::string out, err;
    bool has(const std::string &piece) const {
        return out.find(piece) != std::string::npos || err.find(piece) != std::string::npos;
    }
};

// The tool inherits the umockdev preload, which a sanitized build's
// runtime would refuse to follow; the test programs waive that check for
// themselves (usb_bed.cpp) and the tool gets the same waiver here. Built
// before the fork: the child only execs.
std::vector<std::string> tool_environment() {
    constexpr std::string_view kAsan = "ASAN_OPTIONS=";
    constexpr std::string_view kWaiver = "verify_asan_link_order=0";
    std::vector<std::string> env;
    bool asan_seen = false;
    for (char **e = environ; *e; ++e) {
        std::string entry = *e;
        if (entry.starts_with(kAsan)) {
            entry += std::string(entry.size() > kAsan.size() ? ":" : "") + std::string(kWaiver);
            asan_seen = true;
        }
        env.push_back(std::move(entry));
    }
    if (!asan_seen) env.push_back(std::string(kAsan) + std::string(kWaiver));
    return env;
}

// Root opens any file whatever its mode; a tool run `unprivileged` loses
// that power (the capabilities that bypass file modes leave its bounding
// set before exec) but keeps root's identity, so it still reaches its own
// binary wherever the tree was checked out.
void drop_file_mode_bypass() {
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) _exit(126);
}

// Runs the tool with its output captured.
Outcome run_tool(const std::vector<std::string> &args, bool unprivileged = false) {
    const std::string base = std::filesystem::temp_directory_path() / ("vr_usb_cli_" + std::to_string(getpid()));
    const std::string out = base + ".out", err = base + ".err";
    std::vector<std::string> all{kTool};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = tool_environment();
    std::vector<char *> envp;
    for (auto &e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    Outcome o;
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int o1 = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int o2 = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        dup2(in, 0), dup2(o1, 1), dup2(o2, 2);
        if (unprivileged && geteuid() == 0) drop_file_mode_bypass();
        execve(kTool.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid) o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    o.out = slurp(out);
    o.err = slurp(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return o;
}

class UsbTool : public ::testing::Test {
protected:
    void SetUp() override {
        sim = vrsim::start_simulator();
        ASSERT_TRUE(sim);
        bed = std::make_unique<vrtest::UsbBed>();
        ASSERT_TRUE(bed->ok()) << bed->why();
    }
    vrtest::EmulatedUsb *plug(vrsim::UsbKind kind, int address = 2) {
        vrtest::EmulatedUsb *dev = bed->plug(kind, sim->path(), sim->protocol(), address);
        EXPECT_TRUE(dev) << bed->why();
        return dev;
    }
    void TearDown() override {
        bed.reset();
        sim.reset();
    }
    std::unique_ptr<vrsim::Simulator> sim;
    std::unique_ptr<vrtest::UsbBed> bed;
};

TEST_F(UsbTool, ReaderInfoOverEachFirstFamilyAttachment) {
    for (auto kind : {vrsim::UsbKind::hid_reader, vrsim::UsbKind::ch340g, vrsim::UsbKind::ch9326}) {
        const std::string type = vrsim::usb_identity(kind).name;
        SCOPED_TRACE(type);
        vrtest::EmulatedUsb *dev = plug(kind, 2 + static_cast<int>(kind));
        ASSERT_TRUE(dev);
        const Outcome r = run_tool({"--usb", type, "reader", "info"});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_TRUE(r.has("firmware version:  vantel-sim 1.0.0")) << r.out;
        EXPECT_TRUE(r.has("model:             VR1356-S")) << r.out;
        dev->unplug();
    }
}

TEST_F(UsbTool, MifareDumpThroughAnAdapter) {
    auto card = sim->field().place(vrsim::Card::classic_1k({0xDE, 0xAD, 0xBE, 0xEF}));
    card->set_block(8, vrsim::Block{'u', 's', 'b'});
    ASSERT_TRUE(plug(vrsim::UsbKind::ch340g));
    const std::string file = std::filesystem::temp_directory_path() / ("vr_usb_dump_" + std::to_string(getpid()) + ".eml");
    const Outcome r = run_tool({"--usb", "ch340g", "mifare", "dump", file, "--key", "FFFFFFFFFFFF"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const std::string dump = slurp(file);
    std::filesystem::remove(file);
    EXPECT_NE(dump.find("DEADBEEF"), std::string::npos) << dump;
    EXPECT_NE(dump.find("757362"), std::string::npos) << "block 8\n" << dump;
}

TEST_F(UsbTool, ListShowsEveryKindWithItsStrings) {
    for (int k = 0; k < 4; ++k) ASSERT_TRUE(plug(static_cast<vrsim::UsbKind>(k), 2 + k));
    const Outcome r = run_tool({"usb", "list"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char *line : {"usbhid     0108:0100  bus 001 address 002  vantel-sim / Contactless Reader / VR0001",
                             "ch340g     1a86:7523  bus 001 address 003  - / USB Serial / -",
                             "ch9326     1a86:e010  bus 001 address 004  vantel-sim / USB HID to UART / CH0001",
                             "pdiusbd12  0471:a112  bus 001 address 005  vantel-sim / HID Reader Interface / PD0001"})
        EXPECT_TRUE(r.has(line)) << line << "\n" << r.out;
    EXPECT_FALSE(r.has("udev"));
}

// A user who may not open the device is told so, with the rule to install.
TEST_F(UsbTool, ListSaysWhenPermissionIsLacking) {
    vrtest::EmulatedUsb *dev = plug(vrsim::UsbKind::hid_reader);
    ASSERT_TRUE(dev);
    const std::string node = bed->root() + dev->node();
    ASSERT_EQ(chmod(node.c_str(), 0000), 0);
    const Outcome r = run_tool({"usb", "list"}, true);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.has("usbhid     0108:0100  bus 001 address 002  (no permission to open it)")) << r.out << r.err;
    EXPECT_TRUE(r.has("sudo cp 60-vantel-rfid.rules /etc/udev/rules.d/")) << r.out;
    EXPECT_TRUE(r.has("ATTR{idVendor}==\"0108\", ATTR{idProduct}==\"0100\"")) << r.out;
}

TEST_F(UsbTool, OptionErrors) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *says;
    };
    const Case cases[] = {
        {{"--usb", "uart", "reader", "info"}, 2, "--usb takes usbhid, ch340g, ch9326 or pdiusbd12"},
        {{"--usb", "usbhid", "--usb-fd", "3x", "reader", "info"}, 2, "--usb-fd takes a descriptor number"},
        {{"--usb", "usbhid", "--usb-fd", "-1", "reader", "info"}, 2, "--usb-fd takes a descriptor number"},
        {{"--usb-fd", "3", "reader", "info"}, 2, "--usb-fd needs --usb TYPE"},
        {{"--usb", "usbhid", "--sim", "reader", "info"}, 2, "--usb goes without --device and --sim"},
        // Nothing attached, and a descriptor that is no USB device.
        {{"--usb", "ch9326", "reader", "info"}, 1, "no ch9326 device could be opened"},
        {{"--usb", "usbhid", "--usb-fd", "0", "reader", "info"}, 1, "error -10: fail to open the port"},
        {{"usb", "show"}, 2, "usb takes one subcommand: list"},
    };
    for (const Case &c : cases) {
        const Outcome r = run_tool(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args[1] << "\n" << r.out << r.err;
        EXPECT_TRUE(r.has(c.says)) << c.says << "\n" << r.out << r.err;
    }
}

// The rule installs access for exactly the devices the library drives.
TEST(UsbUdevRule, CoversEveryAttachment) {
    const std::string rule = slurp(std::string(VR_SOURCE_DIR) + "/contrib/udev/60-vantel-rfid.rules");
    int lines = 0;
    for (int k = 0; k < 4; ++k) {
        const vrsim::UsbIdentity &id = vrsim::usb_identity(static_cast<vrsim::UsbKind>(k));
        char ids[96];
        std::snprintf(ids, sizeof ids, "ATTR{idVendor}==\"%04x\", ATTR{idProduct}==\"%04x\"", id.vendor_id,
                      id.product_id);
        EXPECT_NE(rule.find(ids), std::string::npos) << ids;
        ++lines;
    }
    std::istringstream in(rule);
    std::string line;
    int rules = 0;
    while (std::getline(in, line))
        if (line.rfind("SUBSYSTEM", 0) == 0) ++rules;
    EXPECT_EQ(rules, lines);
}

}  // namespace
