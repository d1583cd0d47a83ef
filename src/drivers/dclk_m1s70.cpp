// MIFARE Classic 4K on the second reader family: the first family's 4K
// commands and reply checks, each sent as a protocol-1 message of its own
// (the direct path), since this family's own command set knows only the
// 1K. Geometry as the first family's 4K.
#include "core/errors.h"
#include "drivers/card_steps.h"
#include "drivers/mifare_classic.h"
#include "mifare.h"

namespace {

using namespace vr::mfc;
using vr::Route;

constexpr uint8_t kRequestIdle = 0x26;
constexpr uint8_t kWakeUp = 0x52;

}  // namespace

VR_API int dclk_m1s70_req(void) { return request_4k(kRequestIdle, Route::direct); }
VR_API int dclk_m1s70_wupa(void) { return request_4k(kWakeUp, Route::direct); }

VR_API int dclk_m1s70_anticoll(picc *record, int) {
    return record ? anticoll_4k(record, Route::direct) : vr::fail(vr::kEArg);
}
VR_API int dclk_m1s70_sel(picc *record, int) { return record ? select_4k(record, Route::direct) : vr::fail(vr::kEArg); }
VR_API int dclk_m1s70_halt(picc *record) { return record ? halt_4k(record, Route::direct) : vr::fail(vr::kEArg); }

VR_API int dclk_m1s70_query(picc *halt, picc *record) {
    if (!record) return vr::fail(vr::kEArg);
    return vr::query_card({dclk_m1s70_halt, dclk_m1s70_req, dclk_m1s70_anticoll}, halt, record);
}

VR_API int dclk_m1s70_getuid(picc *record) {
    return record ? vr::getuid_once(dclk_m1s70_anticoll, record) : vr::fail(vr::kEArg);
}

VR_API int dclk_m1s70_read(unsigned char *out, uint8_t block) { return read_block(out, block, Route::direct); }
VR_API int dclk_m1s70_write(const unsigned char *in, uint8_t block) { return write_block(in, block, Route::direct); }
VR_API int dclk_m1s70_auth(const unsigned char *key, uint8_t key_type, uint8_t block) {
    return auth(key, key_type, block, Route::direct);
}

namespace {
constexpr BlockIo kDirectBlocks = {dclk_m1s70_read, dclk_m1s70_write};
}  // namespace

VR_API int dclk_m1s70_chpw(const unsigned char *keys, uint8_t key_type, uint8_t block) {
    return change_keys(keys, key_type, block, trailer_4k, kDirectBlocks);
}
VR_API int dclk_m1s70_chaccess(const unsigned char *description, uint8_t block) {
    return change_access(description, block, trailer_4k, kDirectBlocks);
}
VR_API int dclk_m1s70_load(uint8_t block) { return restore(block, Route::direct); }
VR_API int dclk_m1s70_transfer(uint8_t block) { return transfer(block, Route::direct); }
VR_API int dclk_m1s70_incval(const unsigned char *value, uint8_t block) {
    return increment(value, block, Route::direct);
}
VR_API int dclk_m1s70_decval(const unsigned char *value, uint8_t block) {
    return decrement(value, block, Route::direct);
}
VR_API int dclk_m1s70_rdval(unsigned char *value, uint8_t block) { return read_value(value, block, Route::direct); }
VR_API int dclk_m1s70_wrval(const unsigned char *value, uint8_t block) {
    return write_value(value, block, Route::direct);
}

// The driver's operations: the first family's 4K steps on the direct
// path, its geometry; slots not named stay empty.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr picc kDclkM1s70Ops = {
    .req = dclk_m1s70_req,
    .sel = dclk_m1s70_sel,
    .anticoll = dclk_m1s70_anticoll,
    .query = dclk_m1s70_query,
    .halt = dclk_m1s70_halt,
    .getuid = dclk_m1s70_getuid,
    .wupa = dclk_m1s70_wupa,
    .read = dclk_m1s70_read,
    .write = dclk_m1s70_write,
    .auth = dclk_m1s70_auth,
    .chpw = dclk_m1s70_chpw,
    .chaccess = dclk_m1s70_chaccess,
    .load = dclk_m1s70_load,
    .transfer = dclk_m1s70_transfer,
    .incval = dclk_m1s70_incval,
    .decval = dclk_m1s70_decval,
    .rdval = dclk_m1s70_rdval,
    .wrval = dclk_m1s70_wrval,
    .secblk = m1s70_secblk,
    .blklen = m1s70_blklen,
    .seccnt = m1s70_seccnt,
    .blkcnt = m1s70_blkcnt,
};
#pragma GCC diagnostic pop

VR_API int dclk_m1s70_init(picc *record) { return init_record(record, kDclkM1s70Ops, "Mifare S70", kNoCardProtocol); }
