/* Raw reader commands, and the audio link's echo tests, carrier selection
 * and channel test (all of them reader traffic). */
#ifndef VR_AUDIO_H
#define VR_AUDIO_H

#include "vr_api.h"

VR_BEGIN_DECLS

/* Sends a raw reader command through the command exchange (10 s time-out).
 * cmd holds the 16-bit command code (low byte first) and len - 2 data
 * bytes; on success the reply replaces them and *len receives its length.
 * cmd must have room for the largest reply (4097 bytes). A length of 4097
 * or more sets *len to 0 and fails with -15. 0, or -1 with errno set.
 * Serves every link. */
VR_API int audio_raw_cmd(unsigned char *cmd, int *len);

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

/* ---- carrier selection and channel test through the reader */

/* Moves the reader's uplink carrier (unless freq is -1) and then the
 * receiver to freq, once the tone is measured there: 0 or -1. */
VR_API int signal_change_frequence(int freq);
/* Echo test of n random bytes: 0 or -1. */
VR_API int signal_send_randoms(int n);
/* Opens the "sound" link and finds a working uplink carrier. mode 0: 5512
 * Hz, else 2004 Hz; 1: scan and long echo runs; 2: echoes at the current
 * carrier; 3: scan every carrier with both uplink algorithms; 5: nothing;
 * 6: the scored choice among 7350, 5512 and 2004 Hz; any other value: that
 * frequency. 0 on success, else negative. */
VR_API int signal_try_communicate(int mode);
VR_API int signal_try_communicate_1(int freq);
VR_API int signal_try_communicate_2(void);
VR_API int signal_try_communicate_3(int freq, int rounds, int size);
VR_API int signal_try_communicate_4(int freq);
/* Starts a channel test in the modem's receive thread (kind 0 fast, 1
 * normal, 2 full). With nowait (low 8 bits) non-zero it returns 0 at once;
 * else it waits for the test to end: 0, or the negative progress of a
 * failed test. -1 when the link cannot be opened. */
VR_API int signal_chantest(int kind, int nowait);
/* Steps of the normal channel test: the uplink spectrum over the 21
 * carriers (index i is the carrier of width 22 - i), and the band it
 * passes. */
VR_API int signal_system_function(int *spectrum);
VR_API int signal_pass_band(int *start, int *end);

VR_END_DECLS

#endif
