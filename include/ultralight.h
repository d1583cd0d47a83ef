/* MIFARE Ultralight (m0ul_) and Ultralight C (m0ulc_) card drivers.
 *
 * Pages are 4 bytes. Byte addresses of the readdata / writedata operations
 * count from page 0; the first 16 bytes (serial number, lock and one-time
 * bytes) are never written through them. The enciphered variants leave the
 * cipher to the reader, under its data-encryption key (pcd_set_dataenc_key).
 * The Ultralight C's 3DES authentication also runs in the reader: the
 * driver hands it the key, or asks it to use its stored one
 * (pcd_set_ulc_key), and learns only the outcome. */
#ifndef VR_ULTRALIGHT_H
#define VR_ULTRALIGHT_H

#include <stdint.h>
#include "picc.h"
#include "vr_api.h"

VR_BEGIN_DECLS

/* Fill a zeroed card record with the driver's operations and texts. */
VR_API int m0ul_init(picc *record);
VR_API int m0ulc_init(picc *record);

/* Request (REQA) and wake-up (WUPA): 0 when the card answers with the
 * Ultralight ATQA 44 00, else -1 with errno -20. */
VR_API int m0ul_req(void);
VR_API int m0ul_wupa(void);
/* Selection is part of the anticollision: 0, no reader traffic. */
VR_API int m0ul_sel(picc *record, int unused);
/* Reads the 7-byte UID once; a record that holds one sends nothing. */
VR_API int m0ul_anticoll(picc *record, int unused);
VR_API int m0ul_query(picc *halt, picc *record);
VR_API int m0ul_halt(picc *record);
VR_API int m0ul_getuid(picc *record);
/* One page: out receives 4 bytes; in gives 4 bytes. */
VR_API int m0ul_read(unsigned char *out, uint8_t page);
VR_API int m0ul_write(const unsigned char *in, uint8_t page);
/* Byte ranges of the 64-byte memory: -1 with errno -24 when the range
 * leaves the memory or (writes) starts below byte 16; -16 when the reader
 * answers with another length. */
VR_API int m0ul_readdata(uint16_t address, uint16_t length, unsigned char *out);
VR_API int m0ul_writedata(uint16_t address, uint16_t length, const unsigned char *in);
VR_API int m0ul_readdata_enc(uint16_t address, uint16_t length, unsigned char *out);
VR_API int m0ul_writedata_enc(uint16_t address, uint16_t length, const unsigned char *in);
VR_API int m0ul_secblk(uint16_t sector);
VR_API int m0ul_blklen(uint16_t block);
VR_API int m0ul_seccnt(void);
VR_API int m0ul_blkcnt(void);

VR_API int m0ulc_req(void);
VR_API int m0ulc_wupa(void);
VR_API int m0ulc_sel(picc *record, int unused);
VR_API int m0ulc_anticoll(picc *record, int unused);
VR_API int m0ulc_query(picc *halt, picc *record);
VR_API int m0ulc_halt(picc *record);
VR_API int m0ulc_getuid(picc *record);
VR_API int m0ulc_read(unsigned char *out, uint8_t page);
VR_API int m0ulc_write(const unsigned char *in, uint8_t page);
/* As the Ultralight's, on the 192-byte memory. */
VR_API int m0ulc_readdata(uint16_t address, uint16_t length, unsigned char *out);
VR_API int m0ulc_writedata(uint16_t address, uint16_t length, const unsigned char *in);
VR_API int m0ulc_readdata_enc(uint16_t address, uint16_t length, unsigned char *out);
VR_API int m0ulc_writedata_enc(uint16_t address, uint16_t length, const unsigned char *in);
/* 3DES authentication with the 16-byte key, or with the key stored in the
 * reader when key is null. Key type and block are not used. */
VR_API int m0ulc_auth(const unsigned char *key, uint8_t key_type, uint8_t block);
/* Key change: the 32 bytes go to the reader unchanged (the current key,
 * then the new one). Key type and block are not used. */
VR_API int m0ulc_chpw(const unsigned char *keys, uint8_t key_type, uint8_t block);
VR_API int m0ulc_secblk(uint16_t sector);
VR_API int m0ulc_blklen(uint16_t block);
VR_API int m0ulc_seccnt(void);
VR_API int m0ulc_blkcnt(void);
/* Control: code 17 sets the first protected page (the argument, as a
 * signed byte); any other code is -1 with errno -22. */
VR_API int m0ulc_ctrl(picc *record, int code, intptr_t a, intptr_t b, intptr_t c, intptr_t d,
                      intptr_t e, intptr_t f);
/* Sets the first page that needs the authentication (0x30: none). */
VR_API int m0ulc_set_enrypted_start_page(signed char page);

/* The second reader family's Ultralight: the first family's commands over
 * the direct path; a read returns four pages (16 bytes). */
VR_API int dclk_m0ul_init(picc *record);
VR_API int dclk_m0ul_req(void);
VR_API int dclk_m0ul_wupa(void);
VR_API int dclk_m0ul_sel(picc *record, int unused);
VR_API int dclk_m0ul_anticoll(picc *record, int unused);
VR_API int dclk_m0ul_query(picc *previous, picc *record);
VR_API int dclk_m0ul_halt(picc *record);
VR_API int dclk_m0ul_getuid(picc *record);
VR_API int dclk_m0ul_read(unsigned char *out, uint8_t page);
VR_API int dclk_m0ul_write(const unsigned char *in, uint8_t page);

/* The second family's Ultralight C: the Ultralight's operations above, plus
 * authentication with a 16-byte key (required), the 32-byte key change,
 * the first protected page and control code 17. */
VR_API int dclk_m0ulc_init(picc *record);
VR_API int dclk_m0ulc_auth(const unsigned char *key, uint8_t key_type, uint8_t block);
VR_API int dclk_m0ulc_chpw(const unsigned char *keys, uint8_t key_type, uint8_t block);
VR_API int dclk_m0ulc_set_enrypted_start_page(signed char page);
VR_API int dclk_m0ulc_ctrl(picc *record, int code, intptr_t a, intptr_t b, intptr_t c, intptr_t d,
                           intptr_t e, intptr_t f);

VR_END_DECLS

#endif
