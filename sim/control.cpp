#include "control.h"

#include <charconv>

#include "words.h"

namespace vrsim {
namespace {

ControlReply ok(std::string text = "ok") { return {true, false, std::move(text)}; }
ControlReply error(std::string text) { return {false, false, "error: " + std::move(text)}; }

ControlReply fault(Simulator& sim, const Control::Args& args) {
    if (args.size() < 2) return error("usage: fault FAULT | fault clear");
    if (args[1] == "clear") {
        sim.clear_faults();
        return ok();
    }
    std::string why;
    const auto order = parse_fault_order(join_words(args, 1), &why);
    if (!order) return error(why);
    sim.apply(*order);
    return ok();
}

ControlReply battery(Simulator& sim, const Control::Args& args) {
    unsigned v = 0;
    if (args.size() != 2) return error("usage: battery RAW (0..255)");
    const auto [end, ec] = std::from_chars(args[1].data(), args[1].data() + args[1].size(), v);
    if (ec != std::errc() || end != args[1].data() + args[1].size() || v > 255)
        return error("battery takes a raw level 0..255");
    sim.firmware().set_battery(static_cast<uint8_t>(v));
    return ok();
}

}  // namespace

Control::Control(Simulator& sim) : sim_(sim) {
    add("help", "help", [this](Simulator&, const Args&) { return ok(help()); });
    add("fault", "fault drop|delay MS|crc|stale90|lateping|status BYTE|hangup|enc_ragged|enc_overlong [xN] [every N]; "
        "fault clear",
        fault);
    add("hangup", "hangup", [](Simulator& s, const Args&) {
        s.hangup();
        return ok();
    });
    add("reconnect", "reconnect (prints the new path)", [](Simulator& s, const Args&) {
        if (!s.reconnect()) return error("cannot open a new pseudo-terminal");
        return ok("ok " + s.path());
    });
    add("battery", "battery RAW", battery);
    add("path", "path", [](Simulator& s, const Args&) { return ok("ok " + s.path()); });
    add("quit", "quit", [](Simulator&, const Args&) { return ControlReply{true, true, "ok"}; });
    install_card_control(*this);
    install_bank_control(*this);
    install_sensor_control(*this);
}

void Control::add(const std::string& name, std::string usage, Command command) {
    commands_[name] = Entry{std::move(usage), std::move(command)};
}

ControlReply Control::execute(std::string_view line) {
    const Args args = split_words(line, " \t\r\n");
    if (args.empty() || args[0].front() == '#') return {true, false, {}};
    const auto it = commands_.find(args[0]);
    if (it == commands_.end()) return error("unknown command: " + std::string(args[0]) + " (try help)");
    return it->second.command(sim_, args);
}

std::string Control::help() const {
    std::string s = "commands:";
    for (const std::string& usage : usages()) s += " | " + usage;
    return s;
}

std::vector<std::string> Control::usages() const {
    std::vector<std::string> out;
    for (const auto& [name, entry] : commands_) out.push_back(entry.usage);
    return out;
}

}  // namespace vrsim
