/* The card framework: card records, the card-type registry, opening and
 * searching cards, card operations and the control dispatcher. */
#ifndef VR_PICC_H
#define VR_PICC_H

#include <stdarg.h>
#include <stdint.h>
#include "vr_api.h"

VR_BEGIN_DECLS

/* Card status values. */
enum {
    PICC_STATUS_NEW = 0,
    PICC_STATUS_FAILED = 2,
    PICC_STATUS_ACTIVE = 4,
    PICC_STATUS_HALTED = 5
};

/* A card record: the driver's thirty operations followed by what the reader
 * learned about the card. The driver's initialiser fills the slots of a
 * zeroed record; an empty slot is an operation the driver does not offer
 * (its dispatcher answers -22). Every slot returns 0 on success and -1
 * with errno set, or a negative code, on failure. Slots run under the
 * library's api_lock, on the caller's thread, and block for one or more
 * reader exchanges. Block and key-type arguments are bytes. Buffers belong
 * to the caller. What each slot does:
 *  req            request: wake idle cards (REQA / REQB).
 *  sel            select the card whose UID the record holds; the record
 *                 becomes active (status 4).
 *  anticoll       anticollision: fill uid and uid_len (some drivers also
 *                 ATQA, SAK, ATS).
 *  query          find a card: clear cid, halt the first record when one
 *                 is given, request, then anticollision into the second.
 *  halt           halt the card (status 5 where the driver sends a halt).
 *  getuid         anticollision when the UID is not known yet, else 0.
 *  wupa           wake-up: wake idle and halted cards (WUPA).
 *  read, write    one block (or page group) by number.
 *  readdata, writedata
 *                 a byte range of the card's data area. Addresses of user
 *                 data start at 16: below lie sector 0 of a MIFARE Classic
 *                 card and pages 0-3 (serial number, lock and one-time
 *                 bytes) of an Ultralight, which writedata refuses.
 *  readdata_enc, writedata_enc
 *                 the same range, enciphered by the reader with its data
 *                 key on the way to the card and deciphered on the way back.
 *  lock           lock operation, one byte argument.
 *  count          counter operation on a caller's buffer.
 *  sign           signature operation on a caller's buffer.
 *                 (No driver of this library offers lock, count or sign;
 *                 their dispatchers exist all the same.)
 *  auth           authenticate a block's sector with a key of key type;
 *                 a null key uses the key stored in the reader.
 *  chpw           change the keys of a block's sector.
 *  chaccess       change a sector's access conditions (16-byte description).
 *  load, transfer restore a value block into the card's transfer buffer;
 *                 write the transfer buffer to a block.
 *  incval, decval increment / decrement a value block by a 4-byte value.
 *  rdval, wrval   read / write a value block's 4-byte value.
 *  secblk, blklen blocks in a sector, bytes in a block.
 *  seccnt, blkcnt sectors and blocks of the card.
 *  ctrl           the driver's own control codes (see picc_ctrl): the
 *                 record, the code and up to six word arguments. */
typedef struct picc {
    int (*req)(void);
    int (*sel)(struct picc *record, int unused);
    int (*anticoll)(struct picc *record, int unused);
    int (*query)(struct picc *halt, struct picc *fill);
    int (*halt)(struct picc *record);
    int (*getuid)(struct picc *record);
    int (*wupa)(void);
    int (*read)(unsigned char *buffer, uint8_t block);
    int (*write)(const unsigned char *buffer, uint8_t block);
    int (*readdata)(uint16_t address, uint16_t length, unsigned char *buffer);
    int (*writedata)(uint16_t address, uint16_t length,
                     const unsigned char *buffer);
    int (*readdata_enc)(uint16_t address, uint16_t length,
                        unsigned char *buffer);
    int (*writedata_enc)(uint16_t address, uint16_t length,
                         const unsigned char *buffer);
    int (*lock)(uint8_t argument);
    int (*count)(unsigned char *buffer);
    int (*auth)(const unsigned char *key, uint8_t key_type, uint8_t block);
    int (*chpw)(const unsigned char *keys, uint8_t key_type, uint8_t block);
    int (*chaccess)(const unsigned char *description, uint8_t block);
    int (*load)(uint8_t block);
    int (*transfer)(uint8_t block);
    int (*incval)(const unsigned char *value, uint8_t block);
    int (*decval)(const unsigned char *value, uint8_t block);
    int (*rdval)(unsigned char *value, uint8_t block);
    int (*wrval)(const unsigned char *value, uint8_t block);
    int (*sign)(unsigned char *buffer);
    int (*secblk)(uint16_t sector);
    int (*blklen)(uint16_t block);
    int (*seccnt)(void);
    int (*blkcnt)(void);
    int (*ctrl)(struct picc *record, int code, intptr_t a, intptr_t b,
                intptr_t c, intptr_t d, intptr_t e, intptr_t f);

    uint8_t atqa[2];        /* low byte of the 16-bit ATQA first */
    uint8_t uid[30];
    int8_t uid_len;         /* 0: UID not yet known */
    uint8_t ats[64];
    int8_t ats_len;
    uint8_t sak;
    int8_t cid;
    char *vendor;           /* heap copies owned by the record */
    char *picc_type;
    char *protocol_name;
    uint8_t card_status;    /* PICC_STATUS_* */
    int8_t picc_proto;      /* 'A' or 'B' */
    void *info;             /* bank-card information table */
    struct picc *next;      /* open-card list link */
} picc;

struct piccs_list;

/* Releases a record and what it owns (its three texts and the bank-card
 * information table). A null record is ignored. */
VR_API void picc_free(picc *record);

/* The open-card list (the header lives in the global record). Records are
 * kept in insertion order; two records match when the first uid_len UID
 * bytes, the vendor and the type name are equal. */
VR_API int piccs_list_init(struct piccs_list *list);
VR_API int piccs_list_add(struct piccs_list *list, picc *record);
/* Unlinks and frees the matching record: 0, or -1 when not in the list. */
VR_API int piccs_list_del(struct piccs_list *list, picc *record);
/* Frees every record. */
VR_API int piccs_list_delall(struct piccs_list *list);
VR_API picc *piccs_list_find(struct piccs_list *list, const picc *record);
VR_API picc *piccs_list_prev(struct piccs_list *list, const picc *record);
VR_API picc *piccs_list_tail(struct piccs_list *list);
VR_API picc *piccs_list_head(struct piccs_list *list);
VR_API int piccs_list_len(struct piccs_list *list);
/* -1 when the list holds records, 0 when empty. */
VR_API int piccs_list_empty(struct piccs_list *list);
/* The first record whose card is selected (status 4), or null. */
VR_API picc *piccs_list_active(struct piccs_list *list);

/* Registers a reader family: 0x55 the second, any other value the first.
 * Returns what the reader-command initialiser returns. */
VR_API int picc_regapi(int family);

/* Zero-fills the record and runs the initialiser of the card type named by
 * type (a case-insensitive keyword prefix such as "mifare_s50"). 0, -47 for
 * a null record, -24 for a null name, -1 with errno -20 for a type that is
 * not recognised. */
VR_API int picc_init(picc *record, const char *type);

/* Accessors; a null record yields -47 (in pointer form for the texts). */
VR_API int picc_getuid(picc *record, unsigned char *out);
VR_API int picc_getatqa(picc *record, unsigned char *out);
VR_API int picc_getsak(picc *record, unsigned char *out);
VR_API int picc_getats(picc *record, unsigned char *out);
VR_API int picc_getcid(picc *record);
VR_API int picc_status(picc *record);
VR_API int picc_uidlen(picc *record);
VR_API int picc_atslen(picc *record);
VR_API const char *picc_type(picc *record);
VR_API const char *picc_vendor(picc *record);
VR_API const char *picc_protocol(picc *record);
VR_API int picc_name2protocol(picc *record);
/* The calling thread's last error code. */
VR_API int picc_error(void);

/* Search modes of picc_open. */
enum {
    PICC_SEARCH_PLAIN = 0,     /* idle cards */
    PICC_SEARCH_WAKE = 1,      /* wake halted cards when no idle card answers */
    PICC_SEARCH_IDLE_ONLY = 2  /* idle cards only; a halted card is -51 */
};

/* Connects over the named link ("uart", "usbhid", "ch340g", "ch9326",
 * "pdiusbd12", "bluetooth", "sound") unless the port is open, creates a
 * record of the card type and selects the card. For "uart" the first extra
 * argument is the serial device's path; for the USB links ("usbhid",
 * "ch340g", "ch9326", "pdiusbd12") it is the descriptor (an int) of the
 * USB device the host opened, or -1 to take the first attached device with
 * the attachment's ids. Returns the record (owned by the
 * open-card list), or null with errno set. The type "iso14443A_card" lets
 * the reader identify the type A card in the field. The search mode is an
 * 8-bit value; it is passed as int because a variadic function's last named
 * argument must not be of a type that promotes.
 * Stricter than the reader protocol: in mode PICC_SEARCH_IDLE_ONLY a 1K
 * card type ("mifare_s50", "mifare_s20"), whose wake-up sends nothing,
 * asks the reader for the 1K activation (0x0108 'A', 0x0212 0x52) before
 * reporting a halted card (-51); an empty field is -30. */
VR_API picc *picc_open(const char *type, const char *com, int dev, int mode, ...);
/* Opens the link alone: 0, -1 with errno -10, or -24 for a null name.
 * extra points to the remaining arguments (for "uart": the device path;
 * for the USB links: the descriptor, an int). */
VR_API int picc_connect(const char *com, int dev, int mode, va_list *extra);
VR_API int picc_ultra_connect(const char *com, int dev, int mode, va_list *extra);
/* Asks the reader for the type A card in the field (ATQA, UID, SAK) and
 * names its type in record->picc_type (a heap text). 0 or -1.
 * Stricter than the reader protocol: the reply's count byte must be its
 * length less one (7 for 8 bytes, 10 for 11, 13 for 14), not merely one of
 * the three counts; any other reply is -1 with errno -16. */
VR_API int pcd_search_type_A(picc *record, int unused);
/* 0 when a card answers, -1 otherwise (all open records are then freed);
 * -47 for a null record. The driver's halt (when a card is active) or
 * wake-up tells whether a card answers; for a 1K record, whose halt and
 * wake-up send nothing, the search asks the reader for the 1K activation
 * (0x0108 'A', 0x0212 0x52) instead, so an empty field is reported as one. */
VR_API int picc_search(picc *record);
/* 0 when the record is (or becomes) the selected card; -37 otherwise. */
VR_API int picc_sel(picc *record);
/* Halts the card and frees its record: 0, -47, -22, or the error code of a
 * failed halt. */
VR_API int picc_close(picc *record);

/* Type-A identification tables: a card's ATQA and SAK name its type. */
typedef struct picc_atqa_row {
    uint16_t atqa;
    uint16_t mask;
    char name[128];
    signed char sak_rows[8]; /* indices into const_cs, ended by a negative */
} picc_atqa_row;
typedef struct picc_sak_row {
    uint8_t sak;
    uint8_t mask;
    char description[128];
} picc_sak_row;
VR_API extern const picc_atqa_row const_ca[14];
VR_API extern const picc_sak_row const_cs[13];

/* Card operations. Each checks the record (-47) and its buffer (-24), that
 * the driver offers the operation (-22) and that the card is selected
 * (-37), then runs the driver under the library lock. Read operations
 * return 0 or -1; the others 0 or the error code. */
VR_API int picc_read(picc *record, unsigned char *buffer, uint8_t block);
VR_API int picc_write(picc *record, const unsigned char *buffer, uint8_t block);
VR_API int picc_readdata(picc *record, uint16_t address, uint16_t length, unsigned char *buffer);
VR_API int picc_writedata(picc *record, uint16_t address, uint16_t length, const unsigned char *buffer);
VR_API int picc_readdata_enc(picc *record, uint16_t address, uint16_t length, unsigned char *buffer);
VR_API int picc_writedata_enc(picc *record, uint16_t address, uint16_t length,
                              const unsigned char *buffer);
/* A null key authenticates with the key stored in the reader. */
VR_API int picc_auth(picc *record, const unsigned char *key, uint8_t key_type, uint8_t block);
/* Key type 0x60 changes key A (keys[0..5]), 0x61 and 0x62 both keys
 * (keys[0..11]). Stricter than the card requires: changing key A alone is
 * refused with -24, after reading the trailer and before writing it, when
 * the sector's access bits hide key B (the trailer reads key B back as
 * zeros, and writing it back would replace key B). */
VR_API int picc_chpw(picc *record, const unsigned char *keys, uint8_t key_type, uint8_t block);
VR_API int picc_chaccess(picc *record, const unsigned char *description, uint8_t block);
VR_API int picc_rdval(picc *record, unsigned char *value, uint8_t block);
VR_API int picc_wrval(picc *record, const unsigned char *value, uint8_t block);
VR_API int picc_incval(picc *record, const unsigned char *value, uint8_t block);
VR_API int picc_decval(picc *record, const unsigned char *value, uint8_t block);
VR_API int picc_load(picc *record, uint8_t block);
VR_API int picc_transfer(picc *record, uint8_t block);
VR_API int picc_lock(picc *record, uint8_t argument);
VR_API int picc_count(picc *record, unsigned char *buffer);
VR_API int picc_sign(picc *record, unsigned char *buffer);

/* Card geometry: -47 for a null record, -22 when the driver lacks it. */
VR_API int picc_secblk(picc *record, uint16_t sector);
VR_API int picc_blklen(picc *record, uint16_t block);
VR_API int picc_seccnt(picc *record);
VR_API int picc_blkcnt(picc *record);

/* Control codes of picc_ctrl and their arguments (each one machine word;
 * 8- and 16-bit values are passed as int and narrowed). */
enum picc_ctrl_code {
    PICC_CTRL_ANTENNA_OPEN = 0,       /* none */
    PICC_CTRL_ANTENNA_CLOSE = 1,      /* none */
    PICC_CTRL_SET_BAUD = 2,           /* 8-bit */
    PICC_CTRL_SET_PROTOCOL = 3,       /* 8-bit */
    PICC_CTRL_SET_BUZZER = 4,         /* 8-bit, 8-bit */
    PICC_CTRL_SET_LED = 5,            /* 8-bit, 8-bit */
    PICC_CTRL_SET_LEDR = 6,           /* 8-bit, 8-bit */
    PICC_CTRL_SET_MID = 7,            /* pointer */
    PICC_CTRL_GET_MID = 8,            /* pointer */
    PICC_CTRL_SET_MSN = 9,            /* pointer (8 bytes) */
    PICC_CTRL_GET_MSN = 10,           /* pointer (8 bytes) */
    PICC_CTRL_SET_BRIGHTNESS = 11,    /* 8-bit */
    PICC_CTRL_SET_DATE = 12,          /* pointer (6 bytes) */
    PICC_CTRL_SET_LCD_TEXT = 13,      /* text */
    PICC_CTRL_ULC_START_PAGE = 17,    /* 8-bit; the record's driver */
    PICC_CTRL_DOWNLOAD_KEY = 18,      /* index, key type, key, length */
    PICC_CTRL_AUDIO_HANDSHAKE = 19,   /* word */
    PICC_CTRL_AUDIO_PROGRESS = 20,    /* none */
    PICC_CTRL_AUDIO_BEST_FREQ = 21,   /* none */
    PICC_CTRL_AUDIO_CHANTEST = 22,    /* 8-bit, 8-bit */
    PICC_CTRL_AUDIO_SETTINGS = 23,    /* sub-code, value */
    PICC_CTRL_UPLINK_FREQ_TEST = 24,  /* word */
    PICC_CTRL_PORT_STATUS = 25,       /* none */
    PICC_CTRL_LINK_ENCRYPTION = 27,   /* 0 off, 1 on */
    PICC_CTRL_BANK_INFO = 31,         /* 8-bit item, pointer */
    PICC_CTRL_CONNECT = 32,           /* link name, further arguments */
    PICC_CTRL_CLOSE_PORT = 33,        /* none */
    PICC_CTRL_RAW = 34,               /* big-endian length, command bytes */
    PICC_CTRL_RAW_HEX = 38,           /* hex in, text out, int *length */
    PICC_CTRL_RAW_BYTES = 39,         /* bytes in, bytes out, int *length */
    PICC_CTRL_APDU_HEX = 40,          /* hex APDU, text out, int *length */
    PICC_CTRL_APDU_BYTES = 41,        /* bytes in, bytes out, int *length */
    PICC_CTRL_BATTERY = 42,           /* pointer (not used) */
    PICC_CTRL_TAKE_EXCLUSIVE = 43,    /* none */
    PICC_CTRL_RELEASE_EXCLUSIVE = 44, /* none */
    PICC_CTRL_GET_OTP_SN = 45,        /* pointer (8 bytes) */
    PICC_CTRL_HARD_MODEL = 46,        /* pointer to a pointer */
    PICC_CTRL_ULTRA_CONNECT = 47,     /* link name, further arguments */
    PICC_CTRL_UPLINK_INFO = 48,       /* pointer to two words */
    PICC_CTRL_PURCHASE_INIT = 50,     /* hex in, text out, int *length */
    PICC_CTRL_PURCHASE_END = 51,      /* hex in, text out, int *length */
    PICC_CTRL_APDU_BATCH_HEX = 53,    /* comma-separated hex, text out, int *length */
    PICC_CTRL_APDU_BATCH_BYTES = 54,  /* batch bytes, bytes out, int *length */
    PICC_CTRL_IR_CONVERT = 55,        /* samples in, bytes out, int *length */
    PICC_CTRL_FIRMWARE_VERSION = 61,  /* pointer (16 bytes) */
    PICC_CTRL_SET_ULC_KEY = 62,       /* pointer (16 bytes) */
    PICC_CTRL_SET_DATAENC_KEY = 63,   /* pointer (16 bytes) */
    PICC_CTRL_GET_JACK = 64,          /* pointer (2 bytes) */
    PICC_CTRL_SET_VALIDCARD = 65,     /* pointer (2 bytes) */
    PICC_CTRL_GET_VALIDCARD = 66,     /* pointer (2 bytes) */
    PICC_CTRL_USB_VENDOR = 67,        /* none */
    PICC_CTRL_USB_PRODUCT = 68,       /* none */
    PICC_CTRL_ID_READ = 69,           /* buffer, length */
    PICC_CTRL_CID_FILE = 70,          /* name, text out, int *length */
    PICC_CTRL_ID_WRITE = 71,          /* buffer, length */
    PICC_CTRL_ID_FILE = 72,           /* four words (not used), buffer, length */
    PICC_CTRL_ID_EXCHANGE = 73,       /* four words */
    PICC_CTRL_ID_EXCHANGE6 = 74,      /* six words */
    PICC_CTRL_SAM_HEX = 75,           /* hex in, text out, int *length */
    PICC_CTRL_SAM_BYTES = 76,         /* bytes in, bytes out, int *length */
    PICC_CTRL_SAM_RESET = 77,         /* pointer (16 bytes) */
    PICC_CTRL_ID_FINGERPRINT = 79,    /* buffer, length */
    PICC_CTRL_SET_BUZZER_EX = 80      /* 8-bit, 8-bit, 16-bit, 8-bit */
};

/* Control dispatch: everything else the host may ask of the reader, the
 * link, the modem or a card driver, by numbered code with the code's
 * arguments. Buffers receiving reader replies must hold the largest reply
 * (4097 bytes; twice that plus one for hexadecimal text). */
VR_API int picc_ctrl(picc *record, int code, ...);
VR_API int picc_ctrl_va(picc *record, int code, va_list arguments);

/* Chinese message of an error code (same as sys_strerror_ch). */
VR_API const char *picc_strerror(int code);

VR_END_DECLS

#endif
