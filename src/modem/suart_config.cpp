// The modem's configuration: defaults set when the "sound" link is chosen,
// the accessors the card-control codes use, and the hand-over of pending
// carrier widths.
#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "modem/device.h"
#include "port/port.h"

namespace vr::modem {

int uplink_alg() { return load(state().uplink_alg); }
int set_uplink_alg(int value) {
    store(state().uplink_alg, static_cast<int32_t>(value));
    return value;
}
int suart_debug() { return load(state().suart_debug); }
int set_suart_debug(int value) {
    store(state().suart_debug, static_cast<int32_t>(value));
    return value;
}
int up_short_width() { return load(state().up_short_width); }
int level_mid() { return load(state().level_mid); }

void apply_pending_downlink() {
    suart_state &s = state();
    const int32_t w = load(s.down_pending_width);
    const int32_t us = load(s.down_pending_us);
    if (!valid_width(w)) return;
    store(s.down_short_width, w);
    store(s.down_long_width, 2 * w);
    store(s.down_short_us, us);
    store(s.down_long_us, 2 * us);
    // Lobes already built at another width are rebuilt now, in the layout in
    // force, so that no lobe of the old width follows the change.
    if (s.lobe_short_frames != 0) {
        if (s.lobe_layout)
            signal_pulse_buff_init();
        else
            signal_pulse_buff_init_same();
    }
}

void apply_pending_uplink() {
    suart_state &s = state();
    const int32_t w = load(s.up_pending_width);
    const int32_t us = load(s.up_pending_us);
    if (!valid_width(w)) return;
    store(s.up_short_width, w);
    store(s.up_long_width, 2 * w);
    store(s.up_short_us, us);
    store(s.up_long_us, 2 * us);
}

// The widths belong to the threads that use them: the send thread for the
// downlink, the receive thread for the uplink. A thread that exists gets
// the update as a handler (it runs at once, or when the thread next takes
// its signals); before the threads exist the values are applied here.
namespace {

void hand_over(int thread, suart_handler handler, void (*apply)()) {
    if (!thread_alive(thread)) {
        apply();
        return;
    }
    const int self = suart_current_thread();
    suart_send_signal(self > 0 ? self : SUART_THREAD_APP, thread, handler);
}

}  // namespace

void request_downlink_update() {
    hand_over(SUART_THREAD_SEND, suart_handler_update_downlink, apply_pending_downlink);
}

void request_uplink_update() { hand_over(SUART_THREAD_RECV, suart_handler_update_uplink, apply_pending_uplink); }

}  // namespace vr::modem

using vr::modem::state;
using vr::modem::store;

VR_API int suart_init_android(int mode) {
    (void)mode;
    suart_state &s = state();

    vr::port::install_device("android audio", vr::modem::kSoundOps);

    store(s.uplink_alg, int32_t{2});
    store(s.suart_debug, int32_t{1});
    store(s.level_high, int16_t{32767});
    store(s.level_low, int16_t{-32768});
    store(s.level_mid, int16_t{0});
    store(s.down_short_width, int32_t{4});
    store(s.down_long_width, int32_t{8});
    store(s.down_short_us, int32_t{100});
    store(s.down_long_us, int32_t{200});
    store(s.up_short_width, int32_t{4});
    store(s.up_long_width, int32_t{8});
    store(s.up_short_us, int32_t{100});
    store(s.up_long_us, int32_t{200});
    store(s.up_pending_width, int32_t{4});
    store(s.up_pending_us, int32_t{100});
    s.play_channels = 2;
    s.play_sample_bytes = 2;
    s.play_bits = 16;
    s.play_rate = 44100;
    s.rec_channels = 1;
    s.rec_sample_bytes = 2;
    s.rec_bits = 16;
    s.rec_rate = 44100;
    store(s.short_run_suppress, int32_t{0});
    s.play_attach = '3';
    s.rec_attach = '3';
    store(s.saved_volume, int32_t{-1});
    // The modem mutex is ready from load (the record starts all zero); it
    // is not initialised again here, so a second init while the modem's
    // threads hold it cannot corrupt it.
    return 0;
}

VR_API int suart_init(int mode) { return suart_init_android(mode); }

VR_API int suart_init_linux(int mode) {
    (void)mode;
    return -1;
}

VR_API int suart_init_macosx(int mode) {
    (void)mode;
    return -1;
}

VR_API int suart_init_win(int mode) {
    (void)mode;
    return vr::fail(vr::kENoCmd);
}
