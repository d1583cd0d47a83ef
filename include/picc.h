/* The card framework: card records, the card-type registry, opening and
 * searching cards, card operations and the control dispatcher. */
#ifndef VR_PICC_H
#define VR_PICC_H

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
 * to the caller. */
typedef struct picc {
    int (*req)(void);                                  /* request idle */
    int (*sel)(struct picc *record, int unused);       /* select by UID */
    int (*anticoll)(struct picc *record, int unused);  /* fill uid */
    int (*query)(struct picc *halt, struct picc *fill);
    int (*halt)(struct picc *record);
    int (*getuid)(struct picc *record);
    int (*wupa)(void);                                 /* wake up */
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

/* Chinese message of an error code (same as sys_strerror_ch). */
VR_API const char *picc_strerror(int code);

VR_END_DECLS

#endif
