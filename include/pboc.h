/* Bank (PBOC) card driver: a contactless bank card activated as an ISO
 * 14443-4 type A card, whose card information (track 2 equivalent data,
 * holder name, identity document, electronic-cash balance) is read by APDU
 * and kept as text, plain and masked. The payment flows are in emv.h; the
 * hexadecimal text helpers, which every layer uses, in pboc_text.h. */
#ifndef VR_PBOC_H
#define VR_PBOC_H

#include <stdint.h>
#include "pboc_text.h"
#include "picc.h"
#include "vr_api.h"

VR_BEGIN_DECLS

/* The card information of one record (its info field), allocated on the
 * first request. Each field is a NUL-terminated text owned by the record,
 * or null. The first six hold tag values as upper-case hexadecimal; the
 * rest are derived from them on first request and kept. picc_free frees
 * the thirteen texts and the table. */
typedef struct pboc_info {
    char *uuid;             /* the card's UID */
    char *msd2;             /* 57: card number, D, YYMM, service code, ... */
    char *name;             /* 5F20: cardholder name */
    char *identype;         /* 9F62: ID document type */
    char *idennum;          /* 9F61: ID document number, without its padding */
    char *qbocvalue;        /* 9F79: electronic-cash balance */
    char *nameascii;        /* the name's characters */
    char *nameasciimask;    /* ... with the last one replaced by '*' */
    char *idennumascii;     /* the ID number's characters */
    char *idennumasciimask; /* ... with the last four replaced by '*' */
    char *pan;              /* msd2 up to the D */
    char *panmask;          /* ... with the last four digits replaced by '*' */
    char *validdate;        /* the expiry as "MM/YY" */
} pboc_info;

/* Items of control code 31 (picc_ctrl(record, 31, item, &text)). */
enum pboc_item {
    PBOC_ITEM_MSD2 = 0,
    PBOC_ITEM_PAN = 1,
    PBOC_ITEM_PANMASK = 2,
    PBOC_ITEM_VALIDDATE = 3,
    PBOC_ITEM_NAME = 4,
    PBOC_ITEM_NAMEASCII = 5,
    PBOC_ITEM_NAMEASCIIMASK = 6,
    PBOC_ITEM_IDENTYPE = 7,
    PBOC_ITEM_IDENNUM = 8,
    PBOC_ITEM_IDENNUMASCII = 9,
    PBOC_ITEM_IDENNUMASCIIMASK = 10
};

/* The driver's operations (slot contracts at struct picc in picc.h). */
VR_API int pboc_init(picc *record);
/* Request, select and wake-up: the activation does their work; 0. */
VR_API int pboc_req(void);
VR_API int pboc_sel(picc *record, int unused);
VR_API int pboc_wupa(void);
/* Selects type A in the reader and activates the card (wake-up,
 * anticollision, select and its answer to select in one reader command):
 * UID and ATS into the record. 0, or -1 with errno (-16 for a UID longer
 * than 10 bytes or an ATS longer than 32 bytes or than the answer). */
VR_API int pboc_anticoll(picc *record, int unused);
VR_API int pboc_query(picc *halt, picc *record);
VR_API int pboc_halt(picc *record);
VR_API int pboc_getuid(picc *record);
/* One APDU: buffer[0] holds the APDU's length and the APDU follows; on
 * return buffer[0] holds the answer's length (status word included) and
 * the answer follows. A buffer of 256 bytes holds any answer (a longer one
 * is refused, -1 with errno -16). The block is not used. */
VR_API int pboc_read(unsigned char *buffer, uint8_t block);
/* Control code 31: stores the item's text (owned by the record, or null)
 * in *text. Reads the card information first when the record has none. 0;
 * -1 with errno -47 (no record), -24 (item outside 0..10 or no text
 * pointer), or the reading's error. */
VR_API int pboc_ctrl(picc *record, int code, int item, const char **text);

/* Exported for callers that expect them; they do nothing and return 0
 * (the card has no blocks or values; the driver does not register them). */
VR_API int pboc_write(const unsigned char *buffer, uint8_t block);
VR_API int pboc_auth(const unsigned char *key, uint8_t key_type, uint8_t block);
VR_API int pboc_chpw(const unsigned char *keys, uint8_t key_type, uint8_t block);
VR_API int pboc_chaccess(const unsigned char *description, uint8_t block);
VR_API int pboc_load(uint8_t block);
VR_API int pboc_transfer(uint8_t block);
VR_API int pboc_incval(const unsigned char *value, uint8_t block);
VR_API int pboc_decval(const unsigned char *value, uint8_t block);
VR_API int pboc_rdval(unsigned char *value, uint8_t block);
VR_API int pboc_wrval(const unsigned char *value, uint8_t block);

/* Reads the card information into the record's table: the UID; SELECT of
 * the PBOC application; READ RECORD of SFI 1 from record 1 until the card
 * answers with a status word alone or with 6Axx; GET DATA of 9F79. 0, or
 * -1 with errno when an exchange fails (-40 when the table cannot be
 * allocated). */
VR_API int pboc_get_info(picc *record);
/* Stores a copy of value (null: none) under key "uuid", "57", "5F20",
 * "9F62", "9F61" or "9F79", replacing an earlier value and the texts
 * derived from it. 0, or -1 for another key, a missing record or key, or
 * no memory. */
VR_API int pboc_info_set(picc *record, const char *key, const char *value);
/* Decodes hexadecimal BER-TLV text (elements inside constructed ones too)
 * and stores the values of the six keys; 9F61 is cut before its first
 * space byte (20). Elements that do not fit the text end the decoding. 0,
 * or -1 for an empty text or a missing record. */
VR_API int pboc_info_decode(picc *record, const char *text);

/* The texts of the table (null when absent); derived ones are made on the
 * first call. */
VR_API const char *pboc_info_uuid(picc *record);
VR_API const char *pboc_info_msd2(picc *record);
VR_API const char *pboc_info_name(picc *record);
VR_API const char *pboc_info_identype(picc *record);
VR_API const char *pboc_info_idennum(picc *record);
VR_API const char *pboc_info_qbocvalue(picc *record);
VR_API const char *pboc_info_nameascii(picc *record);
VR_API const char *pboc_info_nameasciimask(picc *record);
VR_API const char *pboc_info_idennumascii(picc *record);
VR_API const char *pboc_info_idennumasciimask(picc *record);
VR_API const char *pboc_info_pan(picc *record);
VR_API const char *pboc_info_panmask(picc *record);
VR_API const char *pboc_info_validdate(picc *record);

VR_API const char *pboc_get_msd2(picc *record);
VR_API const char *pboc_get_pan(picc *record);
VR_API const char *pboc_get_panmask(picc *record);
VR_API const char *pboc_get_validdate(picc *record);
VR_API const char *pboc_get_name(picc *record);
VR_API const char *pboc_get_nameascii(picc *record);
VR_API const char *pboc_get_nameasciimask(picc *record);
VR_API const char *pboc_get_identype(picc *record);
VR_API const char *pboc_get_idennum(picc *record);
VR_API const char *pboc_get_idennumascii(picc *record);
VR_API const char *pboc_get_idennumasciimask(picc *record);

VR_END_DECLS

#endif
