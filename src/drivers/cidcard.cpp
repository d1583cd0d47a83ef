// Type B ID cards. The reader carries every frame to the card with one
// command (0x0303): the type B request, a fixed ATTRIB, and afterwards the
// APDUs. Each answer comes back with one byte of the reader's own after
// the card's bytes. The driver reads the card's files by name into
// hexadecimal text. Memory operations have no meaning for these cards:
// their slots stay empty, so that a write is refused instead of reported
// as done.
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "audio.h"
#include "core/c_memory.h"
#include "core/errors.h"
#include "cpucard.h"
#include "drivers/buffer_exchange.h"
#include "drivers/card_steps.h"
#include "drivers/card_texts.h"
#include "link/reader_command.h"
#include "log.h"
#include "pboc_text.h"
#include "pcd.h"
#include "virt_com.h"

namespace {

constexpr uint16_t kCmdTypeB = 0x0303;
constexpr uint8_t kRequestB[] = {0x05, 0x00, 0x00};  // REQB, AFI 0, one slot
// ATTRIB for identifier 0 (the card's PUPI), 256-byte frames, ISO 14443-4,
// CID 8.
constexpr uint8_t kAttrib[] = {0x1D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x01, 0x08};
constexpr std::size_t kRequestAnswer = 13;
constexpr std::size_t kAttribAnswer = 2;
constexpr int kUidLen = 13;

// The raw command: two header bytes, then the APDU. The buffer also takes
// the reader's answer in its place, which may be as long as any reply.
constexpr int kApduMax = 2046;
constexpr int kWorkSize = VIRT_COM_RSP_MAX + 2;
// Status word and the reader's trailing byte after the card's data.
constexpr int kAnswerTail = 3;
constexpr uint16_t kSwOk = 0x9000;

// READ BINARY answers carry at most this much, however much is asked.
constexpr int kChunkMax = 255;
// Offsets above 0x7FFF would set the short-file-identifier bit of P1.
constexpr int kFileMax = 0x7FFF;

struct CidFile {
    const char *name;
    uint16_t id;
    int chunk;
    int total;
};
constexpr CidFile kFiles[] = {
    {"6002", 0x6002, 32, 32},    {"6011", 0x6011, 80, 214},   {"6012", 0x6012, 80, 256},
    {"6013", 0x6013, 80, 1024},  {"6021", 0x6021, 80, 1024},
};
constexpr std::size_t kNameLen = 4;

const CidFile *file_named(const char *name) {
    if (!name) return nullptr;
    for (const CidFile &f : kFiles)
        if (strncasecmp(name, f.name, kNameLen) == 0) return &f;
    return nullptr;
}

int malformed(const char *format, int value) {
    log_print(1, format, value);
    return vr::fail(vr::kEMsgWrong);
}

// One type B frame to the card; the answer must have `expected` bytes.
int type_b_frame(const uint8_t *bytes, std::size_t n, std::size_t expected, const char *err_format,
                 vr::ReaderCommand &c) {
    c.append(bytes, static_cast<int>(n));
    const int rc = c.send();
    if (rc != 0) return rc;
    if (c.reply().size() != expected) return malformed(err_format, static_cast<int>(c.reply().size()));
    return 0;
}

// Splits the reader's answer to an APDU: data, status word, the reader's
// trailing byte. A three-byte answer is a bare status word.
bool split_answer(const unsigned char *answer, int r, cid_apdu_response *response) {
    if (r < kAnswerTail || r - kAnswerTail > std::min(CID_APDU_DATA_MAX, 255)) return false;
    const int data = r - kAnswerTail;
    response->sw = static_cast<uint16_t>(answer[r - 3] << 8 | answer[r - 2]);
    std::memcpy(response->data, answer, static_cast<std::size_t>(data));
    response->len = static_cast<uint8_t>(data);
    return true;
}

int read_binary(picc *record, unsigned char *out, int chunk, int total, int *count, const char *who) {
    if (!out || !count || chunk < 1 || chunk > kChunkMax || total < 0 || total > kFileMax + 1) {
        errno = vr::kEArg;
        return 0;
    }
    *count = 0;
    for (int offset = 0; offset < total;) {
        const int want = std::min(chunk, total - offset);
        const unsigned char apdu[] = {0x80, 0xB0, static_cast<unsigned char>(offset >> 8),
                                      static_cast<unsigned char>(offset & 0xFF), static_cast<unsigned char>(want)};
        cid_apdu_response r{};
        if (cidApduWithBytesEx(record, apdu, sizeof apdu, &r) != 1) return 0;
        if (r.sw != kSwOk) {
            log_print(1, "%s err:%x,%x", who, r.len, r.sw);
            errno = vr::kERead;
            return 0;
        }
        // An empty piece ends the file early; a piece longer than asked
        // would run past the caller's buffer.
        if (r.len == 0) return 0;
        if (r.len > want) {
            errno = vr::kEMsgWrong;
            return 0;
        }
        std::memcpy(out + offset, r.data, r.len);
        *count += r.len;
        offset += r.len;
    }
    return 1;
}

int cid_ctrl_slot(picc *record, int code, intptr_t name, intptr_t out, intptr_t length, intptr_t, intptr_t,
                  intptr_t) {
    return cidcard_ctrl(record, code, reinterpret_cast<const char *>(name), reinterpret_cast<char *>(out),
                        reinterpret_cast<int *>(length));
}

constexpr vr::QuerySteps kQuery{cidcard_halt, cidcard_req, cidcard_anticoll};

}  // namespace

VR_API int cidcard_req(void) { return 0; }
VR_API int cidcard_wupa(void) { return 0; }
VR_API int cidcard_sel(picc *record, int unused) { return vr::mark_selected(record, unused); }

VR_API int cidcard_halt(picc *record) {
    if (record) record->card_status = PICC_STATUS_HALTED;
    return 0;
}

VR_API int cidcard_anticoll(picc *record, int) {
    if (!record) return vr::fail(vr::kENotSelected);
    if (pcd_set_picc_protocol('B') != 0) return -1;
    vr::ReaderCommand request(kCmdTypeB);
    int rc = type_b_frame(kRequestB, sizeof kRequestB, kRequestAnswer, "err uid len: %d ", request);
    if (rc != 0) return rc;
    // The 12 bytes after the answer's first byte, and a zero to make up
    // the 13 the record counts.
    std::memset(record->uid, 0, kUidLen);
    std::memcpy(record->uid, request.reply().data() + 1, kRequestAnswer - 1);
    record->uid_len = kUidLen;
    vr::ReaderCommand attrib(kCmdTypeB);
    rc = type_b_frame(kAttrib, sizeof kAttrib, kAttribAnswer, "err ats len: %d ", attrib);
    if (rc != 0) return rc;
    std::memcpy(record->ats, attrib.reply().data(), kAttribAnswer);
    record->ats_len = static_cast<int8_t>(kAttribAnswer);
    record->card_status = PICC_STATUS_ACTIVE;
    return 0;
}

VR_API int cidcard_query(picc *previous, picc *record) { return vr::query_card(kQuery, previous, record); }
VR_API int cidcard_getuid(picc *record) { return vr::getuid_once(cidcard_anticoll, record); }
VR_API int cidcard_read(unsigned char *buffer, uint8_t) { return vr::exchange_in_buffer(kCmdTypeB, buffer); }

VR_API int cidApduWithBytesEx(picc *, const unsigned char *apdu, int n, cid_apdu_response *response) {
    if (!apdu || !response || n < 1 || n > kApduMax) {
        errno = vr::kEArg;
        return 0;
    }
    std::unique_ptr<unsigned char[]> work(new (std::nothrow) unsigned char[kWorkSize]);
    if (!work) return 0;
    work[0] = kCmdTypeB & 0xFF;
    work[1] = kCmdTypeB >> 8;
    std::memcpy(work.get() + 2, apdu, static_cast<std::size_t>(n));
    int r = n + 2;
    if (audio_raw_cmd(work.get(), &r) != 0) {
        log_print(1, "audio_raw_cmd err");
        return 0;
    }
    const unsigned char *a = work.get();
    log_print(2, "%s:%x,%x,%x,%x,%x ", "cidApduWithBytesEx", r, r > 0 ? a[0] : 0, r > 1 ? a[1] : 0,
              r > 2 ? a[2] : 0, r > 3 ? a[3] : 0);
    if (!split_answer(a, r, response)) {
        log_print(1, "cidApduWithBytesEx: answer of %d bytes is malformed", r);
        errno = vr::kEMsgWrong;
        return 0;
    }
    return 1;
}

VR_API int selectFile(picc *record, uint16_t file_id) {
    const unsigned char apdu[] = {0x00, 0xA4, 0x00, 0x00, 0x02, static_cast<unsigned char>(file_id >> 8),
                                  static_cast<unsigned char>(file_id & 0xFF)};
    cid_apdu_response r{};
    if (cidApduWithBytesEx(record, apdu, sizeof apdu, &r) != 1) return 0;
    if (r.sw != kSwOk) {
        errno = vr::kERead;
        return 0;
    }
    return 1;
}

VR_API int readBin(picc *record, unsigned char *out, int chunk, int total, int *count) {
    return read_binary(record, out, chunk, total, count, "readBin");
}

VR_API int readBinWithoutResp(picc *record, unsigned char *out, int chunk, int total, int *count) {
    return read_binary(record, out, chunk, total, count, "readBinWithoutResp");
}

VR_API int cidcard_ctrl(picc *record, int, const char *name, char *out, int *length) {
    const bool named = name && name[0];
    log_print(2, "cidcard_ctrl %s:%x, %x, %x", "cidcard_ctrl", name ? name[0] : 0, named ? name[1] : 0,
              length ? *length : 0);
    if (!record) return vr::fail(vr::kENotSelected);
    // Nothing is read for a name outside the table.
    const CidFile *file = file_named(name);
    if (!file || !out || !length) return vr::fail(vr::kEArg);
    auto *bytes = reinterpret_cast<unsigned char *>(out);
    if (!selectFile(record, file->id)) return -1;
    if (!readBin(record, bytes, file->chunk, file->total, length)) {
        if (file->id == 0x6002)
            log_print(1, "%s err::%x,%x,%x", "cidcard_ctrl", *length, bytes[0], bytes[1]);
        return -1;
    }
    log_print(2, "%s:%x,%x,%x", "cidcard_ctrl", *length, bytes[0], bytes[1]);
    vr::CMemory<char> text(pboc_data2str(bytes, *length));
    if (!text) return vr::kEGeneral;
    std::memcpy(out, text.get(), static_cast<std::size_t>(*length) * 2 + 1);
    *length *= 2;
    return 0;
}

// The driver's operations: a type B card carrying APDUs, authentication
// left to them, and its files read by name through the control slot.
// Slots not named stay empty.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr picc kCidCardOps = {
    .req = cidcard_req,
    .sel = cidcard_sel,
    .anticoll = cidcard_anticoll,
    .query = cidcard_query,
    .halt = cidcard_halt,
    .getuid = cidcard_getuid,
    .wupa = cidcard_wupa,
    .read = cidcard_read,
    .auth = vr::auth_in_apdus,
    .ctrl = cid_ctrl_slot,
};
#pragma GCC diagnostic pop

VR_API int cidcard_init(picc *record) {
    return vr::init_card_record(record, kCidCardOps, "NULL", "CID CARD", "ISO14443-B", 'B');
}
