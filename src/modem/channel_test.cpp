// The modem's side of carrier selection: measuring the carrier that
// arrives, and the channel test the receive thread runs on the host's
// request (the link supplies the test's reader traffic), with its progress
// and result for the host.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "core/int_list.h"
#include "core/lock.h"
#include "log.h"
#include "modem/device.h"
#include "suart_signal.h"
#include "sys.h"
#include "virt_com.h"

namespace vr::modem {

namespace {

constexpr int kSpectrumSize = SUART_WIDTH_MAX - SUART_WIDTH_MIN + 1;  // 21
constexpr int kFastResult = 5000;
constexpr int kMaxCarrier = 5512;
constexpr int kFeatureBlock = 2048;
constexpr int kDetectBlock = 2048;
constexpr int64_t kLevelFloor = 1048575;  // sum of |samples| a tone must pass
constexpr int kKindFast = 0;

int8_t &progress() { return state().chantest_progress; }

// The test's work, supplied by the link with the request.
std::atomic<ChannelTestRun> g_run{nullptr};

int sender() {
    const int self = suart_current_thread();
    return self > 0 ? self : SUART_THREAD_APP;
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

void start_channel_test(int kind, ChannelTestRun run) {
    suart_state &s = state();
    {
        MutexHold hold(&s.lock);
        s.chantest_kind = static_cast<uint8_t>(kind);
    }
    g_run = run;
    suart_send_signal(sender(), SUART_THREAD_RECV, suart_handler_start_chantest);
}

int32_t channel_tests_done() { return std::atomic_ref<int32_t>(state().chantest_done).load(); }

void run_channel_test() {
    suart_state &s = state();
    store(s.recv_stage, int32_t{2});
    uint8_t kind;
    {
        MutexHold hold(&s.lock);
        kind = s.chantest_kind;
    }
    const ChannelTestRun run = g_run.load();
    const int result = run ? run(kind) : -1;
    store(s.analysis_state, int32_t{0});
    if (result >= 0) {
        MutexHold hold(&s.lock);
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
    const std::string values = int_list_text(spectrum, kSpectrumSize);
    log_print(2, "spectra of uplink channal: ");
    log_print(2, "%s", values.c_str());
    log_print(2, "\n");
    log_print(2, "start: %d  end: %d\n", start, end);
}

}  // namespace vr::modem

using namespace vr::modem;
using vr::MutexHold;

VR_API int signal_set_proval(int value) {
    MutexHold hold(&state().lock);
    progress() = static_cast<int8_t>(value);
    return 0;
}

VR_API int signal_set_process(void) {
    MutexHold hold(&state().lock);
    progress() = static_cast<int8_t>(progress() + 5);
    return 0;
}

VR_API int signal_get_process(void) {
    MutexHold hold(&state().lock);
    const int raw = progress();
    return raw >= 0 ? raw * 100 / 115 : raw;
}

VR_API int signal_best_frequence(void) {
    MutexHold hold(&state().lock);
    return state().best_freq;
}

VR_API int signal_carrier_freq(int start, int end) {
    if (2 * (end - start) < end || end == 0) return -1;
    return std::min(end, kMaxCarrier);
}

VR_API int signal_detect_quick(int freq) {
    std::array<int16_t, kDetectBlock> block;
    // The receive thread reads the same stream: its analysis is parked
    // while this measures (unless it is the one measuring).
    const bool park = suart_current_thread() != SUART_THREAD_RECV && thread_alive(SUART_THREAD_RECV);
    if (park) suart_send_signal(sender(), SUART_THREAD_RECV, suart_handler_pause_analyse);
    const bool read = audio_device_read(block.data(), kDetectBlock) == kDetectBlock &&
                      audio_device_read(block.data(), kDetectBlock) == kDetectBlock;
    if (park) suart_send_signal(sender(), SUART_THREAD_RECV, suart_handler_resume_analyse);
    if (!read) return -1;
    int64_t sum = 0;
    int64_t level = 0;
    for (int16_t x : block) {
        sum += x;
        level += x < 0 ? -static_cast<int64_t>(x) : x;
    }
    store(state().level_mid, static_cast<int16_t>(sum / kDetectBlock));
    const int mean_level = static_cast<int>(level / kDetectBlock);
    if (level > kLevelFloor) {
        log_print(2, "audio level ok: %d", mean_level);
        return signal_analysis_freq_pattern(block.data(), kDetectBlock, freq);
    }
    log_print(1, "audio level err: %d", mean_level);
    format_display(block.data(), kDetectBlock, 0);
    return -1;
}

VR_API int signal_detect(int freq) {
    const int measured = signal_detect_quick(freq);
    return measured == -1 ? 5512 : measured;
}

