/* The audio modem's part of the global state record (tessil.s_com.suart):
 * its settings, buffers and rings. The modem's functions are in suart.h and
 * suart_signal.h. */
#ifndef VR_SUART_STATE_H
#define VR_SUART_STATE_H

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

VR_END_DECLS

#endif
