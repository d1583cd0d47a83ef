// Shared pieces of the command-line tool. The tool uses the library's
// public C API only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// Global options, parsed before the subcommand.
struct Options {
    std::string device;  // serial device path (--device)
    bool sim = false;    // start the simulator and talk to it (--sim)
    int family = 1;      // reader family (--family 1|2)
    std::vector<std::string> sim_args;  // extra simulator arguments (--sim-arg)
};

// Parses hexadecimal text (either case, optional spaces or colons).
std::optional<std::vector<uint8_t>> parse_hex(const std::string &text);
std::string to_hex(const uint8_t *bytes, std::size_t n, const char *sep = " ");

// Prints "error CODE: english / chinese" on standard error for the code and
// returns the tool's exit status for failures.
int report_error(const char *what, int code);

// Opens the reader link described by the options (registering the family
// first); returns false after reporting why it failed.
bool open_reader(const Options &opt);
void close_reader();

// Subcommands: argv[0] is the subcommand's name.
int cmd_reader(const Options &opt, int argc, char **argv);
int cmd_raw(const Options &opt, int argc, char **argv);

}  // namespace cli
