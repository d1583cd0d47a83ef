// The PRC identity card read through the reader's SAM. Finding and
// selecting the card is the SAM's work too, so the driver's card
// operations do nothing but select the reader's type B protocol; its
// control operation chains the SAM's search, select and read for each
// record the caller asks for.
#include <cerrno>

#include "core/errors.h"
#include "drivers/card_steps.h"
#include "drivers/card_texts.h"
#include "identity.h"
#include "log.h"
#include "pcd.h"

namespace {

enum IdSamCode {
    kReadText = 69,
    kReadPhoto = 71,
    kReadFingerShortcut = 72,
    kReadTextPhoto = 73,
    kReadAll = 74,
    kReset = 75,
    kSelfCheck = 76,
    kSearch = 77,
    kSelect = 78,
    kReadFinger = 79,
};

// A read's arguments: buffers and their in/out lengths, in the order the
// control codes pass them.
struct Buffers {
    unsigned char *text = nullptr;
    int *text_length = nullptr;
    unsigned char *photo = nullptr;
    int *photo_length = nullptr;
    unsigned char *finger = nullptr;
    int *finger_length = nullptr;
};

unsigned char *bytes_at(intptr_t word) { return reinterpret_cast<unsigned char *>(word); }
int *length_at(intptr_t word) { return reinterpret_cast<int *>(word); }

int refuse(const char *line, int code = 0) {
    log_print(1, line, "id_sam_ctrl", code);
    return vr::fail(vr::kERead);
}

// Search, select, then the read; each failure is "fail to read the card".
template <typename Read>
int search_select_read(Read read) {
    if (sam_search_identity() != 0) return refuse("%s: fail to search identity");
    if (sam_select_identity() != 0) return refuse("%s: fail to select identity");
    if (read() != 0) return refuse("%s: fail to read info & photo of identity");
    return 0;
}

int read_for(int code, const Buffers &b) {
    switch (code) {
    case kReadText:
    case kReadPhoto:
    case kReadTextPhoto:
        return search_select_read([&] { return sam_read_text_photo(b.text, b.text_length, b.photo, b.photo_length); });
    case kReadAll:
        return search_select_read([&] {
            return sam_read_text_photo_finger(b.text, b.text_length, b.photo, b.photo_length, b.finger,
                                              b.finger_length);
        });
    case kReadFingerShortcut:
        // Only the fingerprint pair goes on; the text and photo pairs are
        // accepted and ignored.
        return search_select_read([&] {
            return sam_read_text_photo_finger_shortcut(nullptr, nullptr, nullptr, nullptr, b.finger, b.finger_length);
        });
    default: return search_select_read([&] { return sam_read_finger(b.finger, b.finger_length); });
    }
}

// The buffers each read code takes from its arguments.
Buffers buffers_for(int code, intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e, intptr_t f) {
    Buffers out;
    switch (code) {
    case kReadText:
        out.text = bytes_at(a);
        out.text_length = length_at(b);
        break;
    case kReadPhoto:
        out.photo = bytes_at(a);
        out.photo_length = length_at(b);
        break;
    case kReadFinger:
        out.finger = bytes_at(a);
        out.finger_length = length_at(b);
        break;
    default:
        out.text = bytes_at(a);
        out.text_length = length_at(b);
        out.photo = bytes_at(c);
        out.photo_length = length_at(d);
        out.finger = bytes_at(e);
        out.finger_length = length_at(f);
        break;
    }
    return out;
}

}  // namespace

VR_API int id_sam_req(void) { return 0; }
VR_API int id_sam_wupa(void) { return 0; }
VR_API int id_sam_sel(picc *record, int unused) { return vr::mark_selected(record, unused); }
VR_API int id_sam_anticoll(picc *, int) { return 0; }
VR_API int id_sam_halt(picc *) { return 0; }
VR_API int id_sam_getuid(picc *) { return 0; }

VR_API int id_sam_query(picc *, picc *record) {
    if (record) record->cid = 0;
    return pcd_set_picc_protocol('B') == 0 ? 0 : -1;
}

VR_API int id_sam_ctrl(picc *, int code, intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e,
                       intptr_t f) {
    switch (code) {
    case kReset: return sam_reset();
    case kSelfCheck: return sam_check();
    case kSearch: return sam_search_identity();
    case kSelect: return sam_select_identity();
    case kReadText:
    case kReadPhoto:
    case kReadFingerShortcut:
    case kReadTextPhoto:
    case kReadAll:
    case kReadFinger: return read_for(code, buffers_for(code, a, b, c, d, e, f));
    default: return refuse("%s: operate invalid, op: %d", code);
    }
}

// Everything but the control operation answers without reader traffic:
// the SAM finds and selects the card when a record is read.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr picc kIdSamOps = {
    .req = id_sam_req,
    .sel = id_sam_sel,
    .anticoll = id_sam_anticoll,
    .query = id_sam_query,
    .halt = id_sam_halt,
    .getuid = id_sam_getuid,
    .wupa = id_sam_wupa,
    .ctrl = id_sam_ctrl,
};
#pragma GCC diagnostic pop

VR_API int id_sam_init(picc *record) {
    return vr::init_card_record(record, kIdSamOps, "PRC Identity Card via PSAM", "PRC Identity Cardt via PSAM",
                                "ISO14443-B", 'B');
}
