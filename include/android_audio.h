/* The audio bridge to the host's media classes through the Java VM:
 * android.media.AudioTrack (playback), AudioRecord (microphone) and
 * AudioManager (volume, microphone mute, wired headset), reached from the
 * library's own threads. The modem uses them as its "android" audio
 * backend; on Android that backend is the default.
 *
 * Every call runs with the modem's wake signal (SIGRTMIN) blocked on the
 * calling thread, so that the signal never lands inside the VM. A thread
 * the bridge attached to the VM is detached when it releases the stream it
 * used, and at the latest when it ends.
 *
 * Streams are made once and kept until destroyed; each holds global
 * references to its class, its object and a 44100-byte transfer array, all
 * dropped by its destroy. Results are 0 or a count on success and -1 on
 * failure unless said otherwise; a call on a stream that is not made
 * returns -1. */
#ifndef VR_ANDROID_AUDIO_H
#define VR_ANDROID_AUDIO_H

#include <jni.h>
#include "vr_api.h"

VR_BEGIN_DECLS

/* Size of each stream's transfer array; no transfer moves more. */
#define ANDROID_AUDIO_ARRAY_SIZE 44100
/* The made and attach markers' value. */
#define ANDROID_AUDIO_MARK 3

/* The calling thread's environment at JNI version 1.6, attaching the
 * thread (as "native_thread") when it is not attached; null without a VM
 * or when attaching fails. */
VR_API JNIEnv *android_local_jnienv(void);

VR_API int android_audio_init(void);
VR_API int android_audio_destroy(void);

/* ---- playback (android.media.AudioTrack) */

/* Makes a streaming playback stream (music stream, channels 2: stereo,
 * else mono; bits 8 or 16) with a buffer of max(frames, the minimum) x 2
 * bytes. 0 at once when the stream exists. */
VR_API int android_track_init(int channels, int bits, int rate, int frames);
/* Releases the stream and drops its references. */
VR_API int android_track_destroy(void);
VR_API int android_track_play(void);
VR_API int android_track_stop(void);
VR_API int android_track_pause(void);
VR_API int android_track_flush(void);
VR_API int android_track_release(void);
/* 1 when the stream is usable. */
VR_API int android_track_get_state(void);
VR_API int android_track_get_play_state(void);
/* Smallest buffer in bytes for the format, or negative. */
VR_API int android_track_get_min_buffer_size(int rate, int mask, int encoding);
VR_API int android_track_set_stereo_volume(float left, float right);
/* Queues n bytes (at most ANDROID_AUDIO_ARRAY_SIZE), blocking until the
 * stream takes them: the count taken. */
VR_API int android_track_write_char(const void *bytes, int n);
/* Queues n shorts of a host array. */
VR_API int android_track_write_short(jshortArray samples, int n);
/* Returns latency (no query of the stream). */
VR_API int android_track_get_latency(int a, int b, int c, int latency);

/* ---- recording (android.media.AudioRecord) */

/* Makes a microphone stream (channels 2: stereo, else mono; bits 8 or 16)
 * with a buffer of max(frames, the minimum) x 2 bytes; needs the host's
 * audio manager class. 0 at once when the stream exists. */
VR_API int android_record_init(int channels, int bits, int rate, int frames);
VR_API int android_record_destroy(void);
VR_API int android_record_start_record(void);
VR_API int android_record_stop(void);
VR_API int android_record_release(void);
VR_API int android_record_get_state(void);
VR_API int android_record_get_record_state(void);
VR_API int android_record_get_min_buffer_size(int rate, int mask, int encoding);
/* Reads up to n bytes (at most ANDROID_AUDIO_ARRAY_SIZE), blocking until
 * some exist: the count. */
VR_API int android_record_read_char(void *bytes, int n);
/* Reads up to n shorts into a host array. */
VR_API int android_record_read_short(jshortArray samples, int n);

/* ---- the host's audio manager (handed over by RFIDReader.system_init),
 * always on the music stream */

/* Looks up the manager's class and methods: 0, or -1 without an
 * environment or the class. The operations below run it first when
 * needed, and fail with errno -60 without an environment. */
VR_API int audio_manager_init(JNIEnv *env);
/* Volume and maximum, -1 without a manager instance. */
VR_API int audio_manager_getvol(void);
VR_API int audio_manager_getmaxvol(void);
VR_API int audio_manager_setmaxvol(void);
/* v above the maximum: errno -24 and -1. */
VR_API int audio_manager_setvol(int v);
VR_API int audio_manager_incvol(void);
VR_API int audio_manager_decvol(void);
/* Non-zero when muted / when a wired headset is on; -1 without a manager
 * instance. */
VR_API int audio_manager_micmuted(void);
VR_API int audio_manager_headseton(void);

VR_END_DECLS

#endif
