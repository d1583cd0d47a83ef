// `card`: what card is in the field, type A or type B, by its proper name;
// and the opening of cards that the card commands share.
#include "card.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli.h"
#include "command.h"
#include "mifare.h"
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
// SAK bit 6: the card speaks ISO 14443-4.
constexpr uint8_t kSakIso14443_4 = 0x20;

// nfc-list's layout: labels right-aligned on the colon, bytes in lower-case
// hex separated by two spaces, ATQA with its high byte first.
void print_bytes(const char *label, const uint8_t *bytes, int n) {
    std::printf("%19s:", label);
    for (int i = 0; i < n; ++i) std::printf("%s%02x", i ? "  " : " ", bytes[i]);
    std::printf("\n");
}

void print_type_a(const char *name, const char *driver, const uint8_t atqa[2], const uint8_t *uid, int uid_len,
                  uint8_t sak) {
    std::printf("ISO/IEC 14443A card: %s\n", name);
    if (driver) std::printf("%19s: %s\n", "driver type", driver);
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
    print_type_a(probe.picc_type ? probe.picc_type : "unknown", nullptr, probe.atqa, probe.uid, probe.uid_len,
                 probe.sak);
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

// A reader READ of one page through the raw pass-through: the 16 bytes of
// four pages from it, or nothing when the card refuses.
std::optional<std::vector<uint8_t>> raw_read(picc *record, uint8_t page) {
    const unsigned char command[] = {0x05, 0x07, page};
    unsigned char reply[4100];
    int length = sizeof command;
    if (picc_ctrl(record, PICC_CTRL_RAW_BYTES, command, reply, &length) != 0 || length != 16) return std::nullopt;
    return std::vector<uint8_t>(reply, reply + 16);
}

// The proper name of a type A card the library identified.
std::string type_a_name(picc *record, uint8_t sak) {
    if (const auto kind = classic_kind(record)) return vrdump::kind_name(*kind);
    const std::string type = picc_type(record);
    if (type == "Mifare Ultralight C" || type == "Mifare Ultralight")
        return ultralight_c(record) ? "MIFARE Ultralight C" : "MIFARE Ultralight";
    if (sak & kSakIso14443_4) return "ISO/IEC 14443-4 CPU card";
    return "ISO/IEC 14443-3 type A card";
}

// A CPU card's answer to select, from an open as one.
void print_ats() {
    reset_field();
    picc *cpu = open_card("cpu_card");
    if (!cpu) return;
    unsigned char ats[64];
    const int n = picc_getats(cpu, ats);
    if (n > 0) print_bytes("ATS", ats, n);
    picc_close(cpu);
}

int describe_type_a_card(picc *record) {
    uint8_t atqa[2] = {}, uid[30] = {}, sak = 0;
    picc_getatqa(record, atqa);
    const int uid_len = picc_getuid(record, uid);
    picc_getsak(record, &sak);
    const std::string name = type_a_name(record, sak);
    const std::string driver = std::string(picc_type(record)) + " (" + picc_vendor(record) + ")";
    print_type_a(name.c_str(), driver.c_str(), atqa, uid, uid_len, sak);
    picc_close(record);
    if (name == "ISO/IEC 14443-4 CPU card") print_ats();
    return 0;
}

// Type B: the PRC identity card (the reader reads its identifier), else a
// CID card (type B request and ATTRIB). False when neither answers.
bool describe_type_b_card() {
    if (picc *id = probe_card("id_card")) {
        unsigned char identifier[30];
        const int n = picc_getuid(id, identifier);
        std::printf("ISO/IEC 14443B card: PRC identity card\n%19s: %s (%s)\n", "driver type", picc_type(id),
                    picc_vendor(id));
        print_bytes("identifier", identifier, n);
        std::printf("(its records are read through the reader's SAM: idcard read)\n");
        picc_close(id);
        return true;
    }
    if (picc *cid = probe_card("cid_card")) {
        unsigned char atqb[30], attrib[64];
        const int n = picc_getuid(cid, atqb);
        const int m = picc_getats(cid, attrib);
        std::printf("ISO/IEC 14443B card: CID card\n%19s: %s\n", "driver type", picc_type(cid));
        // The answer to the request after its first byte: PUPI, application
        // data, protocol information.
        if (n >= 4) print_bytes("PUPI", atqb, 4);
        if (n >= 8) print_bytes("application data", atqb + 4, 4);
        if (n >= 11) print_bytes("protocol info", atqb + 8, 3);
        print_bytes("ATTRIB answer", attrib, m);
        picc_close(cid);
        return true;
    }
    return false;
}

// A second-family reader has no type A search: each of its drivers asks
// for its own kind of card (the 1K's and the 4K's request check the
// ATQA), and the identity card answers type B.
struct SecondFamilyType {
    const char *type;
    const char *name;
    const char *standard;
};
constexpr SecondFamilyType kSecondFamilyTypes[] = {
    {"mifare_s50", "MIFARE Classic 1K", "ISO/IEC 14443A"},
    {"mifare_s70", "MIFARE Classic 4K", "ISO/IEC 14443A"},
    {"mifare_ul", "MIFARE Ultralight or Ultralight C", "ISO/IEC 14443A"},
    {"id_card", "PRC identity card", "ISO/IEC 14443B"},
};

int describe_second_family_card() {
    int first_code = 0;
    for (const SecondFamilyType &t : kSecondFamilyTypes) {
        picc *record = probe_card(t.type);
        if (!record) {
            if (!first_code) first_code = errno;
            continue;
        }
        uint8_t uid[30] = {};
        const int n = picc_getuid(record, uid);
        std::printf("%s card: %s\n%19s: %s (%s)\n", t.standard, t.name, "driver type", picc_type(record),
                    picc_vendor(record));
        print_bytes(std::strcmp(t.type, "id_card") == 0 ? "identifier" : "UID (NFCID1)", uid, n > 0 ? n : 0);
        picc_close(record);
        return 0;
    }
    return report_error("card", first_code);
}

// The MIFARE Classic types a second-family reader opens without a forced
// kind: the one whose request the card answers.
constexpr const char *kSecondFamilyClassics[] = {"mifare_s50", "mifare_s70"};

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

void reset_field() {
    pcd_antenna_close();
    sys_delay_nus(kFieldOffUs);
    pcd_antenna_open();
}

// Looks for a card of one kind among several that may be there: the
// library's error line for a kind that is absent would read as a failure
// (shown with -v all the same).
picc *probe_card(const char *type) {
    picc *record = nullptr;
    int code = 0;
    {
        const QuietRefusals quiet(true);
        record = open_card(type);
        code = errno;
    }
    errno = code;
    return record;
}

picc *open_card(const char *type) {
    // The port is already open, so the path only completes the call.
    return picc_open(type, "uart", 0, PICC_SEARCH_WAKE, reader_path().c_str());
}

// An Ultralight and an Ultralight C share ATQA and SAK. A READ of page 15
// tells them apart: the Ultralight's memory ends there, so its answer runs
// on with pages 0..2, while the C goes on with pages 16..18. A C whose
// protected pages start at 16 also comes round to page 0 there; then a
// READ of page 16, which an Ultralight refuses, decides. A C that refuses
// the READ of page 15 protects it.
bool ultralight_c(picc *record) {
    const auto last = raw_read(record, 15);
    if (!last) return true;
    const auto first = raw_read(record, 0);
    if (!first) return true;
    if (!std::equal(last->begin() + 4, last->end(), first->begin())) return true;
    return raw_read(record, 16).has_value();
}

bool open_mifare_card(CardSession &session, std::optional<vrdump::Kind> forced) {
    session.open_type = forced ? open_type_of(*forced) : kIdentify;
    int code = 0;
    if (!forced && reader_family() == 2) {
        for (const char *type : kSecondFamilyClassics) {
            session.open_type = type;
            if ((session.record = probe_card(type))) break;
            if (!code) code = errno;
        }
        errno = code;
    } else {
        session.record = open_card(session.open_type.c_str());
    }
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
    session.record = open_card(session.open_type.c_str());
    return session.record != nullptr;
}

namespace {

int run_card(const Options &opt, CommandArgs &) {
    if (opt.family == 2) return describe_second_family_card();
    picc *record = probe_card(kIdentify);
    if (record) return describe_type_a_card(record);
    const int code = errno;
    if (code == kEUnsupportedType) return describe_unsupported_card();
    if (describe_type_b_card()) return 0;
    return report_error("card", code);
}

std::string no_operands(CommandArgs &a) { return a.operands.empty() ? std::string() : "card takes no operands"; }

constexpr Command<CommandArgs> kCard = {
    "card",
    "what card is in the field (type A or B): name and identifiers",
    "",
    "Finds the card in the reader's field and names it: MIFARE Classic Mini, 1K or 4K, MIFARE\n"
    "Ultralight or Ultralight C, ISO/IEC 14443-4 CPU card, CID card, PRC identity card, or the\n"
    "type the reader reports. Shows its identifiers: ATQA, UID, SAK and ATS for type A; PUPI and\n"
    "ATTRIB answer for a CID card; the identity card's identifier.\n",
    nullptr,
    {},
    no_operands,
    run_card,
};

}  // namespace

constinit const CommandEntry kCardCommand = entry_for<kCard>();

}  // namespace cli
