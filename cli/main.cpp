// vantel-rfid: command-line tool over the library's public C API.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli.h"
#include "cmd_tlv_ir.h"

namespace {

struct Command {
    const char *name;
    int (*run)(const cli::Options &, int, char **);
    bool needs_reader;
    const char *help;
};

constexpr Command kCommands[] = {
    {"reader", cli::cmd_reader, true, "reader info | beep [ON OFF] | led [A B] | antenna on|off"},
    {"raw", cli::cmd_raw, true, "raw HEX             send one reader command, print the reply"},
    {"card", cli::cmd_card, true, "card                detect the type A card in the field: type, UID, ATQA, SAK"},
    {"mifare", cli::cmd_mifare, false,
     "mifare read|write|dump|restore|value|keys|access|convert ...   (mifare help)"},
    {"tlv", [](const cli::Options &, int argc, char **argv) { return cli_cmd_tlv(argc, argv); }, false,
     "tlv HEX             print BER-TLV data as an element tree"},
    {"ir", [](const cli::Options &, int argc, char **argv) { return cli_cmd_ir(argc, argv); }, false,
     "ir convert FILE [OUT] | ir decompress FILE|HEX"},
    {"usb", cli::cmd_usb, false, "usb list            attached USB readers and reader attachments"},
};

// A descriptor number: decimal digits only.
bool descriptor(const char *text, int *fd) {
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || errno || v < 0 || v > INT_MAX || !std::isdigit(static_cast<unsigned char>(*text)))
        return false;
    *fd = static_cast<int>(v);
    return true;
}

void usage() {
    std::fprintf(stderr,
                 "usage: vantel-rfid [--device PATH | --sim [--sim-arg ARG]... [--sim-control LINE]...\n"
                 "                    | --usb usbhid|ch340g|ch9326|pdiusbd12 [--usb-fd N]]\n"
                 "                   [--family 1|2] COMMAND ...\n");
    for (const Command &c : kCommands) std::fprintf(stderr, "  %s\n", c.help);
}

}  // namespace

int main(int argc, char **argv) {
    cli::Options opt;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string a = argv[i];
        if (a == "--device" && i + 1 < argc) {
            opt.device = argv[++i];
        } else if (a == "--sim") {
            opt.sim = true;
        } else if (a == "--sim-arg" && i + 1 < argc) {
            opt.sim_args.push_back(argv[++i]);
        } else if (a == "--sim-control" && i + 1 < argc) {
            opt.sim_control.push_back(argv[++i]);
        } else if (a == "--usb" && i + 1 < argc && cli::usb_type_known(argv[i + 1])) {
            opt.usb = argv[++i];
        } else if (a == "--usb-fd" && i + 1 < argc && descriptor(argv[i + 1], &opt.usb_fd)) {
            ++i;
        } else if (a == "--family" && i + 1 < argc) {
            opt.family = std::atoi(argv[++i]);
        } else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else {
            usage();
            return 2;
        }
    }
    if (i >= argc) {
        usage();
        return 2;
    }
    for (const Command &c : kCommands) {
        if (std::strcmp(c.name, argv[i]) != 0) continue;
        if (c.needs_reader && !cli::open_reader(opt)) {
            cli::close_reader();
            return 1;
        }
        int rc = c.run(opt, argc - i, argv + i);
        cli::close_reader();
        return rc;
    }
    usage();
    return 2;
}
