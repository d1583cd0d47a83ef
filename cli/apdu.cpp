// `apdu [--cid] [--batch] HEX [HEX...]`: APDUs to the ISO 14443-4 CPU card
// in the field (or, with --cid or when no CPU card answers, to a type B CID
// card), each answer printed with its status word explained.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "card.h"
#include "cli.h"
#include "command.h"
#include "tlv.h"

namespace cli {
namespace {

constexpr int kAnswerMax = 4100;

// Status words the library's dictionary leaves out, in ISO 7816-4's words;
// XX stands for a count in SW2.
std::string explain_generally(unsigned sw) {
    const unsigned sw1 = sw >> 8, sw2 = sw & 0xFF;
    switch (sw1) {
    case 0x61: return std::to_string(sw2 ? sw2 : 256) + " more bytes wait for GET RESPONSE";
    case 0x6C: return "wrong Le: " + std::to_string(sw2 ? sw2 : 256) + " bytes are available";
    default: break;
    }
    switch (sw) {
    case 0x6282: return "End of file reached before Le bytes";
    case 0x6700: return "Wrong length";
    case 0x6981: return "Command incompatible with the file structure";
    case 0x6982: return "Security status not satisfied";
    case 0x6986: return "Command not allowed (no current EF)";
    case 0x6A80: return "Incorrect parameters in the data field";
    case 0x6B00: return "Wrong parameters (offset outside the EF)";
    case 0x6D00: return "Instruction not supported";
    case 0x6E00: return "Class not supported";
    default: break;
    }
    if (sw1 == 0x62 || sw1 == 0x63) return "Warning";
    if (sw1 == 0x64 || sw1 == 0x65) return "Execution error";
    if (sw1 >= 0x67 && sw1 <= 0x6F) return "Checking error";
    return "Unknown status";
}

std::string explain(unsigned sw) {
    const char *known = get_value(sw, LIST_STATUS_WORDS);
    return known && known[0] ? known : explain_generally(sw);
}

// Prints one answer: its bytes and its status word. A CID card's answer
// ends with a byte of the reader's own after the status word.
void print_answer(const std::vector<uint8_t> &apdu, const uint8_t *answer, int n, bool reader_byte) {
    std::printf("> %s\n< %s\n", to_hex(apdu.data(), apdu.size()).c_str(),
                to_hex(answer, static_cast<std::size_t>(n)).c_str());
    const int end = reader_byte ? n - 1 : n;
    if (end < 2) {
        std::printf("  (no status word)\n");
        return;
    }
    const unsigned sw = static_cast<unsigned>(answer[end - 2] << 8 | answer[end - 1]);
    std::printf("  SW %04X: %s\n", sw, explain(sw).c_str());
}

int one_by_one(picc *record, const std::vector<std::vector<uint8_t>> &apdus, bool cid) {
    for (const auto &apdu : apdus) {
        std::vector<uint8_t> answer(kAnswerMax);
        int length = static_cast<int>(apdu.size());
        const int rc = picc_ctrl(record, PICC_CTRL_APDU_BYTES, apdu.data(), answer.data(), &length);
        if (rc != 0) return report_error("apdu", rc);
        print_answer(apdu, answer.data(), length, cid);
    }
    return 0;
}

// One reader command for all: items of a big-endian length and the bytes,
// answered in the same form.
int as_batch(picc *record, const std::vector<std::vector<uint8_t>> &apdus) {
    std::vector<uint8_t> body;
    for (const auto &apdu : apdus) {
        body.push_back(static_cast<uint8_t>(apdu.size() >> 8));
        body.push_back(static_cast<uint8_t>(apdu.size() & 0xFF));
        body.insert(body.end(), apdu.begin(), apdu.end());
    }
    std::vector<uint8_t> answer(kAnswerMax);
    int length = static_cast<int>(body.size());
    const int rc = picc_ctrl(record, PICC_CTRL_APDU_BATCH_BYTES, body.data(), answer.data(), &length);
    if (rc != 0) return report_error("apdu", rc);
    std::size_t item = 0;
    for (int at = 0; at + 2 <= length && item < apdus.size(); ++item) {
        const int n = answer[static_cast<std::size_t>(at)] << 8 | answer[static_cast<std::size_t>(at) + 1];
        if (at + 2 + n > length) break;
        print_answer(apdus[item], answer.data() + at + 2, n, false);
        at += 2 + n;
    }
    if (item != apdus.size()) {
        std::fprintf(stderr, "apdu: the reader answered %zu of %zu APDUs\n", item, apdus.size());
        return 1;
    }
    return 0;
}

struct ApduArgs : CommandArgs {
    bool cid = false, batch = false;
    std::vector<std::vector<uint8_t>> apdus;
};

constexpr Option<ApduArgs> kOptions[] = {
    {"cid", nullptr, "send to the type B CID card (without it: the CPU card, else a CID card)",
     set_flag<&ApduArgs::cid>},
    {"batch", nullptr, "send all APDUs in one reader command", set_flag<&ApduArgs::batch>},
};

std::string check_apdu(ApduArgs &args) {
    if (args.operands.empty()) return "no APDU given";
    for (const std::string &text : args.operands) {
        const auto bytes = parse_hex(text);
        if (!bytes || bytes->empty()) return "not hexadecimal: " + text;
        args.apdus.push_back(*bytes);
    }
    return {};
}

int run_apdu(const Options &, ApduArgs &args) {
    bool cid = args.cid;
    picc *record = cid ? nullptr : probe_card("cpu_card");
    if (!record) {
        if (!cid) reset_field();
        record = open_card("cid_card");
        cid = record != nullptr;
    }
    if (!record) return report_error("card", errno);
    const int rc = args.batch ? as_batch(record, args.apdus) : one_by_one(record, args.apdus, cid);
    picc_close(record);
    return rc;
}

constexpr Command<ApduArgs> kApdu = {
    "apdu",
    "APDUs to the ISO 14443-4 CPU card (or the type B CID card)",
    "[--cid] [--batch] HEX [HEX...]",
    "Sends each APDU to the CPU card in the field (or, with --cid or when no CPU card answers, to a\n"
    "type B CID card) and prints the answer with its status word explained.\n",
    nullptr,
    kOptions,
    check_apdu,
    run_apdu,
};

}  // namespace

constinit const CommandEntry kApduCommand = entry_for<kApdu>();

}  // namespace cli
