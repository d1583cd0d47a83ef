/* MIFARE Classic 1K (m1s50_) and 4K (m1s70_) card drivers. */
#ifndef VR_MIFARE_H
#define VR_MIFARE_H

#include <stdint.h>
#include "picc.h"
#include "vr_api.h"

VR_BEGIN_DECLS

/* Key types of MIFARE authentication. */
enum { MIFARE_KEY_A = 0x60, MIFARE_KEY_B = 0x61 };

/* Fills a zeroed card record with the driver's operations and texts. */
VR_API int m1s50_init(picc *record);
VR_API int m1s70_init(picc *record);

/* Request, wake-up and select send nothing and return 0: the reader
 * activates a 1K card inside each of its card commands. */
VR_API int m1s50_req(void);
VR_API int m1s50_wupa(void);
VR_API int m1s50_sel(picc *record, int unused);
VR_API int m1s50_anticoll(picc *record, int unused);
VR_API int m1s50_query(picc *halt, picc *record);
VR_API int m1s50_halt(picc *record);
VR_API int m1s50_getuid(picc *record);
/* Stricter than the reader requires: the 1K block operations refuse a
 * block number beyond the card (64 and above) with -1, errno -24, before
 * any traffic. chpw (both sizes) refuses to change key A alone when the
 * trailer hides key B (see picc_chpw). */
VR_API int m1s50_read(unsigned char *out, uint8_t block);
VR_API int m1s50_write(const unsigned char *in, uint8_t block);
VR_API int m1s50_auth(const unsigned char *key, uint8_t key_type, uint8_t block);
VR_API int m1s50_chpw(const unsigned char *keys, uint8_t key_type, uint8_t block);
VR_API int m1s50_chaccess(const unsigned char *description, uint8_t block);
VR_API int m1s50_load(uint8_t block);
VR_API int m1s50_transfer(uint8_t block);
VR_API int m1s50_incval(const unsigned char *value, uint8_t block);
VR_API int m1s50_decval(const unsigned char *value, uint8_t block);
VR_API int m1s50_rdval(unsigned char *value, uint8_t block);
VR_API int m1s50_wrval(const unsigned char *value, uint8_t block);
VR_API int m1s50_secblk(uint16_t sector);
VR_API int m1s50_blklen(uint16_t block);
VR_API int m1s50_seccnt(void);
VR_API int m1s50_blkcnt(void);
/* Byte range of the 720-byte data area (the data blocks of sectors 1..15);
 * caller address 16 is its first byte. */
VR_API int m1s50_readdata(uint16_t address, uint16_t length, unsigned char *out);
VR_API int m1s50_writedata(uint16_t address, uint16_t length, const unsigned char *in);
/* The same on data-area offsets, authenticating each sector with the given
 * 6-byte key A, or with the reader's stored key when key is null. */
VR_API int m1s50_readdata_ex(uint16_t offset, uint16_t length, unsigned char *out,
                             const unsigned char *key);
VR_API int m1s50_writedata_ex(uint16_t offset, uint16_t length, const unsigned char *in,
                              const unsigned char *key);

VR_API int m1s70_req(void);
VR_API int m1s70_wupa(void);
VR_API int m1s70_sel(picc *record, int unused);
VR_API int m1s70_anticoll(picc *record, int unused);
VR_API int m1s70_query(picc *halt, picc *record);
VR_API int m1s70_halt(picc *record);
VR_API int m1s70_getuid(picc *record);
VR_API int m1s70_read(unsigned char *out, uint8_t block);
VR_API int m1s70_write(const unsigned char *in, uint8_t block);
VR_API int m1s70_auth(const unsigned char *key, uint8_t key_type, uint8_t block);
VR_API int m1s70_chpw(const unsigned char *keys, uint8_t key_type, uint8_t block);
VR_API int m1s70_chaccess(const unsigned char *description, uint8_t block);
VR_API int m1s70_load(uint8_t block);
VR_API int m1s70_transfer(uint8_t block);
VR_API int m1s70_incval(const unsigned char *value, uint8_t block);
VR_API int m1s70_decval(const unsigned char *value, uint8_t block);
VR_API int m1s70_rdval(unsigned char *value, uint8_t block);
VR_API int m1s70_wrval(const unsigned char *value, uint8_t block);
VR_API int m1s70_secblk(uint16_t sector);
VR_API int m1s70_blklen(uint16_t block);
VR_API int m1s70_seccnt(void);
VR_API int m1s70_blkcnt(void);

/* The second reader family's 1K driver: the family's own commands through
 * the command exchange; value blocks are built and checked here. */
VR_API int dclk_m1s50_init(picc *record);
VR_API int dclk_m1s50_req(void);
VR_API int dclk_m1s50_wupa(void);
VR_API int dclk_m1s50_sel(picc *record, int unused);
VR_API int dclk_m1s50_anticoll(picc *record, int unused);
VR_API int dclk_m1s50_query(picc *halt, picc *record);
VR_API int dclk_m1s50_halt(picc *record);
VR_API int dclk_m1s50_getuid(picc *record);
VR_API int dclk_m1s50_read(unsigned char *out, uint8_t block);
VR_API int dclk_m1s50_write(const unsigned char *in, uint8_t block);
/* key: 6 bytes (required); key_type MIFARE_KEY_A or MIFARE_KEY_B. */
VR_API int dclk_m1s50_auth(const unsigned char *key, uint8_t key_type, uint8_t block);
VR_API int dclk_m1s50_chpw(const unsigned char *keys, uint8_t key_type, uint8_t block);
VR_API int dclk_m1s50_chaccess(const unsigned char *description, uint8_t block);
VR_API int dclk_m1s50_load(uint8_t block);
VR_API int dclk_m1s50_transfer(uint8_t block);
VR_API int dclk_m1s50_incval(const unsigned char *value, uint8_t block);
VR_API int dclk_m1s50_decval(const unsigned char *value, uint8_t block);
/* The 4 value bytes of a block in value format: -1 with errno -14 when the
 * read fails, -16 when the block is not a value block. */
VR_API int dclk_m1s50_rdval(unsigned char *value, uint8_t block);
VR_API int dclk_m1s50_wrval(const unsigned char *value, uint8_t block);

/* The second family's 4K driver: the first family's 4K commands, each a
 * protocol-1 message of its own (the direct path). */
VR_API int dclk_m1s70_init(picc *record);
VR_API int dclk_m1s70_req(void);
VR_API int dclk_m1s70_wupa(void);
VR_API int dclk_m1s70_sel(picc *record, int unused);
VR_API int dclk_m1s70_anticoll(picc *record, int unused);
VR_API int dclk_m1s70_query(picc *halt, picc *record);
VR_API int dclk_m1s70_halt(picc *record);
VR_API int dclk_m1s70_getuid(picc *record);
VR_API int dclk_m1s70_read(unsigned char *out, uint8_t block);
VR_API int dclk_m1s70_write(const unsigned char *in, uint8_t block);
VR_API int dclk_m1s70_auth(const unsigned char *key, uint8_t key_type, uint8_t block);
VR_API int dclk_m1s70_chpw(const unsigned char *keys, uint8_t key_type, uint8_t block);
VR_API int dclk_m1s70_chaccess(const unsigned char *description, uint8_t block);
VR_API int dclk_m1s70_load(uint8_t block);
VR_API int dclk_m1s70_transfer(uint8_t block);
VR_API int dclk_m1s70_incval(const unsigned char *value, uint8_t block);
VR_API int dclk_m1s70_decval(const unsigned char *value, uint8_t block);
VR_API int dclk_m1s70_rdval(unsigned char *value, uint8_t block);
VR_API int dclk_m1s70_wrval(const unsigned char *value, uint8_t block);

/* Edits the three access bytes of a sector trailer (bytes[0..2] = trailer
 * bytes 6..8) for one block index (0..2 data blocks, 3 the trailer) with a
 * 3-bit access code C1 (bit 0), C2 (bit 1), C3 (bit 2); 0xFF leaves them
 * unchanged. 0, or -1 for an index above 3. */
VR_API int gen_access(unsigned char *bytes, unsigned char code, int index);

VR_END_DECLS

#endif
