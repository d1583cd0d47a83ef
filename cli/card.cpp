// `card`: what type A card is in the field; and the opening of MIFARE
// Classic cards that the `mifare` commands share.
#include "card.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "command.h"
#include "pcd.h"
#include "sys.h"

namespace cli {
namespace {

constexpr const char *kIdentify = "iso14443A_card";
// A type the library cannot open (-20): the card is there all the same.
constexpr int kEUnsupportedType = -20;
// A card resets within a few milliseconds without field; the library's own
// reset waits 300 ms, longer than a dump that meets locked sectors needs.
constexpr unsigned kFieldOffUs = 20000;

// Switching the field off powers a card down; it comes back idle, ready for
// a new request, whatever state an earlier failure left it in.
void reset_field() {
    pcd_antenna_close();
    sys_delay_nus(kFieldOffUs);
    pcd_antenna_open();
}

picc *open_card_of_type(const char *type) {
    // The port is already open, so the path only completes the call.
    return picc_open(type, "uart", 0, PICC_SEARCH_WAKE, reader_path().c_str());
}

// nfc-list's layout: labels right-aligned on the colon, bytes in lower-case
// hex separated by two spaces, ATQA with its high byte first.
void print_bytes(const char *label, const uint8_t *bytes, int n) {
    std::printf("%19s:", label);
    for (int i = 0; i < n; ++i) std::printf("%s%02x", i ? "  " : " ", bytes[i]);
    std::printf("\n");
}

// The card's name, then the library's type name where it differs and the
// vendor: "MIFARE Classic 1K (Mifare S50, NXP)".
void print_identity(const char *name, const char *type, const char *vendor, const uint8_t atqa[2],
                    const uint8_t *uid, int uid_len, uint8_t sak) {
    std::string notes = std::strcmp(name, type) != 0 ? type : "";
    if (vendor && *vendor) notes += (notes.empty() ? "" : ", ") + std::string(vendor);
    std::printf("ISO/IEC 14443A card: %s%s\n", name, notes.empty() ? "" : (" (" + notes + ")").c_str());
    const uint8_t atqa_high_first[2] = {atqa[1], atqa[0]};
    print_bytes("ATQA (SENS_RES)", atqa_high_first, 2);
    print_bytes("UID (NFCID1)", uid, uid_len);
    print_bytes("SAK (SEL_RES)", &sak, 1);
}

// The library has no driver for the card's type; the reader's search still
// tells what it is.
int describe_unsupported_card() {
    // The failed open left the card selected; a selected card ignores the
    // wake-up of the search.
    reset_field();
    picc probe{};
    if (pcd_search_type_A(&probe, 0) != 0) {
        std::free(probe.picc_type);
        return report_error("card", errno);
    }
    const char *type = probe.picc_type ? probe.picc_type : "unknown";
    print_identity(type, type, nullptr, probe.atqa, probe.uid, probe.uid_len, probe.sak);
    std::printf("(no driver for this card type)\n");
    std::free(probe.picc_type);
    return 0;
}

// The Mini's SAK; the library opens it with the 1K driver, whose commands
// it answers on its five sectors.
constexpr uint8_t kMiniSak = 0x09;

std::optional<vrdump::Kind> classic_kind(picc *record) {
    const char *type = picc_type(record);
    uint8_t sak = 0;
    picc_getsak(record, &sak);
    if (std::strcmp(type, "Mifare S50") == 0)
        return sak == kMiniSak ? vrdump::Kind::classic_mini : vrdump::Kind::classic_1k;
    if (std::strcmp(type, "Mifare S70") == 0) return vrdump::Kind::classic_4k;
    return std::nullopt;
}

// The card's proper name where the library's type name is its driver's.
const char *proper_name(picc *record) {
    const auto kind = classic_kind(record);
    return kind ? vrdump::kind_name(*kind) : picc_type(record);
}

const char *open_type_of(vrdump::Kind kind) {
    switch (kind) {
    case vrdump::Kind::classic_mini: return "mifare_s20";
    case vrdump::Kind::classic_1k: return "mifare_s50";
    case vrdump::Kind::classic_4k: return "mifare_s70";
    }
    return kIdentify;
}

}  // namespace

int error_code(int result) { return result == -1 ? errno : result; }

bool open_mifare_card(CardSession &session, std::optional<vrdump::Kind> forced) {
    session.open_type = forced ? open_type_of(*forced) : kIdentify;
    session.record = open_card_of_type(session.open_type.c_str());
    if (!session.record) {
        report_error("card", errno);
        return false;
    }
    const auto kind = forced ? forced : classic_kind(session.record);
    if (!kind) {
        std::fprintf(stderr, "not a MIFARE Classic card: %s\n", picc_type(session.record));
        return false;
    }
    session.kind = *kind;
    return true;
}

bool reopen_card(CardSession &session) {
    // Closing only unlinks the record here; a failed halt leaves it in the
    // library's list, which owns it either way.
    picc_close(session.record);
    // Opening by type resets the field itself; identification does not.
    if (session.open_type == kIdentify) reset_field();
    session.record = open_card_of_type(session.open_type.c_str());
    return session.record != nullptr;
}

namespace {

int run_card(const Options &, CommandArgs &) {
    picc *record = open_card_of_type(kIdentify);
    if (!record) return errno == kEUnsupportedType ? describe_unsupported_card() : report_error("card", errno);
    uint8_t atqa[2] = {}, uid[30] = {}, sak = 0;
    picc_getatqa(record, atqa);
    const int uid_len = picc_getuid(record, uid);
    picc_getsak(record, &sak);
    print_identity(proper_name(record), picc_type(record), picc_vendor(record), atqa, uid, uid_len, sak);
    picc_close(record);
    return 0;
}

std::string no_operands(CommandArgs &a) { return a.operands.empty() ? std::string() : "card takes no operands"; }

constexpr Command<CommandArgs> kCard = {
    "card",
    "what type A card is in the field: name, UID, ATQA, SAK",
    "",
    "Finds the ISO 14443 type A card in the reader's field and shows its type, UID, ATQA and SAK.\n",
    nullptr,
    {},
    no_operands,
    run_card,
};

}  // namespace

constinit const CommandEntry kCardCommand = entry_for<kCard>();

}  // namespace cli
