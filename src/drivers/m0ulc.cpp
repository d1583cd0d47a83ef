// MIFARE Ultralight C: 48 pages of 4 bytes, 3DES authentication. The
// reader runs the three-pass authentication with the card itself; the
// driver hands it the key (or asks for its stored one) and learns only
// whether the card accepted it. Pages from the first protected page on
// need that authentication.
#include <cstdint>

#include "core/errors.h"
#include "drivers/card_steps.h"
#include "drivers/ultralight_common.h"
#include "link/reader_command.h"
#include "log.h"
#include "picc.h"
#include "ultralight.h"

namespace {

using namespace vr::ul;

constexpr uint8_t kRequestIdle = 0x26;
constexpr uint8_t kWakeUp = 0x52;
constexpr int kMemorySize = kUltralightCPages * kPageSize;
constexpr uint16_t kCmdAuthKey = 0x0703;
constexpr uint16_t kCmdAuthStored = 0x0712;
constexpr uint16_t kCmdChangeKey = 0x0706;
constexpr uint16_t kCmdProtectFrom = 0x0707;
constexpr int kKeySize = 16;
// The key change carries the current key and the new one.
constexpr int kKeyChangeSize = 2 * kKeySize;

int checked_write(uint16_t command, uint16_t address, uint16_t length, const unsigned char *in) {
    log_print(2, "m0ulc_writedata 1");
    if (!write_range_fits(address, length, kMemorySize)) {
        log_print(1, "m0ulc_writedata err");
        return vr::fail(vr::kEArg);
    }
    log_print(2, "m0ulc_writedata 2");
    return write_bytes(command, address, length, in);
}

constexpr vr::QuerySteps kQuery{m0ulc_halt, m0ulc_req, m0ulc_anticoll};

}  // namespace

VR_API int m0ulc_req(void) { return request(kRequestIdle); }
VR_API int m0ulc_wupa(void) { return request(kWakeUp); }
VR_API int m0ulc_sel(picc *record, int unused) { return vr::mark_selected(record, unused); }
VR_API int m0ulc_anticoll(picc *record, int) { return anticoll(record); }
VR_API int m0ulc_query(picc *previous, picc *record) { return vr::query_card(kQuery, previous, record); }
VR_API int m0ulc_halt(picc *record) { return halt(record); }
VR_API int m0ulc_getuid(picc *record) { return vr::getuid_once(m0ulc_anticoll, record); }
VR_API int m0ulc_read(unsigned char *out, uint8_t page) { return read_page(out, page); }
VR_API int m0ulc_write(const unsigned char *in, uint8_t page) { return write_page(in, page); }

VR_API int m0ulc_readdata(uint16_t address, uint16_t length, unsigned char *out) {
    log_print(2, "m0ulc_readdata 1 %x %x %x", address, length,
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(out)));
    if (!read_range_fits(address, length, kMemorySize)) {
        log_print(1, "m0ulc_readdata 2 %x %x %x", address, length, kMemorySize);
        return vr::fail(vr::kEArg);
    }
    return read_bytes(kCmdReadBytes, address, length, out);
}

VR_API int m0ulc_readdata_enc(uint16_t address, uint16_t length, unsigned char *out) {
    log_print(2, "m0ulc_readdata 1");
    if (!read_range_fits(address, length, kMemorySize)) return vr::fail(vr::kEArg);
    return read_bytes(kCmdReadBytesEnc, address, length, out);
}

VR_API int m0ulc_writedata(uint16_t address, uint16_t length, const unsigned char *in) {
    return checked_write(kCmdWriteBytes, address, length, in);
}
VR_API int m0ulc_writedata_enc(uint16_t address, uint16_t length, const unsigned char *in) {
    return checked_write(kCmdWriteBytesEnc, address, length, in);
}

VR_API int m0ulc_auth(const unsigned char *key, uint8_t, uint8_t) {
    if (!key) {
        vr::ReaderCommand c(kCmdAuthStored);
        return c.send();
    }
    vr::ReaderCommand c(kCmdAuthKey);
    c.append(key, kKeySize);
    return c.send();
}

VR_API int m0ulc_chpw(const unsigned char *keys, uint8_t, uint8_t) {
    if (!keys) return vr::fail(vr::kEArg);
    vr::ReaderCommand c(kCmdChangeKey);
    c.append(keys, kKeyChangeSize);
    return c.send();
}

VR_API int m0ulc_set_enrypted_start_page(signed char page) {
    vr::ReaderCommand c(kCmdProtectFrom, {static_cast<uint8_t>(page)});
    return c.send();
}

VR_API int m0ulc_ctrl(picc *, int code, intptr_t a, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t) {
    if (code != PICC_CTRL_ULC_START_PAGE) return vr::fail(vr::kENoCmd);
    return m0ulc_set_enrypted_start_page(static_cast<signed char>(a));
}

VR_API int m0ulc_secblk(uint16_t) { return 1; }
VR_API int m0ulc_blklen(uint16_t) { return kPageSize; }
VR_API int m0ulc_seccnt(void) { return kUltralightCPages; }
VR_API int m0ulc_blkcnt(void) { return kUltralightCPages; }

// The driver's operations: the Ultralight's, plus authentication, key
// change and the control code of the first protected page.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr picc kM0ulcOps = {
    .req = m0ulc_req,
    .sel = m0ulc_sel,
    .anticoll = m0ulc_anticoll,
    .query = m0ulc_query,
    .halt = m0ulc_halt,
    .getuid = m0ulc_getuid,
    .wupa = m0ulc_wupa,
    .read = m0ulc_read,
    .write = m0ulc_write,
    .readdata = m0ulc_readdata,
    .writedata = m0ulc_writedata,
    .readdata_enc = m0ulc_readdata_enc,
    .writedata_enc = m0ulc_writedata_enc,
    .auth = m0ulc_auth,
    .chpw = m0ulc_chpw,
    .secblk = m0ulc_secblk,
    .blklen = m0ulc_blklen,
    .seccnt = m0ulc_seccnt,
    .blkcnt = m0ulc_blkcnt,
    .ctrl = m0ulc_ctrl,
};
#pragma GCC diagnostic pop

VR_API int m0ulc_init(picc *record) { return init_record(record, kM0ulcOps, "Mifare Ultralight C"); }
