/* Infrared waveform conversion: recorded pulse and gap durations in
 * microseconds to the compact form the reader firmware stores and replays.
 * Every stage works on arrays of unsigned 16-bit values; a value of 0 is a
 * placeholder that every stage leaves alone. */
#ifndef VR_IR_H
#define VR_IR_H

#include <stdint.h>
#include "vr_api.h"

VR_BEGIN_DECLS

/* Exchanges the two bytes of each of the count values. 0 (-1 with errno
 * -24 for a missing array). */
VR_API int endian_swap(uint16_t *values, int count);

/* Groups the durations into clusters of values within 18% of each other
 * and replaces each duration by its cluster's centre. 0 on success; -1
 * with errno -99 when more than 32 clusters would be needed (the array is
 * then unchanged and the durations are hex-dumped to the debug log). */
VR_API int ir_data_adjustment(uint16_t *values, int count);

/* Scales each duration in microseconds to cycles of the 38 kHz carrier,
 * rounded to nearest: ((v * 76) / 1000 + 1) / 2. Returns 0. */
VR_API int ir_data_analyzer(uint16_t *values, int count);

/* Compresses count values into out: a value below 255 as one byte, 255 as
 * FF FF, 256 and above as FF, high byte, low byte. out must hold up to
 * 3 * count bytes. The reported length is the number of bytes written
 * minus one (0 for no values), as the reader's loader takes it; it is
 * stored in *out_length and returned. -1 with errno -24 for missing
 * arrays, a negative count, or a stream whose reported length would not
 * fit in 16 bits (nothing is written then). Values of 0xFF00 and above do
 * not survive the round trip: their stream reads back as 255 and the low
 * byte. */
VR_API int ir_data_zip(const uint16_t *values, int count, uint8_t *out, uint16_t *out_length);

/* Decompresses byte_count bytes into values, which must have room for
 * byte_count values (every value takes at least one byte). Stores the
 * number of values produced in *value_count and returns it. A final item
 * cut short (a lone FF, or FF and a high byte without the low byte) is
 * not produced; nothing is read past byte_count. -1 with errno -24 for
 * missing arrays. */
VR_API int ir_data_unzip(const uint8_t *bytes, int byte_count, uint16_t *values,
                         int *value_count);

VR_END_DECLS

#endif
