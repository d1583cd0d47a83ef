// The symbol decoder over arbitrary receive-ring contents: whole bytes from
// runs of short and long lobe symbols (ringbuf_suart_delchr), and the
// eight-symbol byte decoder (ringbuf_suart_number). Input: the ring size,
// the number of bytes asked for, then the ring's contents.
#include <memory>

#include "fuzz_support.h"
#include "suart_signal.h"

void vrfuzz::fuzz_one(Input &in) {
    const uint32_t ring_size = 1 + in.u16() % 4096;
    const int wanted = in.byte() % 64;
    const auto symbols = in.rest();

    ringbuf ring{};
    if (ringbuf_create(&ring, ring_size) != 0) return;
    const uint32_t fits = symbols.size() < ring_size ? static_cast<uint32_t>(symbols.size()) : ring_size;
    ringbuf_insert(&ring, symbols.data(), fits);

    vrfuzz::set_clock(0);
    auto out = std::make_unique<uint8_t[]>(wanted ? static_cast<size_t>(wanted) : 1);
    const int produced = ringbuf_suart_delchr(&ring, out.get(), wanted);
    vrfuzz::check(produced == -1 || (produced >= 1 && produced <= wanted), "bytes produced");
    ringbuf_destroy(&ring);

    // Each window of the input as the symbols of one byte.
    for (size_t at = 0; at < symbols.size() && at < 64; ++at) {
        const size_t n = symbols.size() - at < 9 ? symbols.size() - at : 9;
        auto window = std::make_unique<char[]>(n);
        for (size_t i = 0; i < n; ++i) window[i] = static_cast<char>(symbols[at + i]);
        const int byte = ringbuf_suart_number(window.get(), static_cast<int>(n));
        vrfuzz::check(byte >= 0 && byte <= 255, "a byte");
    }
}
