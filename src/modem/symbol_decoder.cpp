// The uplink's last step: long and short symbols from the receive ring
// become bytes.
#include "log.h"
#include "ringbuf.h"
#include "suart_signal.h"
#include "sys.h"

namespace {

// A ring made by ringbuf_create and not yet destroyed.
bool usable(const ringbuf *r) { return r && r->buffer && r->size > 0; }

}  // namespace

VR_API int ringbuf_suart_number(const char *symbols, int n) {
    if (!symbols || n <= 0) return 0;
    int bit = symbols[0] == 'L' ? 1 : 0;
    int byte = bit << 7;
    for (int i = 1; i < n && i < 8; ++i) {
        if (symbols[i] == 'L')
            bit ^= 1;
        else if (symbols[i] != 'S')
            bit = 0;
        byte |= bit << (7 - i);
    }
    return byte;
}

VR_API int ringbuf_suart_delchr(ringbuf *ring, uint8_t *out, int n) {
    if (!usable(ring) || !out || n <= 0) return -1;
    constexpr uint32_t kByteTimeoutMs = 400;
    constexpr unsigned kPollUs = 20000;
    int produced = 0;
    for (int i = 0; i < n; ++i) {
        const uint32_t start = getTickCount();
        bool done = false;
        while (!done && getTickCount() - start < kByteTimeoutMs) {
            if (ringbuf_empty(ring) == 0) {
                sys_delay_nus(kPollUs);
                continue;
            }
            if (ringbuf_front(ring) != 'L') {
                uint8_t drop;
                ringbuf_delete(ring, &drop, 1);
                continue;
            }
            if (ringbuf_len(ring) > 8) {
                char symbols[9];
                ringbuf_delete(ring, symbols, 1);  // the start symbol
                ringbuf_delete(ring, symbols, 8);
                out[produced++] = static_cast<uint8_t>(ringbuf_suart_number(symbols, 8));
                done = true;
            } else {
                sys_delay_nus(kPollUs);
            }
        }
        if (!done && n > 1) {
            log_print(1, "!!!! err inter byte timeout !!!!!!!!!!!  ");
            return -1;
        }
    }
    return produced > 0 ? produced : -1;
}
