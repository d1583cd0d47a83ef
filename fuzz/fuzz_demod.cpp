// The uplink demodulator over arbitrary recorded samples: the receive
// loop's block handling with its carry between blocks (every uplink
// algorithm, any carrier width and slicing level), each analysis stage on
// its own, the tone width detector and the level calibration. Input: a
// configuration byte (algorithm, repeat the samples to fill whole blocks,
// verbose diagnostics), the carrier width, the slicing level, then 16-bit
// samples (low byte first).
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "modem/modem.h"
#include "ringbuf.h"
#include "suart.h"
#include "suart_signal.h"

namespace {

using vr::modem::state;

// The modem state as the sound link's init leaves it, with an empty
// receive ring: every input starts from it.
std::unique_ptr<suart_state> g_initial;

struct Source {
    const std::vector<int16_t> *samples;
    size_t at;
    bool repeat;  // wrap around to fill any request
};

int read_samples(void *context, int16_t *out, int count) {
    auto &src = *static_cast<Source *>(context);
    const std::vector<int16_t> &s = *src.samples;
    if (count < 0) return -1;
    if (!src.repeat && s.size() - src.at < static_cast<size_t>(count)) return -1;
    if (s.empty()) return count == 0 ? 0 : -1;
    for (int i = 0; i < count; ++i) {
        if (src.at == s.size()) src.at = 0;
        out[i] = s[src.at++];
    }
    return count;
}

// Symbols in the receive ring are short and long lobes only.
void drain_symbols() {
    ringbuf *ring = &state().recv_ring;
    char symbol;
    while (ringbuf_len(ring) > 0) {
        ringbuf_delete(ring, &symbol, 1);
        vrfuzz::check(symbol == 'S' || symbol == 'L', "receive ring holds symbols");
    }
}

std::unique_ptr<int16_t[]> copy_of(const std::vector<int16_t> &s, size_t n) {
    auto b = std::make_unique<int16_t[]>(n ? n : 1);
    if (n) std::memcpy(b.get(), s.data(), n * sizeof(int16_t));
    return b;
}

// The modem as the "sound" link configures it, with its receive ring; every
// input starts from a copy of this state.
bool set_up_modem() {
    suart_init(0);
    ringbuf_create(&state().recv_ring, 2926);
    g_initial = std::make_unique<suart_state>();
    std::memcpy(static_cast<void *>(g_initial.get()), &state(), sizeof(suart_state));
    return true;
}

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    static const bool modem_ready = set_up_modem();
    (void)modem_ready;
    const uint8_t config = in.byte();
    const int width = SUART_WIDTH_MIN + in.byte() % (SUART_WIDTH_MAX - SUART_WIDTH_MIN + 1);
    const auto level = static_cast<int16_t>(in.u16());
    std::vector<int16_t> samples;
    while (in.left() >= 2) samples.push_back(static_cast<int16_t>(in.u16()));

    suart_state &s = state();
    std::memcpy(static_cast<void *>(&s), g_initial.get(), sizeof(suart_state));
    ringbuf_flush(&s.recv_ring);
    s.uplink_alg = config % 3;
    s.up_short_width = width;
    s.up_long_width = 2 * width;
    s.level_mid = level;
    s.suart_debug = config & 0x08 ? 5 : 0;
    Source source{&samples, 0, (config & 0x04) != 0};

    // Consecutive blocks of the receive loop, as the receive thread reads them.
    for (int block = 0; block < 3; ++block) {
        const int consumed = vr::modem::receive_block(read_samples, &source);
        if (consumed < 0) break;
        vrfuzz::check(consumed <= SUART_RX_BUFFER, "consumed within the block");
        vrfuzz::check(s.rx_carry >= 0 && s.rx_carry <= SUART_RX_CARRY_MAX, "carry within its room");
        drain_symbols();
    }

    // The stages on their own, over buffers exactly as long as the data.
    const size_t n = samples.size() < 4096 ? samples.size() : 4096;
    const int count = static_cast<int>(n);
    {
        auto x = copy_of(samples, n);
        const int last = signal_analysis(x.get(), count, 0);
        vrfuzz::check(last >= 0 && (count == 0 || last < count), "analysis ends inside the block");
    }
    {
        // Raw samples taken as a difference block.
        auto d = copy_of(samples, n);
        const int last = signal_fetch_pulse_pattern(d.get(), count);
        vrfuzz::check(last >= 0 && (count == 0 || last < count), "pattern decoder ends inside the block");
        auto d2 = copy_of(samples, n);
        const int last2 = signal_fetch_pulse(d2.get(), count);
        vrfuzz::check(last2 >= 0 && (count == 0 || last2 < count), "classifier ends inside the block");
        const int half = signal_pulse_width_detect(d.get(), count, 0);
        vrfuzz::check(half >= -1, "width detector");
    }
    {
        auto x = copy_of(samples, n);
        signal_analysis_freq_pattern(x.get(), count < 2079 ? count : 2079, level);
        (void)caculate_signal_energy(x.get(), count);
    }
    drain_symbols();
    if (config & 0x10) {
        source.at = 0;
        if (signal_process(read_samples, &source) == 0)
            vrfuzz::check(s.level_low <= s.level_high, "calibrated levels in order");
    }
}
