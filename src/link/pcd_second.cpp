// Second reader family: its firmware takes only the card-protocol setting
// from this table; every other reader setting is accepted and ignored so
// that callers written for the first family keep working.
#include "core/errors.h"
#include "link/reader_command.h"
#include "pcd.h"

VR_API int dclk_pcd_set_picc_protocol(signed char protocol) {
    if (protocol != 'A' && protocol != 'B') return vr::fail(vr::kEArg);
    vr::ReaderCommand c(0x87, {static_cast<uint8_t>(protocol)});
    return c.send();
}

VR_API int dclk_pcd_antenna_open(void) { return 0; }
VR_API int dclk_pcd_antenna_close(void) { return 0; }
VR_API int dclk_pcd_download_passwd(signed char, signed char, const unsigned char *, signed char) { return 0; }
VR_API int dclk_pcd_set_buzzer(signed char, signed char) { return 0; }
VR_API int dclk_pcd_set_led(signed char, signed char) { return 0; }
VR_API int dclk_pcd_set_ledr(signed char, signed char) { return 0; }
VR_API int dclk_pcd_get_mid(unsigned char *) { return 0; }
VR_API int dclk_pcd_set_mid(const unsigned char *) { return 0; }
VR_API int dclk_pcd_set_msn(const unsigned char *) { return 0; }
VR_API int dclk_pcd_get_msn(unsigned char *) { return 0; }
VR_API int dclk_pcd_set_brightness(signed char) { return 0; }
VR_API int dclk_pcd_set_date(const unsigned char *) { return 0; }
VR_API int dclk_pcd_set_lcdstr(const char *) { return 0; }
VR_API int dclk_pcd_write_eeprom(int, int, const unsigned char *) { return 0; }
VR_API int dclk_pcd_read_eeprom(int, int, unsigned char *) { return 0; }
VR_API int dclk_pcd_set_baud(signed char) { return 0; }
VR_API int dclk_pcd_set_protocol(signed char) { return 0; }
VR_API unsigned char *dclk_pcd_hard_model(void) { return nullptr; }
VR_API int dclk_pcd_set_light(signed char) { return 0; }
VR_API int dclk_pcd_set_display(const char *) { return 0; }
