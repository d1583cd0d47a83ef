// First reader family: each worker is one reader command sent through the
// command exchange.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "link/reader_command.h"
#include "pcd.h"

namespace {

using vr::ReaderCommand;

constexpr int kSettingsTimeoutMs = 100;  // link settings answer at once
constexpr int kAntennaOffTimeoutMs = 300;
constexpr int kLcdTextMax = 4095;

bool valid_card_protocol(signed char p) { return p == 'A' || p == 'B'; }
bool valid_key_type(signed char t) { return t == 0x60 || t == 0x61; }

uint8_t b(int v) { return static_cast<uint8_t>(v); }

int send_simple(uint16_t code, std::initializer_list<uint8_t> data, int timeout_ms = 0) {
    ReaderCommand c(code, data);
    return c.send(timeout_ms);
}

int send_bytes(uint16_t code, const unsigned char *in, int n) {
    if (!in) return vr::fail(vr::kEArg);
    ReaderCommand c(code);
    c.append(in, n);
    return c.send();
}

int fetch(uint16_t code, unsigned char *out, int n) {
    if (!out) return vr::fail(vr::kEArg);
    ReaderCommand c(code);
    int rc = c.send();
    if (rc != 0) return rc;
    return vr::copy_reply(c, out, n);
}

// Link settings getters (and the delay setter) and the battery level
// answer with one byte: the byte, or the failure result.
int first_reply_byte(uint16_t code, std::initializer_list<uint8_t> data, int timeout_ms = kSettingsTimeoutMs) {
    ReaderCommand c(code, data);
    int rc = c.send(timeout_ms);
    if (rc != 0) return rc;
    if (c.reply().empty()) return vr::fail(vr::kEMsgWrong);
    return c.reply()[0];
}

}  // namespace

namespace vr {

int copy_reply(const ReaderCommand &c, unsigned char *out, int n) {
    if (static_cast<int>(c.reply().size()) < n) return fail(kEMsgWrong);
    std::memcpy(out, c.reply().data(), static_cast<std::size_t>(n));
    return 0;
}

}  // namespace vr

VR_API int do_pcd_set_picc_protocol(signed char protocol) {
    if (!valid_card_protocol(protocol)) return vr::fail(vr::kEArg);
    return send_simple(0x0108, {b(protocol)});
}

VR_API int do_pcd_antenna_open(void) { return send_simple(0x010C, {0x01}); }
VR_API int do_pcd_antenna_close(void) { return send_simple(0x010C, {0x00}, kAntennaOffTimeoutMs); }
VR_API int do_pcd_set_baud(signed char baud) { return send_simple(0x0101, {b(baud)}); }
VR_API int do_pcd_set_protocol(signed char protocol) { return send_simple(0x0108, {b(protocol)}); }

VR_API unsigned char *do_pcd_hard_model(void) {
    ReaderCommand c(0x0104);
    if (c.send() != 0) return nullptr;
    const auto reply = c.reply();
    // A text for the caller: the reply bytes and a terminator.
    auto *copy = static_cast<unsigned char *>(std::malloc(reply.size() + 1));
    if (!copy) {
        errno = vr::kENoMem;
        return nullptr;
    }
    std::memcpy(copy, reply.data(), reply.size());
    copy[reply.size()] = 0;
    return copy;
}

VR_API int do_pcd_download_passwd(signed char index, signed char type, const unsigned char *key,
                                  signed char length) {
    if (!valid_key_type(type)) return vr::fail(vr::kEKeyType);
    if (length < 0 || (length > 0 && !key)) return vr::fail(vr::kEArg);
    ReaderCommand c(0x0605, {b(type), b(index)});
    c.append(key, length);
    return c.send();
}

VR_API int do_pcd_set_buzzer(signed char first, signed char second) {
    return send_simple(0x010D, {b(first), b(second)});
}

VR_API int do_pcd_set_buzzer_ex(signed char first, signed char second, uint16_t value, signed char last) {
    return send_simple(0x0110, {b(first), b(second), b(value & 0xFF), b(value >> 8), b(last)});
}

VR_API int do_pcd_set_led(signed char first, signed char second) {
    return send_simple(0x010E, {b(first), b(second)});
}

VR_API int do_pcd_set_ledr(signed char first, signed char second) {
    return send_simple(0x010F, {b(first), b(second)});
}

VR_API int do_pcd_get_mid(unsigned char *out) { return fetch(0x0601, out, 1); }
VR_API int do_pcd_set_mid(const unsigned char *in) { return send_bytes(0x0602, in, 1); }

VR_API int do_pcd_get_power(void *ignored) {
    (void)ignored;
    // The raw byte is the battery voltage scale: 188 and below is empty,
    // 217 and above full.
    const int raw = first_reply_byte(0x0F10, {}, 0);
    if (raw < 0) return raw;
    if (raw <= 188) return 0;
    const int percent = (raw - 188) * 100 / 29;
    return percent > 100 ? 100 : percent;
}

VR_API int do_pcd_set_ulc_key(const unsigned char *key) { return send_bytes(0x0710, key, 16); }
VR_API int do_pcd_set_dataenc_key(const unsigned char *key) { return send_bytes(0x0711, key, 16); }
VR_API int do_pcd_get_jack(unsigned char *out) { return fetch(0x0F0A, out, 2); }
VR_API int do_pcd_set_validcard(const unsigned char *in) { return send_bytes(0x7F31, in, 2); }
VR_API int do_pcd_get_validcard(unsigned char *out) { return fetch(0x7F32, out, 2); }
VR_API int do_pcd_set_msn(const unsigned char *in) { return send_bytes(0x0604, in, 8); }
VR_API int do_pcd_get_msn(unsigned char *out) { return fetch(0x0603, out, 8); }
VR_API int do_pcd_get_otp_sn(unsigned char *out) { return fetch(0x0104, out, 8); }

VR_API int do_pcd_set_package_max_size(signed char size) {
    return send_simple(0x0F30, {0x01, b(size)}, kSettingsTimeoutMs);
}
VR_API int do_pcd_get_package_max_size(void) { return first_reply_byte(0x0F30, {0x02}); }
VR_API int do_pcd_set_uart_mode(signed char mode) {
    return send_simple(0x0F31, {0x01, b(mode)}, kSettingsTimeoutMs);
}
VR_API int do_pcd_get_uart_mode(void) { return first_reply_byte(0x0F31, {0x02}); }
VR_API int do_pcd_set_uart_intern_delay(signed char delay) {
    return first_reply_byte(0x0F32, {0x01, b(delay)});
}
VR_API int do_pcd_get_uart_intern_delay(void) { return first_reply_byte(0x0F32, {0x02}); }

VR_API int do_pcd_get_firmware_version(unsigned char *out) { return fetch(0x0103, out, 16); }
VR_API int do_pcd_etc_sam_reset(unsigned char *out) { return fetch(0x0403, out, 16); }
VR_API int do_pcd_set_brightness(signed char brightness) { return send_simple(0x0114, {b(brightness)}); }
VR_API int do_pcd_set_date(const unsigned char *in) { return send_bytes(0x0115, in, 6); }

VR_API int do_pcd_set_lcdstr(const char *text) {
    if (!text) return vr::fail(vr::kEArg);
    const std::size_t n = strnlen(text, kLcdTextMax);
    if (n >= kLcdTextMax) return vr::fail(vr::kEArg);
    return send_bytes(0x0117, reinterpret_cast<const unsigned char *>(text), static_cast<int>(n));
}

VR_API int do_pcd_set_poweroff_delay(uint8_t delay) {
    const unsigned tenths = delay * 10u;
    return send_simple(0x0F05, {0x03, b(tenths >> 8), b(tenths & 0xFF)});
}

VR_API int do_pcd_write_eeprom(int address, int length, const unsigned char *in) {
    (void)address, (void)length, (void)in;
    return vr::fail(vr::kENoCmd);
}

VR_API int do_pcd_read_eeprom(int address, int length, unsigned char *out) {
    (void)address, (void)length, (void)out;
    return vr::fail(vr::kENoCmd);
}

VR_API int do_pcd_get_rand(unsigned char *out, int n) {
    if (!out || n < 0 || n > 255) return vr::fail(vr::kEArg);
    ReaderCommand c(0x0F09, {b(n)});
    int rc = c.send();
    if (rc != 0) return rc;
    if (static_cast<int>(c.reply().size()) != n) return -1;
    std::memcpy(out, c.reply().data(), static_cast<std::size_t>(n));
    return 0;
}
