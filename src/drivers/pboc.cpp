// Contactless PBOC bank cards. The card is an ISO 14443-4 type A card: the
// reader activates it in one command and carries its APDUs, exactly as for
// a CPU card. Besides that exchange the driver reads the card information
// (track 2 equivalent data, holder, identity document, electronic-cash
// balance) without running a transaction, and hands it out through control
// code 31; the table and its masked forms are in pboc_info.cpp.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>

#include "core/errors.h"
#include "cpucard.h"
#include "drivers/buffer_exchange.h"
#include "drivers/card_steps.h"
#include "drivers/card_texts.h"
#include "drivers/pboc_info.h"
#include "pboc.h"
#include "pcd.h"

namespace {

constexpr uint16_t kCmdApdu = 0x0211;

// The PBOC debit/credit application (a partial name: the card selects its
// first application that starts with it).
constexpr const char *kSelectApplication = "00A4040007A0000003330101";
// READ RECORD of SFI 1; XX takes the record number.
constexpr const char *kReadRecord = "00B2%02X0C00";
constexpr int kLastRecord = 255;
// GET DATA of the electronic-cash balance (9F79).
constexpr const char *kGetBalance = "80CA9F7909";

constexpr uint8_t kSw1Ok = 0x90;
constexpr uint8_t kSw1Error = 0x6A;

// The exchange buffer of the read slot: a length byte and what it counts.
using ExchangeBuffer = unsigned char[1 + vr::kBufferAnswerMax];

// Sends an APDU given as hexadecimal text through the read slot; the
// answer, status word included, or nothing when the exchange failed.
std::optional<std::span<const unsigned char>> send(ExchangeBuffer &buffer, const char *apdu_hex) {
    const int n = static_cast<int>(std::strlen(apdu_hex) / 2);
    if (pboc_str2data(apdu_hex, buffer + 1, vr::kBufferAnswerMax) != 0) return std::nullopt;
    buffer[0] = static_cast<unsigned char>(n);
    if (pboc_read(buffer, 0) != 0) return std::nullopt;
    return std::span<const unsigned char>(buffer + 1, buffer[0]);
}

// Decodes the data of an answer (without its status word) into the table.
void keep_answer(picc *record, std::span<const unsigned char> answer) {
    char *text = pboc_data2str(answer.data(), static_cast<int>(answer.size() - 2));
    if (!text) return;
    pboc_info_decode(record, text);
    std::free(text);
}

uint8_t sw1(std::span<const unsigned char> answer) { return answer[answer.size() - 2]; }

int read_information(picc *record) {
    char *uid = pboc_data2str(record->uid, record->uid_len);
    const int stored = uid ? pboc_info_set(record, "uuid", uid) : vr::fail(vr::kENoMem);
    std::free(uid);
    if (stored != 0) return -1;

    ExchangeBuffer buffer;
    if (!send(buffer, kSelectApplication)) return -1;  // its status word does not matter
    for (int number = 1; number <= kLastRecord; ++number) {
        char apdu[16];
        std::snprintf(apdu, sizeof apdu, kReadRecord, number);
        const auto answer = send(buffer, apdu);
        if (!answer) return -1;
        // A status word alone (or less) ends the records.
        if (answer->size() <= 2) break;
        if (sw1(*answer) == kSw1Ok) keep_answer(record, *answer);
        if (sw1(*answer) == kSw1Error) break;
    }
    const auto balance = send(buffer, kGetBalance);
    if (!balance) return -1;
    if (balance->size() >= 3 && sw1(*balance) == kSw1Ok) keep_answer(record, *balance);
    return 0;
}

// The item's text; false for an item outside the table.
bool item_text(picc *record, int item, const char **text) {
    using Getter = const char *(*)(picc *);
    static constexpr Getter kItems[] = {
        pboc_info_msd2,     pboc_info_pan,           pboc_info_panmask,    pboc_info_validdate,
        pboc_info_name,     pboc_info_nameascii,     pboc_info_nameasciimask,
        pboc_info_identype, pboc_info_idennum,       pboc_info_idennumascii, pboc_info_idennumasciimask,
    };
    if (item < 0 || item >= static_cast<int>(std::size(kItems))) return false;
    *text = kItems[item](record);
    return true;
}

int ctrl_slot(picc *record, int code, intptr_t item, intptr_t text, intptr_t, intptr_t, intptr_t, intptr_t) {
    return pboc_ctrl(record, code, static_cast<int>(item), reinterpret_cast<const char **>(text));
}

constexpr vr::QuerySteps kQuery{pboc_halt, pboc_req, pboc_anticoll};

}  // namespace

VR_API int pboc_req(void) { return 0; }
VR_API int pboc_sel(picc *, int) { return 0; }
VR_API int pboc_wupa(void) { return 0; }

VR_API int pboc_anticoll(picc *record, int unused) {
    if (!record) return vr::fail(vr::kENotSelected);
    if (pcd_set_picc_protocol('A') != 0) return -1;
    return cpucard_anticoll(record, unused);
}

VR_API int pboc_query(picc *previous, picc *record) { return vr::query_card(kQuery, previous, record); }
VR_API int pboc_halt(picc *record) { return cpucard_halt(record); }
VR_API int pboc_getuid(picc *record) { return vr::getuid_once(pboc_anticoll, record); }
VR_API int pboc_read(unsigned char *buffer, uint8_t) { return vr::exchange_in_buffer(kCmdApdu, buffer); }

VR_API int pboc_write(const unsigned char *, uint8_t) { return 0; }
VR_API int pboc_auth(const unsigned char *, uint8_t, uint8_t) { return 0; }
VR_API int pboc_chpw(const unsigned char *, uint8_t, uint8_t) { return 0; }
VR_API int pboc_chaccess(const unsigned char *, uint8_t) { return 0; }
VR_API int pboc_load(uint8_t) { return 0; }
VR_API int pboc_transfer(uint8_t) { return 0; }
VR_API int pboc_incval(const unsigned char *, uint8_t) { return 0; }
VR_API int pboc_decval(const unsigned char *, uint8_t) { return 0; }
VR_API int pboc_rdval(unsigned char *, uint8_t) { return 0; }
VR_API int pboc_wrval(const unsigned char *, uint8_t) { return 0; }

VR_API int pboc_get_info(picc *record) {
    if (!record) return vr::fail(vr::kENotSelected);
    if (!record->info && !(record->info = std::calloc(1, sizeof(pboc_info)))) return vr::fail(vr::kENoMem);
    if (read_information(record) == 0) return 0;
    // A reading that failed part-way is not kept: the next request reads
    // the card again instead of reporting what it missed as absent.
    const int code = errno;
    vr::pboc::forget_information(record);
    errno = code;
    return -1;
}

VR_API int pboc_ctrl(picc *record, int, int item, const char **text) {
    if (!record) return vr::fail(vr::kENotSelected);
    if (!text) return vr::fail(vr::kEArg);
    if (!record->info && pboc_get_info(record) != 0) return -1;
    return item_text(record, item, text) ? 0 : vr::fail(vr::kEArg);
}

// The driver's operations: activation, halt and the APDU exchange as the
// read slot, and the card information through ctrl.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr picc kPbocOps = {
    .req = pboc_req,
    .sel = pboc_sel,
    .anticoll = pboc_anticoll,
    .query = pboc_query,
    .halt = pboc_halt,
    .getuid = pboc_getuid,
    .wupa = pboc_wupa,
    .read = pboc_read,
    .ctrl = ctrl_slot,
};
#pragma GCC diagnostic pop

VR_API int pboc_init(picc *record) {
    return vr::init_card_record(record, kPbocOps, "People's Bank Of China", "PBOC CARD", "7816-4", 'A');
}
