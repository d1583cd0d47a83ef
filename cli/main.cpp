// vantel-rfid: command-line tool over the library's public C API.
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
    {"modem", cli::cmd_modem, true,
     "modem scan|choose|chantest [fast|normal|full]|echo N [COUNT]   the audio link's carrier (--sound)"},
};

void usage() {
    std::fprintf(stderr,
                 "usage: vantel-rfid [--device PATH | --sound | --sim [--audio] [--sim-arg ARG]...\n"
                 "                   [--sim-control LINE]...] [--family 1|2] COMMAND ...\n");
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
        } else if (a == "--sound" || a == "--audio") {
            opt.sound = true;
        } else if (a == "--sim-arg" && i + 1 < argc) {
            opt.sim_args.push_back(argv[++i]);
        } else if (a == "--sim-control" && i + 1 < argc) {
            opt.sim_control.push_back(argv[++i]);
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
