// `bank info | purchase AMOUNT | finish ISSUER-ANSWER-HEX`: the bank card.
// info: the card's information, masked unless --unmask, and the payment
// application it offers. purchase: the purchase start; prints the online
// message for the issuer, then takes `finish ISSUER-ANSWER-HEX` lines from
// standard input (the end must run in the same session as its start: the
// card keeps the transaction only while it stays active in the field).
// finish: the purchase end; prints the second cryptogram or the issuer
// scripts' result. --verbose logs every APDU with its answer; READ RECORD
// answers, which hold the card's personal data, show only their length and
// status word unless --unmask is given.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "card.h"
#include "cli.h"
#include "cmd_tlv_ir.h"
#include "command.h"
#include "emv.h"
#include "pboc.h"
#include "tlv.h"
#include "virt_com.h"

namespace cli {
namespace {

constexpr uint16_t kCmdApdu = 0x0211;
constexpr uint8_t kInsReadRecord = 0xB2;
// Hexadecimal text of the purchase codes' largest result.
constexpr std::size_t kTextSize = 2 * EMV_OUT_SIZE + 1;

struct BankArgs : CommandArgs {
    bool unmask = false;
    bool verbose = false;
    std::string amount;           // purchase: twelve digits of cents
    std::vector<uint8_t> issuer;  // finish: the issuer's answer
};

// ---- the APDU log

void log_apdu(void *context, const virt_com_req *request, int result, const virt_com_rsp *reply) {
    if (request->cmd != kCmdApdu) return;
    const bool unmask = *static_cast<const bool *>(context);
    const auto n = static_cast<std::size_t>(request->len);
    std::printf("> %s\n", to_hex(request->data, n).c_str());
    if (result != 0) {
        std::printf("< (no answer)\n");
        return;
    }
    const auto m = static_cast<std::size_t>(reply->len);
    const bool personal = n >= 2 && request->data[1] == kInsReadRecord;
    if (personal && !unmask && m > 2)
        std::printf("< (%zu data bytes) %02X %02X\n", m - 2, reply->data[m - 2], reply->data[m - 1]);
    else
        std::printf("< %s\n", to_hex(reply->data, m).c_str());
}

// Logs the APDUs while it lives.
class ApduLog {
public:
    ApduLog(bool on, bool unmask) : on_(on), unmask_(unmask) {
        if (on_) virt_com_set_trace(log_apdu, &unmask_);
    }
    ~ApduLog() {
        if (on_) virt_com_set_trace(nullptr, nullptr);
    }
    ApduLog(const ApduLog &) = delete;
    ApduLog &operator=(const ApduLog &) = delete;

private:
    bool on_;
    bool unmask_;
};

// ---- card information

const char *item(picc *record, int which) {
    const char *text = nullptr;
    return picc_ctrl(record, PICC_CTRL_BANK_INFO, which, &text) == 0 ? text : nullptr;
}

void print_line(const char *label, const char *text) { std::printf("%-14s %s\n", label, text ? text : "(none)"); }

// The electronic-cash balance: BCD digits of cents.
std::string balance_text(const char *hex) {
    if (!hex) return "(none)";
    const std::string v = hex;
    if (v.size() < 3 || v.find_first_not_of("0123456789") != std::string::npos) return "(none)";
    std::string whole = v.substr(0, v.size() - 2);
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
    return whole + "." + v.substr(v.size() - 2);
}

void print_application() {
    emv_application app{};
    if (!get_application(&app) || !select_application(&app)) {
        std::printf("%-14s (none found through the payment system environment)\n", "application:");
        return;
    }
    std::string label(reinterpret_cast<const char *>(app.label.value), app.label.length);
    std::printf("%-14s %s \"%s\"", "application:", to_hex(app.aid.value, app.aid.length, "").c_str(), label.c_str());
    if (app.priority.length) std::printf(" (priority %u)", app.priority.value[0] & 0x0F);
    std::printf("\n");
}

int info(picc *record, const BankArgs &args) {
    const char *pan = item(record, args.unmask ? PBOC_ITEM_PAN : PBOC_ITEM_PANMASK);
    if (!pan && errno) return report_error("bank info", errno);
    print_line("card number:", pan);
    print_line("expiry:", item(record, PBOC_ITEM_VALIDDATE));
    print_line("holder:", item(record, args.unmask ? PBOC_ITEM_NAMEASCII : PBOC_ITEM_NAMEASCIIMASK));
    print_line("ID type:", item(record, PBOC_ITEM_IDENTYPE));
    print_line("ID number:", item(record, args.unmask ? PBOC_ITEM_IDENNUMASCII : PBOC_ITEM_IDENNUMASCIIMASK));
    if (args.unmask) print_line("track 2:", item(record, PBOC_ITEM_MSD2));
    std::printf("%-14s %s\n", "balance:", balance_text(pboc_info_qbocvalue(record)).c_str());
    print_application();
    return 0;
}

// ---- purchase

// AMOUNT as twelve digits of cents ("12.34", "5", "0.5"); false when it is
// not a plain amount.
bool amount_cents(const std::string &text, std::string &digits) {
    const std::size_t dot = text.find('.');
    std::string whole = text.substr(0, dot), cents = dot == std::string::npos ? "" : text.substr(dot + 1);
    if (whole.empty() || cents.size() > 2 || whole.size() > 10) return false;
    for (char c : whole + cents)
        if (c < '0' || c > '9') return false;
    cents.resize(2, '0');
    digits = std::string(10 - whole.size(), '0') + whole + cents;
    return true;
}

// The transaction input: amount, other amount, TVR, date, type, time.
std::string transaction_hex(const std::string &amount) {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    char date[64];
    std::snprintf(date, sizeof date, "9A03%02d%02d%02d9F2103%02d%02d%02d", t.tm_year % 100, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    return "9F0206" + amount + "9F0306000000000000" + "950500000000009C0100" + date;
}

std::vector<uint8_t> from_text(const char *text, int length) {
    std::vector<uint8_t> bytes(static_cast<std::size_t>(length / 2));
    if (pboc_str2data(text, bytes.data(), static_cast<int>(bytes.size())) != 0) bytes.clear();
    return bytes;
}

// Runs control code 50 or 51 on hexadecimal text; the result's bytes.
int purchase_step(picc *record, int code, const std::string &hex, std::vector<uint8_t> &result) {
    std::vector<char> text(kTextSize);
    int length = 0;
    const int rc = picc_ctrl(record, code, hex.c_str(), text.data(), &length);
    if (rc != 0) return rc;
    result = from_text(text.data(), length);
    return 0;
}

// The online message: two parts, each behind its big-endian length.
void print_online_message(const std::vector<uint8_t> &m) {
    std::printf("online message (%zu bytes): %s\n", m.size(), to_hex(m.data(), m.size(), "").c_str());
    std::size_t at = 0;
    for (int part = 1; part <= 2 && at + 2 <= m.size(); ++part) {
        const std::size_t n = static_cast<std::size_t>(m[at] << 8 | m[at + 1]);
        at += 2;
        if (at + n > m.size()) break;
        std::printf("part %d (%zu bytes):\n", part, n);
        cli_print_tlv(m.data() + at, n);
        at += n;
    }
}

// The card's cryptogram information (9F27, or the first byte of a format-1
// answer) in words.
const char *cryptogram_kind(const std::vector<uint8_t> &answer) {
    tlv_object cid{};
    if (!answer.empty() && answer[0] == 0x77) get_tlv(answer.data(), static_cast<int>(answer.size()), 0x9F27, 1, &cid);
    else if (answer.size() > 2 && answer[0] == 0x80) cid.length = 1, cid.value[0] = answer[2];
    if (cid.length == 0) return "unknown";
    switch (cid.value[0] & 0xC0) {
    case 0x40: return "TC (approved)";
    case 0x80: return "ARQC (online)";
    default: return "AAC (declined)";
    }
}

// The script result DF31: the result byte in words and the identifier.
void print_script_result(const std::vector<uint8_t> &out) {
    if (out.size() < 8) {
        std::printf("script result: missing\n");
        return;
    }
    const uint8_t *r = out.data() + out.size() - 5;
    const unsigned outcome = r[0] >> 4, command = r[0] & 0x0F;
    std::printf("script result: %02x, identifier %s: ", r[0], to_hex(r + 1, 4, "").c_str());
    if (outcome == 2) std::printf("successful\n");
    else if (outcome == 1) std::printf("failed at command %u%s\n", command, command == 15 ? " or later" : "");
    else std::printf("not performed\n");
}

int finish(picc *record, const std::vector<uint8_t> &issuer) {
    std::vector<uint8_t> out;
    const int rc = purchase_step(record, PICC_CTRL_PURCHASE_END, to_hex(issuer.data(), issuer.size(), ""), out);
    if (rc != 0) {
        if (rc == -108)
            std::fprintf(stderr, "bank finish: no purchase to end in this session (give `finish HEX` to "
                                 "`bank purchase` on its standard input)\n");
        return report_error("bank finish", rc);
    }
    tlv_object scripts{};
    if (get_tlv(issuer.data(), static_cast<int>(issuer.size()), 0x72, 1, &scripts) > 0) {
        print_script_result(out);
        return 0;
    }
    std::printf("second GENERATE AC: %s\n", cryptogram_kind(out));
    cli_print_tlv(out.data(), out.size());
    return 0;
}

// An issuer's answer: hexadecimal, not empty.
std::optional<std::vector<uint8_t>> issuer_answer(const std::string &text) {
    auto bytes = parse_hex(text);
    if (bytes && bytes->empty()) bytes.reset();
    return bytes;
}

int purchase(picc *record, const BankArgs &args) {
    std::vector<uint8_t> message;
    const int rc = purchase_step(record, PICC_CTRL_PURCHASE_INIT, transaction_hex(args.amount), message);
    if (rc != 0) return report_error("bank purchase", rc);
    print_online_message(message);
    std::fflush(stdout);
    // The issuer's answer, when standard input brings one. What it holds
    // can only be checked now, with the purchase open on the card.
    char line[4 * EMV_OUT_SIZE];
    int status = 0;
    while (std::fgets(line, sizeof line, stdin)) {
        std::string l = line;
        while (!l.empty() && (l.back() == '\n' || l.back() == '\r' || l.back() == ' ')) l.pop_back();
        if (l.empty()) continue;
        const auto issuer = l.rfind("finish ", 0) == 0 ? issuer_answer(l.substr(7)) : std::nullopt;
        if (!issuer) {
            std::fprintf(stderr, "bank purchase: expected `finish ISSUER-ANSWER-HEX`, got \"%s\"\n", l.c_str());
            return 2;
        }
        status = finish(record, *issuer);
        std::fflush(stdout);
    }
    return status;
}

int finish_alone(picc *record, const BankArgs &args) { return finish(record, args.issuer); }

// ---- the command

std::string check_purchase(BankArgs &a) {
    if (a.operands.size() != 2 || !amount_cents(a.operands[1], a.amount))
        return "purchase AMOUNT: a sum such as 12.34 (at most ten digits before the point, two after)";
    return {};
}

std::string check_finish(BankArgs &a) {
    const auto issuer = a.operands.size() == 2 ? issuer_answer(a.operands[1]) : std::nullopt;
    if (!issuer) return "finish ISSUER-ANSWER-HEX: the issuer's answer in hexadecimal";
    a.issuer = *issuer;
    return {};
}

struct BankSubcommand {
    const char *name;
    const char *operands;
    const char *summary;
    std::string (*check)(BankArgs &);
    int (*run)(picc *record, const BankArgs &);
};

constexpr BankSubcommand kBankSubcommands[] = {
    {"info", "", "card number, expiry, holder, ID document, balance, payment application", takes_no_operands, info},
    {"purchase", "AMOUNT",
     "start a purchase and print the online message; `finish HEX` lines on standard input end it",
     check_purchase, purchase},
    {"finish", "ISSUER-ANSWER-HEX", "end this session's purchase with the issuer's answer", check_finish,
     finish_alone},
};

const BankSubcommand *find(const BankArgs &a) { return find_subcommand(kBankSubcommands, a.operands); }

std::string check_bank(BankArgs &a) {
    const BankSubcommand *sub = find(a);
    if (!sub) return no_subcommand(a.operands);
    return sub->check(a);
}

int run_bank(const Options &, BankArgs &a) {
    picc *record = open_card("pboc_card");
    if (!record) return report_error("bank", errno);
    const ApduLog log(a.verbose, a.unmask);
    return find(a)->run(record, a);
}

void list_bank_subcommands(std::FILE *out) {
    std::fprintf(out, "subcommands:\n");
    for (const BankSubcommand &s : kBankSubcommands)
        std::fprintf(out, "  %-30s %s\n", (std::string(s.name) + " " + s.operands).c_str(), s.summary);
}

constexpr Option<BankArgs> kOptions[] = {
    {"unmask", nullptr, "card number, holder and ID number whole, also in the APDU log",
     set_flag<&BankArgs::unmask>},
    {"verbose", nullptr, "log every APDU to the card with its answer", set_flag<&BankArgs::verbose>},
};

constexpr Command<BankArgs> kBank = {
    "bank",
    "the PBOC bank card: its information, a purchase and its end",
    "info | purchase AMOUNT | finish ISSUER-ANSWER-HEX",
    "Reads the bank card's information, or runs a purchase: its start prints the online message for\n"
    "the issuer, and the issuer's answer (`finish HEX` lines on standard input) ends it in the same\n"
    "session. The card number, holder and ID number are masked unless --unmask is given.\n",
    list_bank_subcommands,
    kOptions,
    check_bank,
    run_bank,
};

}  // namespace

constinit const CommandEntry kBankCommand = entry_for<kBank>();

}  // namespace cli
