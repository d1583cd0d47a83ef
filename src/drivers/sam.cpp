// The SAM message layer: request frames, the checks of the SAM's answers,
// its status bytes, and the operations the id_sam driver chains (reset,
// self-check, search, select and the reads of the identity records). The
// reader forwards each frame to its SAM as the data of a reader command
// and returns the SAM's answer frame as the reply.
#include <cerrno>
#include <cstring>

#include "core/errors.h"
#include "identity.h"
#include "link/reader_command.h"
#include "log.h"
#include "sys.h"
#include "virt_com.h"

namespace {

constexpr uint8_t kPreamble[] = {0xAA, 0xAA, 0xAA, 0x96, 0x69};
constexpr int kPreambleLen = sizeof kPreamble;
constexpr int kLengthAt = kPreambleLen;  // 2 bytes, big-endian
constexpr int kBodyAt = kLengthAt + 2;   // command byte, or SW1 SW2 SW3
// A request: preamble, length, command byte, data, check byte.
constexpr int kRequestOverhead = kBodyAt + 1 + 1;
// An answer: preamble, length, three status bytes, data, check byte.
constexpr int kAnswerOverhead = kBodyAt + 3 + 1;
// What the reader leaves out of the short fingerprint answer: the text
// and photo records at their full size.
constexpr int kShortcutRemoved = SAM_TEXT_MAX + SAM_PHOTO_MAX;

// Reader commands that carry SAM frames.
constexpr uint16_t kCmdSam = 0x0305;
constexpr uint16_t kCmdSamProtocol6 = 0x008B;
constexpr uint16_t kCmdSamFingerOnly = 0x0306;

constexpr const char *kFailedLine = "%s: failed, error: %d\n";

struct SamCommand {
    const char *name;
    uint8_t command;
    uint8_t parameter;
    uint16_t reader_command;
    int timeout_ms;
    const char *failure_line = kFailedLine;  // when the exchange fails
};
constexpr SamCommand kReset{"sam_reset", 0x10, 0xFF, kCmdSam, 1000, "%s: sam reset failed, error: %d\n"};
constexpr SamCommand kCheck{"sam_check", 0x11, 0xFF, kCmdSam, 1000};
constexpr SamCommand kSearch{"sam_search_identity", 0x20, 0x01, kCmdSam, 1000};
constexpr SamCommand kSelect{"sam_select_identity", 0x20, 0x02, kCmdSam, 1000};
constexpr SamCommand kReadTextPhoto{"sam_read_text_photo", 0x30, 0x01, kCmdSam, 5000,
                                    "%s: read sam ack failed, error: %d\n"};
constexpr SamCommand kReadAll{"sam_read_text_photo_finger", 0x30, 0x10, kCmdSam, 5000};
constexpr SamCommand kReadExtraAddress{"sam_read_extra_address", 0x30, 0x03, kCmdSam, 3000};
constexpr SamCommand kReadFinger{"sam_read_finger", 0x30, 0x10, kCmdSamFingerOnly, 5000};
constexpr SamCommand kReadAllShortcut{"sam_read_text_photo_finger_shortcut", 0x30, 0x10, kCmdSamFingerOnly,
                                      5000};

struct ReadPlan {
    int length_fields;  // 2 (text, photo) or 3 (and the fingerprint)
    bool finger_only;   // only the fingerprint length is examined
};

// The reader's short fingerprint answer: only the fingerprint follows the
// record lengths.
bool is_shortcut(const SamCommand &cmd) { return cmd.reader_command == kCmdSamFingerOnly; }

// Status SW3 to result code. `any_sw12`: the row applies whatever SW1 and
// SW2 hold; the others need both zero.
struct StatusRow {
    uint8_t sw3;
    int code;
    bool any_sw12;
};
constexpr StatusRow kStatusRows[] = {
    {0x90, 0, false},    {0x9F, 0, false},    {0x10, -127, false}, {0x11, -126, false},
    {0x21, -128, false}, {0x23, -125, false}, {0x24, -99, false},  {0x31, -129, true},
    {0x32, -130, true},  {0x33, -131, false}, {0x37, -132, false}, {0x3F, -133, false},
    {0x40, -134, true},  {0x41, -135, true},  {0x47, -136, true},  {0x60, -137, false},
    {0x66, -138, false}, {0x80, -30, false},  {0x81, -37, true},   {0x91, -139, false},
};

int be16(const uint8_t *p) { return p[0] << 8 | p[1]; }

uint8_t xor_of(const uint8_t *bytes, int n) {
    uint8_t x = 0;
    for (int i = 0; i < n; ++i) x ^= bytes[i];
    return x;
}

// The checks of an answer frame, in order; `removed` is what the reader
// left out of the data since the SAM counted it (0, or the text and photo
// of the short fingerprint answer). Nothing is copied unless all pass.
int take_answer_apart(const char *who, const uint8_t *frame, int length, sam_answer *out, int removed) {
    if (!frame || !out || length < 0) {
        log_print(1, "%s: argument is wrong\n", who);
        return vr::fail(vr::kEArg);
    }
    if (length < kAnswerOverhead || std::memcmp(frame, kPreamble, kPreambleLen) != 0) {
        log_print(1, "%s: message is wrong, frame header is wrong\n", who);
        return vr::fail(vr::kEMsgWrong);
    }
    if (xor_of(frame + kLengthAt, length - 1 - kLengthAt) != frame[length - 1]) {
        log_print(1, "%s: message bcc is wrong\n", who);
        return vr::fail(vr::kEMsgWrong);
    }
    const int state = sam_check_state(frame + kBodyAt);
    if (state < 0) {
        log_print(1, "%s: sam operate failed, error: %s\n", who, sys_strerror_ch(state));
        return vr::fail(state);
    }
    // The length field counts the status bytes, the data and the check
    // byte: the frame less its preamble and the field itself.
    const int counted = be16(frame + kLengthAt);
    if (counted != length - kBodyAt + removed) {
        log_print(1, "%s: message length is wrong, msglen: %d, length: %d\n", who, counted, length);
        return vr::fail(vr::kEMsgWrong);
    }
    const int data = length - kAnswerOverhead;
    if (data > SAM_DATA_MAX) {
        log_print(1, "%s: argument is wrong\n", who);
        return vr::fail(vr::kEArg);
    }
    out->sw1 = frame[kBodyAt];
    out->sw2 = frame[kBodyAt + 1];
    out->sw3 = frame[kBodyAt + 2];
    std::memcpy(out->data, frame + kBodyAt + 3, static_cast<std::size_t>(data));
    out->len = data;
    return 0;
}

// Sends one SAM command (command byte and parameter) and leaves the
// reader's reply in c: 0, or -1 after logging the failure (errno set).
int exchange(const SamCommand &cmd, vr::ReaderCommand &c) {
    uint16_t reader_command = cmd.reader_command;
    if (reader_command == kCmdSam && virt_com_get_protocl() == 6) reader_command = kCmdSamProtocol6;
    c.req.cmd = reader_command;
    const uint8_t parameter = cmd.parameter;
    c.req.len = sam_searial(cmd.command, &parameter, 1, c.req.data);
    if (c.send(cmd.timeout_ms) == 0) return 0;
    log_print(1, cmd.failure_line, cmd.name, errno);
    return -1;
}

// Takes the reader's reply apart as the command's answer.
int answer_of(const SamCommand &cmd, const vr::ReaderCommand &c, sam_answer &a) {
    const auto reply = c.reply();
    const int size = static_cast<int>(reply.size());
    const int rc = is_shortcut(cmd) ? sam_unserial_shortcut(reply.data(), size, &a)
                                    : sam_unserial(reply.data(), size, &a);
    if (rc != 0) log_print(1, "%s: sam unserial fail, error: %d\n", cmd.name, errno);
    return rc;
}

// An operation whose answer carries no records: the reset needs only the
// reader to forward it; the others need the SAM to report success too.
int simple_operation(const SamCommand &cmd, bool check_answer) {
    vr::ReaderCommand c(0);
    if (exchange(cmd, c) != 0) return -1;
    if (!check_answer) return 0;
    sam_answer answer;
    return answer_of(cmd, c, answer);
}

// One record of a read answer: where it lies in the answer's data and where
// the caller wants it.
struct Record {
    unsigned char *buffer;
    int *length;
    int size = 0;
    int at = 0;
    bool wanted() const { return buffer && length && *length >= 1; }
};

struct Limit {
    int max;
    const char *too_long;
    const char *accepted;
};
constexpr Limit kTextLimit{SAM_TEXT_MAX, "%s: error: id text information length is wrong\n",
                           "%s: length of text information is %d\n"};
constexpr Limit kPhotoLimit{SAM_PHOTO_MAX, "%s: error: id picture information length is wrong\n",
                            "%s: length of picture information is %d\n"};
constexpr Limit kFingerLimit{SAM_FINGER_MAX, "%s: error: id figture information length is wrong\n",
                             "%s: length of fignature information is %d\n"};

// Reads `count` record lengths from length field `first` on, each tested
// against its limit as soon as it is read.
bool read_lengths(const char *who, const sam_answer &a, int first, Record *const *records,
                  const Limit *const *limits, int count) {
    if (a.len < 2 * (first + count)) {
        log_print(1, "%s: message is wrong, %d bytes carry no record lengths\n", who, a.len);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        const int n = be16(a.data + 2 * (first + i));
        if (n > limits[i]->max) {
            log_print(1, limits[i]->too_long, who);
            return false;
        }
        log_print(2, limits[i]->accepted, who, n);
        records[i]->size = n;
    }
    return true;
}

// Copies a record the caller wants; false when it does not fit the buffer.
bool copy_record(const char *who, const sam_answer &a, Record &r) {
    if (!r.wanted()) return true;
    if (r.size > *r.length) {
        log_print(1, "%s: buffer is too small ...\n", who);
        return false;
    }
    *r.length = r.size;
    std::memcpy(r.buffer, a.data + r.at, static_cast<std::size_t>(r.size));
    return true;
}

// The records must lie within the data the SAM sent.
bool records_within(const char *who, const sam_answer &a, int end) {
    if (end <= a.len) return true;
    log_print(1, "%s: message is wrong, records of %d bytes in %d\n", who, end, a.len);
    return false;
}

// One read: the exchange, the answer's checks, the record lengths against
// their limits, then the copies into the buffers the caller gave. Nothing
// lies outside the SAM's data, and no buffer takes more than its capacity.
int read_records(const SamCommand &cmd, const ReadPlan &plan, Record &text, Record &photo, Record &finger) {
    const char *who = cmd.name;
    vr::ReaderCommand c(0);
    sam_answer a;
    if (exchange(cmd, c) != 0 || answer_of(cmd, c, a) != 0) return -1;
    const int header = 2 * plan.length_fields;
    Record *const records[] = {&text, &photo, &finger};
    const Limit *const limits[] = {&kTextLimit, &kPhotoLimit, &kFingerLimit};
    const bool lengths_ok = plan.finger_only ? read_lengths(who, a, 2, records + 2, limits + 2, 1)
                                             : read_lengths(who, a, 0, records, limits, plan.length_fields);
    if (!lengths_ok) return vr::fail(vr::kEMsgWrong);
    if (is_shortcut(cmd)) {
        // Text and photo are not in this answer; their buffers must still
        // have room for them.
        finger.at = header;
        if (!records_within(who, a, finger.at + finger.size)) return vr::fail(vr::kEMsgWrong);
        for (Record *r : {&text, &photo})
            if (r->wanted() && r->size > *r->length) {
                log_print(1, "%s: buffer is too small ...\n", who);
                return vr::fail(vr::kEArg);
            }
    } else {
        text.at = header;
        photo.at = text.at + text.size;
        finger.at = photo.at + photo.size;
        if (!records_within(who, a, finger.at + finger.size)) return vr::fail(vr::kEMsgWrong);
        if (!copy_record(who, a, text) || !copy_record(who, a, photo)) return vr::fail(vr::kEArg);
    }
    if (!copy_record(who, a, finger)) return vr::fail(vr::kEArg);
    if (finger.length && finger.size == 0) *finger.length = 0;
    return 0;
}

}  // namespace

VR_API int sam_searial(uint8_t command, const uint8_t *data, int length, uint8_t *out) {
    if (!out || length < 0 || length > SAM_DATA_MAX || (length > 0 && !data)) {
        log_print(1, "%s: argument is wrong\n", "sam_searial");
        return -1;
    }
    std::memcpy(out, kPreamble, kPreambleLen);
    const int counted = length + 2;
    out[kLengthAt] = static_cast<uint8_t>(counted >> 8);
    out[kLengthAt + 1] = static_cast<uint8_t>(counted & 0xFF);
    out[kBodyAt] = command;
    if (length > 0) std::memcpy(out + kBodyAt + 1, data, static_cast<std::size_t>(length));
    const int check_at = kBodyAt + 1 + length;
    out[check_at] = xor_of(out + kLengthAt, check_at - kLengthAt);
    return length + kRequestOverhead;
}

VR_API int sam_unserial(const uint8_t *frame, int length, sam_answer *out) {
    return take_answer_apart("sam_unserial", frame, length, out, 0);
}

VR_API int sam_unserial_shortcut(const uint8_t *frame, int length, sam_answer *out) {
    return take_answer_apart("sam_unserial_shortcut", frame, length, out, kShortcutRemoved);
}

VR_API int sam_check_state(const uint8_t *sw) {
    if (!sw) return vr::kEUnknown;
    const bool sw12_clear = sw[0] == 0 && sw[1] == 0;
    for (const StatusRow &row : kStatusRows) {
        if (row.sw3 != sw[2]) continue;
        return row.any_sw12 || sw12_clear ? row.code : vr::kEUnknown;
    }
    return vr::kEUnknown;
}

VR_API int sam_reset(void) { return simple_operation(kReset, false); }
VR_API int sam_check(void) { return simple_operation(kCheck, true); }
VR_API int sam_search_identity(void) { return simple_operation(kSearch, true); }
VR_API int sam_select_identity(void) { return simple_operation(kSelect, true); }
VR_API int sam_read_extra_address(void) { return simple_operation(kReadExtraAddress, true); }

VR_API int sam_read_text_photo(unsigned char *text, int *text_length, unsigned char *photo, int *photo_length) {
    Record t{text, text_length}, p{photo, photo_length}, f{nullptr, nullptr};
    return read_records(kReadTextPhoto, ReadPlan{2, false}, t, p, f);
}

VR_API int sam_read_text_photo_finger(unsigned char *text, int *text_length, unsigned char *photo,
                                      int *photo_length, unsigned char *finger, int *finger_length) {
    Record t{text, text_length}, p{photo, photo_length}, f{finger, finger_length};
    return read_records(kReadAll, ReadPlan{3, false}, t, p, f);
}

VR_API int sam_read_text_photo_finger_shortcut(unsigned char *text, int *text_length, unsigned char *photo,
                                               int *photo_length, unsigned char *finger, int *finger_length) {
    Record t{text, text_length}, p{photo, photo_length}, f{finger, finger_length};
    return read_records(kReadAllShortcut, ReadPlan{3, false}, t, p, f);
}

VR_API int sam_read_finger(unsigned char *finger, int *finger_length) {
    Record t{nullptr, nullptr}, p{nullptr, nullptr}, f{finger, finger_length};
    return read_records(kReadFinger, ReadPlan{3, true}, t, p, f);
}
