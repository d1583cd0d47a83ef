/* Raw reader commands and the audio link's channel tests. */
#ifndef VR_AUDIO_H
#define VR_AUDIO_H

#include <stdint.h>
#include "vr_api.h"

VR_BEGIN_DECLS

/* Sends a raw reader command through the command exchange (10 s time-out).
 * cmd holds the 16-bit command code (low byte first) and len - 2 data
 * bytes; on success the reply replaces them and *len receives its length.
 * cmd must have room for the largest reply (4097 bytes). A length of 4097
 * or more sets *len to 0 and fails with -15. 0, or -1 with errno set.
 * Serves every link. */
VR_API int audio_raw_cmd(unsigned char *cmd, int *len);

/* ---- the modem's audio device, over the platform's audio backend.
 * Directions: 1 playback, 0 record. */

VR_API int audio_device_open(void);
/* 0 when an audio backend is available, else -1. */
VR_API int audio_device_init(void);
VR_API int audio_device_ioctl(int command, void *argument);
/* Moves exactly count 16-bit samples (not frames) to or from the stream,
 * over as many partial transfers as it takes: count, or -1 (stream not
 * running or failed, the calling modem thread told to close, or a record
 * stream that delivered nothing for half a second). */
VR_API int audio_device_read(int16_t *samples, int count);
VR_API int audio_device_write(const int16_t *samples, int count);
/* Starts a made stream unless it runs; 0 or -1. */
VR_API int audio_device_start(int direction);
/* Stops and destroys the stream unless that was done; 0. */
VR_API int audio_device_pause(int direction);
/* Pauses and releases the stream; 0. */
VR_API int audio_device_close(int direction);

/* ---- echo tests through the reader (command 0x0F02) */

/* Sends n bytes (n < 4088) for the reader to echo: 0 when the reply repeats
 * them, else -1. */
VR_API int audio_send_data(const unsigned char *data, int n);
/* The same exchange without comparison: the n echoed bytes (n <= 4087) go
 * to dst. 0 or -1. */
VR_API int audio_echo(const unsigned char *src, unsigned char *dst, int n);
/* Tells the reader to move its uplink carrier to freq (command 0x0F01) and
 * waits up to 100 ms for its answer, which is not examined: 0 once the
 * message is written, -1 when flushing or writing fails. */
VR_API int audio_change_frequence(int freq);
/* Asks the reader for an uplink frequency test at freq (command 0x0F81,
 * 1000 ms time-out), then waits 500 ms and forgets any reply still owed:
 * 0, or the exchange's result with errno -14. */
VR_API int uplink_freq_test(int freq);
/* Echo test of a pattern: bits 24..31 choose it (0 counting bytes, 1 random
 * bytes, else the constant byte in bits 8..15), bits 0..7 its length; one
 * resend on failure. The result of the last echo. */
VR_API int audio_comm_test(int param);

VR_END_DECLS

#endif
