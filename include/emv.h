/* EMV/PBOC payment flows on a contactless bank card that the card layer has
 * activated: application selection through the payment system environment,
 * processing options, record reading, the first GENERATE AC and the online
 * message (the purchase start); issuer authentication, the second GENERATE
 * AC and issuer scripts (the purchase end); and a read-only walk.
 *
 * APDUs travel as reader command 0x0211 through the raw pass-through
 * (audio_raw_cmd); the reader exchanges them with the card in its field.
 * Card answers are untrusted: every length taken from them is checked
 * against the data it indexes, and an answer that does not fit the
 * buffers below ends the flow.
 *
 * The flows keep two values between calls: the card record of the flow and
 * the application of a purchase (started by pboc_emv_purchase_init, ended
 * by pboc_emv_purchase_end). A lock keeps flows from overlapping. */
#ifndef VR_EMV_H
#define VR_EMV_H

#include <stdint.h>
#include "picc.h"
#include "tlv.h"
#include "vr_api.h"

VR_BEGIN_DECLS

/* An APDU buffer: CLA, INS, P1, P2, Lc, then Lc data bytes. With Lc 0 the
 * fifth byte goes out as 0 and stands for Le. */
#define EMV_APDU_SIZE 518
/* Data bytes an answer may carry: what the data length can count. */
#define EMV_ANSWER_DATA_MAX 255
/* Room of the purchase functions' out buffers. */
#define EMV_OUT_SIZE 2048
#define EMV_TERMINAL_DATA_SIZE 256
#define EMV_ONLINE_MESSAGE_SIZE 512
#define EMV_POS_CONFIG_SIZE 70

/* The answer of one exchange: SW1 * 256 + SW2, and the data before them. */
typedef struct apdu_response {
    uint16_t sw;
    uint8_t data[512];
    uint8_t len;
} apdu_response;

/* The application of one flow. Objects not found have length 0. */
typedef struct emv_application {
    tlv_object aid;            /* 4F from the directory record */
    tlv_object label;          /* 50 */
    tlv_object preferred_name; /* 9F12 */
    tlv_object priority;       /* 87 */
    tlv_object pdol;           /* 9F38 from the SELECT answer */
    tlv_object cdol1;          /* 8C from the records */
    tlv_object cdol2;          /* 8D from the records */
    tlv_object script_result;  /* DF31, five bytes, after issuer scripts */
    /* The encoded elements 95, 9F02, 9A and 9C of the transaction input,
     * one after the other. */
    uint8_t terminal_data[EMV_TERMINAL_DATA_SIZE];
    /* The online message of the purchase start, kept for the end. */
    uint8_t online_message[EMV_ONLINE_MESSAGE_SIZE];
    uint16_t terminal_data_length;
    uint16_t online_message_length; /* 0: none kept */
} emv_application;

/* The terminal's defaults for DOL entries the transaction input lacks
 * (BER-TLV): 9F66, 9F03, 9F1A, 5F2A, DF60, 9F33, 9F37, 9F4E, 8A. */
VR_API extern const uint8_t pos_config[EMV_POS_CONFIG_SIZE];
/* Per-tag default values, named after tag and length; the flows read none
 * of them (pos_config is what they use). */
VR_API extern const uint8_t pos_default_9F6604[4];
VR_API extern const uint8_t pos_default_9F0206[6];
VR_API extern const uint8_t pos_default_9F0306[6];
VR_API extern const uint8_t pos_default_9F1A02[2];
VR_API extern const uint8_t pos_default_9505[5];
VR_API extern const uint8_t pos_default_5F2A02[2];
VR_API extern const uint8_t pos_default_9A03[3];
VR_API extern const uint8_t pos_default_9C01[1];
VR_API extern const uint8_t pos_default_9F3704[4];
VR_API extern const uint8_t pos_default_DF6001[1];
VR_API extern const uint8_t pos_default_9F2103[3];
VR_API extern const uint8_t pos_default_9F4E14[20];
VR_API extern const uint8_t pos_default_8A02[2];
/* One three-byte record (00 01 01) per tag above; not read by the flows. */
VR_API extern const uint8_t src_9F6604[3];
VR_API extern const uint8_t src_9F0206[3];
VR_API extern const uint8_t src_9F0306[3];
VR_API extern const uint8_t src_9F1A02[3];
VR_API extern const uint8_t src_9505[3];
VR_API extern const uint8_t src_5F2A02[3];
VR_API extern const uint8_t src_9A03[3];
VR_API extern const uint8_t src_9C01[3];
VR_API extern const uint8_t src_9F3704[3];
VR_API extern const uint8_t src_DF6001[3];
VR_API extern const uint8_t src_9F2103[3];
VR_API extern const uint8_t src_9F4E14[3];
VR_API extern const uint8_t src_8A02[3];

/* Sends one APDU of length bytes (1..EMV_APDU_SIZE) to the card in the
 * field; card is not used. 1 with the answer split into status word and
 * data, 0 when the exchange fails or the answer is malformed (no status
 * word, or more than EMV_ANSWER_DATA_MAX data bytes). */
VR_API int apduWithBytesEx(picc *card, const uint8_t *apdu, int length, apdu_response *response);
/* The APDU in an EMV_APDU_SIZE buffer (Lc + 5 bytes), as apduWithBytesEx. */
VR_API int apdu_exec(const uint8_t *apdu, apdu_response *response);

/* Selects the payment system environment and walks its directory (at most
 * 30 records) for the first entry with an AID and a label: 1 found, 0 not. */
VR_API int get_application(emv_application *application);
/* Selects the application by its AID and keeps the PDOL: 1 selected, 0 not. */
VR_API int select_application(emv_application *application);
/* Fills apdu[4] (Lc) and the data field from a DOL: values of the terminal's
 * tags come from source (when there with the asked length), else from
 * pos_config, else zeros. A PDOL (tag 9F38) is wrapped in the command
 * template 83. Returns Lc, or -1 when the data would not fit one APDU. */
VR_API int fill_xDOL(const tlv_object *dol, const uint8_t *source, int source_length, uint8_t *apdu);
/* Processing options and the records the AFL names, then GET DATA of the
 * ATC, the PIN try counter, the last online ATC and the log format. The
 * objects go to a new array (*records, freed by the caller with free())
 * and their number to *count; 1, or 0 when a step fails (what was read so
 * far stays in the array). */
VR_API int get_records(emv_application *application, tlv_object **records, int *count);
/* The same for a purchase: the PDOL and CDOL1 are filled from the
 * transaction input, CDOL1 and CDOL2 are kept in the application, and the
 * first GENERATE AC (ARQC) adds 9F27, 9F36, 9F26 and 9F10. */
VR_API int get_records_purchase(emv_application *application, tlv_object **records, int *count,
                                const uint8_t *input, int input_length);

/* Purchase start. input: the transaction's BER-TLV (at least 95, 9F02, 9A
 * and 9C). out (EMV_OUT_SIZE bytes; it may be input) receives the online
 * message: a big-endian length, 5A 5F24 5F34; a big-endian length, 82
 * 9F36 9F26 9F27 9F33 95 9F37 9F02 9F03 9F1A 5F2A 9A 9C 9F10. 0, or -1 with
 * errno -47 (no card), -24 (missing buffer), -107 (no application
 * selected), -106 (an element of the message is missing or the message
 * does not fit out), -40 (no memory). */
VR_API int pboc_emv_purchase_init(picc *card, const uint8_t *input, int length, uint8_t *out,
                                  uint16_t *out_length);
/* Purchase end. answer: the issuer's BER-TLV (91 issuer authentication
 * data, 8A and what CDOL2 asks, 72 scripts). Runs EXTERNAL AUTHENTICATE
 * when 91 is there, the second GENERATE AC and the scripts of 72. out
 * (EMV_OUT_SIZE bytes; it may be answer) receives the GENERATE AC answer,
 * or, when scripts ran, the online message of the start followed by the
 * script result DF31 05 (result byte, four bytes of the script
 * identifier). The result byte is 0x00 when no script command ran, 0x20
 * when all ran, and 0x1N when command N failed (N = 15 for any later one),
 * so a failed script never reads as a successful one. 0, or -1 with errno -47 (no card), -24 (missing buffer),
 * -108 (no purchase started, issuer authentication or GENERATE AC
 * failed, or scripts of tag 71, which this version does not run). */
VR_API int pboc_emv_purchase_end(picc *card, const uint8_t *answer, int length, uint8_t *out,
                                 uint16_t *out_length);
/* Read-only walk: selection, processing options with a zero-filled PDOL,
 * the records and GET DATA; its effect is the exchanges and their log lines.
 * 0, or -1 (errno -47) without a card. */
VR_API int pboc_emv_info(picc *card);

VR_END_DECLS

#endif
