// The control channel's card commands:
//
//   card place TYPE [UID] [atqa=HEX] [sak=HEX]   a new card in the field
//   card remove                                  take it away
//   card show                                    what is in the field
//   card dump                                    its memory, one block (page) a line
//   card load FILE                               a card from a file: MIFARE Classic
//                                                (.mfd/.bin, .eml, .json), Ultralight
//                                                (.bin, .json), identity card (.json)
//   card save FILE                               the MIFARE Classic or Ultralight
//                                                card in the field to a dump file
//
// UID and the values in hexadecimal (colons allowed between bytes: 11:22:33:44);
// ATQA as its 16-bit value (0344 is sent 44 03).
#include <cstdio>

#include "card_file.h"
#include "card_words.h"
#include "control.h"
#include "ultralight_card.h"
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

// An Ultralight's pages, one a line.
ControlReply dump_pages(const UltralightCard& card) {
    std::string text = "ok " + std::to_string(card.page_count()) + " pages";
    for (int n = 0; n < card.page_count(); ++n) {
        char line[16];
        std::snprintf(line, sizeof line, "\n%3d  ", n);
        text += line + hex_text(card.page(n));
    }
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
    if (const auto ul = std::dynamic_pointer_cast<UltralightCard>(card)) return dump_pages(*ul);
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

// sam fail STEP SW3 [xN] | sam spoil check|length|preamble | sam clear |
// sam show
ControlReply sam_command(Simulator& sim, const Control::Args& args) {
    constexpr const char* kUsage =
        "usage: sam fail reset|check|search|select|read|readall|address SW3 [xN] | sam spoil check|length|preamble | "
        "sam clear | sam show";
    Sam& sam = sim.firmware().sam();
    const std::string_view what = args.size() > 1 ? args[1] : "";
    if (what == "fail" && (args.size() == 4 || args.size() == 5)) {
        const auto step = Sam::step_named(args[2]);
        const auto sw3 = parse_hex(args[3]);
        const auto count = args.size() == 5 ? parse_repeat(args[4], 1000000) : std::optional<unsigned>(1);
        if (!step || !sw3 || sw3->size() != 1 || !count) return error(kUsage);
        sam.fail(*step, (*sw3)[0], *count);
        return ok("ok");
    }
    if (what == "spoil" && args.size() == 3) {
        const std::string_view how = args[2];
        if (how == "check") sam.spoil_next(Sam::Spoil::check_byte);
        else if (how == "length") sam.spoil_next(Sam::Spoil::length);
        else if (how == "preamble") sam.spoil_next(Sam::Spoil::preamble);
        else return error(kUsage);
        return ok("ok");
    }
    if (what == "clear" && args.size() == 2) {
        sam.clear_faults();
        return ok("ok");
    }
    if (what == "show" && args.size() == 2) return ok(sam.selected() ? "ok card selected" : "ok no card selected");
    return error(kUsage);
}

}  // namespace

void install_card_control(Control& control) {
    control.add("sam",
                "sam fail STEP SW3 [xN] (STEP: reset check search select read readall address) | "
                "sam spoil check|length|preamble | sam clear | sam show",
                sam_command);
    control.add("card",
                "card place TYPE [UID] [atqa=HEX] [sak=HEX] (TYPE: " + Card::kind_names() +
                    ") | card remove | card show | card dump | card load FILE | card save FILE (.mfd .bin .eml .json)",
                card_command);
}

}  // namespace vrsim
