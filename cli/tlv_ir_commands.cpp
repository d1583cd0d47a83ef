// The `tlv` and `ir` commands' rows: they need no reader, and their work
// (cmd_tlv.cpp, cmd_ir.cpp) takes the operands as an argument vector.
#include "cli.h"
#include "cmd_tlv_ir.h"
#include "command.h"

namespace cli {
namespace {

// Hands the operands to work that reads argv[1..] (argv[0] the name).
int with_argv(const char *name, const CommandArgs &a, int (*work)(int, char **)) {
    std::vector<std::string> storage{name};
    storage.insert(storage.end(), a.operands.begin(), a.operands.end());
    std::vector<char *> argv;
    for (std::string &s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    return work(static_cast<int>(storage.size()), argv.data());
}

std::string check_tlv(CommandArgs &a) {
    a.needs_reader = false;
    return a.operands.empty() ? "tlv HEX" : std::string();
}

int run_tlv(const Options &, CommandArgs &a) { return with_argv("tlv", a, cli_cmd_tlv); }

constexpr Command<CommandArgs> kTlv = {
    "tlv",
    "print BER-TLV data (a card's answer) as an element tree with the EMV names",
    "HEX",
    "Prints BER-TLV data as an element tree, each tag with its EMV description.\n",
    nullptr,
    {},
    check_tlv,
    run_tlv,
};

std::string check_ir(CommandArgs &a) {
    a.needs_reader = false;
    const auto &w = a.operands;
    if (!w.empty() && w[0] == "convert" && (w.size() == 2 || w.size() == 3)) return {};
    if (!w.empty() && w[0] == "decompress" && w.size() >= 2) return {};
    return "ir convert FILE [OUT] | ir decompress FILE|HEX";
}

int run_ir(const Options &, CommandArgs &a) { return with_argv("ir", a, cli_cmd_ir); }

constexpr Command<CommandArgs> kIr = {
    "ir",
    "compress a recorded infrared waveform for the reader, or show a compressed one",
    "convert FILE [OUT] | decompress FILE|HEX",
    "convert: compresses a recorded waveform (FILE: 16-bit big-endian durations in microseconds,\n"
    "or a text list of decimal microsecond values) into the reader's form, printed in hex and\n"
    "written to OUT. decompress: shows a compressed stream (a file, or hex) as its values.\n",
    nullptr,
    {},
    check_ir,
    run_ir,
};

}  // namespace

constinit const CommandEntry kTlvCommand = entry_for<kTlv>();
constinit const CommandEntry kIrCommand = entry_for<kIr>();

}  // namespace cli
