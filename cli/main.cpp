// vantel-rfid: command-line tool over the library's public C API. The
// global options come first (getopt_long, stopping at the command), then
// the command, which parses its own (command.h).
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli.h"
#include "command.h"
#include "log.h"
#include "uart.h"

#ifndef VR_VERSION
#define VR_VERSION "unknown"
#endif

namespace cli {
namespace {

// The commands, in the order the help lists them.
const CommandEntry *const kCommands[] = {
    &kReaderCommand, &kRawCommand, &kCardCommand, &kMifareCommand, &kUltralightCommand, &kApduCommand, &kIdcardCommand,
    &kBankCommand, &kTlvCommand, &kIrCommand, &kPortsCommand, &kUsbCommand, &kModemCommand,
    &kSensorCommand,
};

const CommandEntry *find_command(const std::string &name) {
    for (const CommandEntry *c : kCommands)
        if (name == c->name) return c;
    return nullptr;
}

// ------------------------------------------------------- global options

struct Global {
    Options options;
    int log_level = -1;  // -1: the library's own (VANTEL_RFID_LOG_LEVEL, else errors)
    bool help = false;
    bool version = false;
};

std::string set_device(Global &g, const char *v) {
    g.options.device = v;
    return *v ? std::string() : "--device takes a path";
}
std::string set_sim(Global &g, const char *) {
    g.options.sim = true;
    return {};
}
std::string add_sim_arg(Global &g, const char *v) {
    g.options.sim_args.emplace_back(v);
    return {};
}
std::string add_sim_control(Global &g, const char *v) {
    g.options.sim_control.emplace_back(v);
    return {};
}
std::string set_usb(Global &g, const char *v) {
    if (!usb_type_known(v)) return "--usb takes usbhid, ch340g, ch9326 or pdiusbd12";
    g.options.usb = v;
    return {};
}
std::string set_usb_fd(Global &g, const char *v) {
    const auto n = parse_number(v, 0, INT_MAX);
    if (!n || !std::isdigit(static_cast<unsigned char>(*v))) return "--usb-fd takes a descriptor number";
    g.options.usb_fd = static_cast<int>(*n);
    return {};
}
std::string set_sound(Global &g, const char *) {
    g.options.sound = true;
    return {};
}
std::string set_family(Global &g, const char *v) {
    const auto n = parse_number(v, 1, 2);
    if (!n) return "--family takes 1 or 2";
    g.options.family = static_cast<int>(*n);
    return {};
}
std::string set_baud(Global &g, const char *v) {
    const auto n = parse_number(v, 1, 4000000);
    if (!n || baud_bitmask(static_cast<unsigned>(*n)) < 0)
        return "--baud takes a line speed the serial driver knows (e.g. 9600, 19200, 38400, 57600, 115200)";
    g.options.baud = static_cast<int>(*n);
    return {};
}
std::string set_timeout(Global &g, const char *v) {
    const auto n = parse_number(v, 1, 60000);
    if (!n) return "--timeout takes milliseconds, 1..60000";
    g.options.timeout_ms = static_cast<int>(*n);
    return {};
}
// The file is made here, so that an unusable path is a usage error before
// the reader is touched; the library writes it from the first frame on.
std::string set_trace(Global &g, const char *v) {
    const int fd = ::open(v, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return std::string("--trace ") + v + ": " + std::strerror(errno);
    ::close(fd);
    g.options.trace = v;
    return {};
}
std::string more_verbose(Global &g, const char *) {
    g.log_level = g.log_level < LOG_LEVEL_I ? LOG_LEVEL_I : LOG_LEVEL_D;
    return {};
}
std::string quiet(Global &g, const char *) {
    g.log_level = 0;
    return {};
}
std::string help(Global &g, const char *) {
    g.help = true;
    return {};
}
std::string version(Global &g, const char *) {
    g.version = true;
    return {};
}

struct GlobalOption {
    const char *name;
    char letter;        // short form, or 0
    const char *value;  // null for a flag
    const char *help;
    std::string (*apply)(Global &, const char *);
};

constexpr GlobalOption kGlobalOptions[] = {
    {"device", 'd', "PATH", "the reader's serial device (vantel-rfid ports lists them)", set_device},
    {"sim", 0, nullptr, "start the simulated reader (vantel-rfid-sim) and talk to it", set_sim},
    {"sim-arg", 0, "ARG", "an option for the simulator (repeatable): --sim-arg=--card --sim-arg=mifare_s50",
     add_sim_arg},
    {"sim-control", 0, "LINE", "a line for the simulator's control channel before the command (repeatable)",
     add_sim_control},
    {"sound", 0, nullptr, "the reader at the headset jack (the audio link); with --sim: a simulated one", set_sound},
    {"audio", 0, nullptr, "the same as --sound", set_sound},
    {"usb", 0, "TYPE", "a reader on USB: usbhid, ch340g, ch9326 or pdiusbd12 (vantel-rfid usb list shows them)",
     set_usb},
    {"usb-fd", 0, "N", "with --usb: the descriptor of the USB device, opened for the tool", set_usb_fd},
    {"family", 0, "1|2",
     "the reader's firmware family (default 1); 2 on a serial line registers the first family first, "
     "whose serial driver the second family reaches its reader through",
     set_family},
    {"baud", 'b', "N", "the serial line's speed (default 115200)", set_baud},
    {"timeout", 't', "MS", "the reader's reply time-out in milliseconds (default: the link's own)", set_timeout},
    {"trace", 0, "FILE", "record every frame of the link in FILE (pcapng; contrib/wireshark decodes it)",
     set_trace},
    {"verbose", 'v', nullptr, "the library's information lines on standard error; twice: also debug lines",
     more_verbose},
    {"quiet", 'q', nullptr, "not even the library's error lines", quiet},
    {"help", 'h', nullptr, "print this help and exit", help},
    {"version", 'V', nullptr, "print the version and exit", version},
};

constexpr int kLongOnly = 256;

// 0 to go on, else the exit status.
int parse_global(int argc, char **argv, Global &g, int &command_at) {
    std::vector<option> longs;
    std::string letters = "+:";
    for (const GlobalOption &o : kGlobalOptions) {
        const int code = o.letter ? o.letter : kLongOnly + static_cast<int>(&o - kGlobalOptions);
        longs.push_back({o.name, o.value ? required_argument : no_argument, nullptr, code});
        if (o.letter) letters += std::string(1, o.letter) + (o.value ? ":" : "");
    }
    longs.push_back({nullptr, 0, nullptr, 0});
    opterr = 0;
    for (;;) {
        const int c = getopt_long(argc, argv, letters.c_str(), longs.data(), nullptr);
        if (c == -1) break;
        std::string why;
        if (c == ':') {
            why = std::string(argv[optind - 1]) + " needs a value";
        } else if (c == '?') {
            why = optopt ? std::string("unknown option -") + static_cast<char>(optopt)
                         : std::string("unknown option ") + argv[optind - 1];
        } else {
            for (const GlobalOption &o : kGlobalOptions)
                if (c == (o.letter ? o.letter : kLongOnly + static_cast<int>(&o - kGlobalOptions)))
                    why = o.apply(g, optarg);
        }
        if (!why.empty()) {
            std::fprintf(stderr, "vantel-rfid: %s (vantel-rfid --help lists the options)\n", why.c_str());
            return 2;
        }
    }
    const char *conflict = nullptr;
    if (!g.options.device.empty() && g.options.sim)
        conflict = "give --device or --sim, not both";
    else if (!g.options.usb.empty() && (g.options.sim || !g.options.device.empty()))
        conflict = "--usb goes without --device and --sim";
    else if (g.options.sound && (!g.options.usb.empty() || !g.options.device.empty()))
        conflict = "--sound goes without --device and --usb";
    else if (g.options.usb_fd >= 0 && g.options.usb.empty())
        conflict = "--usb-fd needs --usb TYPE";
    if (conflict) {
        std::fprintf(stderr, "vantel-rfid: %s\n", conflict);
        return 2;
    }
    command_at = optind;
    return 0;
}

// ------------------------------------------------------------------ help

void print_usage(std::FILE *out) {
    std::fprintf(out, "usage: vantel-rfid [OPTIONS] COMMAND [ARGUMENTS]\n");
}

void print_main_help(std::FILE *out) {
    print_usage(out);
    std::fprintf(out,
                 "Drives a 13.56 MHz contactless card reader (or the simulated one) over a serial line, USB or the headset jack:\n"
                 "the reader's own commands, MIFARE Classic and Ultralight, CPU, CID and identity cards, and\n"
                 "offline helpers.\n"
                 "\noptions:\n");
    for (const GlobalOption &o : kGlobalOptions) {
        std::string head = o.letter ? std::string("-") + o.letter + ", " : "    ";
        head += std::string("--") + o.name + (o.value ? std::string(" ") + o.value : "");
        std::fprintf(out, "  %-24s %s\n", head.c_str(), o.help);
    }
    std::fprintf(out, "\ncommands:\n");
    for (const CommandEntry *c : kCommands) std::fprintf(out, "  %-10s %s\n", c->name, c->summary);
    std::fprintf(out,
                 "\n`vantel-rfid help COMMAND` (or COMMAND --help) describes a command.\n"
                 "\nexit status:\n"
                 "  0  done\n"
                 "  1  the reader, the card or a file failed\n"
                 "  2  usage error: the command line cannot be carried out as given (checked before\n"
                 "     the reader is touched)\n"
                 "\nenvironment:\n"
                 "  VANTEL_RFID_LOG_LEVEL  the library's log level, 0 (none) to 3 (debug, hex dumps); default 1\n"
                 "  VANTEL_RFID_LOG        where its lines go: stderr (default) or syslog\n"
                 "  VANTEL_RFID_TRACE      a pcapng file recording every frame (as --trace)\n");
}

int help_command(int argc, char **argv) {
    if (argc == 1) {
        print_main_help(stdout);
        return 0;
    }
    const CommandEntry *c = argc == 2 ? find_command(argv[1]) : nullptr;
    if (!c) {
        std::fprintf(stderr, "vantel-rfid help: %s\n",
                     argc == 2 ? ("unknown command " + std::string(argv[1])).c_str() : "help [COMMAND]");
        return 2;
    }
    c->help(stdout);
    return 0;
}

// The settings the library reads at its first use.
void prepare_library(const Global &g) {
    if (g.log_level >= 0) log_set_level(g.log_level);
    if (!g.options.trace.empty()) setenv("VANTEL_RFID_TRACE", g.options.trace.c_str(), 1);
}

}  // namespace
}  // namespace cli

int main(int argc, char **argv) {
    using namespace cli;
    Global g;
    int command_at = 0;
    if (const int status = parse_global(argc, argv, g, command_at)) return status;
    if (g.version) {
        std::printf("vantel-rfid %s\n", VR_VERSION);
        return 0;
    }
    if (g.help) {
        print_main_help(stdout);
        return 0;
    }
    if (command_at >= argc) {
        print_usage(stderr);
        std::fprintf(stderr, "vantel-rfid: a command is missing (vantel-rfid --help lists them)\n");
        return 2;
    }
    const std::string name = argv[command_at];
    if (name == "help") return help_command(argc - command_at, argv + command_at);
    const CommandEntry *command = find_command(name);
    if (!command) {
        std::fprintf(stderr, "vantel-rfid: unknown command %s (vantel-rfid --help lists the commands)\n",
                     name.c_str());
        return 2;
    }
    prepare_library(g);
    return command->main(g.options, argc - command_at, argv + command_at);
}
