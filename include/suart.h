/* The audio modem ("sound" link): its status words, its driver init and
 * the "sound" device (threads, handlers, jack); its state record is in
 * suart_state.h. */
#ifndef VR_SUART_H
#define VR_SUART_H

#include <stdint.h>
#include "suart_state.h"
#include "vr_api.h"

VR_BEGIN_DECLS

/* Thread numbers of the modem: the three threads, and the application
 * thread as a sender of handlers. */
enum {
    SUART_THREAD_SEND = 1,
    SUART_THREAD_RECV = 2,
    SUART_THREAD_MONITOR = 4,
    SUART_THREAD_APP = 8
};

/* The carrier and amplitude in use, exported for the host. Nothing in the
 * library reads the amplitude or the mode. */
typedef struct suart_active {
    int32_t send_freq;
    int32_t recv_freq;
    int32_t amplitude;
    uint8_t mode;
} suart_active;

VR_API extern suart_active active_data;

/* A handler the modem's threads run on their own stack when woken. */
typedef void (*suart_handler)(void);

VR_API int suart_set_calistat(int value);
VR_API int suart_get_calistat(void);
VR_API int suart_set_trackstat(int value);
VR_API int suart_get_trackstat(void);
VR_API int suart_set_plugstat(int value);
VR_API int suart_get_plugstat(void);
VR_API int suart_set_routestat(int value);
VR_API int suart_get_routestat(void);
VR_API int suart_set_categstat(int value);
VR_API int suart_get_categstat(void);

/* Driver initialisation for the link name "sound": sets the modem's
 * configuration defaults and the device name; 0. The platform variants:
 * Linux and macOS have no audio modem (-1), Windows sets errno -22 (-1). */
VR_API int suart_init(int mode);
VR_API int suart_init_android(int mode);
VR_API int suart_init_linux(int mode);
VR_API int suart_init_macosx(int mode);
VR_API int suart_init_win(int mode);

/* ---- the "sound" device: the seven operations of the port's table */

/* Starts (first time: creates) the modem's threads and waits for the
 * headset and the calibration of the receive side: 0 when the link is
 * calibrated and the send side is open, else -1 with errno -10 (audio
 * device, or calibration failed), -42 (thread), -80 (no headset), -72
 * (record side never made), -82 (volume cannot be set to maximum), -83
 * (microphone muted) or -84 (playback never made). */
VR_API int suart_open(void);
/* Parks the three threads (they stay alive, asleep); 0. */
VR_API int suart_close(void);
/* 1 empties the receive ring, 2 the send ring, 3 both; else errno -24. */
VR_API int suart_flush(int which);
/* Not supported: errno -22, -1. */
VR_API int suart_drain(void);
VR_API int suart_ioctl(int command, void *argument);
/* Decodes n bytes from the received symbols, each within 400 ms: n, or -1
 * with errno -45. */
VR_API int suart_read(uint8_t *dst, int n);
/* Queues n bytes for the send thread, waiting for room while the send
 * side runs: n, or -1 with errno -46 (more than the send ring can ever
 * hold, or the send side stopped). */
VR_API int suart_write(const uint8_t *src, int n);

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

/* ---- threads, flags and handlers */

/* 1, 2 or 4 for the modem's threads, -1 for any other thread. */
VR_API int suart_current_thread(void);
/* Flag words by thread number (1, 2, 4): set / clear the thread's bit, get
 * whether it is set (1 or 0). suart_clear_thread_close_flag clears all. */
VR_API int suart_set_sleep_flag(int thread);
VR_API int suart_get_sleep_flag(int thread);
VR_API int suart_clear_sleep_flag(int thread);
VR_API int suart_set_signal_flag(int thread);
VR_API int suart_get_signal_flag(int thread);
VR_API int suart_clear_signal_flag(int thread);
VR_API int suart_set_thread_close_flag(int thread);
VR_API int suart_get_thread_close_flag(int thread);
VR_API int suart_clear_thread_close_flag(void);

/* Delivers one handler to one of the threads 1, 2 and 4 (from sender, a
 * thread number): pushes it on the target's stack and wakes the target
 * with the modem's wake-up signal, up to three times, 30 ms apart, until
 * the target has taken it. 0, or -1 (other target, no such thread, or not
 * taken: logged). The handler runs on the target thread. */
VR_API int suart_send_signal(int sender, int target, suart_handler handler);
/* Runs the top handler of the calling modem thread's stack; does nothing
 * on any other thread. */
VR_API void suart_signals_handler(int signal);
/* The alarm handler of the original design: it only stores a time-out
 * mark that nothing reads, and the library never installs it (the alarm
 * signal belongs to the host). */
VR_API void suart_hanlder_timeout(int signal);
/* The calling modem thread sleeps until the next wake-up signal and runs
 * the handler it brings. No wake-up is lost: one sent before the thread
 * sleeps wakes it at once. */
VR_API void suart_thread_sleep(void);

VR_API void suart_handler_idle(void);
VR_API void suart_handler_open_senddev(void);
VR_API void suart_handler_open_recvdev(void);
VR_API void suart_handler_close_senddev(void);
VR_API void suart_handler_close_recvdev(void);
VR_API void suart_handler_start_chantest(void);
VR_API void suart_handler_init_downlink(void);
VR_API void suart_handler_update_downlink(void);
VR_API void suart_handler_update_uplink(void);
VR_API void suart_handler_send_thread_exit(void);
VR_API void suart_handler_recv_thread_exit(void);
VR_API void suart_handler_monitor_thread_exit(void);
VR_API void suart_handler_pause_analyse(void);
VR_API void suart_handler_resume_analyse(void);

/* ---- carrier, jack and the exported active data */

/* Moves the uplink (direction 0) or downlink (1) carrier to the supported
 * frequency nearest freq; 0, or -1 (unsupported frequency or direction). */
VR_API int suart_set_carier_freq(int direction, int freq);
/* The headset jack: '0' (48) nothing plugged, '1' (49) headphones without
 * microphone, '2' (50) headset, -1 unknown. The plain function asks the
 * platform's variant: on Linux the audio backend, on Android the host's
 * audio manager or else the kernel's switch files. */
VR_API int suart_check_jack(void);
VR_API int suart_check_jack_linux(void);
VR_API int suart_check_jack_android(void);

VR_API int suart_set_mode(int mode);
VR_API int suart_get_mode(void);
VR_API int suart_set_active_send_freq(int freq);
VR_API int suart_get_active_send_freq(void);
VR_API int suart_set_active_recv_freq(int freq);
VR_API int suart_get_active_recv_freq(void);
VR_API int suart_set_active_amplitude(int amplitude);
VR_API int suart_get_active_amplitude(void);

VR_END_DECLS

#endif
