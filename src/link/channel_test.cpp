// The channel test's reader traffic: the modem's receive thread runs the
// test (modem/channel_test.cpp) with the work given here, which moves the
// reader's carrier across every width and measures what arrives, finds the
// band the uplink passes and the carrier in it. The host starts it and may
// wait for its end.
#include <array>
#include <cstdint>

#include "audio.h"
#include "link/audio_link.h"
#include "log.h"
#include "modem/device.h"
#include "suart_signal.h"
#include "sys.h"

namespace vr::link {

namespace {

constexpr int kSpectrumSize = SUART_WIDTH_MAX - SUART_WIDTH_MIN + 1;  // 21
constexpr int kFallbackFreq = 2004;
constexpr unsigned kWaitStepUs = 100000;
constexpr int kKindNormal = 1;

int normal_test() {
    log_print(2, "test: get the spectra of uplink channel\n");
    int start = 0;
    int end = 0;
    if (signal_pass_band(&start, &end) != 0) {
        log_print(1, "test: fail to get the spetra of uplink channel\n");
        signal_set_proval(-1);
        return -1;
    }
    log_print(2, "test: get the best frequence of carrier\n");
    const int freq = signal_carrier_freq(start, end);
    if (freq == -1) {
        log_print(1, "test: the uplink channel is not supported\n");
        signal_set_proval(-1);
        return -1;
    }
    signal_set_process();
    log_print(2, "test: get the best frequence of carrier is %dHZ\n", freq);
    return freq;
}

// The work of each kind: the fast and the full test measure nothing.
int run_test(int kind) { return kind == kKindNormal ? normal_test() : 0; }

}  // namespace

}  // namespace vr::link

using namespace vr::link;

VR_API int signal_chantest(int kind, int nowait) {
    signal_set_proval(0);
    log_print(2, "test: trying to open communication port\n");
    if (open_sound_port() != 0) {
        log_print(1, "test: error: fail to open communication port,you have to\n");
        log_print(1, "make sure type of the plugged device is correct and make\n");
        log_print(1, "sure the device is powered on\n");
        return -1;
    }
    const int32_t finished_before = vr::modem::channel_tests_done();
    vr::modem::start_channel_test(kind, run_test);
    if (nowait & 0xFF) return 0;
    // The wait ends when the test ends, whatever its kind: a normal test
    // ends at 100 %, the fast and full ones at a few percent.
    for (;;) {
        sys_delay_nus(kWaitStepUs);
        const int reported = signal_get_process();
        if (reported > 104) return 0;
        log_print(2, "chantest process: %d\n", reported);
        if (reported < 0) return reported;
        if (vr::modem::channel_tests_done() != finished_before) return 0;
    }
}

VR_API int signal_system_function(int *spectrum) {
    if (!spectrum) return -1;
    std::array<int, SUART_WIDTH_MAX + 1> by_width{};
    for (int width = SUART_WIDTH_MIN; width <= SUART_WIDTH_MAX; ++width) {
        const int freq = signal_width2freq(width);
        log_print(2, "channel test: testing frequence: %dHZ...\n", freq);
        if (signal_change_frequence(freq) == 0) {
            by_width[static_cast<std::size_t>(width)] = vr::modem::extract_feature();
        } else {
            log_print(1, "system_function: try to communicate with target device\n");
            if (signal_change_frequence(kFallbackFreq) != 0) {
                log_print(1, "system function: fail to get spectra of uplink\n");
                log_print(1, "     error: target device donot respond\n");
                return -1;
            }
        }
        signal_set_process();
    }
    for (int i = 0; i < kSpectrumSize; ++i) spectrum[i] = by_width[static_cast<std::size_t>(SUART_WIDTH_MAX - i)];
    return 0;
}

VR_API int signal_pass_band(int *start, int *end) {
    if (!start || !end) return -1;
    std::array<int, kSpectrumSize> spectrum{};
    if (signal_system_function(spectrum.data()) != 0) return -1;
    vr::modem::band_of_spectrum(spectrum.data(), *start, *end);
    return 0;
}
