// MIFARE Ultralight: 16 pages of 4 bytes. The reader selects the card in
// its anticollision command, so selection needs no traffic of its own;
// byte ranges go to the reader in one command, plain or enciphered by it.
#include "core/errors.h"
#include "drivers/card_steps.h"
#include "drivers/ultralight_common.h"
#include "log.h"
#include "ultralight.h"

namespace {

using namespace vr::ul;

constexpr uint8_t kRequestIdle = 0x26;
constexpr uint8_t kWakeUp = 0x52;
constexpr int kMemorySize = kUltralightPages * kPageSize;

int checked_read(uint16_t command, uint16_t address, uint16_t length, unsigned char *out) {
    log_print(2, "m0ul_readdata 1");
    if (!read_range_fits(address, length, kMemorySize)) return vr::fail(vr::kEArg);
    return read_bytes(command, address, length, out);
}

int checked_write(uint16_t command, uint16_t address, uint16_t length, const unsigned char *in) {
    log_print(2, "m0ul_writedata 1");
    if (!write_range_fits(address, length, kMemorySize)) return vr::fail(vr::kEArg);
    return write_bytes(command, address, length, in);
}

constexpr vr::QuerySteps kQuery{m0ul_halt, m0ul_req, m0ul_anticoll};

}  // namespace

VR_API int m0ul_req(void) { return request(kRequestIdle); }
VR_API int m0ul_wupa(void) { return request(kWakeUp); }
VR_API int m0ul_sel(picc *record, int unused) { return vr::mark_selected(record, unused); }
VR_API int m0ul_anticoll(picc *record, int) { return anticoll(record); }
VR_API int m0ul_query(picc *previous, picc *record) { return vr::query_card(kQuery, previous, record); }
VR_API int m0ul_halt(picc *record) { return halt(record); }
VR_API int m0ul_getuid(picc *record) { return vr::getuid_once(m0ul_anticoll, record); }
VR_API int m0ul_read(unsigned char *out, uint8_t page) { return read_page(out, page); }
VR_API int m0ul_write(const unsigned char *in, uint8_t page) { return write_page(in, page); }

VR_API int m0ul_readdata(uint16_t address, uint16_t length, unsigned char *out) {
    return checked_read(kCmdReadBytes, address, length, out);
}
VR_API int m0ul_writedata(uint16_t address, uint16_t length, const unsigned char *in) {
    return checked_write(kCmdWriteBytes, address, length, in);
}
VR_API int m0ul_readdata_enc(uint16_t address, uint16_t length, unsigned char *out) {
    return checked_read(kCmdReadBytesEnc, address, length, out);
}
VR_API int m0ul_writedata_enc(uint16_t address, uint16_t length, const unsigned char *in) {
    return checked_write(kCmdWriteBytesEnc, address, length, in);
}

VR_API int m0ul_secblk(uint16_t) { return 1; }
VR_API int m0ul_blklen(uint16_t) { return kPageSize; }
VR_API int m0ul_seccnt(void) { return kUltralightPages; }
VR_API int m0ul_blkcnt(void) { return kUltralightPages; }

// The driver's operations. An Ultralight has no keys, values or control
// codes: those slots stay empty.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr picc kM0ulOps = {
    .req = m0ul_req,
    .sel = m0ul_sel,
    .anticoll = m0ul_anticoll,
    .query = m0ul_query,
    .halt = m0ul_halt,
    .getuid = m0ul_getuid,
    .wupa = m0ul_wupa,
    .read = m0ul_read,
    .write = m0ul_write,
    .readdata = m0ul_readdata,
    .writedata = m0ul_writedata,
    .readdata_enc = m0ul_readdata_enc,
    .writedata_enc = m0ul_writedata_enc,
    .secblk = m0ul_secblk,
    .blklen = m0ul_blklen,
    .seccnt = m0ul_seccnt,
    .blkcnt = m0ul_blkcnt,
};
#pragma GCC diagnostic pop

VR_API int m0ul_init(picc *record) { return init_record(record, kM0ulOps, "Mifare Ultralight"); }
