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
    // Lines for the simulator's control channel, sent once it is up, each
    // answered before the command runs (--sim-control, e.g. to place a card).
    std::vector<std::string> sim_control;
    // A USB reader (--usb TYPE): the link type, and the descriptor of a
    // device opened for the tool (--usb-fd N; -1: found by its ids).
    std::string usb;
    int usb_fd = -1;
};

// The USB link types --usb takes.
bool usb_type_known(const std::string &type);

// Parses hexadecimal text (either case, optional spaces or colons).
std::optional<std::vector<uint8_t>> parse_hex(const std::string &text);
std::string to_hex(const uint8_t *bytes, std::size_t n, const char *sep = " ");

// Prints "error CODE: english / chinese" on standard error for the code and
// returns the tool's exit status for failures.
int report_error(const char *what, int code);
// "error CODE: english / chinese" for the code.
std::string error_text(int code);

// Opens the reader link described by the options (registering the family
// first); returns false after reporting why it failed.
bool open_reader(const Options &opt);
void close_reader();
// The serial device path of the open reader (the simulator's when --sim).
const std::string &reader_path();

// Subcommands: argv[0] is the subcommand's name.
int cmd_reader(const Options &opt, int argc, char **argv);
int cmd_raw(const Options &opt, int argc, char **argv);
int cmd_card(const Options &opt, int argc, char **argv);
// Opens the reader itself except for `mifare convert`, which needs none.
int cmd_mifare(const Options &opt, int argc, char **argv);
// `usb list`: needs no reader open.
int cmd_usb(const Options &opt, int argc, char **argv);

}  // namespace cli
