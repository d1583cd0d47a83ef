/* Reader (PCD) commands of both reader families. */
#ifndef VR_PCD_H
#define VR_PCD_H

#include <stdint.h>
#include "vr_api.h"

VR_BEGIN_DECLS

/* Fills the reader operation table for a family (0x55 the second, any
 * other value the first); returns its argument. */
VR_API int misc_init(int family);
/* 0 when a reader family is registered, else -1; the argument is ignored. */
VR_API int check_api_version(int value);

/* Public reader functions. Each fails with errno -61 before any family is
 * registered and with -22 when the registered family lacks the operation;
 * a failure of the exchange returns -1 with errno set. Integer arguments
 * are sent as bytes. After a command whose reply did not come, the next
 * one is preceded by the reader's echo and may fail with -81 without being
 * sent (virt_com_command in virt_com.h). */
VR_API int pcd_set_picc_protocol(int protocol);
VR_API int pcd_antenna_open(void);
VR_API int pcd_antenna_close(void);
VR_API int pcd_set_baud(int baud);
VR_API int pcd_set_protocol(int protocol);
/* The reader's model text, newly allocated (the caller frees it); null on
 * failure. */
VR_API unsigned char *pcd_hard_model(void);
VR_API int pcd_download_passwd(int index, int type, const unsigned char *key,
                               int length);
VR_API int pcd_set_buzzer(int first, int second);
VR_API int pcd_set_buzzer_ex(int first, int second, int value, int last);
VR_API int pcd_set_led(int first, int second);
VR_API int pcd_set_ledr(int first, int second);
VR_API int pcd_get_mid(unsigned char *out);
VR_API int pcd_set_mid(const unsigned char *in);
/* Battery level in percent. */
VR_API int pcd_get_power(void *ignored);
VR_API int pcd_set_ulc_key(const unsigned char *key);
VR_API int pcd_set_dataenc_key(const unsigned char *key);
VR_API int pcd_get_jack(unsigned char *out);
VR_API int pcd_set_validcard(const unsigned char *in);
VR_API int pcd_get_validcard(unsigned char *out);
VR_API int pcd_set_msn(const unsigned char *in);
VR_API int pcd_get_msn(unsigned char *out);
VR_API int pcd_get_otp_sn(unsigned char *out);
VR_API int pcd_set_package_max_size(int size);
VR_API int pcd_get_package_max_size(void);
VR_API int pcd_set_uart_mode(int mode);
VR_API int pcd_get_uart_mode(void);
VR_API int pcd_set_uart_intern_delay(int delay);
VR_API int pcd_get_uart_intern_delay(void);
VR_API int pcd_get_firmware_version(unsigned char *out);
VR_API int pcd_etc_sam_reset(unsigned char *out);
VR_API int pcd_set_brightness(int brightness);
VR_API int pcd_set_date(const unsigned char *in);
VR_API int pcd_set_lcdstr(const char *text);
/* Delay in seconds (0..255); sent as tenths, two bytes, high first. */
VR_API int pcd_set_poweroff_delay(int delay);
VR_API int pcd_write_eeprom(int address, int length, const unsigned char *in);
VR_API int pcd_read_eeprom(int address, int length, unsigned char *out);

/* First-family workers: one reader command each. */
VR_API int do_pcd_set_picc_protocol(signed char protocol);
VR_API int do_pcd_antenna_open(void);
VR_API int do_pcd_antenna_close(void);
VR_API int do_pcd_set_baud(signed char baud);
VR_API int do_pcd_set_protocol(signed char protocol);
VR_API unsigned char *do_pcd_hard_model(void);
VR_API int do_pcd_download_passwd(signed char index, signed char type,
                                  const unsigned char *key, signed char length);
VR_API int do_pcd_set_buzzer(signed char first, signed char second);
VR_API int do_pcd_set_buzzer_ex(signed char first, signed char second,
                                uint16_t value, signed char last);
VR_API int do_pcd_set_led(signed char first, signed char second);
VR_API int do_pcd_set_ledr(signed char first, signed char second);
VR_API int do_pcd_get_mid(unsigned char *out);
VR_API int do_pcd_set_mid(const unsigned char *in);
VR_API int do_pcd_get_power(void *ignored);
VR_API int do_pcd_set_ulc_key(const unsigned char *key);
VR_API int do_pcd_set_dataenc_key(const unsigned char *key);
VR_API int do_pcd_get_jack(unsigned char *out);
VR_API int do_pcd_set_validcard(const unsigned char *in);
VR_API int do_pcd_get_validcard(unsigned char *out);
VR_API int do_pcd_set_msn(const unsigned char *in);
VR_API int do_pcd_get_msn(unsigned char *out);
VR_API int do_pcd_get_otp_sn(unsigned char *out);
VR_API int do_pcd_set_package_max_size(signed char size);
VR_API int do_pcd_get_package_max_size(void);
VR_API int do_pcd_set_uart_mode(signed char mode);
VR_API int do_pcd_get_uart_mode(void);
VR_API int do_pcd_set_uart_intern_delay(signed char delay);
VR_API int do_pcd_get_uart_intern_delay(void);
VR_API int do_pcd_get_firmware_version(unsigned char *out);
VR_API int do_pcd_etc_sam_reset(unsigned char *out);
VR_API int do_pcd_set_brightness(signed char brightness);
VR_API int do_pcd_set_date(const unsigned char *in);
VR_API int do_pcd_set_lcdstr(const char *text);
VR_API int do_pcd_set_poweroff_delay(uint8_t delay);
VR_API int do_pcd_write_eeprom(int address, int length, const unsigned char *in);
VR_API int do_pcd_read_eeprom(int address, int length, unsigned char *out);
/* n random bytes from the reader into out: 0, or -1. */
VR_API int do_pcd_get_rand(unsigned char *out, int n);

/* Second-family workers. Only set_picc_protocol reaches the reader; the
 * others send nothing and succeed. */
VR_API int dclk_pcd_set_picc_protocol(signed char protocol);
VR_API int dclk_pcd_antenna_open(void);
VR_API int dclk_pcd_antenna_close(void);
VR_API int dclk_pcd_download_passwd(signed char index, signed char type,
                                    const unsigned char *key, signed char length);
VR_API int dclk_pcd_set_buzzer(signed char first, signed char second);
VR_API int dclk_pcd_set_led(signed char first, signed char second);
VR_API int dclk_pcd_set_ledr(signed char first, signed char second);
VR_API int dclk_pcd_get_mid(unsigned char *out);
VR_API int dclk_pcd_set_mid(const unsigned char *in);
VR_API int dclk_pcd_set_msn(const unsigned char *in);
VR_API int dclk_pcd_get_msn(unsigned char *out);
VR_API int dclk_pcd_set_brightness(signed char brightness);
VR_API int dclk_pcd_set_date(const unsigned char *in);
VR_API int dclk_pcd_set_lcdstr(const char *text);
VR_API int dclk_pcd_write_eeprom(int address, int length, const unsigned char *in);
VR_API int dclk_pcd_read_eeprom(int address, int length, unsigned char *out);
VR_API int dclk_pcd_set_baud(signed char baud);
VR_API int dclk_pcd_set_protocol(signed char protocol);
VR_API unsigned char *dclk_pcd_hard_model(void);
VR_API int dclk_pcd_set_light(signed char value);
VR_API int dclk_pcd_set_display(const char *text);

VR_END_DECLS

#endif
