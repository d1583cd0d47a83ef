// `reader ...` and `raw HEX`: the reader's own commands.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli.h"
#include "command.h"
#include "pcd.h"
#include "virt_com.h"

namespace cli {
namespace {

// ----------------------------------------------------------------- reader

struct ReaderArgs : CommandArgs {
    int first = 1, second = 1;  // beep ON OFF, led A B
    bool antenna_on = false;
};

void print_bytes(const char *label, const unsigned char *b, std::size_t n) {
    std::printf("%-18s %s\n", label, to_hex(b, n).c_str());
}

// The firmware version is text padded with zeros or spaces.
std::string as_text(const unsigned char *b, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n && b[i]; ++i) s.push_back(b[i] >= 0x20 && b[i] < 0x7F ? static_cast<char>(b[i]) : '.');
    return s;
}

int reader_info(ReaderArgs &) {
    unsigned char buf[16] = {};
    if (pcd_get_firmware_version(buf) != 0) return report_error("firmware version", errno);
    std::printf("%-18s %s\n", "firmware version:", as_text(buf, 16).c_str());
    unsigned char *model = pcd_hard_model();
    if (!model) return report_error("model", errno);
    std::printf("%-18s %s\n", "model:", model);
    std::free(model);
    unsigned char mid = 0;
    if (pcd_get_mid(&mid) != 0) return report_error("machine id", errno);
    std::printf("%-18s %u\n", "machine id:", mid);
    unsigned char sn[8] = {};
    if (pcd_get_msn(sn) != 0) return report_error("serial number", errno);
    print_bytes("serial number:", sn, 8);
    if (pcd_get_otp_sn(sn) != 0) return report_error("OTP serial", errno);
    print_bytes("OTP serial:", sn, 8);
    int battery = pcd_get_power(nullptr);
    if (battery < 0) return report_error("battery", errno);
    std::printf("%-18s %d%%\n", "battery:", battery);
    return 0;
}

int reader_beep(ReaderArgs &a) {
    if (pcd_set_buzzer(a.first, a.second) != 0) return report_error("beep", errno);
    std::printf("beep\n");
    return 0;
}

int reader_led(ReaderArgs &a) {
    if (pcd_set_led(a.first, a.second) != 0) return report_error("led", errno);
    std::printf("led set\n");
    return 0;
}

int reader_antenna(ReaderArgs &a) {
    if ((a.antenna_on ? pcd_antenna_open() : pcd_antenna_close()) != 0) return report_error("antenna", errno);
    std::printf("antenna %s\n", a.antenna_on ? "on" : "off");
    return 0;
}

// A byte operand (decimal or 0x hexadecimal).
bool byte_operand(const std::string &text, int &out) {
    const auto v = parse_number(text, 0, 255);
    if (v) out = static_cast<int>(*v);
    return v.has_value();
}

// No operands, or two bytes.
std::string two_bytes(ReaderArgs &a, const char *names) {
    const auto &w = a.operands;
    if (w.size() == 1) return {};
    if (w.size() != 3 || !byte_operand(w[1], a.first) || !byte_operand(w[2], a.second))
        return std::string(w[0]) + " takes no operands or two bytes " + names + " (0..255)";
    return {};
}

std::string check_beep(ReaderArgs &a) { return two_bytes(a, "ON OFF"); }
std::string check_led(ReaderArgs &a) { return two_bytes(a, "A B"); }

std::string check_antenna(ReaderArgs &a) {
    if (a.operands.size() != 2 || (a.operands[1] != "on" && a.operands[1] != "off")) return "antenna on|off";
    a.antenna_on = a.operands[1] == "on";
    return {};
}

struct ReaderSubcommand {
    const char *name;
    const char *operands;
    const char *summary;
    std::string (*check)(ReaderArgs &);
    int (*run)(ReaderArgs &);
};

constexpr ReaderSubcommand kReaderSubcommands[] = {
    {"info", "", "firmware version, model, machine id, serial numbers, battery", takes_no_operands, reader_info},
    {"beep", "[ON OFF]", "sound the buzzer (ON and OFF times, default 1 1)", check_beep, reader_beep},
    {"led", "[A B]", "set the LEDs (default 1 1)", check_led, reader_led},
    {"antenna", "on|off", "switch the antenna's field on or off", check_antenna, reader_antenna},
};

const ReaderSubcommand *find(const ReaderArgs &a) { return find_subcommand(kReaderSubcommands, a.operands); }

std::string check_reader(ReaderArgs &a) {
    const ReaderSubcommand *sub = find(a);
    if (!sub) return no_subcommand(a.operands);
    return sub->check(a);
}

int run_reader(const Options &, ReaderArgs &a) { return find(a)->run(a); }

void list_reader_subcommands(std::FILE *out) {
    std::fprintf(out, "subcommands:\n");
    for (const ReaderSubcommand &s : kReaderSubcommands)
        std::fprintf(out, "  %-22s %s\n", (std::string(s.name) + " " + s.operands).c_str(), s.summary);
}

constexpr Command<ReaderArgs> kReader = {
    "reader",
    "the reader's own commands: identity, buzzer, LEDs, antenna",
    "info | beep [ON OFF] | led [A B] | antenna on|off",
    "Asks the reader for its identity, or drives its buzzer, LEDs and antenna.\n",
    list_reader_subcommands,
    {},
    check_reader,
    run_reader,
};

// -------------------------------------------------------------------- raw

struct RawArgs : CommandArgs {
    virt_com_req request{};
};

std::string check_raw(RawArgs &a) {
    if (a.operands.empty()) return "raw HEX";
    std::string text;
    for (const std::string &w : a.operands) text += w;
    const auto bytes = parse_hex(text);
    if (!bytes || bytes->size() < 2) return "HEX is a command code (low byte first) and its data, in hex digits";
    if (bytes->size() - 2 > VIRT_COM_REQ_MAX)
        return "at most " + std::to_string(VIRT_COM_REQ_MAX) + " data bytes follow the command code";
    a.request.cmd = static_cast<uint16_t>((*bytes)[0] | (*bytes)[1] << 8);
    a.request.len = static_cast<int32_t>(bytes->size() - 2);
    std::memcpy(a.request.data, bytes->data() + 2, bytes->size() - 2);
    return {};
}

int run_raw(const Options &, RawArgs &a) {
    virt_com_rsp reply{};
    const int rc = virt_com_command(&a.request, &reply, 0);
    if (rc != 0) return report_error("raw", rc < -1 ? rc : errno);
    std::printf("%s\n", reply.len ? to_hex(reply.data, static_cast<std::size_t>(reply.len)).c_str() : "(no data)");
    return 0;
}

constexpr Command<RawArgs> kRaw = {
    "raw",
    "send one reader command, print the reply's data",
    "HEX",
    "Sends one reader command and prints the data of its reply. HEX is the command code, low byte\n"
    "first, then its data: `raw 0301` asks for the firmware version (command 0x0103).\n",
    nullptr,
    {},
    check_raw,
    run_raw,
};

}  // namespace

constinit const CommandEntry kReaderCommand = entry_for<kReader>();
constinit const CommandEntry kRawCommand = entry_for<kRaw>();

}  // namespace cli
