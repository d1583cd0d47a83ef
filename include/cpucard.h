/* Cards reached by command exchange: ISO 14443-4 type A CPU cards
 * (cpucard_), type B ID cards with their file table (cidcard_ and the CID
 * helpers), and any type A card identified only (iso14443a_).
 *
 * The read operation of the CPU and CID drivers is one exchange with the
 * card over a caller's buffer: byte 0 holds the number of command bytes
 * that follow; on return it holds the answer's length and the answer
 * follows it. An answer longer than 255 bytes cannot be counted in that
 * byte and is refused (-1, errno -16), so a buffer of 256 bytes holds any
 * answer. */
#ifndef VR_CPUCARD_H
#define VR_CPUCARD_H

#include <stdint.h>
#include "picc.h"
#include "vr_api.h"

VR_BEGIN_DECLS

/* ------------------------------------------------------------ CPU cards */

VR_API int cpucard_init(picc *record);
VR_API int cpucard_req(void);
VR_API int cpucard_wupa(void);
VR_API int cpucard_sel(picc *record, int unused);
/* Activation: wake-up, anticollision, select and the answer to select
 * (ATS) in one reader command. */
VR_API int cpucard_anticoll(picc *record, int unused);
VR_API int cpucard_query(picc *halt, picc *record);
VR_API int cpucard_halt(picc *record);
VR_API int cpucard_getuid(picc *record);
/* One APDU exchange over the buffer described above; the block is not
 * used. */
VR_API int cpucard_read(unsigned char *buffer, uint8_t block);

/* ------------------------------------------------------------ CID cards */

/* The answer to one APDU: status word SW1 * 256 + SW2 and the data before
 * it. */
#define CID_APDU_DATA_MAX 512
typedef struct cid_apdu_response {
    uint16_t sw;
    uint8_t data[CID_APDU_DATA_MAX];
    uint8_t len;
} cid_apdu_response;

VR_API int cidcard_init(picc *record);
VR_API int cidcard_req(void);
VR_API int cidcard_wupa(void);
VR_API int cidcard_sel(picc *record, int unused);
/* Type B request and the fixed ATTRIB; uid takes the 12 bytes after the
 * answer's first byte and a zero (13 in all), ats the ATTRIB answer. */
VR_API int cidcard_anticoll(picc *record, int unused);
VR_API int cidcard_query(picc *halt, picc *record);
VR_API int cidcard_halt(picc *record);
VR_API int cidcard_getuid(picc *record);
/* One exchange over the buffer described above; the block is not used. */
VR_API int cidcard_read(unsigned char *buffer, uint8_t block);
/* Reads a named file of the card's table ("6002", "6011", "6012", "6013",
 * "6021"; the first 4 characters count, in any case) and leaves it in out
 * as upper-case hexadecimal text, *length its number of characters. out
 * needs room for twice the file size plus the terminator (2049 bytes
 * serve every file). 0; -1 (errno -24 for a missing argument or a name
 * outside the table, -47 for a missing record) when nothing was read; -21
 * when the text cannot be made. The code is not examined. */
VR_API int cidcard_ctrl(picc *record, int code, const char *name, char *out, int *length);

/* Sends one APDU of n bytes (1..2046) through the reader: 1 with the
 * answer in *response, 0 when the exchange fails or the answer is
 * malformed (shorter than its status word, or more data than the record
 * counts). */
VR_API int cidApduWithBytesEx(picc *record, const unsigned char *apdu, int n, cid_apdu_response *response);
/* SELECT of a file by identifier: 1 when the card answers 90 00, else 0. */
VR_API int selectFile(picc *record, uint16_t file_id);
/* READ BINARY of total bytes from offset 0 in pieces of at most chunk
 * bytes into out (room for total bytes); *count receives the bytes stored.
 * 1 when all total bytes were read, else 0 (a status word other than
 * 90 00, an empty piece, or a piece longer than asked). */
VR_API int readBin(picc *record, unsigned char *out, int chunk, int total, int *count);
VR_API int readBinWithoutResp(picc *record, unsigned char *out, int chunk, int total, int *count);

/* ---------------------------------------------------- generic type A */

VR_API int iso14443a_init(picc *record);
/* Selects the reader's type A protocol. */
VR_API int iso14443a_req(void);
VR_API int iso14443a_wupa(void);
VR_API int iso14443a_sel(picc *record, int unused);
/* ATQA, UID and SAK of the card in the field; no type is looked up. */
VR_API int iso14443a_anticoll(picc *record, int unused);
VR_API int iso14443a_query(picc *halt, picc *record);
VR_API int iso14443a_halt(picc *record);
VR_API int iso14443a_getuid(picc *record);

/* The second reader family's CPU-card driver (offered, not registered:
 * callers install it with dclk_cpucard_init on a record of their own).
 * The activation (0x0210) and APDUs (0x0211, buffer as cpucard_read) go
 * over the direct path; the activation's whole answer becomes the UID. */
VR_API int dclk_cpucard_init(picc *record);
VR_API int dclk_cpucard_req(void);
VR_API int dclk_cpucard_wupa(void);
VR_API int dclk_cpucard_sel(picc *record, int unused);
VR_API int dclk_cpucard_anticoll(picc *record, int unused);
VR_API int dclk_cpucard_query(picc *previous, picc *record);
VR_API int dclk_cpucard_halt(picc *record);
VR_API int dclk_cpucard_getuid(picc *record);
VR_API int dclk_cpucard_read(unsigned char *buffer, uint8_t unused);
VR_API int dclk_cpucard_write(const unsigned char *in, uint8_t block);
VR_API int dclk_cpucard_auth(const unsigned char *key, uint8_t key_type, uint8_t block);
VR_API int dclk_cpucard_block(uint8_t block);
VR_API int dclk_cpucard_value(const unsigned char *value, uint8_t block);
VR_API int dclk_cpucard_rdval(unsigned char *value, uint8_t block);

VR_END_DECLS

#endif
