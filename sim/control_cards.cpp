// The control channel's card commands:
//
//   card place TYPE [UID] [atqa=HEX] [sak=HEX]   a new card in the field
//   card remove                                  take it away
//   card show                                    what is in the field
//   card dump                                    its memory, one block a line
//   card load FILE                               a MIFARE Classic card from a
//                                                dump file (.mfd/.bin, .eml, .json)
//   card save FILE                               the MIFARE Classic card in the
//                                                field to a dump file
//
// UID and the values in hexadecimal (colons allowed between bytes: 11:22:33:44);
// ATQA as its 16-bit value (0344 is sent 44 03).
#include <cstdio>

#include "card_file.h"
#include "card_words.h"
#include "control.h"
#include "words.h"

namespace vrsim {
namespace {

ControlReply ok(std::string text) { return {true, false, std::move(text)}; }
ControlReply error(std::string text) { return {false, false, "error: " + std::move(text)}; }

ControlReply place(Simulator& sim, const Control::Args& args) {
    std::string why;
    const auto card = make_card_from_words({args.begin() + 2, args.end()}, &why);
    if (!card) return error(why);
    sim.field().place(card);
    return ok("ok " + describe_card(*card));
}

// The file name is the rest of the line (blanks inside it are kept as one).
ControlReply load(Simulator& sim, const Control::Args& args) {
    const LoadedCard loaded = load_card_file(join_words(args, 2));
    if (!loaded.card) return error(loaded.error);
    sim.field().place(loaded.card);
    std::string text = "ok " + describe_card(*loaded.card);
    if (loaded.unknown_blocks > 0)
        text += " (" + std::to_string(loaded.unknown_blocks) + " unreadable blocks in the file left blank)";
    return ok(std::move(text));
}

ControlReply save(Simulator& sim, const Control::Args& args) {
    const auto card = sim.field().card();
    if (!card) return error("no card in the field");
    const std::string path = join_words(args, 2);
    if (const std::string why = save_card_file(*card, path); !why.empty()) return error(why);
    return ok("ok saved " + path);
}

ControlReply dump(Simulator& sim) {
    const auto card = sim.field().card();
    if (!card) return error("no card in the field");
    if (!card->is_classic()) return error(card->name() + " has no memory in this model");
    std::string text = "ok " + std::to_string(card->block_count()) + " blocks";
    for (int n = 0; n < card->block_count(); ++n) {
        char line[16];
        std::snprintf(line, sizeof line, "\n%3d  ", n);
        const Block b = card->block(n);
        text += line + hex_text(b);
    }
    return ok(std::move(text));
}

ControlReply card_command(Simulator& sim, const Control::Args& args) {
    const std::string_view what = args.size() > 1 ? args[1] : "";
    if (what == "place") {
        if (args.size() < 3) return error("usage: card place TYPE [UID] [atqa=HEX] [sak=HEX]");
        return place(sim, args);
    }
    if (what == "load" || what == "save") {
        if (args.size() < 3) return error("usage: card " + std::string(what) + " FILE");
        return what == "load" ? load(sim, args) : save(sim, args);
    }
    if (args.size() != 2) return error("usage: card place TYPE [UID] | remove | show | dump | load FILE | save FILE");
    if (what == "remove") {
        if (!sim.field().remove()) return error("no card in the field");
        return ok("ok");
    }
    if (what == "show") {
        const auto card = sim.field().card();
        return ok(card ? "ok " + describe_card(*card) : "ok empty");
    }
    if (what == "dump") return dump(sim);
    return error("usage: card place TYPE [UID] | remove | show | dump | load FILE | save FILE");
}

}  // namespace

void install_card_control(Control& control) {
    control.add("card",
                "card place TYPE [UID] [atqa=HEX] [sak=HEX] (TYPE: " + Card::kind_names() +
                    ") | card remove | card show | card dump | card load FILE | card save FILE (.mfd .bin .eml .json)",
                card_command);
}

}  // namespace vrsim
