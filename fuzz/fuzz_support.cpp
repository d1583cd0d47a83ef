#include "fuzz_support.h"

#include "link/link.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <vector>

#include "core/platform.h"
#include "crypto.h"
#include "picc.h"
#include "tessil.h"
#include "virt_com.h"

namespace vrfuzz {
namespace {

struct Device {
    // The bytes the reader sends (or, framed, the list of its replies).
    Input in{nullptr, 0};
    int writes = 0;
    DeviceOptions options;
    // Framed replies: the frame being handed out, and the command code of
    // the last request (protocol 1 echoes it).
    std::vector<uint8_t> frame;
    size_t frame_at = 0;
    uint16_t last_cmd = 0;
};
Device g_device;

// Microseconds since the virtual clock's zero.
uint64_t g_clock_us = 0;

int dev_open() { return 0; }
int dev_close() { return 0; }
int dev_flush(int) { return 0; }
int dev_drain() { return 0; }
int dev_ioctl(int, void *) { return 0; }

uint8_t xor_of(const std::vector<uint8_t> &v, size_t from) {
    uint8_t x = 0;
    for (size_t i = from; i < v.size(); ++i) x ^= v[i];
    return x;
}

// The reader's frame around a reply body (status, then data) in the port's
// protocol; protocol 2 has no reply frame and gets the body as it is.
std::vector<uint8_t> frame_of(std::span<const uint8_t> body, uint8_t head = 0x02) {
    std::vector<uint8_t> f;
    const size_t n = body.size();
    switch (tessil.s_com.protocol) {
    case 3: {
        f = {head, 0x02, static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8)};
        f.insert(f.end(), body.begin(), body.end());
        const uint16_t crc = CRC16(f.data() + 2, static_cast<int>(n + 2));
        f.push_back(static_cast<uint8_t>(crc & 0xFF));
        f.push_back(static_cast<uint8_t>(crc >> 8));
        break;
    }
    case 6: {
        const size_t data = n ? n - 1 : 0;
        const uint8_t status = n ? body[0] : 0;
        if (data < 256)
            f = {0x02, 0x02, status, static_cast<uint8_t>(data)};
        else
            f = {0x02, 0x42, status, static_cast<uint8_t>(data >> 8), static_cast<uint8_t>(data & 0xFF)};
        if (n) f.insert(f.end(), body.begin() + 1, body.end());
        f.push_back(xor_of(f, 1));
        break;
    }
    case 1: {
        const uint16_t cmd = g_device.last_cmd;
        std::vector<uint8_t> payload{0x00, 0x00, static_cast<uint8_t>(cmd & 0xFF), static_cast<uint8_t>(cmd >> 8)};
        payload.insert(payload.end(), body.begin(), body.end());
        payload.push_back(xor_of(payload, 1));
        f = {0xAA, 0xBB, static_cast<uint8_t>(payload.size() & 0xFF), static_cast<uint8_t>(payload.size() >> 8)};
        for (uint8_t b : payload) {
            f.push_back(b);
            if (b == 0xAA) f.push_back(0x00);
        }
        break;
    }
    default: f.assign(body.begin(), body.end()); break;
    }
    return f;
}

// An enciphered protocol-3 reply: status 0, the plain length (high, low),
// the plaintext enciphered with the session key in force.
std::vector<uint8_t> encrypted_frame_of(std::span<const uint8_t> plain) {
    std::vector<uint8_t> body{0x00, static_cast<uint8_t>(plain.size() >> 8), static_cast<uint8_t>(plain.size() & 0xFF)};
    std::vector<uint8_t> cipher(plain.begin(), plain.end());
    cipher.resize(plain.size() + 8);
    uint32_t n = 0;
    if (!plain.empty() && com_alg_enc(cipher.data(), static_cast<uint32_t>(plain.size()), tessil.s_com.enc_key, &n) == 0)
        body.insert(body.end(), cipher.begin(), cipher.begin() + n);
    return frame_of(body, 0x42);
}

// Framed replies: the input is a list of items, each encoded only when the
// reader is asked for its next bytes (so an enciphered reply uses the key
// in force by then).
//   n < 0xF0        a reply body of n bytes (status, data) in a valid frame
//   F0 n <n bytes>  an enciphered reply of that plaintext (protocol 3)
//   F1 n <n bytes>  a reply body in a frame with a spoilt checksum
//   F2 n <n bytes>  raw bytes on the line
//   F3 lo hi ...    a reply body of a 16-bit length in a valid frame
//   other           nothing (the reader stays silent for this item)
bool next_item(Device &d) {
    if (d.in.left() == 0) return false;
    const uint8_t h = d.in.byte();
    d.frame_at = 0;
    if (h < 0xF0) {
        d.frame = frame_of(d.in.take(h));
    } else if (h == 0xF0) {
        const auto plain = d.in.take(d.in.byte());
        d.frame = tessil.s_com.protocol == 3 ? encrypted_frame_of(plain) : frame_of(plain);
    } else if (h == 0xF1) {
        d.frame = frame_of(d.in.take(d.in.byte()));
        if (!d.frame.empty()) d.frame.back() ^= 0x5A;
    } else if (h == 0xF2) {
        const auto raw = d.in.take(d.in.byte());
        d.frame.assign(raw.begin(), raw.end());
    } else if (h == 0xF3) {
        d.frame = frame_of(d.in.take(d.in.u16()));
    } else {
        d.frame.clear();
    }
    return true;
}

// The next byte the reader sends, if any.
bool next_byte(Device &d, uint8_t *b) {
    if (!d.options.framed) {
        if (d.in.left() == 0) return false;
        *b = d.in.byte();
        return true;
    }
    while (d.frame_at >= d.frame.size()) {
        // A silent item ends this read: the reader sends nothing more now.
        if (!next_item(d) || d.frame.empty()) return false;
    }
    *b = d.frame[d.frame_at++];
    return true;
}

// Like a link driver: the requested count, or -1 when the bytes run out
// (after handing over those that were there, as the serial driver does).
int dev_read(uint8_t *buf, int n) {
    Device &d = g_device;
    if (n < 0) return -1;
    int k = 0;
    while (k < n && next_byte(d, buf + k)) ++k;
    if (k == n) return n;
    if (d.options.zeros_at_end && device_unread() == 0) {
        std::memset(buf + k, 0, static_cast<size_t>(n - k));
        return n;
    }
    if (d.options.removed_at_end && device_unread() == 0) virt_com_setstat(VIRT_COM_REMOVED);
    return d.options.short_count ? k : -1;
}

// The command code of a written frame, for the protocol-1 echo.
uint16_t command_of(const uint8_t *f, int n) {
    if (n >= 8 && f[0] == 0xAA && f[1] == 0xBB) {
        const int hi_at = f[6] == 0xAA ? 8 : 7;
        return static_cast<uint16_t>(f[6] | (hi_at < n ? f[hi_at] : 0) << 8);
    }
    return 0;
}

int dev_write(const uint8_t *f, int n) {
    Device &d = g_device;
    ++d.writes;
    if (f && n > 0) d.last_cmd = command_of(f, n);
    if (d.options.failing_write != 0 && d.writes == d.options.failing_write) return -1;
    return n;
}

void route_port(std::span<const uint8_t> bytes, int protocol, int timeout_ms, DeviceOptions options) {
    g_device = Device{};
    g_device.in = Input(bytes.data(), bytes.size());
    g_device.options = options;
    s_com_t &com = tessil.s_com;
    com.ops = vr_dev_ops{dev_open, dev_close, dev_flush, dev_drain, dev_ioctl, dev_read, dev_write};
    com.protocol = static_cast<int8_t>(protocol);
    com.timeout = timeout_ms;
    com.enc_on = 0;
    com.enc_reply = 0;
    std::memset(com.enc_key, 0, sizeof com.enc_key);
    com.dev_name = nullptr;
    virt_com_setstat(VIRT_COM_OPEN);
}

}  // namespace

void install_device(std::span<const uint8_t> bytes, int protocol, int timeout_ms, DeviceOptions options) {
    // Each input starts where a fresh library would: no failures counted,
    // no replies owed from the previous input.
    vr::link::reset_exchange_state();
    route_port(bytes, protocol, timeout_ms, options);
    set_clock(0);
    errno = 0;
}

size_t device_unread() {
    const Device &d = g_device;
    return d.in.left() + (d.frame.size() - d.frame_at);
}

int protocol_from(uint8_t selector) {
    static constexpr int kProtocols[4] = {3, 6, 1, 2};
    return kProtocols[selector & 3];
}

void init_library() {
    static bool done = false;
    if (done) return;
    done = true;
    // Lines are formatted as usual (the formatting sees the fuzzed data)
    // and then dropped; VR_FUZZ_LOG=1 keeps them, to see what a seed does.
    if (!std::getenv("VR_FUZZ_LOG")) vr::platform::set_log_sink([](std::string_view) {});
    picc_regapi(VR_FAMILY_FIRST);
}

void set_clock(uint32_t ms) { g_clock_us = static_cast<uint64_t>(ms) * 1000u; }

void violated(const char *what) {
    std::fprintf(stderr, "fuzz property violated: %s\n", what);
    std::abort();
}

}  // namespace vrfuzz

// The library's clock and sleep, replaced at link time (--wrap): a sleep
// moves the virtual clock on instead of waiting, so a head search that
// polls for seconds costs no time and every run is repeatable.
extern "C" uint32_t __wrap_getTickCount(void) {
    return static_cast<uint32_t>(vrfuzz::g_clock_us / 1000u);
}

extern "C" void __wrap_sys_delay_nus(unsigned int microseconds) { vrfuzz::g_clock_us += microseconds; }

// The fuzzing engine's entry points, the same for every target: they sit
// in the object that every target links for its device and clock, so the
// engine's reference to the input function brings the initialiser too.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    vrfuzz::init_library();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vrfuzz::Input in(data, size);
    vrfuzz::fuzz_one(in);
    return 0;
}
