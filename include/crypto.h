/* Cryptography: DES and triple DES, block padding, hexadecimal keys,
 * Base64, a text-in/text-out 3DES call, the reader-link cipher, two
 * self-tests and an m-sequence generator.
 *
 * Conventions of this header:
 *  - byte counts are unsigned 32-bit;
 *  - "type" 0 encrypts and any other value decrypts (Crypt3Des: 0 or 1);
 *  - "mode" 0 is ECB and 1 is CBC;
 *  - DES blocks are 8 bytes; parity bits of keys are ignored;
 *  - the caller owns every buffer it passes; a function that refuses
 *    leaves nothing in its outputs that the caller should use. */
#ifndef VR_CRYPTO_H
#define VR_CRYPTO_H

#include <stdint.h>
#include "vr_api.h"

VR_BEGIN_DECLS

/* ------------------------------------------------------- DES / triple DES */

/* Single DES over input_length bytes (a multiple of 8) with the first 8
 * bytes of key (key_length a multiple of 8, at least 8). mode 1 (CBC)
 * needs the 8-byte iv, which is read, not updated. output may be the same
 * buffer as input (they must not overlap otherwise) and needs
 * output_capacity >= input_length.
 * Returns 1, or 0 when refused: missing input, key or output, a length not
 * a multiple of 8, a key shorter than 8 bytes, too small an output, a mode
 * other than 0 or 1, or CBC without iv. */
VR_API int Run1Des(int type, int mode, const unsigned char *input,
                   uint32_t input_length, const unsigned char *key,
                   uint32_t key_length, unsigned char *output,
                   uint32_t output_capacity, const unsigned char *iv);

/* As Run1Des with min(key_length / 8, 3) keys: one key is single DES; two
 * keys K1||K2 encrypt E(K1) D(K2) E(K1) and decrypt D(K1) E(K2) D(K1);
 * three keys encrypt E(K1) D(K2) E(K3) and decrypt D(K3) E(K2) D(K1).
 * Bytes past the first 24 of a longer key are not used. CBC chains around
 * the whole triple operation. Returns 1, or 0 when refused. */
VR_API int Run3Des(int type, int mode, const unsigned char *input,
                   uint32_t input_length, const unsigned char *key,
                   uint32_t key_length, unsigned char *output,
                   uint32_t output_capacity, const unsigned char *iv);

/* ----------------------------------------------------------------- padding */

/* Pads input_length (> 0) bytes to the next multiple of 8 into output,
 * which needs room for that many bytes and may be the input buffer itself.
 * A length that is already a multiple of 8 is copied unchanged, for every
 * pad type. Pad type 0 fills with 0x00; 1 with 0x80 then 0x00 (ISO/IEC
 * 9797-1 method 2); 2 with bytes equal to the number of pad bytes (1..7).
 * Stores the padded length in *padded_length. Returns 1, or 0 when refused
 * (other pad type, missing buffer or out-parameter, length 0). */
VR_API int RunPad(int pad_type, const unsigned char *input,
                  uint32_t input_length, unsigned char *output,
                  uint32_t *padded_length);

/* Removes type-2 padding from a NUL-terminated text in place: the value n
 * of the last character says how many characters to cut. Returns the
 * text's length before the removal; -1 (errno -24, text unchanged) for a
 * missing text or when n exceeds that length. An empty text is unchanged
 * and gives 0. */
VR_API int RunRsm(char *text);

/* ---------------------------------------------------------- key and hex */

/* Converts a text of exactly 48 hexadecimal digits (either case) into 24
 * key bytes followed by one 0 byte (output needs 25 bytes). Returns 1, or
 * 0 when refused (missing argument, other length, a non-hex character). */
VR_API int CovertKey(const char *hex, unsigned char *output);

/* The byte of two hexadecimal characters, high nibble first. '0'..'9' and
 * 'a'..'f' are digits; any other character counts as an upper-case letter
 * (its code minus 55). The result is truncated to 8 bits. */
VR_API int GetByte(char high, char low);

/* ------------------------------------------------------------------ Base64 */

/* RFC 4648 Base64 of length bytes ("=" padded, no line breaks), as a new
 * NUL-terminated text of 4*ceil(length/3) characters that the caller
 * frees with free(). length 0 gives "". Returns 0 (errno -24) for missing
 * data with a nonzero length, or 0 (errno -40) when out of memory. */
VR_API char *Base64Encode(const unsigned char *data, uint32_t length);

/* Decodes a NUL-terminated Base64 text of any length into a new buffer of
 * 3*strlen/4 + 1 bytes (freed by the caller with free()). The decoded data
 * is 3*strlen/4 bytes less one per trailing "="; every byte after it is 0,
 * so decoded text comes back NUL-terminated. The text is not modified.
 * Returns 0 (errno -24) for an empty text, a length that is not a multiple
 * of 4, a character outside the alphabet, or "=" anywhere but as the last
 * one or two characters; 0 (errno -40) when out of memory. */
VR_API unsigned char *Base64Decode(const char *text);

/* --------------------------------------------------------- text 3DES call */

/* The settings Crypt3Des uses: *mode = 1 (CBC), *pad_type = 2 and the
 * library's fixed 8-byte IV into iv. Null pointers are skipped. */
VR_API void MyDesInit(int *mode, int *pad_type, unsigned char *iv);

/* Three-key 3DES-CBC of a text with a 48-hex-digit key (see CovertKey) and
 * the settings of MyDesInit.
 *  type 0: input is plain text of at most 256 characters whose length is a
 *          multiple of 8 (so no pad bytes are added); output receives its
 *          ciphertext as Base64 text: needs room for 345 characters.
 *  type 1: input is such Base64 text (length a multiple of 8, at most 256);
 *          it is deciphered, the type-2 padding is cut as RunRsm does, and
 *          output receives the text: needs room for 193 characters.
 * Returns 1 on success, otherwise the first failing check in this order:
 *  -7 input missing or empty       -8 input length not a multiple of 8
 *  -9 key missing                  -1 key not exactly 48 characters
 * -10 key holds a non-hex character 0 input longer than 256 characters
 *  -2 key conversion failed        -5 type other than 0 or 1
 *  -3 padding failed (encrypting), or the deciphered text's last value
 *     exceeds its length (decrypting)
 *  -4 the cipher refused (decrypting: decoded length not a multiple of 8)
 *  -6 Base64 failed (after the cipher when encrypting, before it when
 *     decrypting).
 * output is written only on success. */
VR_API int Crypt3Des(int type, const char *input, const char *key, char *output);

/* ------------------------------------------------------- reader-link cipher */

/* Link cipher of the command exchange, used while link encryption is on.
 * Cipher: two-key 3DES (E(K1) D(K2) E(K1)) in ECB mode with the 16-byte
 * link key K1||K2, where K1 is the library's fixed link-key half (the same
 * one the reader firmware uses) and K2 is the first 8 bytes of
 * session_key (the 8 random bytes the reader returned when link
 * encryption was switched on, tessil.s_com.enc_key). Only the first 8
 * bytes of session_key are read.
 *
 * com_alg_enc: pads the length (> 0) bytes of payload in place to the next
 * multiple of 8 with 0x80 then 0x00 bytes (nothing is added when length is
 * already a multiple of 8), so payload needs room for length + 7 bytes;
 * enciphers the padded bytes in place and stores their count in
 * *out_length. Returns 0, or -1 (errno -24, log "com_alg_enc err",
 * *out_length 0) for a missing argument or length 0. The unpadded length
 * travels separately in the frame.
 *
 * com_alg_dec: deciphers length bytes (a multiple of 8; 0 is allowed) of
 * payload in place and stores the same length in *out_length; the padding
 * is left in place, the caller cuts the plaintext to the length the frame
 * carries. Returns 0, or -1 (errno -24, *out_length 0) for a missing
 * argument or a length that is not a multiple of 8. */
VR_API int com_alg_enc(unsigned char *payload, uint32_t length,
                       const unsigned char *session_key, uint32_t *out_length);
VR_API int com_alg_dec(unsigned char *payload, uint32_t length,
                       const unsigned char *session_key, uint32_t *out_length);

/* ---------------------------------------------------------------- self-tests */

/* Enciphers and deciphers one block with a fixed test key, dumps the
 * buffers (format_display) and checks the ciphertext against the known
 * answer and the round trip. 0, or -1 (errno -23) on a mismatch. */
VR_API int desTest(void);

/* Logs "com_alg_test1", runs com_alg_enc then com_alg_dec over the first
 * length characters (1..16) of a fixed 16-character text with a fixed test
 * session key, dumping the buffer after each step. 0 when the text comes
 * back followed by its link padding; -1 with errno -24 for a length
 * outside 1..16, -23 for a mismatch. */
VR_API int com_alg_test1(int length);

/* ------------------------------------------------------------- m-sequence */

/* The generator's register is a 64-bit value V = high:low. A register of
 * order n (2..56, except 22) occupies bits 63 down to 64-n; each step
 * shifts V right by one and sets bit 63 to the feedback bit. */

/* Bit index (0..63) of high:low: 0 or 1; -1 (errno -24) for another index. */
VR_API int bit(uint32_t low, uint32_t high, int index);

/* The feedback bit (0 or 1) of a register of the given order; -1 (errno
 * -24, log "FATA ERROR: order %d exceed the max order 56") for an order
 * without feedback taps. */
VR_API int feedback(uint32_t low, uint32_t high, int order);

/* Advances reg (reg[0] low word, reg[1] high word) one step. 0, or -1
 * (errno -24, logged as by feedback, reg unchanged) for an order without
 * taps. */
VR_API int shift(uint32_t reg[2], int order);

/* Bytes mserial produces for the order: (2^order - 1) / 8 rounded down;
 * 0 for an order outside 2..56. */
VR_API uint64_t mserial_length(int order);

/* Runs the register from V = 2^63 for 2^order - 1 steps and collects one
 * byte after every eighth step, filling the buffer from its end (see
 * mserial_length for the count; an order below 4 gives none). Returns the
 * library-owned buffer, valid until the next call: do not free it. Returns
 * 0 with errno -24 for an order without taps (logged as by feedback), or
 * -40 when the buffer cannot be allocated (log "FATA ERROR: memory is
 * full"). Not for concurrent use. */
VR_API unsigned char *mserial(int order);

VR_END_DECLS

#endif
