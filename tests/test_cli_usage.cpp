// The tool's command line: help and version without a reader, arguments
// refused before the reader is touched, exit codes, open errors that name
// the device and the system's reason, the library's log level from -v, -q
// and the environment, --trace, and `ports` over a made-up /sys and /dev.
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tool_runner.h"

namespace {

namespace fs = std::filesystem;

// No such device: a command line that got as far as opening the reader
// fails with 1 and "cannot open"; one refused before ends with 2.
const std::string kNoDevice = "/nonexistent/tty";

using Outcome = vrtest::ProgramOutcome;
using vrtest::kTool;
using vrtest::ScratchDir;
using vrtest::slurp;

// Runs the tool with the arguments and extra environment ("NAME=value"),
// through `wrapper` (a program and its arguments that run the tool) when
// one is given.
Outcome run(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
            const std::vector<std::string> &wrapper = {}) {
    std::vector<std::string> command = wrapper;
    command.push_back(kTool);
    command.insert(command.end(), args.begin(), args.end());
    std::vector<std::string> environment;
    for (char **e = environ; *e; ++e)
        if (std::string(*e).rfind("VANTEL_RFID_", 0) != 0) environment.emplace_back(*e);
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char *> envp;
    for (auto &e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    return vrtest::run_program(std::move(command), envp.data(), ScratchDir());
}

std::string joined(const std::vector<std::string> &args) {
    std::string s;
    for (const auto &a : args) s += (s.empty() ? "" : " ") + a;
    return s;
}

struct Case {
    std::vector<std::string> args;
    int status;
    const char *out;  // a piece of standard output, or null
    const char *err;  // a piece of standard error, or null
};

void expect_cases(std::initializer_list<Case> cases) {
    for (const Case &c : cases) {
        const Outcome o = run(c.args);
        SCOPED_TRACE(joined(c.args));
        EXPECT_EQ(o.status, c.status) << o.err;
        if (c.out) {
            EXPECT_NE(o.out.find(c.out), std::string::npos) << o.out;
        }
        if (c.err) {
            EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
        }
        if (c.status == 2) {
            EXPECT_EQ(o.err.find("cannot open " + kNoDevice), std::string::npos) << "reached the reader: " << o.err;
        }
    }
}

TEST(CliUsage, HelpAndVersionNeedNoReader) {
    expect_cases({
        {{"--help"}, 0, "commands:\n  reader", nullptr},
        {{"-h"}, 0, "exit status:", nullptr},
        {{"--version"}, 0, "vantel-rfid 1.", nullptr},
        {{"help"}, 0, "VANTEL_RFID_LOG_LEVEL", nullptr},
        {{"help", "reader"}, 0, "antenna on|off", nullptr},
        {{"--device", kNoDevice, "reader", "--help"}, 0, "subcommands:", nullptr},
        {{"help", "mifare"}, 0, "--keys FILE", nullptr},
        {{"mifare", "--help"}, 0, "store-key [SLOT]", nullptr},
        {{"help", "ultralight"}, 0, "restore FILE", nullptr},
        {{"apdu", "--help"}, 0, "--batch", nullptr},
        {{"help", "idcard"}, 0, "--fingerprint FILE", nullptr},
        {{"bank", "--help"}, 0, "finish ISSUER-ANSWER-HEX", nullptr},
        {{"help", "bogus"}, 2, nullptr, "unknown command bogus"},
    });
}

// Every one of these is refused before the (missing) reader is opened.
TEST(CliUsage, ArgumentsAreCheckedBeforeTheReader) {
    const std::string d = kNoDevice;
    expect_cases({
        {{}, 2, nullptr, "a command is missing"},
        {{"bogus"}, 2, nullptr, "unknown command bogus"},
        {{"--bogus", "reader", "info"}, 2, nullptr, "unknown option --bogus"},
        {{"--device"}, 2, nullptr, "--device needs a value"},
        {{"--family", "3", "reader", "info"}, 2, nullptr, "--family takes 1 or 2"},
        {{"--baud", "12345", "reader", "info"}, 2, nullptr, "--baud takes a line speed"},
        {{"--timeout=0", "reader", "info"}, 2, nullptr, "--timeout takes milliseconds"},
        {{"--device", d, "--sim", "reader", "info"}, 2, nullptr, "not both"},
        {{"--trace", "/nonexistent/dir/t.pcapng", "-d", d, "reader", "info"}, 2, nullptr, "--trace"},
        {{"-d", d, "reader"}, 2, nullptr, "a subcommand is missing"},
        {{"-d", d, "reader", "frob"}, 2, nullptr, "unknown subcommand frob"},
        {{"-d", d, "reader", "antenna", "maybe"}, 2, nullptr, "antenna on|off"},
        {{"-d", d, "reader", "beep", "x", "y"}, 2, nullptr, "two bytes"},
        {{"-d", d, "reader", "beep", "1"}, 2, nullptr, "two bytes"},
        {{"-d", d, "reader", "led", "256", "0"}, 2, nullptr, "two bytes"},
        {{"-d", d, "reader", "info", "now"}, 2, nullptr, "takes no operands"},
        {{"-d", d, "raw"}, 2, nullptr, "raw HEX"},
        {{"-d", d, "raw", "0G01"}, 2, nullptr, "hex digits"},
        {{"-d", d, "raw", "01"}, 2, nullptr, "hex digits"},
        {{"-d", d, "card", "now"}, 2, nullptr, "takes no operands"},
        {{"-d", d, "mifare"}, 2, nullptr, "a subcommand is missing"},
        {{"-d", d, "mifare", "read", "4", "--key=FFFF"}, 2, nullptr, "a key is 12 hex digits"},
        {{"-d", d, "mifare", "read", "256"}, 2, nullptr, "block must be 0..255"},
        {{"-d", d, "mifare", "--1k", "read", "64"}, 2, nullptr, "block must be 0..63"},
        {{"-d", d, "mifare", "value", "5", "set"}, 2, nullptr, "value BLOCK"},
        {{"-d", d, "mifare", "keys", "1"}, 2, nullptr, "--new-key-a"},
        {{"-d", d, "mifare", "restore", "/nonexistent/card.json"}, 2, nullptr, "cannot open"},
        {{"-d", d, "mifare", "read", "4", "--keys", "/nonexistent/keys.dic"}, 2, nullptr, "keys.dic: cannot open"},
        {{"-d", d, "ultralight"}, 2, nullptr, "a subcommand is missing"},
        {{"-d", d, "ultralight", "read", "44"}, 2, nullptr, "page outside the card"},
        {{"-d", d, "ultralight", "--plain", "read", "15", "2"}, 2, nullptr, "pages 0..15"},
        {{"-d", d, "ultralight", "write", "1", "00000000"}, 2, nullptr, "pages 0 and 1 hold the UID"},
        {{"-d", d, "ultralight", "write", "5", "CAFE"}, 2, nullptr, "a page is 4 bytes"},
        {{"-d", d, "ultralight", "read", "4", "--key", "0011"}, 2, nullptr, "--key takes 16 bytes"},
        {{"-d", d, "ultralight", "--plain", "read", "4", "--key", std::string(32, 'A')}, 2, nullptr, "has no key"},
        {{"-d", d, "ultralight", "dump", "/tmp/ul.txt"}, 2, nullptr, "unknown Ultralight dump format"},
        {{"-d", d, "ultralight", "dump", "/nonexistent/dir/ul.bin"}, 2, nullptr, "no such directory"},
        {{"-d", d, "ultralight", "restore", "/nonexistent/ul.json"}, 2, nullptr, "cannot open"},
        {{"-d", d, "apdu"}, 2, nullptr, "no APDU given"},
        {{"-d", d, "apdu", "00ZZ"}, 2, nullptr, "not hexadecimal: 00ZZ"},
        {{"-d", d, "idcard"}, 2, nullptr, "a subcommand is missing"},
        {{"-d", d, "idcard", "write"}, 2, nullptr, "unknown subcommand write"},
        {{"-d", d, "idcard", "read", "--photo", "/nonexistent/dir/p.bin"}, 2, nullptr, "no such directory"},
        {{"-d", d, "bank"}, 2, nullptr, "a subcommand is missing"},
        {{"-d", d, "bank", "info", "--verbose", "now"}, 2, nullptr, "info takes no operands"},
        {{"-d", d, "bank", "info", "-v"}, 2, nullptr, "unknown option -v"},
        {{"-d", d, "bank", "purchase", "12,34"}, 2, nullptr, "a sum such as 12.34"},
        {{"-d", d, "bank", "purchase", "-5"}, 2, nullptr, "a sum such as 12.34"},
        {{"-d", d, "bank", "finish"}, 2, nullptr, "the issuer's answer in hexadecimal"},
        {{"-d", d, "bank", "finish", "8A0230ZZ"}, 2, nullptr, "the issuer's answer in hexadecimal"},
        {{"tlv"}, 2, nullptr, "tlv HEX"},
        {{"ir", "expand", "x"}, 2, nullptr, "ir convert FILE"},
        {{"ports", "now"}, 2, nullptr, "takes no operands"},
    });
}

// Sound command lines get as far as the device: its path and the system's
// reason are named.
TEST(CliUsage, OpenFailuresNameTheDeviceAndTheReason) {
    const ScratchDir scratch;
    std::ofstream(scratch / "plain-file") << "not a tty";
    expect_cases({
        {{"-d", kNoDevice, "reader", "info"}, 1, nullptr,
         "cannot open /nonexistent/tty: No such file or directory (vantel-rfid ports lists the serial ports)"},
        {{"-d", kNoDevice, "mifare", "read", "-4"}, 2, nullptr, "block must be"},
        {{"--device=" + scratch / "plain-file", "card"}, 1, nullptr, "not a serial device"},
        {{"reader", "info"}, 1, nullptr, "no reader: give --device PATH"},
    });
}

// A device this user may not open: the tool names the group that gives
// access. Root may open anything, so as root the tool runs as nobody.
TEST(CliUsage, PermissionErrorSaysWhichGroupGivesAccess) {
    const ScratchDir scratch;
    const fs::path device = scratch / "ttyLOCKED";
    std::ofstream(device) << "";
    ASSERT_EQ(::chmod(device.c_str(), 0), 0);
    ::chmod((scratch / "").c_str(), 0755);  // nobody must reach the file to be refused it
    const std::vector<std::string> as_nobody{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    const Outcome o =
        run({"-d", device.string(), "reader", "info"}, {}, geteuid() == 0 ? as_nobody : std::vector<std::string>{});
    EXPECT_EQ(o.status, 1);
    struct stat st {};
    ASSERT_EQ(::stat(device.c_str(), &st), 0);
    const group *g = ::getgrgid(st.st_gid);
    ASSERT_NE(g, nullptr);
    const std::string group = g->gr_name;
    const std::string advice = "cannot open " + device.string() + ": Permission denied; the device belongs to group " +
                               group + ": join it (sudo usermod -aG " + group + " $USER) and log in again";
    EXPECT_NE(o.err.find(advice), std::string::npos) << o.err;
}

// The library writes errors only unless asked: -v adds its information
// lines, -vv the debug lines and hex dumps, -q silences even errors, and
// VANTEL_RFID_LOG_LEVEL sets the level that -v and -q override.
TEST(CliUsage, LibraryLogLevelAtRunTime) {
    const std::vector<std::string> beep{"--sim", "reader", "beep"};
    const auto with = [&](std::vector<std::string> extra, std::vector<std::string> env = {}) {
        extra.insert(extra.end(), beep.begin(), beep.end());
        const Outcome o = run(extra, env);
        EXPECT_EQ(o.status, 0) << o.err;
        return o.err;
    };
    EXPECT_EQ(with({}).find("JNI_LIBLOG"), std::string::npos) << "quiet by default";
    EXPECT_NE(with({"-v"}).find("JNI_LIBLOG: <I> "), std::string::npos);
    const std::string debug = with({"-vv"});
    EXPECT_NE(debug.find("JNI_LIBLOG: <D> "), std::string::npos) << debug;
    EXPECT_NE(with({}, {"VANTEL_RFID_LOG_LEVEL=2"}).find("<I> "), std::string::npos);
    EXPECT_EQ(with({"-q"}, {"VANTEL_RFID_LOG_LEVEL=3"}).find("JNI_LIBLOG"), std::string::npos);
    EXPECT_EQ(with({"-v"}, {"VANTEL_RFID_LOG=syslog"}).find("JNI_LIBLOG"), std::string::npos) << "lines go to syslog";

    // An error line is written by default, and not with -q: a reply that
    // never comes.
    const std::vector<std::string> silent_reader{"--sim", "--sim-arg=--fault", "--sim-arg=drop x9", "--timeout", "20",
                                                 "reader", "beep"};
    const Outcome failed = run(silent_reader);
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("JNI_LIBLOG: <E> "), std::string::npos) << failed.err;
    std::vector<std::string> quiet{"-q"};
    quiet.insert(quiet.end(), silent_reader.begin(), silent_reader.end());
    EXPECT_EQ(run(quiet).err.find("JNI_LIBLOG"), std::string::npos);
}

// --trace records the command's frames; --baud and --timeout are taken.
TEST(CliUsage, TraceBaudAndTimeout) {
    const ScratchDir scratch;
    const std::string trace = scratch / "beep.pcapng";
    const Outcome o = run({"--sim", "--baud", "9600", "--timeout", "500", "--trace", trace, "reader", "beep"});
    EXPECT_EQ(o.status, 0) << o.err;
    const std::string bytes = slurp(trace);
    ASSERT_GT(bytes.size(), 100u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x0A\x0D\x0D\x0A", 4)) << "a pcapng section header";
    // The request 0x010D (body 0D 01 01 01) is in it.
    EXPECT_NE(bytes.find(std::string("\x0D\x01\x01\x01", 4)), std::string::npos);
}

// `ports` over a made-up system: a CH340 adapter with its stable name, a
// built-in port shown only with --all, a virtual terminal never.
TEST(CliUsage, PortsListsUsbSerialAdapters) {
    const ScratchDir scratch;
    const fs::path root = scratch / "";
    const fs::path usb = root / "sys/devices/pci0/usb1/1-1";
    const fs::path port = usb / "1-1:1.0/ttyUSB0";
    const fs::path builtin = root / "sys/devices/platform/serial8250/tty/ttyS0";
    for (const fs::path &dir : {port, builtin, root / "sys/bus/usb-serial/drivers/ch341-uart",
                                root / "sys/bus/platform/drivers/serial8250", root / "sys/class/tty/ttyUSB0",
                                root / "sys/class/tty/ttyS0", root / "sys/class/tty/tty0", root / "dev/serial/by-id"})
        fs::create_directories(dir);
    for (const auto &[file, text] : {std::pair{"idVendor", "1a86"}, std::pair{"idProduct", "7523"},
                                     std::pair{"manufacturer", "QinHeng"}, std::pair{"product", "USB Serial"}})
        std::ofstream(usb / file) << text << "\n";
    fs::create_directory_symlink(root / "sys/bus/usb-serial/drivers/ch341-uart", port / "driver");
    fs::create_directory_symlink(root / "sys/bus/platform/drivers/serial8250", builtin / "driver");
    fs::create_directory_symlink(port, root / "sys/class/tty/ttyUSB0/device");
    fs::create_directory_symlink(builtin, root / "sys/class/tty/ttyS0/device");
    std::ofstream(root / "dev/ttyUSB0") << "";
    std::ofstream(root / "dev/ttyS0") << "";
    fs::create_symlink("../../ttyUSB0", root / "dev/serial/by-id/usb-1a86_USB_Serial-if00-port0");

    const std::string r = (root / "").string();
    Outcome o = run({"ports", "--root", r});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("dev/ttyUSB0  1a86:7523  QinHeng USB Serial  (ch341-uart; CH340 adapter"), std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("\n    /dev/serial/by-id/usb-1a86_USB_Serial-if00-port0\n"), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find("ttyS0"), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find("tty0"), std::string::npos) << o.out;
    o = run({"ports", "--all", "--root=" + r});
    EXPECT_NE(o.out.find("dev/ttyS0  (serial8250)"), std::string::npos) << o.out;

    const ScratchDir empty;
    o = run({"ports", "--root", empty / ""});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("no serial ports found"), std::string::npos) << o.out;
}

}  // namespace
