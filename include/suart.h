/* The audio modem ("sound" link): its state record and its functions. */
#ifndef VR_SUART_H
#define VR_SUART_H

#include <pthread.h>
#include <stdint.h>
#include "ringbuf.h"
#include "vr_api.h"

VR_BEGIN_DECLS

/* Carrier widths: the half-period of the carrier in samples. */
#define SUART_WIDTH_MIN 2
#define SUART_WIDTH_MAX 22
/* Frames of the longest lobe, of the idle pattern and of the send buffer at
 * the widest carrier; the buffers below have room for every width. */
#define SUART_LOBE_FRAMES_MAX (2 * SUART_WIDTH_MAX)
#define SUART_IDLE_FRAMES_MAX (4 * SUART_WIDTH_MAX)
#define SUART_SEND_FRAMES_MAX (24 * SUART_WIDTH_MAX)
/* Receive blocks: samples read per pass, and the most samples carried from
 * one block to the next (a long half-cycle plus the look-back window at the
 * widest carrier). */
#define SUART_RX_BLOCK 2048
#define SUART_RX_CARRY_MAX 136
#define SUART_RX_BUFFER (SUART_RX_BLOCK + SUART_RX_CARRY_MAX)

/* Modem state, part of the global record. Every status word is read and
 * written under `lock` (the modem mutex), so the modem's threads and the
 * caller's thread may share them. The configuration words that the host
 * may change while the modem runs (uplink_alg, suart_debug, the widths,
 * level_mid, the pending values) are read and written atomically by the
 * library; the lobe and receive buffers belong to the send and the receive
 * side respectively. All zero is "not initialised"; suart_init sets the
 * configuration. */
typedef struct suart_state {
    pthread_mutex_t lock;
    /* 0 record side not ready, 204 record stream made, 221 volume set,
     * 170 calibrating, 255 ready, 187 calibration failed */
    int32_t calistat;
    /* 0 playback stream not ready, 255 ready */
    int32_t trackstat;
    /* 0 initial, '0' no headset, '2' headset present */
    int32_t plugstat;
    int32_t routestat; /* stored for the host, read by nobody */
    int32_t categstat; /* nonzero: abort the pending framed read */

    /* ---- configuration, set by suart_init */
    int32_t uplink_alg;  /* 0 biquad + pattern decoder, 1 smoother + pattern
                            decoder, 2 smoother + simple classifier */
    int32_t suart_debug; /* verbosity: >1 block dumps, >4 pulse diagnostics */
    int16_t level_high;  /* by-products of calibration */
    int16_t level_low;
    int16_t level_mid;   /* threshold of the uplink slicer */
    int32_t down_short_width; /* downlink: frames per short / long lobe */
    int32_t down_long_width;
    int32_t down_short_us;    /* their durations in microseconds */
    int32_t down_long_us;
    int32_t up_short_width;   /* uplink: samples per short / long lobe */
    int32_t up_long_width;
    int32_t up_short_us;
    int32_t up_long_us;
    int32_t down_pending_width; /* stored by a frequency change, applied */
    int32_t down_pending_us;    /* by the side that owns the widths */
    int32_t up_pending_width;
    int32_t up_pending_us;
    int32_t send_freq;        /* last downlink / uplink carrier chosen (Hz) */
    int32_t recv_freq;
    int32_t play_channels;    /* playback: 2 channels, 2 bytes, 16 bits, */
    int32_t play_sample_bytes;/* 44100 Hz */
    int32_t play_bits;
    int32_t play_rate;
    int32_t rec_channels;     /* recording: 1 channel, 2 bytes, 16 bits, */
    int32_t rec_sample_bytes; /* 44100 Hz */
    int32_t rec_bits;
    int32_t rec_rate;
    uint8_t play_attach;      /* stream attach markers, '3' after init */
    uint8_t rec_attach;

    /* ---- downlink lobes (send side) */
    int32_t lobe_short_frames; /* frames the lobe buffers hold; 0 before */
    int32_t lobe_long_frames;  /* the first build */
    int32_t lobe_layout;       /* 1 antiphase, 0 same on both channels */
    int16_t lobe_short_plus[2 * SUART_LOBE_FRAMES_MAX];
    int16_t lobe_short_minus[2 * SUART_LOBE_FRAMES_MAX];
    int16_t lobe_long_plus[2 * SUART_LOBE_FRAMES_MAX];
    int16_t lobe_long_minus[2 * SUART_LOBE_FRAMES_MAX];
    int16_t idle_buf[2 * SUART_IDLE_FRAMES_MAX];
    int16_t send_buf[2 * SUART_SEND_FRAMES_MAX];
    int32_t idle_total;        /* idle pull counters, in frames */
    int32_t idle_remaining;

    /* ---- uplink analysis (receive side) */
    int32_t analysis_state; /* 0 receive, 1/2 calibrate, 3..5 channel test,
                               6 paused */
    int32_t analysis_saved;
    int32_t recv_stage;     /* 0 set up, 1 receiving, 2 channel test,
                               3 calibrating */
    int32_t short_run_suppress; /* set after 17 "S" in a row, cleared by "L" */
    int32_t last_width;         /* pattern decoder carry between blocks */
    int32_t last_width_pattern_c_flag;
    int32_t signal_fetch_pulse_cnt;
    int32_t rx_carry;           /* samples carried at the front of rx_block */
    int32_t rx_carry_side;      /* they open a half-cycle above (1) or at or
                                   below (-1) level_mid, 0 unknown */
    int32_t rx_used;            /* samples of the last block in rx_copy */
    int16_t rx_block[SUART_RX_BUFFER];
    int16_t rx_copy[SUART_RX_BUFFER];

    ringbuf send_ring; /* bytes to transmit */
    ringbuf recv_ring; /* received symbols 'S' / 'L' */

    /* ---- modem device: its threads, streams and channel test. Bits of
     * the flag words: 1 send thread, 2 receive thread, 4 monitor thread.
     * The sleep and close flags are read and written under `lock`; the
     * signal flags, command bytes and stamps atomically. */
    pthread_t thread_send;
    pthread_t thread_recv;
    pthread_t thread_monitor;
    pthread_t thread_opener;   /* the thread that last called suart_open */
    int32_t owner_pid;         /* process that made the threads and rings */
    int32_t alive_flags;       /* threads that are running */
    int32_t sleep_flags;       /* threads asleep, waiting for a signal */
    int32_t signal_flags;      /* threads that took their last signal */
    int32_t close_flags;       /* threads that obeyed the exit command */
    /* Per thread: the command ('U' open, 'D' close, '3' exit, 'f' run) and
     * the time() of its last change. */
    uint8_t send_cmd;
    uint8_t recv_cmd;
    uint8_t monitor_cmd;
    int64_t send_stamp;
    int64_t recv_stamp;
    int64_t monitor_stamp;
    uint8_t play_state;        /* 4 made, 3 running, 2 stopped and destroyed */
    uint8_t rec_state;
    int32_t play_started;      /* 1 while the stream runs */
    int32_t rec_started;
    int32_t saved_volume;      /* output volume before calibration set-up */
    int32_t max_volume;        /* and its maximum */
    int32_t best_freq;         /* result of the last channel test (Hz) */
    int8_t chantest_progress;  /* raw progress; see signal_get_process */
    uint8_t chantest_kind;     /* 0 fast, 1 normal, 2 full */
    int32_t chantest_done;     /* channel tests finished so far */
    /* handler stacks of the send, receive and monitor threads */
    struct suart_handler_node *stacks[3];
} suart_state;

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
