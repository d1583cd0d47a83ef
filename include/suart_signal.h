/* The audio modem's signal path: the half-cycle line code on 44100 Hz PCM.
 * Downlink (phone to reader): bytes become lobes of a carrier, played as
 * interleaved stereo frames, with an idle carrier between bytes. Uplink
 * (reader to phone): recorded mono samples are cleaned, their zero
 * crossings measured and classified into the symbols 'S' (short lobe) and
 * 'L' (long lobe) in the receive ring, which ringbuf_suart_delchr turns
 * back into bytes. Everything here is computation on sample arrays and on
 * the modem state in the global record; no audio device is touched. */
#ifndef VR_SUART_SIGNAL_H
#define VR_SUART_SIGNAL_H

#include <stdint.h>
#include "ringbuf.h"
#include "vr_api.h"

VR_BEGIN_DECLS

/* A source of recorded samples: fills count samples and returns count, or
 * -1 when it cannot. */
typedef int (*signal_read_fn)(void *context, int16_t *samples, int count);

/* ---- carrier frequency and width */

/* floor(22050 / width) for width 2..22, else -1. */
VR_API int signal_width2freq(int width);
/* The width whose window holds freq (5000 and 5512 both give 4), or -1. */
VR_API int signal_freq2width(int freq);
/* Snaps freq to a supported carrier; -1 outside 20..20000 Hz or when no
 * width fits. */
VR_API int signal_selfreq(int freq);
/* Playback frames to bytes and back (integer division); byte2frame gives
 * -1 before the playback format is set. */
VR_API int frame2byte(int frames);
VR_API int byte2frame(int bytes);
/* Frames of one idle pattern: 4 x the downlink width. */
VR_API int idle_frames(void);

/* ---- downlink modulation */

/* Replaces a lobe seed of length 8 or 16 by the fixed sine cycle of that
 * length; other lengths are left as they are. 0, or -1 without a seed. */
VR_API int signal_sin_filter(int16_t *seed, int length);
/* Build the four lobe buffers and the idle pattern from the downlink widths
 * in force: antiphase (right channel = inverted left) or the same signal on
 * both channels. 0, or -1 when the widths are outside 2..22 / 4..44. */
VR_API int signal_pulse_buff_init(void);
VR_API int signal_pulse_buff_init_same(void);
/* Logs the mode and builds antiphase (mode != 0) or same layout; 0 or -1. */
VR_API int send_signal_init(int mode);
/* send_signal_init(1), then send_signal_init(0): the same layout stands. */
VR_API int open_device_signal(void);
/* Copies one lobe to dst: kind 0 short, 2 long; a polarity whose low byte
 * is 255 (-1) takes the minus lobe. Returns the 16-bit samples written
 * (2 per frame), or -1 for another kind, no dst or no lobes built yet. */
VR_API int insert_period(int kind, int16_t *dst, int polarity);
VR_API int insert_short_period(int16_t *dst, int polarity);
VR_API int insert_long_period(int16_t *dst, int polarity);
/* Writes the lobes of one byte (start, eight data lobes, five stop lobes)
 * to dst, which must have room for 46 x width samples. Returns the samples
 * written, or -1 before the lobes are built. */
VR_API int char2sample(int16_t *dst, unsigned char byte);
/* Pulls up to frames frames of the idle pattern into dst, continuing where
 * the last pull stopped; *more (when given) tells whether the pattern is
 * part-way through. frames 0 only sets *more. Frames copied, or -1. */
VR_API int idle_samples(int frames, int16_t *dst, int *more);
/* Inert hooks: poll gives -1, push gives frames. */
VR_API int poll_audio_samples(int frames, int16_t *dst);
VR_API int push_audio_samples(int frames, const int16_t *src);
/* Moves the downlink (send) or the uplink (recv) carrier to the supported
 * frequency nearest freq: stores the pending width and duration and has
 * them applied, then waits 100 ms. 0, or -1 (errno -24) for a frequency
 * that cannot be snapped. */
VR_API int set_local_send_freq(int freq);
VR_API int set_local_recv_freq(int freq);
/* Logs (level 3) that chosen replaces the requested frequency. */
VR_API void print_freqchange(int chosen, int requested);

/* ---- uplink demodulation; each stage works in place on n samples */

/* Three-tap smoother (x[i-1] + 3x[i] + x[i+1]) / 5; ends unchanged. 0. */
VR_API int signal_low_filter(int16_t *samples, int n);
/* Butterworth low-pass at twice the uplink carrier, output at half scale;
 * ends unchanged. 0. */
VR_API int signal_band_filter(int16_t *samples, int n);
/* 1 above level_mid, else 0 (with the run repair at width 2). 0. */
VR_API int signal_thresholding(int16_t *samples, int n);
/* d[i] = x[i] - x[i-1], d[0] = x[0]: nonzero entries mark crossings. 0. */
VR_API int signal_difference(int16_t *samples, int n);
/* Simple classifier: appends 'S' / 'L' for the widths between crossings
 * (index 0 is the block's reference point). Returns the last crossing. */
VR_API int signal_fetch_pulse(int16_t *d, int n);
/* Pattern decoder: repairs the width list, carrying the last width to the
 * next call, then appends the symbols. Takes blocks of fewer than 544
 * samples. Returns the last crossing. */
VR_API int signal_fetch_pulse_pattern(int16_t *d, int n);
/* The pipeline chosen by uplink_alg, in place; returns the index of the
 * last crossing (the samples consumed), 0 at once when flag is set. */
VR_API int signal_analysis(int16_t *samples, int n, int flag);
VR_API int signal_analysis_a_algrothom(int16_t *samples, int n);
VR_API int signal_analysis_a_algrothom_pattern(int16_t *samples, int n);
/* Frequency of the tone in samples (n < 2080), or -1. */
VR_API int signal_analysis_freq_pattern(int16_t *samples, int n, int freq);
/* Half-period in samples of the tone whose crossings d marks, or -1. */
VR_API int signal_pulse_width_detect(const int16_t *d, int n, int freq);
/* Level calibration over one tenth of a second read from the source: sets
 * level_mid (mean), level_low, level_high and the uplink widths 4 / 8.
 * 0, or -1 when the source fails. */
VR_API int signal_process(signal_read_fn read, void *context);
/* Sum of squares of n samples, saturated to 32 bits. */
VR_API uint32_t caculate_signal_energy(const int16_t *samples, int n);

/* ---- symbols to bytes */

/* One byte from n long ('L') / short ('S') symbols: bit 0 (the byte's most
 * significant bit) is 1 for a leading 'L'; every later 'L' flips the bit,
 * every 'S' repeats it. */
VR_API int ringbuf_suart_number(const char *symbols, int n);
/* Decodes up to n bytes from a ring of symbols, waiting up to 400 ms per
 * byte. Returns the number of bytes produced, or -1. */
VR_API int ringbuf_suart_delchr(ringbuf *ring, uint8_t *out, int n);


/* ---- measuring the uplink carrier, and the channel test's results */

/* The frequency arriving from the reader, measured on the record stream
 * (the receive thread's analysis is parked meanwhile), or -1 when the level
 * is too low or the tone irregular. signal_detect gives 5512 for -1. */
VR_API int signal_detect_quick(int freq);
VR_API int signal_detect(int freq);
/* The carrier the last channel test found (Hz). */
VR_API int signal_best_frequence(void);
/* The channel test's progress: set, add 5, and read in percent (the raw
 * count times 100 / 115; a negative count as it is). */
VR_API int signal_set_proval(int value);
VR_API int signal_set_process(void);
VR_API int signal_get_process(void);
/* The carrier for an uplink band from start to end (Hz): the band's top,
 * at most 5512; -1 when the band spans less than an octave or is empty. */
VR_API int signal_carrier_freq(int start, int end);

VR_END_DECLS

#endif
