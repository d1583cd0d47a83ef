#include "ifd_reader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "log.h"
#include "pcd.h"
#include "picc.h"
#include "sys.h"
#include "tessil.h"
#include "usbhid.h"
#include "vantelrfid_ifd.h"
#include "virt_com.h"

namespace vrpcsc {
namespace {

// Library codes that mean the reader, not the card, failed: the port is
// closed, gone or silent, or its answers are broken.
bool is_link_failure(int code) {
    switch (code) {
    case -10: case -11: case -12: case -13: case -14: case -15: case -16:  // port, send, receive, format
    case EMESG: case EDEVINVAL: case CRCERR:
    case -45:  // no byte in time
    case -79:  // the device cannot start
    case -81:  // no answer to the link check
        return true;
    default: return false;
    }
}

// A failed library call's code: read operations return -1 and leave the
// code in errno, the others return it.
int code_of(int result) { return result == -1 ? errno : result; }

Outcome outcome_of(int result) {
    if (result == 0) return Outcome::ok;
    return is_link_failure(code_of(result)) ? Outcome::link_failed : Outcome::refused;
}

// The reader's largest answer (picc_ctrl's buffers).
constexpr std::size_t kAnswerMax = 4097;
constexpr std::size_t kFirmwareVersionSize = 16;
constexpr DWORD kFeatureRequest = VR_IFD_CTL_CODE(3400);
constexpr int kSecondFamily = 2;
// ULC page 16: user memory on an Ultralight C, past the end of an
// Ultralight, which refuses it.
constexpr uint8_t kFirstPageBeyondUltralight = 16;

const char *driver_type(CardKind kind) {
    switch (kind) {
    case CardKind::classic_mini: return "mifare_s20";
    case CardKind::classic_1k: return "mifare_s50";
    case CardKind::classic_4k: return "mifare_s70";
    case CardKind::ultralight: return "mifare_ul";
    case CardKind::ultralight_c: return "mifare_ulc";
    case CardKind::iso_dep: return "cpu_card";
    case CardKind::type_b: return "cid_card";
    case CardKind::none:
    case CardKind::unknown: break;
    }
    return nullptr;
}

// A fresh driver record of a card type; null when the library cannot
// make one.
picc *new_record(const char *type) {
    if (!type) return nullptr;
    auto *record = static_cast<picc *>(std::calloc(1, sizeof(picc)));
    if (!record) return nullptr;
    if (picc_init(record, type) != 0) {
        picc_free(record);
        return nullptr;
    }
    return record;
}

// A driver record of the card the search found, marked selected (the
// search activated it); null when the library cannot make one.
picc *record_for(CardKind kind, const picc &probe) {
    picc *record = new_record(driver_type(kind));
    if (!record) return nullptr;
    std::memcpy(record->atqa, probe.atqa, sizeof record->atqa);
    std::memcpy(record->uid, probe.uid, sizeof record->uid);
    record->uid_len = probe.uid_len;
    record->sak = probe.sak;
    record->card_status = PICC_STATUS_ACTIVE;
    return record;
}

Bytes uid_of(const picc &record) {
    const auto n = static_cast<std::size_t>(record.uid_len > 0 ? record.uid_len : 0);
    return Bytes(record.uid, record.uid + std::min(n, sizeof record.uid));
}

// The reader's type B frame command takes a frame shaped like a request
// (05, 3 bytes), an ATTRIB (1D, 9 bytes) or an HLTB (50, 5 bytes) as that
// frame, not as an APDU: it would start the card's session over or halt
// the card. APDUs of those shapes (classes 05, 1D and 50) are refused.
constexpr uint8_t kTypeBRequest = 0x05, kTypeBAttrib = 0x1D, kTypeBHalt = 0x50;
bool read_as_type_b_frame(const UCHAR *tx, DWORD n) {
    return (n == 3 && tx[0] == kTypeBRequest) || (n == 9 && tx[0] == kTypeBAttrib) || (n == 5 && tx[0] == kTypeBHalt);
}
// A type B card's answer: its response (a status word at least), then the
// reader's own byte.
constexpr int kTypeBAnswerMin = 3;

// The attachments a host has at once, as far as the driver looks.
constexpr int kMaxListed = 16;
constexpr int kFindFirstDevice = -1;

// The USB link of the attachment pcscd named: the library lists the
// attached devices of the kinds it drives with their link names; the one
// with the named ids (and bus and address, when the name gives them)
// decides the link, which opens the first attached device with its ids.
int open_usb(const UsbDeviceName &name) {
    usbhid_device_info found[kMaxListed];
    const int n = std::min(usbhid_list_devices(found, kMaxListed), kMaxListed);
    for (int i = 0; i < n; ++i) {
        const usbhid_device_info &d = found[i];
        if (d.vendor_id != name.vendor_id || d.product_id != name.product_id) continue;
        if ((name.bus && d.bus != name.bus) || (name.address && d.address != name.address)) continue;
        return virt_com_open(d.type, 0, kFindFirstDevice, kFindFirstDevice, nullptr);
    }
    return -1;
}

RESPONSECODE copy_out(const Bytes &bytes, UCHAR *out, DWORD *length) {
    if (*length < bytes.size()) return IFD_ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(out, bytes.data(), bytes.size());
    *length = static_cast<DWORD>(bytes.size());
    return IFD_SUCCESS;
}

}  // namespace

// Storage-card commands through the card framework. The card drops out of
// the selected state after refusing a command; the next one finds it
// again first.
class LibraryStorageCard : public StorageCard {
public:
    LibraryStorageCard(Reader &reader, CardKind kind) : reader_(reader), classic_(is_classic(kind)) {}

    Outcome read_unit(unsigned unit, uint8_t *out) override {
        if (const Outcome o = ready(); o != Outcome::ok) return o;
        return outcome_of(picc_read(reader_.record_, out, static_cast<uint8_t>(unit)));
    }
    Outcome write_unit(unsigned unit, const uint8_t *in) override {
        if (const Outcome o = ready(); o != Outcome::ok) return o;
        return outcome_of(picc_write(reader_.record_, in, static_cast<uint8_t>(unit)));
    }
    Outcome authenticate(unsigned block, uint8_t key_type, const uint8_t *key) override {
        if (!classic_) return Outcome::refused;
        if (const Outcome o = ready(); o != Outcome::ok) return o;
        return outcome_of(picc_auth(reader_.record_, key, key_type, static_cast<uint8_t>(block)));
    }

private:
    Outcome ready() {
        if (!reader_.record_) return Outcome::refused;
        if (reader_.record_->card_status == PICC_STATUS_ACTIVE) return Outcome::ok;
        return reader_.reactivate();
    }
    Reader &reader_;
    bool classic_;
};

Reader::Reader() = default;
Reader::~Reader() { close(); }

RESPONSECODE Reader::open(const DeviceOptions &options) {
    if (open_) return IFD_COMMUNICATION_ERROR;  // the library drives one reader per process
    // The library logs an empty field as an error, and pcscd asks for the
    // card every 400 ms: quiet unless asked for.
    if (options.log_level >= 0)
        log_set_level(options.log_level);
    else if (!std::getenv("VANTEL_RFID_LOG_LEVEL"))
        log_set_level(0);
    picc_regapi(VR_FAMILY_FIRST);
    if (options.family == kSecondFamily) picc_regapi(VR_FAMILY_SECOND);
    options_ = options;
    const RESPONSECODE rc = open_port();
    open_ = rc == IFD_SUCCESS;
    return rc;
}

RESPONSECODE Reader::open_port() {
    const int rc = options_.usb ? open_usb(*options_.usb) : virt_com_open("uart", 0, nullptr, options_.path.c_str());
    if (rc != 0) return IFD_COMMUNICATION_ERROR;
    if (options_.timeout_ms) tessil.s_com.timeout = options_.timeout_ms;
    // The field on: also proves that a reader answers on the line.
    if (pcd_antenna_open() != 0) {
        virt_com_close();
        return IFD_COMMUNICATION_ERROR;
    }
    port_lost_ = false;
    return IFD_SUCCESS;
}

// A search the reader did not answer properly: the port is opened afresh
// at the next poll, which also recovers a device that went away and came
// back (a hang-up, a serial adapter plugged in again).
RESPONSECODE Reader::after_link_failure() {
    forget_card();
    virt_com_close();
    port_lost_ = true;
    return IFD_COMMUNICATION_ERROR;
}

void Reader::close() {
    if (!open_) return;
    forget_card();
    keys_ = {};
    if (!port_lost_) virt_com_close();
    open_ = false;
}

// The reader's card statuses (-30..-39: no card, request, select, ...)
// say the field holds no card it can activate; anything else is the
// reader or the line failing (a hung-up line reads as a general error).
Reader::Found Reader::found_after(int rc) {
    if (rc == 0) return Found::card;
    const int code = code_of(rc);
    return code <= -30 && code >= -39 ? Found::empty : Found::link_failed;
}

Reader::Found Reader::search(picc &probe) {
    const int rc = pcd_search_type_A(&probe, 0);
    std::free(probe.picc_type);
    probe.picc_type = nullptr;
    return found_after(rc);
}

// The type B request and ATTRIB through the library's type B driver: the
// protocol switch and the request when the field is empty, the ATTRIB as
// well when a card answers. The found card's record, active.
Reader::Found Reader::search_type_b(picc *&found) {
    found = new_record(driver_type(CardKind::type_b));
    if (!found) return Found::empty;
    const Found f = found_after(found->anticoll(found, 0));
    if (f != Found::card) {
        picc_free(found);
        found = nullptr;
    }
    return f;
}

Outcome Reader::reactivate() {
    picc probe{};
    switch (search(probe)) {
    case Found::link_failed: return Outcome::link_failed;
    case Found::empty: return Outcome::refused;
    case Found::card: break;
    }
    if (uid_of(probe) != card_.uid) return Outcome::refused;
    record_->card_status = PICC_STATUS_ACTIVE;
    return Outcome::ok;
}

RESPONSECODE Reader::presence() {
    if (!open_) return IFD_COMMUNICATION_ERROR;
    if (port_lost_ && open_port() != IFD_SUCCESS) return IFD_COMMUNICATION_ERROR;
    if (powered_ && takes_apdus(card_.kind) && !exchange_failed_) return IFD_ICC_PRESENT;
    picc probe{};
    switch (search(probe)) {
    case Found::link_failed: return after_link_failure();
    case Found::empty: return presence_of_type_b();
    case Found::card: break;
    }
    if (card_.kind == CardKind::none || uid_of(probe) != card_.uid) {
        forget_card();
        return identify(probe);
    }
    // The same card: the search selected it again.
    if (record_) record_->card_status = PICC_STATUS_ACTIVE;
    if (session_ && session_->restore() == Outcome::link_failed) return IFD_COMMUNICATION_ERROR;
    if (powered_ && card_.kind == CardKind::iso_dep) {
        // Its protocol session ended with the search: activate it again so
        // that the next APDU reaches it.
        if (record_->anticoll(record_, 0) != 0) return IFD_ICC_PRESENT;
        exchange_failed_ = false;
    }
    return IFD_ICC_PRESENT;
}

// No type A card answered: a type B card, if there is one. The search
// activates it afresh (a session it had starts over, as after a failed
// exchange it must).
RESPONSECODE Reader::presence_of_type_b() {
    picc *found = nullptr;
    switch (search_type_b(found)) {
    case Found::link_failed: return after_link_failure();
    case Found::empty: forget_card(); return IFD_ICC_NOT_PRESENT;
    case Found::card: break;
    }
    // The driver's record holds the ATQB after its first byte as the UID
    // and the ATTRIB answer as the answer to select.
    const Bytes atqb = uid_of(*found);
    const auto answer = type_b_answer(atqb.data(), atqb.size());
    if (card_.kind == CardKind::type_b && answer && answer->pupi == card_.uid) {
        picc_free(record_);
        record_ = found;
        exchange_failed_ = false;
        return IFD_ICC_PRESENT;
    }
    forget_card();
    return identify_type_b(found, answer);
}

RESPONSECODE Reader::identify_type_b(picc *record, const std::optional<TypeBAnswer> &answer) {
    if (!answer || record->ats_len < 1) {
        picc_free(record);
        return IFD_ICC_NOT_PRESENT;
    }
    card_.kind = CardKind::type_b;
    card_.uid = answer->pupi;
    card_.historical.reset();  // no answer to select
    record_ = record;
    atr_ = type_b_atr(*answer, record->ats[0]);
    return IFD_ICC_PRESENT;
}

RESPONSECODE Reader::identify(const picc &probe) {
    card_.kind = kind_of(static_cast<uint16_t>(probe.atqa[0] | probe.atqa[1] << 8), probe.sak);
    card_.uid = uid_of(probe);
    card_.historical.reset();
    record_ = record_for(card_.kind, probe);
    if (card_.kind == CardKind::ultralight && record_ && tell_ultralight_c()) {
        picc_free(record_);
        card_.kind = CardKind::ultralight_c;
        record_ = record_for(card_.kind, probe);
    }
    if (card_.kind == CardKind::iso_dep && record_) {
        const int rc = record_->anticoll(record_, 0);
        if (rc != 0) {
            const bool link = is_link_failure(code_of(rc));
            forget_card();
            return link ? IFD_COMMUNICATION_ERROR : IFD_ICC_NOT_PRESENT;
        }
        card_.historical = ats_historical_bytes(record_->ats, static_cast<std::size_t>(std::max<int>(record_->ats_len, 0)));
    }
    atr_ = card_.kind == CardKind::iso_dep ? iso_dep_atr(card_.historical.value_or(Bytes{})) : storage_atr(card_.kind);
    return IFD_ICC_PRESENT;
}

// An Ultralight C answers a read of page 16; an Ultralight refuses it
// (so does a C whose memory is read-protected from there on: it is then
// taken for an Ultralight).
bool Reader::tell_ultralight_c() {
    picc *c = new_record(driver_type(CardKind::ultralight_c));
    if (!c) return false;
    c->card_status = PICC_STATUS_ACTIVE;
    unsigned char page[4];
    const bool answered = picc_read(c, page, kFirstPageBeyondUltralight) == 0;
    picc_free(c);
    return answered;
}

RESPONSECODE Reader::start_session() {
    if (!record_) return IFD_ERROR_POWER_ACTION;  // a card without a driver here
    exchange_failed_ = false;
    if (takes_apdus(card_.kind)) {
        // Activation (with the answer to select, or the type B request
        // and ATTRIB): the card's protocol session starts afresh, as a
        // reset does.
        const int rc = record_->anticoll(record_, 0);
        if (rc != 0) {
            const bool link = is_link_failure(code_of(rc));
            forget_card();
            return link ? IFD_COMMUNICATION_ERROR : IFD_ERROR_POWER_ACTION;
        }
        return IFD_SUCCESS;
    }
    storage_ = std::make_unique<LibraryStorageCard>(*this, card_.kind);
    session_ = std::make_unique<StorageSession>(card_.kind, *storage_, keys_);
    return IFD_SUCCESS;
}

void Reader::end_session() {
    session_.reset();
    storage_.reset();
    powered_ = false;
}

void Reader::forget_card() {
    end_session();
    if (record_) picc_free(record_);
    record_ = nullptr;
    card_ = {};
    atr_.clear();
}

RESPONSECODE Reader::power_up(UCHAR *atr, DWORD *length) {
    if (!open_) return IFD_COMMUNICATION_ERROR;
    end_session();
    if (card_.kind == CardKind::none) return IFD_ERROR_POWER_ACTION;
    const RESPONSECODE rc = start_session();
    if (rc != IFD_SUCCESS) return rc;
    powered_ = true;
    return copy_out(atr_, atr, length);
}

void Reader::power_down() { end_session(); }

RESPONSECODE Reader::atr(UCHAR *out, DWORD *length) const {
    if (atr_.empty()) return IFD_ERROR_TAG;
    return copy_out(atr_, out, length);
}

RESPONSECODE Reader::exchange_with_card(const UCHAR *tx, DWORD tx_length, Bytes &answer) {
    if (tx_length == 0 || tx_length > kAnswerMax) {
        answer = status(sw::wrong_length).bytes;
        return IFD_SUCCESS;
    }
    const bool type_b = card_.kind == CardKind::type_b;
    if (type_b && read_as_type_b_frame(tx, tx_length)) {
        answer = status(sw::no_class).bytes;
        return IFD_SUCCESS;
    }
    std::vector<unsigned char> command(tx, tx + tx_length);
    answer.assign(kAnswerMax, 0);
    int length = static_cast<int>(tx_length);
    const int rc = picc_ctrl(record_, PICC_CTRL_APDU_BYTES, command.data(), answer.data(), &length);
    if (rc != 0 || length < 0 || static_cast<std::size_t>(length) > kAnswerMax ||
        (type_b && length < kTypeBAnswerMin)) {
        exchange_failed_ = true;
        return IFD_COMMUNICATION_ERROR;
    }
    if (type_b) --length;  // the reader's own byte
    answer.resize(static_cast<std::size_t>(length));
    return IFD_SUCCESS;
}

RESPONSECODE Reader::transmit(const UCHAR *tx, DWORD tx_length, UCHAR *rx, DWORD *rx_length) {
    if (!open_ || port_lost_) return IFD_COMMUNICATION_ERROR;
    if (!powered_ || !record_) return IFD_ICC_NOT_PRESENT;
    Bytes answer;
    const bool to_card = takes_apdus(card_.kind) && !(tx_length > 0 && tx[0] == kReaderClass);
    if (to_card) {
        const RESPONSECODE rc = exchange_with_card(tx, tx_length, answer);
        if (rc != IFD_SUCCESS) return rc;
    } else {
        const Parsed parsed = parse_apdu(tx, tx_length);
        Answer a = parsed.apdu ? reader_command(*parsed.apdu, card_, session_.get()) : status(parsed.error);
        if (a.link_failed) {
            exchange_failed_ = true;
            return IFD_COMMUNICATION_ERROR;
        }
        answer = std::move(a.bytes);
    }
    return copy_out(answer, rx, rx_length);
}

RESPONSECODE Reader::control(DWORD code, const UCHAR *in, DWORD in_length, UCHAR *out, DWORD out_length,
                             DWORD *returned) {
    *returned = 0;
    if (code == kFeatureRequest) return IFD_SUCCESS;
    if (!open_ || port_lost_) return IFD_COMMUNICATION_ERROR;
    switch (code) {
    case VR_IFD_BUZZER:
    case VR_IFD_LED: {
        if (in_length != 2 || !in) return IFD_ERROR_VALUE_READ_ONLY;
        const int rc = code == VR_IFD_BUZZER ? pcd_set_buzzer(in[0], in[1]) : pcd_set_led(in[0], in[1]);
        return rc == 0 ? IFD_SUCCESS : IFD_COMMUNICATION_ERROR;
    }
    case VR_IFD_FIRMWARE_VERSION: {
        if (in_length != 0) return IFD_ERROR_VALUE_READ_ONLY;
        if (out_length < kFirmwareVersionSize) return IFD_ERROR_INSUFFICIENT_BUFFER;
        unsigned char version[kFirmwareVersionSize] = {};
        if (pcd_get_firmware_version(version) != 0) return IFD_COMMUNICATION_ERROR;
        std::memcpy(out, version, sizeof version);
        *returned = sizeof version;
        return IFD_SUCCESS;
    }
    default: return IFD_ERROR_NOT_SUPPORTED;
    }
}

}  // namespace vrpcsc
