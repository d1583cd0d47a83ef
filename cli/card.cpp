// `card`: what card is in the field, type A or type B, by its proper name;
// and the opening of cards that the card commands share.
#include "card.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli.h"
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

std::optional<vrdump::Kind> classic_kind(picc *record) {
    const char *type = picc_type(record);
    if (std::strcmp(type, "Mifare S50") == 0) return vrdump::Kind::classic_1k;
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
    const std::string type = picc_type(record);
    if (type == "Mifare S50") return "MIFARE Classic 1K";
    if (type == "Mifare S70") return "MIFARE Classic 4K";
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
    if (picc *id = open_card("id_card")) {
        unsigned char identifier[30];
        const int n = picc_getuid(id, identifier);
        std::printf("ISO/IEC 14443B card: PRC identity card\n%19s: %s (%s)\n", "driver type", picc_type(id),
                    picc_vendor(id));
        print_bytes("identifier", identifier, n);
        std::printf("(its records are read through the reader's SAM: idcard read)\n");
        picc_close(id);
        return true;
    }
    if (picc *cid = open_card("cid_card")) {
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

}  // namespace

int error_code(int result) { return result == -1 ? errno : result; }

void reset_field() {
    pcd_antenna_close();
    sys_delay_nus(kFieldOffUs);
    pcd_antenna_open();
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
    session.open_type = !forced ? kIdentify : *forced == vrdump::Kind::classic_1k ? "mifare_s50" : "mifare_s70";
    session.record = open_card(session.open_type.c_str());
    if (!session.record) {
        report_error("card", errno);
        return false;
    }
    const auto kind = classic_kind(session.record);
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

int cmd_card(const Options &, int argc, char **) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: card\n");
        return 2;
    }
    picc *record = open_card(kIdentify);
    if (record) return describe_type_a_card(record);
    const int code = errno;
    if (code == kEUnsupportedType) return describe_unsupported_card();
    if (describe_type_b_card()) return 0;
    return report_error("card", code);
}

}  // namespace cli
