#include "modem_harness.h"

#include <algorithm>
#include <random>
#include <stdexcept>

#include "modem/modem.h"
#include "suart.h"
#include "suart_signal.h"
#include "tessil.h"

namespace vrtest {

namespace {

constexpr uint32_t kRingSize = 2926;

int append_to(void *context, const int16_t *samples, int n) {
    auto *out = static_cast<std::vector<int16_t> *>(context);
    out->insert(out->end(), samples, samples + n);
    return n;
}

struct Cursor {
    std::span<const int16_t> samples;
    std::size_t at = 0;
};

int read_from(void *context, int16_t *dst, int n) {
    auto *c = static_cast<Cursor *>(context);
    if (c->samples.size() - c->at < static_cast<std::size_t>(n)) return -1;
    std::copy_n(c->samples.begin() + static_cast<std::ptrdiff_t>(c->at), n, dst);
    c->at += static_cast<std::size_t>(n);
    return n;
}

}  // namespace

std::string drain_ring() {
    ringbuf *ring = &vr::modem::state().recv_ring;
    std::string out(static_cast<std::size_t>(ringbuf_len(ring)), '\0');
    if (!out.empty()) ringbuf_delete(ring, out.data(), static_cast<uint32_t>(out.size()));
    return out;
}

void modem_setup(int w, int alg) {
    if (suart_init(0) != 0) throw std::runtime_error("suart_init");
    suart_state &s = vr::modem::state();
    s.down_pending_width = w;
    s.down_pending_us = 500000 / signal_width2freq(w);
    s.up_pending_width = w;
    s.up_pending_us = s.down_pending_us;
    vr::modem::apply_pending_downlink();
    vr::modem::apply_pending_uplink();
    if (signal_pulse_buff_init() != 0) throw std::runtime_error("lobes");
    vr::modem::set_uplink_alg(alg);
    ringbuf_destroy(&s.send_ring);
    ringbuf_destroy(&s.recv_ring);
    ringbuf_create(&s.send_ring, kRingSize);
    ringbuf_create(&s.recv_ring, kRingSize);
}

void modem_teardown() {
    suart_state &s = vr::modem::state();
    ringbuf_destroy(&s.send_ring);
    ringbuf_destroy(&s.recv_ring);
}

std::vector<int16_t> modulate(std::span<const uint8_t> bytes, const Framing &framing) {
    std::vector<int16_t> out;
    ringbuf *ring = &vr::modem::state().send_ring;
    auto idle = [&](int patterns) {
        for (int i = 0; i < patterns; ++i)
            if (vr::modem::send_pass(append_to, &out) < 0) throw std::runtime_error("idle");
    };
    idle(framing.lead);
    const std::size_t burst = static_cast<std::size_t>(std::max(1, framing.burst));
    for (std::size_t at = 0; at < bytes.size(); at += burst) {
        if (at > 0) idle(framing.idle);
        const std::size_t n = std::min(burst, bytes.size() - at);
        if (ringbuf_insert(ring, bytes.data() + at, static_cast<uint32_t>(n)) < 0)
            throw std::runtime_error("send ring");
        if (vr::modem::send_pass(append_to, &out) < 0) throw std::runtime_error("send");
    }
    idle(framing.tail);
    return out;
}

std::string receive(std::span<const int16_t> mono, bool fresh) {
    if (fresh) {
        suart_state &s = vr::modem::state();
        s.rx_carry = 0;
        s.rx_carry_side = 0;
        s.last_width = 0;
        s.last_width_pattern_c_flag = 0;
        s.short_run_suppress = 0;
    }
    Cursor cursor{mono};
    std::string symbols;
    while (vr::modem::receive_block(read_from, &cursor) >= 0) symbols += drain_ring();
    return symbols;
}

std::vector<uint8_t> decode_symbols(const std::string &symbols) {
    std::vector<uint8_t> out;
    std::size_t i = 0;
    while (i < symbols.size()) {
        if (symbols[i] != 'L') {
            ++i;
            continue;
        }
        if (symbols.size() - i < 9) break;
        out.push_back(static_cast<uint8_t>(ringbuf_suart_number(symbols.data() + i + 1, 8)));
        i += 9;
    }
    return out;
}

int calibrate(std::span<const int16_t> mono) {
    Cursor cursor{mono};
    const int result = signal_process(read_from, &cursor);
    // Calibration puts the uplink back to width 4; return to the width the
    // test chose.
    vr::modem::apply_pending_uplink();
    return result;
}

std::vector<uint8_t> random_bytes(std::size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(n);
    for (uint8_t &b : out) b = static_cast<uint8_t>(rng() & 0xFF);
    return out;
}

}  // namespace vrtest
