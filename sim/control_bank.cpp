// The control channel's bank-card commands, on the bank card in the field:
//
//   bank gpo 1|2                 the format of its processing options and
//                                cryptogram answers
//   bank pse on|off              whether it has the payment system environment
//   bank fail INS SW [xN]        the next N commands with instruction INS are
//                                answered with SW alone (hexadecimal: A8 6985)
//   bank clear                   no injected status words
//   bank issuer ARC              the issuer authentication data (tag 91's
//                                value) for the last ARQC with response code
//                                ARC (hexadecimal, 3030 for "00")
//   bank script HEX              a script command (header, Lc, data) with the
//                                MAC for the last ARQC appended
//   bank show                    its settings and counters
#include "bank_card.h"
#include "card_words.h"
#include "control.h"
#include "words.h"

namespace vrsim {
namespace {

constexpr const char* kUsage =
    "usage: bank gpo 1|2 | bank pse on|off | bank fail INS SW [xN] | bank clear | bank issuer ARC | "
    "bank script HEX | bank show";

ControlReply ok(std::string text) { return {true, false, std::move(text)}; }
ControlReply error(std::string text) { return {false, false, "error: " + std::move(text)}; }

ControlReply fail(BankCard& card, const Control::Args& args) {
    const auto ins = parse_hex(args[2]);
    const auto sw = parse_hex(args[3]);
    const auto count = args.size() == 5 ? parse_repeat(args[4], 1000) : std::optional<unsigned>(1);
    if (!ins || ins->size() != 1 || !sw || sw->size() != 2 || !count) return error(kUsage);
    card.fail((*ins)[0], static_cast<uint16_t>((*sw)[0] << 8 | (*sw)[1]), *count);
    return ok("ok");
}

ControlReply issuer_data(const std::optional<Bytes>& data) {
    if (!data) return error("no ARQC from the card yet, or a malformed argument");
    return ok("ok " + hex_text(*data));
}

ControlReply bank_command(Simulator& sim, const Control::Args& args) {
    const auto card = std::dynamic_pointer_cast<BankCard>(sim.field().card());
    if (!card) return error("no bank card in the field");
    const std::string_view what = args.size() > 1 ? args[1] : "";
    if (what == "gpo" && args.size() == 3 && (args[2] == "1" || args[2] == "2")) {
        card->set_gpo_format(args[2] == "1" ? 1 : 2);
        return ok("ok");
    }
    if (what == "pse" && args.size() == 3 && (args[2] == "on" || args[2] == "off")) {
        card->set_pse(args[2] == "on");
        return ok("ok");
    }
    if (what == "fail" && (args.size() == 4 || args.size() == 5)) return fail(*card, args);
    if (what == "clear" && args.size() == 2) {
        card->clear_faults();
        return ok("ok");
    }
    if ((what == "issuer" || what == "script") && args.size() == 3) {
        const auto bytes = parse_hex(args[2]);
        if (!bytes) return error(kUsage);
        return issuer_data(what == "issuer" ? card->issuer_authentication(*bytes) : card->script_command(*bytes));
    }
    if (what == "show" && args.size() == 2) return ok("ok " + card->describe());
    return error(kUsage);
}

}  // namespace

void install_bank_control(Control& control) {
    control.add("bank",
                "bank gpo 1|2 | bank pse on|off | bank fail INS SW [xN] | bank clear | bank issuer ARC | "
                "bank script HEX | bank show (the bank card in the field)",
                bank_command);
}

}  // namespace vrsim
