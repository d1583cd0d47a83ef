// MIFARE Ultralight on the second reader family: the first family's
// Ultralight commands (0x0701, 0x0702, 0x0705, 0x0704) over the direct
// path. A read hands back all four pages the reader answers; the byte-range
// view of the first family's driver is not offered.
#include "core/errors.h"
#include "drivers/card_steps.h"
#include "drivers/card_texts.h"
#include "drivers/ultralight_common.h"
#include "ultralight.h"

namespace {

using namespace vr::ul;
using vr::Route;

constexpr uint8_t kRequestIdle = 0x26;
constexpr uint8_t kWakeUp = 0x52;
constexpr int kFourPages = 4 * kPageSize;

}  // namespace

VR_API int dclk_m0ul_req(void) { return request(kRequestIdle, Route::direct); }
VR_API int dclk_m0ul_wupa(void) { return request(kWakeUp, Route::direct); }
// The anticollision leaves the card selected: the record is marked so, or
// the framework would wake the card again before each operation and end
// an Ultralight C's authentication.
VR_API int dclk_m0ul_sel(picc *record, int unused) { return vr::mark_selected(record, unused); }
VR_API int dclk_m0ul_anticoll(picc *record, int) {
    return record ? anticoll(record, Route::direct) : vr::fail(vr::kEArg);
}
VR_API int dclk_m0ul_halt(picc *record) { return halt(record, Route::direct); }
VR_API int dclk_m0ul_query(picc *previous, picc *record) {
    if (!record) return vr::fail(vr::kEArg);
    return vr::query_card({dclk_m0ul_halt, dclk_m0ul_req, dclk_m0ul_anticoll}, previous, record);
}
VR_API int dclk_m0ul_getuid(picc *record) {
    return record ? vr::getuid_once(dclk_m0ul_anticoll, record) : vr::fail(vr::kEArg);
}
VR_API int dclk_m0ul_read(unsigned char *out, uint8_t page) { return read_page(out, page, Route::direct, kFourPages); }
VR_API int dclk_m0ul_write(const unsigned char *in, uint8_t page) { return write_page(in, page, Route::direct); }

// The driver's operations; geometry as the first family's Ultralight.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr picc kDclkM0ulOps = {
    .req = dclk_m0ul_req,
    .sel = dclk_m0ul_sel,
    .anticoll = dclk_m0ul_anticoll,
    .query = dclk_m0ul_query,
    .halt = dclk_m0ul_halt,
    .getuid = dclk_m0ul_getuid,
    .wupa = dclk_m0ul_wupa,
    .read = dclk_m0ul_read,
    .write = dclk_m0ul_write,
    .secblk = m0ul_secblk,
    .blklen = m0ul_blklen,
    .seccnt = m0ul_seccnt,
    .blkcnt = m0ul_blkcnt,
};
#pragma GCC diagnostic pop

VR_API int dclk_m0ul_init(picc *record) {
    return vr::init_card_record(record, kDclkM0ulOps, "NXP(founded by Philips)", "Mifare ultralight", "ISO14443-A", 0);
}
