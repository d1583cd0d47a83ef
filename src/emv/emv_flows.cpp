// The EMV/PBOC payment flows: selection, processing options, records, the
// two GENERATE ACs with the online message between them, issuer
// authentication and issuer scripts.
//
// Every answer comes from the card and is treated as untrusted: lengths
// are checked against the data they index (the TLV codec never leaves its
// buffer; the AFL, the DOLs and the format-1 answers are checked here), so
// a malformed answer ends the step instead of reading or writing past a
// buffer.
#include <pthread.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "audio.h"
#include "card/purchase.h"
#include "core/c_memory.h"
#include "core/errors.h"
#include "core/lock.h"
#include "emv.h"
#include "log.h"
#include "virt_com.h"

namespace {

using Bytes = std::span<const uint8_t>;

constexpr uint16_t kCmdApdu = 0x0211;
constexpr int kCommandSize = 2;
// The raw pass-through writes the reader's whole reply into the work
// buffer, so it holds the largest reply, not only the largest APDU.
constexpr int kWorkSize = kCommandSize + VIRT_COM_RSP_MAX + 1;

constexpr uint16_t kSwOk = 0x9000;
constexpr uint16_t kSwRecordNotFound = 0x6A83;
constexpr int kDirectoryRecords = 30;
constexpr int kSfiMax = 30;
constexpr int kLcMax = 255;
constexpr int kEncodedMax = 259;  // tag 2 + length 2 + value 255

constexpr int kErrElementMissing = -106;
constexpr int kErrNoApplication = -107;
constexpr int kErrPurchaseEnd = -108;

constexpr uint8_t kPseName[] = {'1', 'P', 'A', 'Y', '.', 'S', 'Y', 'S', '.', 'D', 'D', 'F', '0', '1'};

// The card of the current flow and the application of a purchase between
// its start and its end. The flows run under g_flow_lock (the control
// codes hold the library lock around them as well).
pthread_mutex_t g_flow_lock = PTHREAD_MUTEX_INITIALIZER;
picc *g_card = nullptr;
emv_application *g_application = nullptr;

void drop_application() {
    std::free(g_application);
    g_application = nullptr;
}

bool new_application() {
    drop_application();
    g_application = static_cast<emv_application *>(std::calloc(1, sizeof(emv_application)));
    return g_application != nullptr;
}

Bytes bytes_of(const uint8_t *p, int n) { return p && n > 0 ? Bytes(p, static_cast<std::size_t>(n)) : Bytes{}; }
Bytes value_of(const tlv_object &o) { return Bytes(o.value, o.length); }
Bytes data_of(const apdu_response &r) { return Bytes(r.data, r.len); }

// The first element with tag in data; length 0 when there is none.
tlv_object find(Bytes data, uint16_t tag) {
    tlv_object o{};
    get_tlv(data.data(), static_cast<int>(data.size()), tag, 1, &o);
    return o;
}

void report_status(uint16_t sw) {
    std::fprintf(stderr, "Invalid status word: 0x%04x %s\n", sw, get_value(sw, LIST_STATUS_WORDS));
}

// An APDU buffer being built: the header, then Lc and the data.
struct Apdu {
    uint8_t bytes[EMV_APDU_SIZE] = {};

    Apdu(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2) {
        bytes[0] = cla;
        bytes[1] = ins;
        bytes[2] = p1;
        bytes[3] = p2;
    }
    // Sets the data field (at most 255 bytes: Lc is one byte).
    bool data(Bytes d) {
        if (d.size() > kLcMax) return false;
        bytes[4] = static_cast<uint8_t>(d.size());
        std::copy(d.begin(), d.end(), bytes + 5);
        return true;
    }
    bool exchange(apdu_response &r) const { return apdu_exec(bytes, &r) == 1; }
};

// Sends the APDU; true when the card answered 90 00, else the status line
// (or nothing, for an exchange that failed) and false.
bool exchange_ok(const Apdu &a, apdu_response &r) {
    if (!a.exchange(r)) return false;
    if (r.sw == kSwOk) return true;
    report_status(r.sw);
    return false;
}

Apdu read_record(uint8_t number, uint8_t sfi) { return Apdu(0x00, 0xB2, number, static_cast<uint8_t>(sfi << 3 | 4)); }

// ---- DOLs

// Tags the terminal supplies; any other tag a DOL names is sent as zeros.
constexpr uint16_t kTerminalTags[] = {0x9F03, 0x9F37, 0x9F1A, 0x9F21, 0x9F66, 0xDF60, 0x9F4E,
                                      0x9A,   0x8A,   0x95,   0x5F2A, 0x9F02, 0x9C};

bool terminal_tag(uint16_t tag) { return std::ranges::find(kTerminalTags, tag) != std::end(kTerminalTags); }

// The value of tag with exactly length bytes: from source when it is there,
// else from pos_config when the tag is not in source; empty otherwise.
Bytes terminal_value(uint16_t tag, uint8_t length, Bytes source, tlv_object &scratch) {
    if (!terminal_tag(tag)) return {};
    if (get_tlv(source.data(), static_cast<int>(source.size()), tag, 1, &scratch) == 0)
        get_tlv(pos_config, EMV_POS_CONFIG_SIZE, tag, 1, &scratch);
    return scratch.length == length ? value_of(scratch) : Bytes{};
}

// Lays out the values a DOL asks for (zeros where there is none, or
// everywhere with zeros_only) into out; the byte count, or -1 when they do
// not fit in room. A DOL entry cut short at the end of the DOL is ignored.
int dol_values(const tlv_object &dol, Bytes source, bool zeros_only, uint8_t *out, int room) {
    const Bytes list = value_of(dol);
    int total = 0;
    for (std::size_t at = 0; at < list.size();) {
        const std::size_t tag_size = tag_is_two_bytes(list[at]) ? 2 : 1;
        if (at + tag_size + 1 > list.size()) break;
        const uint16_t tag = tag_size == 2 ? static_cast<uint16_t>(list[at] << 8 | list[at + 1]) : list[at];
        const uint8_t length = list[at + tag_size];
        at += tag_size + 1;
        if (total + length > room) return -1;
        tlv_object scratch{};
        const Bytes value = zeros_only ? Bytes{} : terminal_value(tag, length, source, scratch);
        if (value.empty()) std::memset(out + total, 0, length);
        else std::memcpy(out + total, value.data(), length);
        total += length;
    }
    return total;
}

constexpr uint16_t kPdolTag = 0x9F38;
constexpr uint8_t kCommandTemplate = 0x83;

// Lc and the data field for a DOL; a PDOL goes inside the command template
// 83. Lc, or -1 when the data would exceed one APDU.
int fill_dol(const tlv_object &dol, Bytes source, bool zeros_only, uint8_t *apdu) {
    const bool pdol = dol.tag == kPdolTag;
    const int header = pdol ? 2 : 0;
    const int total = dol_values(dol, source, zeros_only, apdu + 5 + header, kLcMax - header);
    if (total < 0) {
        log_print(LOG_LEVEL_E, "DOL %x asks for more data than one command carries", dol.tag);
        return -1;
    }
    if (pdol) {
        apdu[5] = kCommandTemplate;
        apdu[6] = static_cast<uint8_t>(total);
    }
    apdu[4] = static_cast<uint8_t>(total + header);
    return apdu[4];
}

// 83 00: the empty command template (no PDOL, or no CDOL).
constexpr uint8_t kEmptyTemplate[] = {kCommandTemplate, 0x00};

// ---- the records list handed to callers

// A growable array of objects in malloc'd memory, since the caller frees it
// with free().
class RecordList {
public:
    RecordList(tlv_object **out, int *count) : out_(out), count_(count) {
        *out_ = nullptr;
        *count_ = 0;
    }
    bool push(const tlv_object &o) {
        if (*count_ == capacity_) {
            const int grown = capacity_ ? 2 * capacity_ : 8;
            void *p = std::realloc(*out_, static_cast<std::size_t>(grown) * sizeof(tlv_object));
            if (!p) {
                log_print(LOG_LEVEL_E, "Out of memory\n");
                return false;
            }
            *out_ = static_cast<tlv_object *>(p);
            capacity_ = grown;
        }
        (*out_)[(*count_)++] = o;
        return true;
    }
    // Adds the object when it was found.
    bool push_found(const tlv_object &o) { return o.length == 0 || push(o); }

private:
    tlv_object **out_;
    int *count_;
    int capacity_ = 0;
};

// ---- the steps of reading an application

struct ReadPlan {
    bool purchase;  // the purchase's reading (DOLs filled from the input)
    Bytes input;
};

tlv_object object(uint16_t tag, Bytes value) {
    tlv_object o{};
    o.tag = tag;
    o.length = static_cast<uint8_t>(value.size());
    std::copy(value.begin(), value.end(), o.value);
    return o;
}

// GET PROCESSING OPTIONS; the AIP (82) and the AFL (94) go into the list.
bool processing_options(emv_application &app, const ReadPlan &plan, RecordList &list, tlv_object &afl) {
    Apdu gpo(0x80, 0xA8, 0x00, 0x00);
    if (app.pdol.length == 0) gpo.data(kEmptyTemplate);
    else if (fill_dol(app.pdol, plan.input, !plan.purchase, gpo.bytes) < 0) return false;
    apdu_response r{};
    if (!exchange_ok(gpo, r)) return false;

    const Bytes data = data_of(r);
    tlv_object aip{};
    if (!data.empty() && data[0] == 0x77) {
        aip = find(data, 0x82);
        afl = find(data, 0x94);
    } else if (!data.empty() && data[0] == 0x80) {
        // Format 1: the AIP's two bytes, then the AFL.
        const tlv_object whole = find(data, 0x80);
        const Bytes v = value_of(whole);
        if (v.size() >= 2) {
            aip = object(0x82, v.first(2));
            afl = object(0x94, v.subspan(2));
        }
    }
    if (aip.length != 2) {
        log_print(LOG_LEVEL_E, "processing options answer without AIP and AFL");
        return false;
    }
    afl.tag = 0x94;
    return list.push(aip) && list.push(afl);
}

// An AFL entry names SFI 1..30 and records first..last with first >= 1.
bool afl_valid(Bytes afl) {
    if (afl.size() % 4 != 0) return false;
    for (std::size_t at = 0; at < afl.size(); at += 4) {
        const int sfi = afl[at] >> 3;
        if (sfi < 1 || sfi > kSfiMax || afl[at + 1] == 0 || afl[at + 2] < afl[at + 1]) return false;
    }
    return true;
}

// READ RECORD of every record the AFL names; each record's 70 template
// goes into the list, and a purchase keeps the first CDOL1 and CDOL2.
bool read_afl_records(emv_application &app, const ReadPlan &plan, Bytes afl, RecordList &list) {
    if (!afl_valid(afl)) {
        log_print(LOG_LEVEL_E, "the AFL names records that cannot exist (%d bytes)", static_cast<int>(afl.size()));
        return false;
    }
    for (std::size_t at = 0; at < afl.size(); at += 4) {
        const uint8_t sfi = static_cast<uint8_t>(afl[at] >> 3);
        for (int number = afl[at + 1]; number <= afl[at + 2]; ++number) {
            if (plan.purchase)
                log_print(LOG_LEVEL_I, "read afl,sfi: 0x%02x, current: 0x%02x, last: 0x%02x", afl[at], number,
                          afl[at + 2]);
            apdu_response r{};
            if (!exchange_ok(read_record(static_cast<uint8_t>(number), sfi), r)) return false;
            if (!list.push_found(find(data_of(r), 0x70))) return false;
            if (!plan.purchase) continue;
            if (app.cdol1.length == 0) app.cdol1 = find(data_of(r), 0x8C);
            if (app.cdol2.length == 0) app.cdol2 = find(data_of(r), 0x8D);
        }
    }
    return true;
}

// GET DATA of the ATC, the PIN try counter, the last online ATC register
// and the log format; answers other than 90 00 are skipped.
bool get_data_objects(RecordList &list) {
    constexpr uint16_t kTags[] = {0x9F36, 0x9F17, 0x9F13, 0x9F4F};
    for (uint16_t tag : kTags) {
        const Apdu get(0x80, 0xCA, static_cast<uint8_t>(tag >> 8), static_cast<uint8_t>(tag & 0xFF));
        apdu_response r{};
        if (!get.exchange(r) || r.sw != kSwOk) continue;
        if (!list.push_found(find(data_of(r), tag))) return false;
    }
    return true;
}

// The first GENERATE AC, asking for an ARQC; its 9F27, 9F36, 9F26 and 9F10
// go into the list.
bool first_generate_ac(emv_application &app, const ReadPlan &plan, RecordList &list) {
    log_print(LOG_LEVEL_I, "Handle CDOL1 and send generate AC1");
    Apdu gen(0x80, 0xAE, 0x80, 0x00);
    if (app.cdol1.length == 0) gen.data(kEmptyTemplate);
    else if (fill_dol(app.cdol1, plan.input, false, gen.bytes) < 0) return false;
    apdu_response r{};
    if (!exchange_ok(gen, r)) return false;

    const Bytes data = data_of(r);
    if (!data.empty() && data[0] == 0x77) {
        for (uint16_t tag : {0x9F27, 0x9F36, 0x9F26, 0x9F10})
            if (!list.push_found(find(data, tag))) return false;
        return true;
    }
    // Format 1: CID, ATC (2), AC (8), then the issuer application data.
    const tlv_object whole = data.empty() || data[0] != 0x80 ? tlv_object{} : find(data, 0x80);
    const Bytes v = value_of(whole);
    if (v.size() < 11) {
        log_print(LOG_LEVEL_E, "GENERATE AC answer too short or of unknown format (%d bytes)",
                  static_cast<int>(data.size()));
        return false;
    }
    return list.push(object(0x9F27, v.first(1))) && list.push(object(0x9F36, v.subspan(1, 2))) &&
           list.push(object(0x9F26, v.subspan(3, 8))) && list.push(object(0x9F10, v.subspan(11)));
}

bool read_application(emv_application *app, tlv_object **records, int *count, const ReadPlan &plan) {
    if (!app || !records || !count) return false;
    RecordList list(records, count);
    tlv_object afl{};
    if (!processing_options(*app, plan, list, afl)) return false;
    if (!read_afl_records(*app, plan, value_of(afl), list)) return false;
    return plan.purchase ? first_generate_ac(*app, plan, list) : get_data_objects(list);
}

// ---- the purchase start

enum class From { working, terminal, pos };

struct MessageElement {
    uint16_t tag;
    From from;
    const char *missing;
};

constexpr MessageElement kPart1[] = {
    {0x5A, From::working, "0x5A   fail"},
    {0x5F24, From::working, "0x5f24 fail"},
    {0x5F34, From::working, "0x5f34 fail"},
};
constexpr MessageElement kPart2[] = {
    {0x82, From::working, "0x82 fail"},     {0x9F36, From::working, "0x9F36 fail"},
    {0x9F26, From::working, "0x9F26 fail"}, {0x9F27, From::working, "0x9F27 fail"},
    {0x9F33, From::working, "0x9F33 fail"}, {0x95, From::terminal, "0x95 fail"},
    {0x9F37, From::pos, "0x9F37 fail"},     {0x9F02, From::terminal, "0x9F02 fail"},
    {0x9F03, From::working, "0x9F03 fail"}, {0x9F1A, From::working, "0x9F1A fail"},
    {0x5F2A, From::working, "0x5F2A fail"}, {0x9A, From::terminal, "0x9A fail"},
    {0x9C, From::terminal, "0x9C fail"},    {0x9F10, From::working, "0x9F10 fail"},
};

struct Sources {
    Bytes working;
    Bytes terminal;
};

// Appends a big-endian length and the encoded elements of one part; false
// (with the element's line logged) when one is missing.
bool append_part(std::vector<uint8_t> &message, std::span<const MessageElement> part, const Sources &s) {
    const std::size_t length_at = message.size();
    message.resize(length_at + 2);
    for (const MessageElement &e : part) {
        const Bytes from = e.from == From::working    ? s.working
                           : e.from == From::terminal ? s.terminal
                                                      : Bytes(pos_config, EMV_POS_CONFIG_SIZE);
        uint8_t encoded[kEncodedMax];
        const int n = get_tlv_data(from.data(), static_cast<int>(from.size()), e.tag, 1, encoded);
        if (n == 0) {
            log_print(LOG_LEVEL_E, "%s", e.missing);
            return false;
        }
        message.insert(message.end(), encoded, encoded + n);
    }
    const std::size_t n = message.size() - length_at - 2;
    message[length_at] = static_cast<uint8_t>(n >> 8);
    message[length_at + 1] = static_cast<uint8_t>(n & 0xFF);
    return true;
}

// The encoded elements 95, 9F02, 9A and 9C of the input, those present.
void keep_terminal_data(emv_application &app, Bytes input) {
    for (uint16_t tag : {0x95, 0x9F02, 0x9A, 0x9C}) {
        uint8_t encoded[kEncodedMax];
        const int n = get_tlv_data(input.data(), static_cast<int>(input.size()), tag, 1, encoded);
        if (n == 0 || app.terminal_data_length + n > EMV_TERMINAL_DATA_SIZE) continue;
        std::memcpy(app.terminal_data + app.terminal_data_length, encoded, static_cast<std::size_t>(n));
        app.terminal_data_length = static_cast<uint16_t>(app.terminal_data_length + n);
    }
}

// The records, encoded one after the other, then pos_config: where the
// message's elements are looked up.
std::vector<uint8_t> working_copy(const tlv_object *records, int count) {
    std::vector<uint8_t> working;
    for (int i = 0; i < count; ++i) {
        uint8_t encoded[kEncodedMax];
        const int n = copy_tlv(encoded, &records[i]);
        working.insert(working.end(), encoded, encoded + n);
    }
    working.insert(working.end(), pos_config, pos_config + EMV_POS_CONFIG_SIZE);
    return working;
}

int purchase_start(picc *card, const uint8_t *in, int length, uint8_t *out, uint16_t *out_length) {
    if (!card) return vr::fail(vr::kENotSelected);
    if (!out || !out_length || length < 0 || (!in && length > 0)) return vr::fail(vr::kEArg);
    g_card = card;
    if (!new_application()) return vr::fail(vr::kENoMem);
    emv_application &app = *g_application;
    // out may be the input: work on a copy.
    const std::vector<uint8_t> input(in, in + length);
    keep_terminal_data(app, input);

    if (!get_application(&app) || !select_application(&app)) {
        drop_application();
        return vr::fail(kErrNoApplication);
    }
    tlv_object *raw = nullptr;
    int count = 0;
    get_records_purchase(&app, &raw, &count, input.data(), length);
    const vr::CMemory<tlv_object> records(raw);
    log_print(LOG_LEVEL_I, "get_records_purchase: records_length 0x%x, 0x%x", count, 4);

    const std::vector<uint8_t> working = working_copy(records.get(), count);
    const Sources sources{working, Bytes(app.terminal_data, app.terminal_data_length)};
    std::vector<uint8_t> message;
    if (!append_part(message, kPart1, sources) || !append_part(message, kPart2, sources)) {
        drop_application();
        return vr::fail(kErrElementMissing);
    }
    if (message.size() > EMV_OUT_SIZE) {
        log_print(LOG_LEVEL_E, "buf overrun %x, %x", static_cast<unsigned>(message.size()), EMV_OUT_SIZE);
        drop_application();
        return vr::fail(kErrElementMissing);
    }
    std::memcpy(out, message.data(), message.size());
    *out_length = static_cast<uint16_t>(message.size());
    if (message.size() <= EMV_ONLINE_MESSAGE_SIZE) {
        std::memcpy(app.online_message, message.data(), message.size());
        app.online_message_length = static_cast<uint16_t>(message.size());
    } else {
        log_print(LOG_LEVEL_E, "buf overrun %x, %x", static_cast<unsigned>(message.size()), EMV_ONLINE_MESSAGE_SIZE);
    }
    return 0;
}

// ---- the purchase end

bool has_element(Bytes data, uint16_t tag) {
    uint8_t encoded[kEncodedMax];
    return get_tlv_data(data.data(), static_cast<int>(data.size()), tag, 1, encoded) > 0;
}

// EXTERNAL AUTHENTICATE with the issuer authentication data (91).
int issuer_authentication(Bytes issuer) {
    const tlv_object auth = find(issuer, 0x91);
    if (auth.length == 0) return 0;
    Apdu ext(0x00, 0x82, 0x00, 0x00);
    ext.data(value_of(auth));
    apdu_response r{};
    if (!ext.exchange(r)) {
        log_print(LOG_LEVEL_E, "external_auth command fail");
        return vr::fail(kErrPurchaseEnd);
    }
    if (r.sw != kSwOk) {
        log_print(LOG_LEVEL_E, "external_auth status_word err");
        return vr::fail(kErrPurchaseEnd);
    }
    return 0;
}

bool script_command_done(bool exchanged, const apdu_response &r) {
    const int sw1 = r.sw >> 8;
    return exchanged && (r.sw == kSwOk || sw1 == 0x62 || sw1 == 0x63);
}

constexpr uint8_t kScriptNotPerformed = 0x00;
constexpr uint8_t kScriptFailed = 0x10;
constexpr uint8_t kScriptSuccessful = 0x20;

// Runs the issuer script of a 72 template: its identifier (9F18) opens the
// value, the commands (86) follow and go to the card in order until one
// fails. The result byte says whether the script ran, and when it failed,
// which command (1..14, 15 for any later one) did.
std::array<uint8_t, 5> run_issuer_script(Bytes script) {
    std::array<uint8_t, 5> result{};
    Bytes commands = script;
    const tlv_object identifier = find(script, 0x9F18);
    std::copy_n(identifier.value, std::min<int>(identifier.length, 4), result.begin() + 1);
    // The commands follow the identifier when it opens the script.
    if (identifier.length > 0 && get_tag(script.data(), static_cast<int>(script.size())) == 0x9F18)
        commands = script.subspan(std::min<std::size_t>(script.size(), 3u + identifier.length));

    int done = 0;
    bool failed = false;
    for (int occurrence = 1;; ++occurrence) {
        tlv_object command{};
        if (get_tlv(commands.data(), static_cast<int>(commands.size()), 0x86, occurrence, &command) == 0) break;
        apdu_response r{};
        const bool exchanged = apduWithBytesEx(g_card, command.value, command.length, &r) == 1;
        if (!script_command_done(exchanged, r)) {
            failed = true;
            break;
        }
        ++done;
    }
    if (failed) result[0] = static_cast<uint8_t>(kScriptFailed | std::min(done + 1, 15));
    else result[0] = done == 0 ? kScriptNotPerformed : kScriptSuccessful;
    return result;
}

int purchase_end(picc *card, const uint8_t *in, int length, uint8_t *out, uint16_t *out_length) {
    if (!card) {
        drop_application();
        return vr::fail(vr::kENotSelected);
    }
    if (!out || !out_length || length < 0 || (!in && length > 0)) return vr::fail(vr::kEArg);
    g_card = card;
    if (!g_application) return vr::fail(kErrPurchaseEnd);
    emv_application &app = *g_application;
    // out may be the issuer answer, which is still needed after out is
    // written: work on a copy.
    const std::vector<uint8_t> issuer(in, in + length);

    if (issuer_authentication(issuer) != 0) return -1;
    if (has_element(issuer, 0x71)) {
        log_print(LOG_LEVEL_E, "71 tag is not supported in the version");
        return vr::fail(kErrPurchaseEnd);
    }
    log_print(LOG_LEVEL_I, "Handle CDOL2 and send generate AC2");
    Apdu gen(0x80, 0xAE, 0x80, 0x00);
    if (app.cdol2.length == 0) gen.data(kEmptyTemplate);
    else if (fill_dol(app.cdol2, issuer, false, gen.bytes) < 0) return vr::fail(kErrPurchaseEnd);
    apdu_response r{};
    if (!gen.exchange(r)) return vr::fail(kErrPurchaseEnd);
    if (r.sw != kSwOk) {
        report_status(r.sw);
        drop_application();
        return vr::fail(kErrPurchaseEnd);
    }
    std::memcpy(out, r.data, r.len);
    *out_length = r.len;

    const tlv_object script = find(issuer, 0x72);
    if (script.length == 0) {
        drop_application();
        return 0;
    }
    const auto result = run_issuer_script(value_of(script));
    app.script_result = object(0xDF31, result);
    // The online message of the start, then the encoded script result.
    std::memcpy(out, app.online_message, app.online_message_length);
    const int n = copy_tlv(out + app.online_message_length, &app.script_result);
    *out_length = static_cast<uint16_t>(app.online_message_length + n);
    drop_application();
    return 0;
}

}  // namespace

vr::PurchaseSteps vr::purchase_steps() { return {pboc_emv_purchase_init, pboc_emv_purchase_end}; }

extern "C" {

VR_API int apduWithBytesEx(picc *, const uint8_t *apdu, int length, apdu_response *response) {
    if (!apdu || !response || length < 1 || length > EMV_APDU_SIZE) {
        errno = vr::kEArg;
        return 0;
    }
    vr::CMemory<uint8_t> work(static_cast<uint8_t *>(std::malloc(kWorkSize)));
    if (!work) {
        errno = vr::kENoMem;
        return 0;
    }
    uint8_t *w = work.get();
    w[0] = kCmdApdu & 0xFF;
    w[1] = kCmdApdu >> 8;
    std::memcpy(w + kCommandSize, apdu, static_cast<std::size_t>(length));
    int n = length + kCommandSize;
    if (audio_raw_cmd(w, &n) != 0) {
        log_print(LOG_LEVEL_E, "audio_raw_cmd err");
        return 0;
    }
    // The status word closes the answer; the data before it must fit what
    // the response's length byte counts.
    if (n < 2 || n - 2 > EMV_ANSWER_DATA_MAX) {
        log_print(LOG_LEVEL_E, "card answer of %d bytes is malformed", n);
        errno = vr::kEMsgWrong;
        return 0;
    }
    response->sw = static_cast<uint16_t>(w[n - 2] << 8 | w[n - 1]);
    response->len = static_cast<uint8_t>(n - 2);
    std::memcpy(response->data, w, static_cast<std::size_t>(n - 2));
    return 1;
}

VR_API int apdu_exec(const uint8_t *apdu, apdu_response *response) {
    if (!apdu) return 0;
    return apduWithBytesEx(g_card, apdu, apdu[4] + 5, response);
}

VR_API int get_application(emv_application *app) {
    if (!app) return 0;
    Apdu select(0x00, 0xA4, 0x04, 0x00);
    select.data(kPseName);
    apdu_response r{};
    if (!exchange_ok(select, r)) return 0;
    const tlv_object sfi = find(data_of(r), 0x88);
    if (sfi.length == 0 || sfi.value[0] < 1 || sfi.value[0] > kSfiMax) {
        log_print(LOG_LEVEL_E, "Short File Identifier (SFI) not found\n");
        return 0;
    }
    for (int number = 1; number <= kDirectoryRecords; ++number) {
        if (!read_record(static_cast<uint8_t>(number), sfi.value[0]).exchange(r)) break;
        if (r.sw == kSwRecordNotFound) break;
        const Bytes record = data_of(r);
        if (r.sw != kSwOk || find(record, 0x61).length == 0) continue;
        const tlv_object aid = find(record, 0x4F);
        const tlv_object label = find(record, 0x50);
        if (aid.length == 0 || label.length == 0) continue;
        app->aid = aid;
        app->label = label;
        const tlv_object preferred = find(record, 0x9F12);
        const tlv_object priority = find(record, 0x87);
        if (preferred.length) app->preferred_name = preferred;
        if (priority.length) app->priority = priority;
        return 1;
    }
    log_print(LOG_LEVEL_E, "No application found\n");
    return 0;
}

VR_API int select_application(emv_application *app) {
    if (!app) return 0;
    Apdu select(0x00, 0xA4, 0x04, 0x00);
    select.data(value_of(app->aid));
    apdu_response r{};
    if (!exchange_ok(select, r)) return 0;
    const tlv_object name = find(data_of(r), 0x84);
    if (name.length != app->aid.length || !std::equal(name.value, name.value + name.length, app->aid.value)) {
        log_print(LOG_LEVEL_E, "Application selection failed\n");
        return 0;
    }
    app->pdol = find(data_of(r), kPdolTag);
    return 1;
}

VR_API int fill_xDOL(const tlv_object *dol, const uint8_t *source, int source_length, uint8_t *apdu) {
    if (!dol || !apdu) return -1;
    return fill_dol(*dol, bytes_of(source, source_length), false, apdu);
}

VR_API int get_records(emv_application *app, tlv_object **records, int *count) {
    return read_application(app, records, count, ReadPlan{false, {}}) ? 1 : 0;
}

VR_API int get_records_purchase(emv_application *app, tlv_object **records, int *count, const uint8_t *input,
                                int input_length) {
    return read_application(app, records, count, ReadPlan{true, bytes_of(input, input_length)}) ? 1 : 0;
}

VR_API int pboc_emv_purchase_init(picc *card, const uint8_t *input, int length, uint8_t *out,
                                  uint16_t *out_length) {
    vr::MutexHold hold(&g_flow_lock);
    return purchase_start(card, input, length, out, out_length);
}

VR_API int pboc_emv_purchase_end(picc *card, const uint8_t *answer, int length, uint8_t *out,
                                 uint16_t *out_length) {
    vr::MutexHold hold(&g_flow_lock);
    return purchase_end(card, answer, length, out, out_length);
}

VR_API int pboc_emv_info(picc *card) {
    vr::MutexHold hold(&g_flow_lock);
    if (!card) return vr::fail(vr::kENotSelected);
    g_card = card;
    if (!new_application()) return 0;
    tlv_object *raw = nullptr;
    int count = 0;
    if (get_application(g_application) && select_application(g_application))
        get_records(g_application, &raw, &count);
    std::free(raw);
    drop_application();
    return 0;
}

}  // extern "C"
