// Public reader functions: each reaches the registered family's worker
// through its own slot of the reader operation table.
#include <cerrno>

#include "core/errors.h"
#include "link/link.h"
#include "pcd.h"
#include "tessil.h"

namespace {

signed char sb(int v) { return static_cast<signed char>(v); }

// Returns the slot to call, or null with errno set: -61 before any family
// is registered, -22 when the family lacks the operation.
template <typename Slot>
Slot slot_of(Slot pcd_ops::*member) {
    if (check_api_version(static_cast<int>(tessil.family & 0xFF)) != 0) {
        errno = vr::kENoFamily;
        return nullptr;
    }
    Slot slot = tessil.pcd.*member;
    if (!slot) errno = vr::kENoCmd;
    return slot;
}

// The common public pattern; results below -1 become -1.
template <typename Slot, typename... Args>
int call(Slot pcd_ops::*member, Args... args) {
    Slot slot = slot_of(member);
    if (!slot) return -1;
    int rc = slot(args...);
    return rc < -1 ? -1 : rc;
}

void fill_first_family(pcd_ops &t) {
    t = pcd_ops{
        .set_picc_protocol = do_pcd_set_picc_protocol,
        .antenna_open = do_pcd_antenna_open,
        .antenna_close = do_pcd_antenna_close,
        .set_baud = do_pcd_set_baud,
        .set_protocol = do_pcd_set_protocol,
        .hard_model = do_pcd_hard_model,
        .download_passwd = do_pcd_download_passwd,
        .set_buzzer = do_pcd_set_buzzer,
        .set_buzzer_ex = do_pcd_set_buzzer_ex,
        .set_led = do_pcd_set_led,
        .set_ledr = do_pcd_set_ledr,
        .get_mid = do_pcd_get_mid,
        .set_mid = do_pcd_set_mid,
        .get_power = do_pcd_get_power,
        .set_ulc_key = do_pcd_set_ulc_key,
        .set_dataenc_key = do_pcd_set_dataenc_key,
        .get_jack = do_pcd_get_jack,
        .set_validcard = do_pcd_set_validcard,
        .get_validcard = do_pcd_get_validcard,
        .set_msn = do_pcd_set_msn,
        .get_msn = do_pcd_get_msn,
        .get_otp_sn = do_pcd_get_otp_sn,
        .set_package_max_size = do_pcd_set_package_max_size,
        .get_package_max_size = do_pcd_get_package_max_size,
        .set_uart_mode = do_pcd_set_uart_mode,
        .get_uart_mode = do_pcd_get_uart_mode,
        .set_uart_intern_delay = do_pcd_set_uart_intern_delay,
        .get_uart_intern_delay = do_pcd_get_uart_intern_delay,
        .get_firmware_version = do_pcd_get_firmware_version,
        .set_brightness = do_pcd_set_brightness,
        .set_date = do_pcd_set_date,
        .set_lcdstr = do_pcd_set_lcdstr,
        .write_eeprom = do_pcd_write_eeprom,
        .read_eeprom = do_pcd_read_eeprom,
        .set_poweroff_delay = do_pcd_set_poweroff_delay,
        .etc_sam_reset = do_pcd_etc_sam_reset,
    };
}

// The second family replaces what its firmware offers, empties what it
// lacks, and leaves the rest as the first family (if ever registered) set it.
void fill_second_family(pcd_ops &t) {
    t.set_picc_protocol = dclk_pcd_set_picc_protocol;
    t.antenna_open = dclk_pcd_antenna_open;
    t.antenna_close = dclk_pcd_antenna_close;
    t.download_passwd = dclk_pcd_download_passwd;
    t.set_buzzer = dclk_pcd_set_buzzer;
    t.set_led = dclk_pcd_set_led;
    t.set_ledr = dclk_pcd_set_ledr;
    t.get_mid = dclk_pcd_get_mid;
    t.set_mid = dclk_pcd_set_mid;
    t.set_msn = dclk_pcd_set_msn;
    t.get_msn = dclk_pcd_get_msn;
    t.set_brightness = dclk_pcd_set_brightness;
    t.set_date = dclk_pcd_set_date;
    t.set_lcdstr = dclk_pcd_set_lcdstr;
    t.write_eeprom = dclk_pcd_write_eeprom;
    t.read_eeprom = dclk_pcd_read_eeprom;

    t.set_baud = nullptr;
    t.set_protocol = nullptr;
    t.hard_model = nullptr;
    t.set_package_max_size = nullptr;
    t.get_package_max_size = nullptr;
    t.set_uart_mode = nullptr;
    t.get_uart_mode = nullptr;
    t.set_uart_intern_delay = nullptr;
    t.get_uart_intern_delay = nullptr;
}

}  // namespace

namespace vr::link {

bool family_registered() { return check_api_version(static_cast<int>(tessil.family & 0xFF)) == 0; }

void store_family(int family) { tessil.family = static_cast<uint32_t>(family); }

}  // namespace vr::link

VR_API int check_api_version(int value) {
    (void)value;  // callers pass the low byte of the family; it is not used
    return tessil.family == VR_FAMILY_SECOND || tessil.family == VR_FAMILY_FIRST ? 0 : -1;
}

VR_API int misc_init(int family) {
    if (family == VR_FAMILY_SECOND)
        fill_second_family(tessil.pcd);
    else
        fill_first_family(tessil.pcd);
    return family;
}

VR_API int pcd_set_picc_protocol(int protocol) { return call(&pcd_ops::set_picc_protocol, sb(protocol)); }
VR_API int pcd_antenna_open(void) { return call(&pcd_ops::antenna_open); }
VR_API int pcd_antenna_close(void) { return call(&pcd_ops::antenna_close); }
VR_API int pcd_set_baud(int baud) { return call(&pcd_ops::set_baud, sb(baud)); }
VR_API int pcd_set_protocol(int protocol) { return call(&pcd_ops::set_protocol, sb(protocol)); }

VR_API unsigned char *pcd_hard_model(void) {
    auto slot = slot_of(&pcd_ops::hard_model);
    return slot ? slot() : nullptr;
}

VR_API int pcd_download_passwd(int index, int type, const unsigned char *key, int length) {
    return call(&pcd_ops::download_passwd, sb(index), sb(type), key, sb(length));
}

VR_API int pcd_set_buzzer(int first, int second) { return call(&pcd_ops::set_buzzer, sb(first), sb(second)); }

VR_API int pcd_set_buzzer_ex(int first, int second, int value, int last) {
    return call(&pcd_ops::set_buzzer_ex, sb(first), sb(second), static_cast<uint16_t>(value), sb(last));
}

VR_API int pcd_set_led(int first, int second) { return call(&pcd_ops::set_led, sb(first), sb(second)); }
VR_API int pcd_set_ledr(int first, int second) { return call(&pcd_ops::set_ledr, sb(first), sb(second)); }
VR_API int pcd_get_mid(unsigned char *out) { return call(&pcd_ops::get_mid, out); }
VR_API int pcd_set_mid(const unsigned char *in) { return call(&pcd_ops::set_mid, in); }
VR_API int pcd_get_power(void *ignored) { return call(&pcd_ops::get_power, ignored); }
VR_API int pcd_set_ulc_key(const unsigned char *key) { return call(&pcd_ops::set_ulc_key, key); }
VR_API int pcd_set_dataenc_key(const unsigned char *key) { return call(&pcd_ops::set_dataenc_key, key); }
VR_API int pcd_get_jack(unsigned char *out) { return call(&pcd_ops::get_jack, out); }
VR_API int pcd_set_validcard(const unsigned char *in) { return call(&pcd_ops::set_validcard, in); }
VR_API int pcd_get_validcard(unsigned char *out) { return call(&pcd_ops::get_validcard, out); }
VR_API int pcd_set_msn(const unsigned char *in) { return call(&pcd_ops::set_msn, in); }
VR_API int pcd_get_msn(unsigned char *out) { return call(&pcd_ops::get_msn, out); }
VR_API int pcd_get_otp_sn(unsigned char *out) { return call(&pcd_ops::get_otp_sn, out); }
VR_API int pcd_set_package_max_size(int size) { return call(&pcd_ops::set_package_max_size, sb(size)); }
VR_API int pcd_get_package_max_size(void) { return call(&pcd_ops::get_package_max_size); }
VR_API int pcd_set_uart_mode(int mode) { return call(&pcd_ops::set_uart_mode, sb(mode)); }
VR_API int pcd_get_uart_mode(void) { return call(&pcd_ops::get_uart_mode); }
VR_API int pcd_set_uart_intern_delay(int delay) { return call(&pcd_ops::set_uart_intern_delay, sb(delay)); }
VR_API int pcd_get_uart_intern_delay(void) { return call(&pcd_ops::get_uart_intern_delay); }
VR_API int pcd_get_firmware_version(unsigned char *out) { return call(&pcd_ops::get_firmware_version, out); }
VR_API int pcd_etc_sam_reset(unsigned char *out) { return call(&pcd_ops::etc_sam_reset, out); }
VR_API int pcd_set_brightness(int brightness) { return call(&pcd_ops::set_brightness, sb(brightness)); }
VR_API int pcd_set_date(const unsigned char *in) { return call(&pcd_ops::set_date, in); }
VR_API int pcd_set_lcdstr(const char *text) { return call(&pcd_ops::set_lcdstr, text); }

VR_API int pcd_set_poweroff_delay(int delay) {
    // The delay is a byte of seconds; read unsigned so that 128..255 are
    // sent as what they are rather than as negative tenths.
    return call(&pcd_ops::set_poweroff_delay, static_cast<uint8_t>(delay));
}

VR_API int pcd_write_eeprom(int address, int length, const unsigned char *in) {
    return call(&pcd_ops::write_eeprom, address, length, in);
}

VR_API int pcd_read_eeprom(int address, int length, unsigned char *out) {
    return call(&pcd_ops::read_eeprom, address, length, out);
}
