// Shared pieces of the fuzz targets: a reader of configuration bytes from
// the front of an input, the scripted reader behind the port, and the
// virtual clock that keeps time-outs deterministic and instant.
//
// Every target defines vrfuzz::fuzz_one; fuzz_support.cpp defines the
// fuzzing engine's entry points around it (the library initialised once,
// then fuzz_one for every input). Under libFuzzer they are driven by the
// fuzzing engine; in the normal and sanitizer builds replay_main.cpp runs
// them over the files of the seed corpus and of the regression inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace vrfuzz {

class Input;

// The target's work on one input.
void fuzz_one(Input &in);

// Reads configuration from the front of a fuzz input; once the input is
// used up every read gives 0, so short inputs still mean something.
class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t u16() {
        const uint16_t lo = byte();
        return static_cast<uint16_t>(lo | byte() << 8);
    }
    // Up to n bytes (fewer at the end of the input).
    std::span<const uint8_t> take(size_t n) {
        const size_t k = n < size_ - at_ ? n : size_ - at_;
        std::span<const uint8_t> s(data_ + at_, k);
        at_ += k;
        return s;
    }
    std::span<const uint8_t> rest() { return take(size_ - at_); }
    size_t left() const { return size_ - at_; }

private:
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};

// A heap buffer of exactly n elements (at least one) filled with 0xA5, so
// that the address sanitizer sees any write past it and a sentinel shows
// what was left unwritten.
template <typename T = unsigned char>
std::unique_ptr<T[]> exact(size_t n) {
    const size_t k = n ? n : 1;
    auto b = std::make_unique<T[]>(k);
    std::memset(b.get(), 0xA5, k * sizeof(T));
    return b;
}

// The bytes up to the first NUL as a C string in a buffer of exactly its
// own size.
inline std::unique_ptr<char[]> c_string(std::span<const uint8_t> bytes) {
    size_t n = 0;
    while (n < bytes.size() && bytes[n] != 0) ++n;
    auto text = std::make_unique<char[]>(n + 1);
    std::memcpy(text.get(), bytes.data(), n);
    text[n] = '\0';
    return text;
}

// How the scripted reader answers reads beyond its bytes.
struct DeviceOptions {
    // A read that asks for more bytes than are left: false gives -1 (the
    // serial driver's time-out), true gives the bytes that are there and
    // their count (a driver that hands back what arrived).
    bool short_count = false;
    // The write that fails (1 = the first); 0 for none.
    int failing_write = 0;
    // When the bytes run out the device reports itself removed (port state
    // 0x55), as the audio link does when the headset is pulled.
    bool removed_at_end = false;
    // When the bytes run out the line keeps delivering zero bytes (noise),
    // so that a length field read from the input always finds its bytes.
    bool zeros_at_end = false;
    // The bytes are a list of replies that the device frames itself, with
    // valid checksums (see next_item in fuzz_support.cpp): the fuzzer then
    // explores what the replies say rather than their framing.
    bool framed = false;
};

// Routes the port to a reader that answers every read from `bytes`, in
// order, and swallows writes; the port is marked open with the given link
// protocol and reply time-out. Link encryption is off, no reply has been
// seen, and the link's failure counter starts at zero. `bytes` must outlive
// the use of the port.
void install_device(std::span<const uint8_t> bytes, int protocol, int timeout_ms,
                    DeviceOptions options = {});
// Bytes not yet read.
size_t device_unread();

// Takes a device protocol from a selector byte: 1, 2, 3 or 6.
int protocol_from(uint8_t selector);

// Quiets the library's log (lines are still formatted, then dropped) and
// registers the first reader family once; called from every target's
// initialiser.
void init_library();

// Sets the virtual clock (milliseconds); sleeps advance it, nothing waits.
void set_clock(uint32_t ms);

// Aborts with a message when a property of the library does not hold;
// libFuzzer reports it as a crash with the input that caused it.
[[noreturn]] void violated(const char *what);
inline void check(bool holds, const char *what) {
    if (!holds) violated(what);
}

}  // namespace vrfuzz
