// Decoding a recorded uplink: see capture.h.
#include "modem/capture.h"

#include <algorithm>

#include "modem/modem.h"
#include "ringbuf.h"
#include "suart.h"
#include "suart_signal.h"

namespace vr::modem {

namespace {

constexpr uint32_t kRingSize = 2926;
constexpr int kSymbolBits = 8;

struct Reader {
    const int16_t *samples;
    std::size_t count;
    std::size_t at = 0;
};

// Whole requests only: the end of the capture ends the analysis.
int read_capture(void *context, int16_t *out, int n) {
    auto &r = *static_cast<Reader *>(context);
    if (n < 0 || r.count - r.at < static_cast<std::size_t>(n)) return -1;
    std::copy_n(r.samples + r.at, n, out);
    r.at += static_cast<std::size_t>(n);
    return n;
}

void drain(ringbuf *ring, std::string &symbols) {
    char chunk[256];
    for (;;) {
        const int n = std::min(ringbuf_len(ring), static_cast<int>(sizeof chunk));
        if (n <= 0) return;
        const int got = ringbuf_delete(ring, chunk, static_cast<uint32_t>(n));
        if (got <= 0) return;
        symbols.append(chunk, static_cast<std::size_t>(got));
    }
}

}  // namespace

std::vector<uint8_t> bytes_from_symbols(std::string_view symbols) {
    std::vector<uint8_t> bytes;
    std::size_t at = 0;
    while (at < symbols.size()) {
        if (symbols[at] != 'L') {
            ++at;
            continue;
        }
        if (symbols.size() - at <= kSymbolBits) break;
        bytes.push_back(static_cast<uint8_t>(ringbuf_suart_number(symbols.data() + at + 1, kSymbolBits)));
        at += 1 + kSymbolBits;
    }
    return bytes;
}

bool decode_capture(const int16_t *samples, std::size_t count, CaptureDecode &out) {
    suart_state &s = state();
    if (!s.recv_ring.buffer && ringbuf_create(&s.recv_ring, kRingSize) != 0) return false;
    ringbuf_flush(&s.recv_ring);
    // A fresh receive stream at the carrier in force, with the algorithm the
    // link's handshake tries first.
    apply_pending_uplink();
    set_uplink_alg(2);
    s.rx_carry = 0;
    s.rx_carry_side = 0;
    s.last_width = 0;
    s.last_width_pattern_c_flag = 0;
    s.short_run_suppress = 0;
    Reader reader{samples, count};
    if (signal_process(read_capture, &reader) != 0) return false;
    apply_pending_uplink();  // calibration leaves the default width behind
    out = {};
    out.level_mid = load(s.level_mid);
    out.short_width = load(s.up_short_width);
    out.long_width = load(s.up_long_width);
    while (receive_block(read_capture, &reader) >= 0) drain(&s.recv_ring, out.symbols);
    drain(&s.recv_ring, out.symbols);
    out.bytes = bytes_from_symbols(out.symbols);
    return true;
}

}  // namespace vr::modem
