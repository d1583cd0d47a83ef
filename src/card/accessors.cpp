// Reading the fields of a card record, and the card framework's view of
// the last error.
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "core/errors.h"
#include "picc.h"
#include "sys.h"

namespace {

const char *absent_record_text() {
    // The code -47 in pointer form, as callers of these accessors expect.
    return reinterpret_cast<const char *>(static_cast<intptr_t>(vr::kENotSelected));
}

int copy_field(const uint8_t *field, int n, unsigned char *out) {
    if (!out) return vr::kEArg;
    if (n > 0) std::memcpy(out, field, static_cast<std::size_t>(n));
    return n > 0 ? n : 0;
}

}  // namespace

VR_API int picc_getuid(picc *record, unsigned char *out) {
    if (!record) return vr::kENotSelected;
    return copy_field(record->uid, record->uid_len, out);
}

VR_API int picc_getatqa(picc *record, unsigned char *out) {
    if (!record) return vr::kENotSelected;
    return copy_field(record->atqa, 2, out);
}

VR_API int picc_getsak(picc *record, unsigned char *out) {
    if (!record) return vr::kENotSelected;
    return copy_field(&record->sak, 1, out);
}

VR_API int picc_getats(picc *record, unsigned char *out) {
    if (!record) return vr::kENotSelected;
    return copy_field(record->ats, record->ats_len, out);
}

VR_API int picc_getcid(picc *record) { return record ? record->cid : vr::kENotSelected; }
VR_API int picc_status(picc *record) { return record ? record->card_status : vr::kENotSelected; }
VR_API int picc_uidlen(picc *record) { return record ? record->uid_len : vr::kENotSelected; }
VR_API int picc_atslen(picc *record) { return record ? record->ats_len : vr::kENotSelected; }
VR_API const char *picc_type(picc *record) { return record ? record->picc_type : absent_record_text(); }
VR_API const char *picc_vendor(picc *record) { return record ? record->vendor : absent_record_text(); }
VR_API const char *picc_protocol(picc *record) { return record ? record->protocol_name : absent_record_text(); }
VR_API int picc_name2protocol(picc *record) { return record ? record->picc_proto : vr::kENotSelected; }
VR_API int picc_error(void) { return errno; }
VR_API const char *picc_strerror(int code) { return sys_strerror_ch(code); }
