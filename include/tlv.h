/* BER-TLV codec for EMV card answers, and the EMV tag and status-word
 * dictionaries used in log lines. */
#ifndef VR_TLV_H
#define VR_TLV_H

#include <stdint.h>
#include "vr_api.h"

VR_BEGIN_DECLS

/* One decoded element. One-byte tags are held as 0x00XX, two-byte tags as
 * first byte * 256 + second byte; tag 0 means "no element". length is the
 * number of value bytes, 0 for "not found" or empty. value has one spare
 * byte beyond the longest value, which keeps the record at 260 bytes. */
typedef struct tlv_object {
    uint16_t tag;
    uint8_t length;
    uint8_t value[256];
} tlv_object;

/* A dictionary entry: { key, description }. Keys are tags or status words
 * in hexadecimal; a table ends with an entry whose key is "". */
typedef const char *tlv_string_pair[2];

/* Tag descriptions for log lines (163 entries, then the end entry). */
VR_API extern const tlv_string_pair LIST_TAGS[];
/* English-only tag descriptions (136 entries, then the end entry). */
VR_API extern const tlv_string_pair LIST_TAGS_EN[];
/* ISO 7816-4 status words the EMV flows report (6 entries, then the end). */
VR_API extern const tlv_string_pair LIST_STATUS_WORDS[];

/* Description of key (a tag or a status word) in dictionary: the key is
 * written as "%x" and compared without regard to letter case; the first
 * match wins. "" for an unknown key or a missing dictionary. */
VR_API const char *get_value(unsigned int key, const tlv_string_pair *dictionary);

/* Tag and length rules. A tag is two bytes when the low five bits of its
 * first byte are all set; a length is two bytes exactly when its first
 * byte is 0x81. Results are 1 (yes) or 0 (no). */
VR_API int tag_is_two_bytes(uint8_t first_tag_byte);
VR_API int length_is_two_bytes(uint8_t first_length_byte);
/* 1 when bit 0x20 of the first tag byte is set. */
VR_API int is_constructed_object(uint16_t tag);
/* 1 for any tag but 0; tag 0 ends a scan. */
VR_API int is_valid_tag(uint16_t tag);
/* The tag at the start of buffer (one or two bytes); 0 when length is too
 * short to hold it. */
VR_API uint16_t get_tag(const uint8_t *buffer, int length);
/* High and low byte of a tag value. */
VR_API uint8_t left_byte(uint16_t tag);
VR_API uint8_t right_byte(uint16_t tag);

/* Finds the occurrence-th (1 = first) element with tag in the length bytes
 * of buffer, counting through every nesting level in document order, and
 * fills out. Not found: out gets the tag and length 0. Returns out's
 * length. The scan never reads outside buffer: a truncated tag or length,
 * a length form other than one byte or 0x81 plus one byte, or an element
 * that runs past the end ends it as "not found". */
VR_API int get_tlv(const uint8_t *buffer, int length, uint16_t tag,
                   int occurrence, tlv_object *out);
/* The same search; copies the whole encoded element (tag, length and value
 * bytes) into out, which must hold 259 bytes. Returns the byte count, 0
 * when not found. */
VR_API int get_tlv_data(const uint8_t *buffer, int length, uint16_t tag,
                        int occurrence, uint8_t *out);
/* Encodes object into out (at most 259 bytes): a two-byte tag for values
 * above 255, a 0x81 length from 0x80 on. Returns the bytes written. */
VR_API int copy_tlv(uint8_t *out, const tlv_object *object);
/* Logs the element tree of object with the LIST_TAGS descriptions and
 * stores the encoding of the wanted element (the last one met, searching
 * below the elements that do not match) into out (259 bytes), its size
 * into out_length. Nothing happens for an object with tag or length 0.
 * Children that do not fit inside their parent's value end its walk. */
VR_API void decode_tlv(const tlv_object *object, uint16_t wanted, uint8_t *out,
                       int *out_length);
/* Logs the element tree of object, indented two spaces per depth level. */
VR_API void print_tlv_recursive(const tlv_object *object, int depth);
/* Kept for callers of the tree printer; does nothing. */
VR_API void print_tlv(const tlv_object *object);
/* Writes count bytes as upper-case hexadecimal ("%02X" each) and a NUL
 * into out (2 * count + 1 characters). Returns out. */
VR_API char *get_hex(const uint8_t *bytes, int count, char *out);

VR_END_DECLS

#endif
