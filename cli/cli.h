// Shared pieces of the command-line tool. The tool uses the library's
// public C API only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cli {

// Global options, parsed before the command (main.cpp).
struct Options {
    std::string device;  // serial device path (--device)
    bool sim = false;    // start the simulator and talk to it (--sim)
    bool sound = false;  // the audio link (--sound, or --audio)
    int family = 1;      // reader family (--family 1|2)
    std::vector<std::string> sim_args;  // extra simulator arguments (--sim-arg)
    // Lines for the simulator's control channel, sent once it is up, each
    // answered before the command runs (--sim-control, e.g. to place a card).
    std::vector<std::string> sim_control;
    int baud = 0;        // line speed of a real reader (--baud); 0: the driver's 115200
    int timeout_ms = 0;  // reply time-out (--timeout); 0: the link's own
    std::string trace;   // pcapng file of every frame (--trace)
    // A USB reader (--usb TYPE): the link type, and the descriptor of a
    // device opened for the tool (--usb-fd N; -1: found by its ids).
    std::string usb;
    int usb_fd = -1;
};

// The USB link types --usb takes.
bool usb_type_known(const std::string &type);

// One command of the tool, as main's table lists it. Commands declared
// with a Command<Args> table (command.h) get theirs from entry_for.
struct CommandEntry {
    const char *name;
    const char *summary;  // one line for the command list
    // argv[0] is the command's name; 0 done, 1 failed, 2 usage error.
    int (*main)(const Options &opt, int argc, char **argv);
    void (*help)(std::FILE *out);
};

// The commands, in the order `vantel-rfid --help` lists them (main.cpp
// holds the table; each is defined beside its work).
extern const CommandEntry kReaderCommand;
extern const CommandEntry kRawCommand;
extern const CommandEntry kCardCommand;
extern const CommandEntry kMifareCommand;
extern const CommandEntry kUltralightCommand;
extern const CommandEntry kApduCommand;
extern const CommandEntry kIdcardCommand;
extern const CommandEntry kBankCommand;
extern const CommandEntry kTlvCommand;
extern const CommandEntry kIrCommand;
extern const CommandEntry kPortsCommand;
extern const CommandEntry kUsbCommand;
extern const CommandEntry kModemCommand;

// Parses hexadecimal text (either case, optional spaces or colons).
std::optional<std::vector<uint8_t>> parse_hex(const std::string &text);
std::string to_hex(const uint8_t *bytes, std::size_t n, const char *sep = " ");
// A whole number within min..max: decimal, 0x hexadecimal or 0 octal.
std::optional<long> parse_number(const std::string &text, long min, long max);

// One line of a memory view: the number, the bytes in hex and as text
// ("  4  01 02 ..  |..|"); bytes that could not be read show as "--".
std::string memory_line(int number, std::span<const uint8_t> bytes, bool readable);

// Prints "WHAT failed: error CODE: english / chinese" on standard error and
// returns the tool's exit status for failures (1).
int report_error(const char *what, int code);
// "error CODE: english / chinese" for the code.
std::string error_text(int code);

// Opens the reader link described by the options (registering the family
// first); returns false after saying why it failed.
bool open_reader(const Options &opt);
void close_reader();
// The serial device path of the open reader (the simulator's when --sim).
const std::string &reader_path();
// Starts the simulator program (on the sound server with --sound) and sends
// it the control lines; the first line it printed, or empty on failure.
std::string start_simulator_program(const Options &opt);

// The audio link: opened with the carrier handshake, on a real reader or
// (with --sim) a simulated one: in this process on the virtual line, or as
// the simulator program on the sound server when VANTEL_RFID_AUDIO=pulse.
bool open_sound(const Options &opt);
void close_sound();

}  // namespace cli
