#include "command.h"

#include <getopt.h>

#include <cctype>
#include <cstring>

namespace cli {
namespace {

constexpr int kFirstOption = 256;  // getopt_long codes of the table's options

// "-5" and "-0x10" are operands (negative numbers), not options; getopt
// would take them for short options. They are handed to getopt behind a
// mark that no option starts with, and taken out of it again.
constexpr char kNumberMark = '\x1F';

bool looks_negative(const std::string &arg) {
    return arg.size() > 1 && arg[0] == '-' && std::isdigit(static_cast<unsigned char>(arg[1]));
}

std::string unmarked(const char *arg) { return arg[0] == kNumberMark ? arg + 1 : arg; }

}  // namespace

Parsed parse_options(int argc, char **argv, const std::vector<OptionText> &options,
                     const std::function<std::string(std::size_t index, const char *value)> &apply,
                     std::vector<std::string> &operands, std::string &error) {
    std::vector<option> longs;
    for (std::size_t i = 0; i < options.size(); ++i)
        longs.push_back({options[i].name, options[i].value ? required_argument : no_argument, nullptr,
                         kFirstOption + static_cast<int>(i)});
    longs.push_back({"help", no_argument, nullptr, 'h'});
    longs.push_back({nullptr, 0, nullptr, 0});
    std::vector<std::string> marked(argv, argv + argc);
    for (std::size_t i = 1; i < marked.size() && marked[i] != "--"; ++i)
        if (looks_negative(marked[i])) marked[i].insert(marked[i].begin(), kNumberMark);
    std::vector<char *> args;
    for (std::string &a : marked) args.push_back(a.data());
    args.push_back(nullptr);
    argv = args.data();

    optind = 0;  // a fresh scan (glibc), whatever parsed before
    opterr = 0;
    for (;;) {
        const int c = getopt_long(argc, argv, ":h", longs.data(), nullptr);
        if (c == -1) break;
        if (c == 'h') return Parsed::help;
        if (c == ':') {
            error = std::string(argv[optind - 1]) + " needs a value";
            return Parsed::usage;
        }
        if (c == '?') {
            const char *arg = argv[optind - 1];
            // An unknown short option is reported by its letter; a long
            // one by its name.
            if (optopt && std::strncmp(arg, "--", 2) != 0) {
                error = std::string("unknown option -") + static_cast<char>(optopt);
            } else {
                error = std::string("unknown option ") + arg;
            }
            return Parsed::usage;
        }
        const std::string value = optarg ? unmarked(optarg) : std::string();
        const std::string why = apply(static_cast<std::size_t>(c - kFirstOption), optarg ? value.c_str() : nullptr);
        if (!why.empty()) {
            error = why;
            return Parsed::usage;
        }
    }
    for (int i = optind; i < argc; ++i) operands.push_back(unmarked(argv[i]));
    return Parsed::ok;
}

void print_command_help(std::FILE *out, const char *name, const char *synopsis, const char *description,
                        void (*more_help)(std::FILE *), const std::vector<OptionText> &options) {
    std::string line = std::string("usage: vantel-rfid [GLOBAL OPTIONS] ") + name;
    if (!options.empty()) line += " [OPTIONS]";
    if (*synopsis) line += std::string(" ") + synopsis;
    std::fprintf(out, "%s\n", line.c_str());
    std::fprintf(out, "%s", description);
    if (more_help) more_help(out);
    if (options.empty()) return;
    std::fprintf(out, "options:\n");
    for (const OptionText &o : options) {
        const std::string head = std::string("--") + o.name + (o.value ? std::string(" ") + o.value : "");
        std::fprintf(out, "  %-24s %s\n", head.c_str(), o.help);
    }
}

std::string no_subcommand(const std::vector<std::string> &operands) {
    return operands.empty() ? "a subcommand is missing" : "unknown subcommand " + operands[0];
}

int command_usage_error(const char *name, const std::string &why) {
    std::fprintf(stderr, "vantel-rfid %s: %s (see: vantel-rfid help %s)\n", name, why.c_str(), name);
    return 2;
}

}  // namespace cli
