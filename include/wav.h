/* WAV files of 16-bit (or 8-bit) PCM samples: the header record with its
 * setters and getters, reading and writing it, and playing and recording
 * files through the platform's audio streams (the modem's playback and
 * record streams).
 *
 * The record holds a layout word and the file's header bytes as they are
 * on disk, little-endian:
 *   layout 0, plain (44 bytes): RIFF head (12), format chunk (24), data
 *             chunk head (8); data size at offset 40.
 *   layout 1, with a "fact" chunk (56 bytes): RIFF head, format chunk,
 *             "fact" chunk (12, the sample count), data chunk head; data
 *             size at offset 52.
 * A file read by the library is untrusted: chunks that reach past the end
 * of the file, a format other than PCM or samples other than 8 or 16 bits
 * are refused. */
#ifndef VR_WAV_H
#define VR_WAV_H

#include <stdint.h>
#include "vr_api.h"

VR_BEGIN_DECLS

#define WAV_LAYOUT_PLAIN 0
#define WAV_LAYOUT_FACT 1
#define WAV_HEADER_MAX 56

typedef struct wav_header {
    int32_t layout;                   /* WAV_LAYOUT_PLAIN or WAV_LAYOUT_FACT */
    uint8_t bytes[WAV_HEADER_MAX];    /* the header as written to the file */
} wav_header;

/* Zeroes the record and writes the tags, the format chunk size (16), the
 * format (1, PCM) and the layout. */
VR_API void wav_file_init_header(wav_header *header, int layout);
/* The header's length on disk (44 or 56), or -1 for an unknown layout. */
VR_API int wav_file_header_size(const wav_header *header);

/* Setters: 0, or -1 when the layout word is neither 0 nor 1. fsize is the
 * whole file's size (stored as the RIFF size field, fsize - 8). */
VR_API int wav_file_set_fsize(wav_header *header, uint32_t fsize);
VR_API int wav_file_set_dsize(wav_header *header, uint32_t dsize);
VR_API int wav_file_set_rate(wav_header *header, uint32_t rate);
VR_API int wav_file_set_bps(wav_header *header, uint32_t bps);
VR_API int wav_file_set_ssize(wav_header *header, uint16_t ssize);
VR_API int wav_file_set_precision(wav_header *header, uint16_t precision);
VR_API int wav_file_set_channels(wav_header *header, uint16_t channels);

/* Getters: the value, or -1 when the layout word is neither 0 nor 1 (or
 * the value does not fit an int). wav_file_get_fsize returns the RIFF size
 * field + 8. */
VR_API int64_t wav_file_get_fsize(const wav_header *header);
VR_API int64_t wav_file_get_dsize(const wav_header *header);
VR_API int64_t wav_file_get_rate(const wav_header *header);
VR_API int64_t wav_file_get_bps(const wav_header *header);
VR_API int64_t wav_file_get_ssize(const wav_header *header);
VR_API int64_t wav_file_get_precision(const wav_header *header);
VR_API int64_t wav_file_get_channels(const wav_header *header);

/* Writes the header at offset 0 of fd (leaving the file offset after it):
 * 0, or -1. */
VR_API int wav_file_set_header(int fd, const wav_header *header);
/* Reads and checks the header of the file fd from offset 0: RIFF head,
 * format chunk (bytes beyond its declared 16 skipped), then a "fact" chunk
 * and the data chunk head (layout 1) or the data chunk head (layout 0);
 * other chunks before the data are skipped. On success the file offset is
 * at the first sample and 0 is returned; else -1 with errno -41 (not a WAV
 * file of this kind). */
VR_API int wav_file_get_header(int fd, wav_header *header);
/* Opens path read-only and reads its header: the descriptor (at the first
 * sample), or -1 with errno -41 (or the system's errno when it cannot be
 * opened). */
VR_API int wav_file_open(const char *path, wav_header *header);

/* Plays a WAV file through the platform's playback stream, 512 frames at a
 * time: 0 at the end of the file, -1 when the file cannot be read or the
 * stream cannot be made or fails. */
VR_API int android_play_wav(const char *path);
/* Plays a file of type 0 (WAV; the low 8 bits of type are the type, any
 * other value returns -1). unused is ignored. */
VR_API int android_play_file(const char *path, int type, int unused);
/* Records the record stream (which must have been made, as
 * android_record_file does) into a new WAV file at path (1 channel, 44100
 * Hz, 16 bits) for seconds seconds, or until android_record_stop_recording
 * is called: 0, or -1 when the file cannot be created or written or the
 * stream fails. unused_a and unused_b are ignored. */
VR_API int android_record_wav(const char *path, int unused_a, int seconds, int unused_b);
/* Ends a recording in progress (from any thread) at its next read. */
VR_API void android_record_stop_recording(void);
/* Makes the record stream (1 channel, 16 bits, 44100 Hz) and records a file
 * of type 0 (WAV) for seconds seconds; -1 for any other type. */
VR_API int android_record_file(const char *path, int type, int seconds, int unused);

VR_END_DECLS

#endif
