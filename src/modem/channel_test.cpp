// The channel test: run by the receive thread on the host's request, it
// measures how well the uplink passes each carrier, finds the band it
// passes and chooses a carrier in it; the host follows its progress.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "audio.h"
#include "core/lock.h"
#include "log.h"
#include "modem/device.h"
#include "sys.h"
#include "virt_com.h"

namespace vr::modem {

namespace {

constexpr int kSpectrumSize = SUART_WIDTH_MAX - SUART_WIDTH_MIN + 1;  // 21
constexpr int kFallbackFreq = 2004;
constexpr int kFastResult = 5000;
constexpr int kMaxCarrier = 5512;
constexpr int kFeatureBlock = 2048;
constexpr unsigned kWaitStepUs = 100000;
constexpr int kKindFast = 0;
constexpr int kKindNormal = 1;

int8_t &progress() { return state().chantest_progress; }

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

}  // namespace

int extract_feature() {
    std::array<int16_t, kFeatureBlock> block;
    if (audio_device_read(block.data(), kFeatureBlock) != kFeatureBlock) return 0;
    int64_t sum = 0;
    for (int16_t x : block) sum += x;
    const int64_t mean = sum / kFeatureBlock;
    int64_t deviation = 0;
    for (int16_t x : block) deviation += x > mean ? x - mean : mean - x;
    return static_cast<int>(deviation / kFeatureBlock);
}

void run_channel_test() {
    suart_state &s = state();
    store(s.recv_stage, int32_t{2});
    uint8_t kind;
    {
        vr::MutexHold hold(&s.lock);
        kind = s.chantest_kind;
    }
    // The fast and the full test measure nothing.
    const int result = kind == kKindNormal ? normal_test() : 0;
    store(s.analysis_state, int32_t{0});
    if (result >= 0) {
        vr::MutexHold hold(&s.lock);
        s.best_freq = kind == kKindFast ? kFastResult : result;
    }
    // The test ends the link: the port closes, the record side stops, and
    // the next use opens and calibrates again.
    virt_com_close();
    log_print(2, "thread exit: close record device\n");
    if (load(s.rec_state) == kStreamRunning) audio_device_pause(vr::audio::kRecord);
    suart_set_calistat(kCaliNone);
    set_command(SUART_THREAD_RECV, kCmdNone);
    // A failed test keeps its negative progress, so that the host sees the
    // failure rather than a test that stopped at a few percent.
    if (result >= 0) signal_set_process();
    set_command(SUART_THREAD_RECV, kCmdClose);
    std::atomic_ref<int32_t>(s.chantest_done).fetch_add(1);
}

// The band is where the spectrum reaches 0.707 of the level of its
// middle carriers (1575 to 2756 Hz), from the first such carrier up to the
// last.
void band_of_spectrum(const int *spectrum, int &start, int &end) {
    int64_t middle = 0;
    for (int i = 8; i <= 14; ++i) middle += spectrum[i];
    const auto threshold = static_cast<int>(static_cast<double>(middle) * 0.707 / 8);
    int first = 0;
    while (first < kSpectrumSize - 1 && spectrum[first] < threshold) ++first;
    int last = kSpectrumSize - 1;
    while (last > 0 && spectrum[last] < threshold) --last;
    start = signal_width2freq(SUART_WIDTH_MAX - first);
    end = signal_width2freq(SUART_WIDTH_MAX - last);
    std::string values;
    for (int i = 0; i < kSpectrumSize; ++i) values += std::to_string(spectrum[i]) + " ";
    log_print(2, "spectra of uplink channal: ");
    log_print(2, "%s", values.c_str());
    log_print(2, "\n");
    log_print(2, "start: %d  end: %d\n", start, end);
}

}  // namespace vr::modem

using namespace vr::modem;
using vr::MutexHold;

VR_API int signal_set_proval(int value) {
    vr::MutexHold hold(&state().lock);
    progress() = static_cast<int8_t>(value);
    return 0;
}

VR_API int signal_set_process(void) {
    vr::MutexHold hold(&state().lock);
    progress() = static_cast<int8_t>(progress() + 5);
    return 0;
}

VR_API int signal_get_process(void) {
    vr::MutexHold hold(&state().lock);
    const int raw = progress();
    return raw >= 0 ? raw * 100 / 115 : raw;
}

VR_API int signal_best_frequence(void) {
    vr::MutexHold hold(&state().lock);
    return state().best_freq;
}

VR_API int signal_chantest(int kind, int nowait) {
    signal_set_proval(0);
    log_print(2, "test: trying to open communication port\n");
    if (virt_com_open("sound", 0) != 0) {
        log_print(1, "test: error: fail to open communication port,you have to\n");
        log_print(1, "make sure type of the plugged device is correct and make\n");
        log_print(1, "sure the device is powered on\n");
        return -1;
    }
    suart_state &s = state();
    {
        vr::MutexHold hold(&s.lock);
        s.chantest_kind = static_cast<uint8_t>(kind);
    }
    std::atomic_ref<int32_t> done(s.chantest_done);
    const int32_t finished_before = done.load();
    const int self = suart_current_thread();
    suart_send_signal(self > 0 ? self : SUART_THREAD_APP, SUART_THREAD_RECV, suart_handler_start_chantest);
    if (nowait & 0xFF) return 0;
    // The wait ends when the test ends, whatever its kind: a normal test
    // ends at 100 %, the fast and full ones at a few percent.
    for (;;) {
        sys_delay_nus(kWaitStepUs);
        const int reported = signal_get_process();
        if (reported > 104) return 0;
        log_print(2, "chantest process: %d\n", reported);
        if (reported < 0) return reported;
        if (done.load() != finished_before) return 0;
    }
}

VR_API int signal_system_function(int *spectrum) {
    if (!spectrum) return -1;
    std::array<int, SUART_WIDTH_MAX + 1> by_width{};
    for (int width = SUART_WIDTH_MIN; width <= SUART_WIDTH_MAX; ++width) {
        const int freq = signal_width2freq(width);
        log_print(2, "channel test: testing frequence: %dHZ...\n", freq);
        if (signal_change_frequence(freq) == 0) {
            by_width[static_cast<std::size_t>(width)] = extract_feature();
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
    band_of_spectrum(spectrum.data(), *start, *end);
    return 0;
}

VR_API int signal_carrier_freq(int start, int end) {
    if (2 * (end - start) < end || end == 0) return -1;
    return std::min(end, kMaxCarrier);
}
