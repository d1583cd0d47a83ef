// The simulator's control channel: one text command per line (the program
// reads them from standard input). Commands live in a table, so later
// areas add theirs (e.g. "card place ...") with add().
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "simulator.h"

namespace vrsim {

struct ControlReply {
    bool ok = true;
    bool quit = false;
    std::string text;  // one line for the operator; may be empty
};

class Control {
public:
    using Args = std::vector<std::string_view>;
    using Command = std::function<ControlReply(Simulator&, const Args&)>;

    // Installs the built-in commands: help, fault, hangup, reconnect,
    // battery, path, quit, and the card commands.
    explicit Control(Simulator& sim);

    void add(const std::string& name, std::string usage, Command command);
    // Runs one line. Blank lines and lines starting with '#' do nothing.
    [[nodiscard]] ControlReply execute(std::string_view line);
    [[nodiscard]] std::string help() const;
    // One usage text per command, in name order.
    [[nodiscard]] std::vector<std::string> usages() const;

private:
    struct Entry {
        std::string usage;
        Command command;
    };
    Simulator& sim_;
    std::map<std::string, Entry, std::less<>> commands_;
};

// The card commands (control_cards.cpp): card place / remove / show / dump.
void install_card_control(Control& control);
// The bank card's commands (control_bank.cpp): bank gpo / pse / fail / ...
void install_bank_control(Control& control);
// The accessory's commands (control_sensor.cpp): accessory pm25, sensor ...
void install_sensor_control(Control& control);

}  // namespace vrsim
