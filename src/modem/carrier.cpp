// Carrier frequencies and widths, and changing the carrier of either
// direction.
#include <array>

#include "core/errors.h"
#include "log.h"
#include "modem/modem.h"
#include "sys.h"

namespace {

// A frequency window; a bound is included when its flag says so.
struct Window {
    int lo;
    bool lo_in;
    int hi;
    bool hi_in;
    int width;
    bool holds(int f) const {
        return (lo_in ? f >= lo : f > lo) && (hi_in ? f <= hi : f < hi);
    }
};

// Tested in this order; the first window that holds the frequency wins
// (the three lowest overlap). 5000 Hz and 5512 Hz both give width 4.
constexpr std::array<Window, 22> kWindows{{
    {972, true, 1032, false, 22},   {1020, true, 1080, false, 21},
    {1072, true, 1132, false, 20},  {1129, false, 1190, false, 19},
    {1194, false, 1255, false, 18}, {1266, false, 1327, false, 17},
    {1347, false, 1408, false, 16}, {1440, true, 1500, false, 15},
    {1514, false, 1635, false, 14}, {1635, false, 1756, false, 13},
    {1776, false, 1897, false, 12}, {1943, false, 2064, false, 11},
    {2144, false, 2265, false, 10}, {2389, false, 2510, false, 9},
    {2665, false, 2846, false, 8},  {3059, false, 3240, false, 7},
    {3584, false, 3765, false, 6},  {4319, false, 4500, false, 5},
    {4909, false, 5090, false, 4},  {5421, false, 5602, false, 4},
    {7259, false, 7440, false, 3},  {10935, true, 11114, true, 2},
}};

constexpr int kHalfRate = 22050;        // half the sample rate: width -> Hz
constexpr int kHalfSecondUs = 500000;   // lobe duration = 500000 / f
constexpr unsigned kSettleUs = 100000;  // wait after a change

}  // namespace

VR_API int signal_width2freq(int width) {
    if (!vr::modem::valid_width(width)) return -1;
    return kHalfRate / width;
}

VR_API int signal_freq2width(int freq) {
    for (const Window &w : kWindows)
        if (w.holds(freq)) return w.width;
    return -1;
}

VR_API int signal_selfreq(int freq) {
    if (freq > 20000 || freq < 20) return -1;
    return signal_width2freq(kHalfRate / freq);
}

VR_API void print_freqchange(int chosen, int requested) {
    log_print(3, "Warning!!! i have select the frequence %d replace\n", chosen);
    log_print(3, "the frequence %d,which is closed to the specified\n", requested);
    log_print(3, "frequenceand and can been implemnt better\n");
}

namespace {

// Snaps freq and stores it with its width and lobe duration as the pending
// values of one direction; the caller then hands them over.
int stage_carrier(int freq, int32_t &chosen, int32_t &width, int32_t &us) {
    const int snapped = signal_selfreq(freq);
    if (snapped != freq) print_freqchange(snapped, freq);
    // An unsupported frequency would give width -1: refuse it rather than
    // hand a negative width to the lobe builder or the classifier.
    if (snapped < 0) return vr::fail(vr::kEArg);
    vr::modem::store(chosen, static_cast<int32_t>(snapped));
    vr::modem::store(width, static_cast<int32_t>(signal_freq2width(snapped)));
    vr::modem::store(us, static_cast<int32_t>(kHalfSecondUs / snapped));
    return 0;
}

}  // namespace

VR_API int set_local_send_freq(int freq) {
    suart_state &s = vr::modem::state();
    if (stage_carrier(freq, s.send_freq, s.down_pending_width, s.down_pending_us) != 0)
        return -1;
    vr::modem::request_downlink_update();
    sys_delay_nus(kSettleUs);
    return 0;
}

VR_API int set_local_recv_freq(int freq) {
    suart_state &s = vr::modem::state();
    if (stage_carrier(freq, s.recv_freq, s.up_pending_width, s.up_pending_us) != 0)
        return -1;
    vr::modem::request_uplink_update();
    sys_delay_nus(kSettleUs);
    return 0;
}

namespace vr::modem {

void retune_uplink(int freq) {
    const int width = signal_freq2width(freq);
    if (!valid_width(width) || freq <= 0) return;
    suart_state &s = state();
    store(s.up_pending_us, static_cast<int32_t>(kHalfSecondUs / freq));
    store(s.up_pending_width, static_cast<int32_t>(width));
    request_uplink_update();
    suart_set_active_recv_freq(freq);
}

}  // namespace vr::modem
