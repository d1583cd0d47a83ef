/* The PRC resident identity card: the identity_ driver (finds the card and
 * reads its 8-byte identifier), the id_sam_ driver (reads the card through
 * the reader's SAM) and the SAM message layer (sam_) under it.
 *
 * SAM messages travel as the data of ordinary reader commands. A request
 * frame is AA AA AA 96 69, a big-endian length (command byte, data and
 * check byte), the command byte, the data and a check byte (exclusive-or
 * from the length on); an answer carries three status bytes SW1 SW2 SW3
 * in place of the command byte. */
#ifndef VR_IDENTITY_H
#define VR_IDENTITY_H

#include <stdint.h>
#include "picc.h"
#include "vr_api.h"

VR_BEGIN_DECLS

/* Largest data part of a SAM message. */
#define SAM_DATA_MAX 4096
/* Largest text, photo and fingerprint records. */
#define SAM_TEXT_MAX 256
#define SAM_PHOTO_MAX 1024
#define SAM_FINGER_MAX 1024

/* A SAM answer taken apart: the three status bytes (in this order, so
 * &sw1 is what sam_check_state reads), the data and its length. */
typedef struct sam_answer {
    uint8_t sw1;
    uint8_t sw2;
    uint8_t sw3;
    uint8_t data[SAM_DATA_MAX];
    int32_t len;
} sam_answer;

/* ------------------------------------------------------------ drivers */

VR_API int identity_init(picc *record);
/* Selects the reader's type B protocol. */
VR_API int identity_req(void);
VR_API int identity_wupa(void);
VR_API int identity_sel(picc *record, int unused);
/* The card's 8-byte identifier, once: the field is switched off and on,
 * then the reader reads it. A record that holds one sends nothing. */
VR_API int identity_anticoll(picc *record, int unused);
VR_API int identity_query(picc *halt, picc *record);
VR_API int identity_halt(picc *record);
VR_API int identity_getuid(picc *record);

VR_API int id_sam_init(picc *record);
VR_API int id_sam_req(void);
VR_API int id_sam_wupa(void);
VR_API int id_sam_sel(picc *record, int unused);
VR_API int id_sam_anticoll(picc *record, int unused);
/* Selects the reader's type B protocol: 0, or -1. */
VR_API int id_sam_query(picc *halt, picc *record);
VR_API int id_sam_halt(picc *record);
VR_API int id_sam_getuid(picc *record);
/* The SAM operations by control code; buffers are unsigned char *, lengths
 * int * (capacity on entry, bytes stored on return):
 *   69 text, text length            search, select, read the text
 *   71 photo, photo length          search, select, read the photo
 *   72 text, length, photo, length, fingerprint, length
 *                                   search, select, the fingerprint alone
 *                                   (the text and photo pairs are ignored)
 *   73 text, length, photo, length  search, select, read text and photo
 *   74 text, length, photo, length, fingerprint, length
 *                                   search, select, read all three
 *   75 reset, 76 self-check, 77 search, 78 select (no arguments)
 *   79 fingerprint, length          search, select, read the fingerprint
 * A null buffer skips its record. 0; a failed step is -1 with errno -35;
 * any other code (70 too) is -1 with errno -35. */
VR_API int id_sam_ctrl(picc *record, int code, intptr_t a, intptr_t b, intptr_t c, intptr_t d,
                       intptr_t e, intptr_t f);

/* ------------------------------------------------------ SAM messages */

/* Builds the request frame of a command byte and length data bytes into
 * out (room for length + 9 bytes): its length, or -1 for a missing
 * argument or a length outside 0..SAM_DATA_MAX. */
VR_API int sam_searial(uint8_t command, const uint8_t *data, int length, uint8_t *out);
/* Takes an answer frame of length bytes apart into *out: 0, or -1 when an
 * argument is missing, the preamble or the check byte is wrong, the SAM
 * reports a failure (errno its code) or the length field disagrees with
 * the frame (errno -16). Nothing is copied from a refused frame. */
VR_API int sam_unserial(const uint8_t *frame, int length, sam_answer *out);
/* The same for the reader's short fingerprint answer, whose length field
 * still counts the 1280 bytes of text and photo the reader left out. */
VR_API int sam_unserial_shortcut(const uint8_t *frame, int length, sam_answer *out);
/* The result of the status bytes SW1 SW2 SW3 at sw: 0 for success or a
 * card found, else the negative code of the failure (-99 for a null
 * pointer or an unknown status). */
VR_API int sam_check_state(const uint8_t *sw);

/* SAM operations: 0, or -1 (the cause in the log and in errno). The reset
 * succeeds when the reader forwards it; the self-check, search, select and
 * extra-address read also need the SAM to report success. */
VR_API int sam_reset(void);
VR_API int sam_check(void);
VR_API int sam_search_identity(void);
VR_API int sam_select_identity(void);
VR_API int sam_read_extra_address(void);
/* Reads of the selected card. Each buffer comes with an in/out length:
 * its capacity on entry, the record's length on return. A null buffer, or
 * a capacity below 1, skips the record; a record longer than its buffer
 * fails the read (records copied before it stay copied). */
VR_API int sam_read_text_photo(unsigned char *text, int *text_length, unsigned char *photo,
                               int *photo_length);
VR_API int sam_read_text_photo_finger(unsigned char *text, int *text_length, unsigned char *photo,
                                      int *photo_length, unsigned char *finger, int *finger_length);
/* The reader returns the fingerprint alone; the text and photo buffers are
 * only checked for room. */
VR_API int sam_read_text_photo_finger_shortcut(unsigned char *text, int *text_length,
                                               unsigned char *photo, int *photo_length,
                                               unsigned char *finger, int *finger_length);
VR_API int sam_read_finger(unsigned char *finger, int *finger_length);

/* The second reader family's identity-card driver: the identifier over the
 * direct path (protocol-1 message 0x0301). */
VR_API int dclk_identity_init(picc *record);
VR_API int dclk_identity_req(void);
VR_API int dclk_identity_wupa(void);
VR_API int dclk_identity_sel(picc *record, int unused);
VR_API int dclk_identity_anticoll(picc *record, int unused);
VR_API int dclk_identity_query(picc *previous, picc *record);
VR_API int dclk_identity_halt(picc *record);
VR_API int dclk_identity_getuid(picc *record);

VR_END_DECLS

#endif
