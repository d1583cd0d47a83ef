// How a command of the tool declares its options and checks its operands.
//
// A command is one table row (`Command<Args>`): its name, a one-line
// summary, synopsis, description, its options (`Option<Args>` rows: long
// name, the value's name, help text, and a function that stores the value
// into Args or says why it is unfit), a check of the operands that runs
// before the reader is touched, and the work. `run_command` does the rest
// the same way for every command: getopt_long over the arguments (options
// anywhere, --name=VALUE or --name VALUE, -- ends them, a negative number
// is an operand), --help on standard output, the check, then the reader
// opened only when the command needs it. Usage errors exit with 2,
// failures with 1. `entry_for<kCommand>()` makes the row of main's table
// (cli/README.md shows a whole command).
#pragma once

#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "cli.h"

namespace cli {

// What every command's arguments hold besides its options.
struct CommandArgs {
    std::vector<std::string> operands;  // what is left after the options
    bool needs_reader = true;           // the check may say it needs none
};

template <typename Args>
struct Option {
    const char *name;   // --name
    const char *value;  // the value's name in the help ("HEX"), null for a flag
    const char *help;
    // Stores the value (null for a flag); an error text when it is unfit.
    std::string (*apply)(Args &args, const char *value);
};

template <typename Args>
struct Command {
    const char *name;
    const char *summary;      // one line for the command list
    const char *synopsis;     // operands, e.g. "info | beep [ON OFF]"
    const char *description;  // one or more lines, each ending in '\n'
    // More help after the description (a list of subcommands), or null.
    void (*more_help)(std::FILE *out);
    std::span<const Option<Args>> options;
    // Checks (and converts) the operands before the reader is opened: an
    // error text, empty when they are sound.
    std::string (*check)(Args &args);
    // The work, with the reader open when args.needs_reader: 0, 1 or 2.
    int (*run)(const Options &opt, Args &args);
};

// ---- the parts run_command puts together (command.cpp)

struct OptionText {
    const char *name;
    const char *value;
    const char *help;
};

enum class Parsed { ok, help, usage };

// getopt_long over argv[1..]; apply(index, value) stores option `index`.
Parsed parse_options(int argc, char **argv, const std::vector<OptionText> &options,
                     const std::function<std::string(std::size_t index, const char *value)> &apply,
                     std::vector<std::string> &operands, std::string &error);
void print_command_help(std::FILE *out, const char *name, const char *synopsis, const char *description,
                        void (*more_help)(std::FILE *), const std::vector<OptionText> &options);
// "vantel-rfid NAME: WHY" and a pointer to the help on standard error; 2.
int command_usage_error(const char *name, const std::string &why);

template <typename Args>
std::vector<OptionText> option_texts(const Command<Args> &c) {
    std::vector<OptionText> texts;
    for (const Option<Args> &o : c.options) texts.push_back({o.name, o.value, o.help});
    return texts;
}

template <typename Args>
void print_help(std::FILE *out, const Command<Args> &c) {
    print_command_help(out, c.name, c.synopsis, c.description, c.more_help, option_texts(c));
}

// Parses, checks, opens the reader if needed, runs, closes the reader.
template <typename Args>
int run_command(const Command<Args> &c, const Options &opt, int argc, char **argv) {
    Args args;
    std::string error;
    const auto apply = [&](std::size_t index, const char *value) { return c.options[index].apply(args, value); };
    switch (parse_options(argc, argv, option_texts(c), apply, args.operands, error)) {
    case Parsed::help: print_help(stdout, c); return 0;
    case Parsed::usage: return command_usage_error(c.name, error);
    case Parsed::ok: break;
    }
    if (const std::string why = c.check(args); !why.empty()) return command_usage_error(c.name, why);
    if (args.needs_reader && !open_reader(opt)) {
        close_reader();
        return 1;
    }
    const int status = c.run(opt, args);
    close_reader();
    return status;
}

// An option without a value that sets one flag of the arguments:
// `set_flag<&FooArgs::quiet>` as an Option<FooArgs>'s apply.
template <typename Member>
struct FlagOwner;
template <typename Args>
struct FlagOwner<bool Args::*> {
    using type = Args;
};

template <auto Flag>
std::string set_flag(typename FlagOwner<decltype(Flag)>::type &args, const char *) {
    args.*Flag = true;
    return {};
}

// A command's table of subcommands (rows with a name, operands and a
// summary): the row its first operand names, or null.
template <typename Sub, std::size_t N>
const Sub *find_subcommand(const Sub (&table)[N], const std::vector<std::string> &operands) {
    if (operands.empty()) return nullptr;
    for (const Sub &s : table)
        if (operands[0] == s.name) return &s;
    return nullptr;
}

// Why the operands name no subcommand: none is given, or the first operand
// is not one of them.
std::string no_subcommand(const std::vector<std::string> &operands);

// The check of a subcommand that takes no operands after its name.
template <typename Args>
std::string takes_no_operands(Args &args) {
    return args.operands.size() == 1 ? std::string() : args.operands[0] + " takes no operands";
}

// The list of subcommands its help shows.
template <typename Sub, std::size_t N>
void print_subcommands(std::FILE *out, const Sub (&table)[N]) {
    std::fprintf(out, "subcommands:\n");
    for (const Sub &s : table) {
        const std::string head = std::string(s.name) + " " + s.operands;
        std::fprintf(out, "  %s\n      %s\n", head.c_str(), s.summary);
    }
}

// The row of main's command table for a Command<Args> of static storage.
template <const auto &C>
constexpr CommandEntry entry_for() {
    return {C.name, C.summary,
            [](const Options &opt, int argc, char **argv) { return run_command(C, opt, argc, argv); },
            [](std::FILE *out) { print_help(out, C); }};
}

}  // namespace cli
