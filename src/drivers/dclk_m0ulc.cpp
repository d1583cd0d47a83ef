// MIFARE Ultralight C on the second reader family: the second family's
// Ultralight, plus the C's authentication, key change and first protected
// page, all as first-family commands over the direct path. The key is
// always sent: this family's reader keeps none.
#include "core/errors.h"
#include "drivers/card_texts.h"
#include "drivers/ultralight_common.h"
#include "link/reader_command.h"
#include "ultralight.h"

namespace {

constexpr uint16_t kCmdAuthKey = 0x0703;
constexpr uint16_t kCmdChangeKey = 0x0706;
constexpr uint16_t kCmdProtectFrom = 0x0707;
constexpr int kKeySize = 16;
constexpr int kKeyChangeSize = 32;

}  // namespace

VR_API int dclk_m0ulc_auth(const unsigned char *key, uint8_t, uint8_t) {
    if (!key) return vr::fail(vr::kEArg);
    vr::ReaderCommand c(kCmdAuthKey);
    c.append(key, kKeySize);
    return c.send_direct();
}

VR_API int dclk_m0ulc_chpw(const unsigned char *keys, uint8_t, uint8_t) {
    if (!keys) return vr::fail(vr::kEArg);
    vr::ReaderCommand c(kCmdChangeKey);
    c.append(keys, kKeyChangeSize);
    return c.send_direct();
}

VR_API int dclk_m0ulc_set_enrypted_start_page(signed char page) {
    vr::ReaderCommand c(kCmdProtectFrom, {static_cast<uint8_t>(page)});
    return c.send_direct();
}

VR_API int dclk_m0ulc_ctrl(picc *, int code, intptr_t a, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t) {
    if (code != PICC_CTRL_ULC_START_PAGE) return vr::fail(vr::kENoCmd);
    return dclk_m0ulc_set_enrypted_start_page(static_cast<signed char>(a));
}

// The second family's Ultralight operations, plus authentication, key
// change and the control code of the first protected page; geometry as
// the first family's Ultralight C.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr picc kDclkM0ulcOps = {
    .req = dclk_m0ul_req,
    .sel = dclk_m0ul_sel,
    .anticoll = dclk_m0ul_anticoll,
    .query = dclk_m0ul_query,
    .halt = dclk_m0ul_halt,
    .getuid = dclk_m0ul_getuid,
    .wupa = dclk_m0ul_wupa,
    .read = dclk_m0ul_read,
    .write = dclk_m0ul_write,
    .auth = dclk_m0ulc_auth,
    .chpw = dclk_m0ulc_chpw,
    .secblk = m0ulc_secblk,
    .blklen = m0ulc_blklen,
    .seccnt = m0ulc_seccnt,
    .blkcnt = m0ulc_blkcnt,
    .ctrl = dclk_m0ulc_ctrl,
};
#pragma GCC diagnostic pop

VR_API int dclk_m0ulc_init(picc *record) {
    return vr::init_card_record(record, kDclkM0ulcOps, "NXP(founded by Philips)", "Mifare Ultralight_C", "ISO14443-A",
                                0);
}
