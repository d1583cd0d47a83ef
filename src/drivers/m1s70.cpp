// MIFARE Classic 4K: request, anticollision, select and halt are separate
// reader commands; sectors 32..39 have 16 blocks each.
#include <cstring>

#include "core/errors.h"
#include "drivers/mifare_classic.h"
#include "link/reader_command.h"
#include "mifare.h"
#include "pcd.h"

namespace {

using namespace vr::mfc;

constexpr int kSectors = 40;
constexpr int kBlocks = 256;
constexpr int kSmallSectors = 32;
constexpr uint8_t kRequestIdle = 0x26;
constexpr uint8_t kWakeUp = 0x52;

}  // namespace

VR_API int m1s70_req(void) { return request_4k(kRequestIdle, vr::Route::exchange); }
VR_API int m1s70_wupa(void) { return request_4k(kWakeUp, vr::Route::exchange); }
VR_API int m1s70_anticoll(picc *record, int) { return anticoll_4k(record, vr::Route::exchange); }
VR_API int m1s70_sel(picc *record, int) { return select_4k(record, vr::Route::exchange); }
VR_API int m1s70_halt(picc *record) { return halt_4k(record, vr::Route::exchange); }

VR_API int m1s70_query(picc *halt, picc *record) {
    if (!record) return vr::fail(vr::kENotSelected);
    record->cid = 0;
    if (halt && m1s70_halt(halt) != 0) return -1;
    if (m1s70_req() != 0) return -1;
    return m1s70_anticoll(record, 0);
}

VR_API int m1s70_getuid(picc *record) {
    if (!record) return vr::fail(vr::kENotSelected);
    return record->uid_len < 1 ? m1s70_anticoll(record, 0) : 0;
}

VR_API int m1s70_read(unsigned char *out, uint8_t block) { return read_block(out, block); }
VR_API int m1s70_write(const unsigned char *in, uint8_t block) { return write_block(in, block); }
VR_API int m1s70_auth(const unsigned char *key, uint8_t key_type, uint8_t block) { return auth(key, key_type, block); }
VR_API int m1s70_chpw(const unsigned char *keys, uint8_t key_type, uint8_t block) {
    return change_keys(keys, key_type, block, trailer_4k);
}
VR_API int m1s70_chaccess(const unsigned char *description, uint8_t block) {
    return change_access(description, block, trailer_4k);
}
VR_API int m1s70_load(uint8_t block) { return restore(block); }
VR_API int m1s70_transfer(uint8_t block) { return transfer(block); }
VR_API int m1s70_incval(const unsigned char *value, uint8_t block) { return increment(value, block); }
VR_API int m1s70_decval(const unsigned char *value, uint8_t block) { return decrement(value, block); }
VR_API int m1s70_rdval(unsigned char *value, uint8_t block) { return read_value(value, block); }
VR_API int m1s70_wrval(const unsigned char *value, uint8_t block) { return write_value(value, block); }

VR_API int m1s70_secblk(uint16_t sector) {
    if (sector >= kSectors) return vr::fail(vr::kEArg);
    return sector < kSmallSectors ? 4 : 16;
}
VR_API int m1s70_blklen(uint16_t block) { return block < kBlocks ? kBlockSize : vr::fail(vr::kEArg); }
VR_API int m1s70_seccnt(void) { return kSectors; }
VR_API int m1s70_blkcnt(void) { return kBlocks; }

// The driver's operations; the byte-range view is a 1K feature.
// The card fields after the slots start zero.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr picc kM1s70Ops = {
    .req = m1s70_req,
    .sel = m1s70_sel,
    .anticoll = m1s70_anticoll,
    .query = m1s70_query,
    .halt = m1s70_halt,
    .getuid = m1s70_getuid,
    .wupa = m1s70_wupa,
    .read = m1s70_read,
    .write = m1s70_write,
    .auth = m1s70_auth,
    .chpw = m1s70_chpw,
    .chaccess = m1s70_chaccess,
    .load = m1s70_load,
    .transfer = m1s70_transfer,
    .incval = m1s70_incval,
    .decval = m1s70_decval,
    .rdval = m1s70_rdval,
    .wrval = m1s70_wrval,
    .secblk = m1s70_secblk,
    .blklen = m1s70_blklen,
    .seccnt = m1s70_seccnt,
    .blkcnt = m1s70_blkcnt,
};
#pragma GCC diagnostic pop

VR_API int m1s70_init(picc *record) {
    return init_record(record, kM1s70Ops, "Mifare S70");
}
