// Card operations: each checks its arguments, makes sure the card is
// selected, and calls the driver's slot while holding the library lock.
#include <cerrno>

#include "core/errors.h"
#include "core/lock.h"
#include "picc.h"
#include "tessil.h"

namespace {

// What a failed driver call reports: reads -1, everything else the code.
enum class Report { MinusOne, Code };

int failure_result(Report report) {
    if (report == Report::MinusOne) return -1;
    const int code = errno;
    return code < 0 ? code : -1;
}

// The common path; need_buffer is false for operations whose pointer may
// be null (a null key selects the reader's stored key).
template <typename Slot, typename... Args>
int dispatch(picc *record, Slot picc::*slot, Report report, const void *buffer, bool need_buffer,
             Args... args) {
    if (!record) return vr::kENotSelected;
    if (need_buffer && !buffer) return vr::kEArg;
    Slot op = record->*slot;
    if (!op) return vr::kENoCmd;
    if (picc_sel(record) != 0) return vr::kESelect;
    vr::MutexHold hold(&tessil.api_lock);
    if (op(args...) == 0) return 0;
    record->card_status = PICC_STATUS_FAILED;
    return failure_result(report);
}

template <typename Slot, typename... Args>
int geometry(picc *record, Slot picc::*slot, Args... args) {
    if (!record) return vr::kENotSelected;
    Slot op = record->*slot;
    if (!op) return vr::kENoCmd;
    vr::MutexHold hold(&tessil.api_lock);
    return op(args...);
}

}  // namespace

VR_API int picc_read(picc *record, unsigned char *buffer, uint8_t block) {
    return dispatch(record, &picc::read, Report::MinusOne, buffer, true, buffer, block);
}
VR_API int picc_write(picc *record, const unsigned char *buffer, uint8_t block) {
    return dispatch(record, &picc::write, Report::Code, buffer, true, buffer, block);
}
VR_API int picc_readdata(picc *record, uint16_t address, uint16_t length, unsigned char *buffer) {
    return dispatch(record, &picc::readdata, Report::MinusOne, buffer, true, address, length, buffer);
}
VR_API int picc_writedata(picc *record, uint16_t address, uint16_t length, const unsigned char *buffer) {
    return dispatch(record, &picc::writedata, Report::Code, buffer, true, address, length, buffer);
}
VR_API int picc_readdata_enc(picc *record, uint16_t address, uint16_t length, unsigned char *buffer) {
    return dispatch(record, &picc::readdata_enc, Report::MinusOne, buffer, true, address, length, buffer);
}
VR_API int picc_writedata_enc(picc *record, uint16_t address, uint16_t length, const unsigned char *buffer) {
    return dispatch(record, &picc::writedata_enc, Report::Code, buffer, true, address, length, buffer);
}
VR_API int picc_auth(picc *record, const unsigned char *key, uint8_t key_type, uint8_t block) {
    return dispatch(record, &picc::auth, Report::Code, key, false, key, key_type, block);
}
VR_API int picc_chpw(picc *record, const unsigned char *keys, uint8_t key_type, uint8_t block) {
    return dispatch(record, &picc::chpw, Report::Code, keys, true, keys, key_type, block);
}
VR_API int picc_chaccess(picc *record, const unsigned char *description, uint8_t block) {
    return dispatch(record, &picc::chaccess, Report::Code, description, true, description, block);
}
VR_API int picc_rdval(picc *record, unsigned char *value, uint8_t block) {
    return dispatch(record, &picc::rdval, Report::Code, value, true, value, block);
}
VR_API int picc_wrval(picc *record, const unsigned char *value, uint8_t block) {
    return dispatch(record, &picc::wrval, Report::Code, value, true, value, block);
}
VR_API int picc_incval(picc *record, const unsigned char *value, uint8_t block) {
    return dispatch(record, &picc::incval, Report::Code, value, true, value, block);
}
VR_API int picc_decval(picc *record, const unsigned char *value, uint8_t block) {
    return dispatch(record, &picc::decval, Report::Code, value, true, value, block);
}
VR_API int picc_load(picc *record, uint8_t block) {
    return dispatch(record, &picc::load, Report::Code, nullptr, false, block);
}
VR_API int picc_transfer(picc *record, uint8_t block) {
    return dispatch(record, &picc::transfer, Report::Code, nullptr, false, block);
}
VR_API int picc_lock(picc *record, uint8_t argument) {
    return dispatch(record, &picc::lock, Report::Code, nullptr, false, argument);
}
VR_API int picc_count(picc *record, unsigned char *buffer) {
    return dispatch(record, &picc::count, Report::Code, buffer, true, buffer);
}

VR_API int picc_sign(picc *record, unsigned char *buffer) {
    return dispatch(record, &picc::sign, Report::Code, buffer, true, buffer);
}

VR_API int picc_secblk(picc *record, uint16_t sector) { return geometry(record, &picc::secblk, sector); }
VR_API int picc_blklen(picc *record, uint16_t block) { return geometry(record, &picc::blklen, block); }
VR_API int picc_seccnt(picc *record) { return geometry(record, &picc::seccnt); }
VR_API int picc_blkcnt(picc *record) { return geometry(record, &picc::blkcnt); }
