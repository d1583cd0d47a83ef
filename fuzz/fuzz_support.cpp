#include "fuzz_support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/platform.h"
#include "picc.h"
#include "tessil.h"
#include "virt_com.h"

namespace vrfuzz {
namespace {

struct Device {
    std::span<const uint8_t> bytes;
    size_t at = 0;
    int writes = 0;
    DeviceOptions options;
};
Device g_device;

// Microseconds since the virtual clock's zero.
uint64_t g_clock_us = 0;

int dev_open() { return 0; }
int dev_close() { return 0; }
int dev_flush(int) { return 0; }
int dev_drain() { return 0; }
int dev_ioctl(int, void *) { return 0; }

// Like a link driver: the requested count, or -1 when the bytes run out
// (after handing over those that were there, as the serial driver does).
int dev_read(uint8_t *buf, int n) {
    Device &d = g_device;
    if (n < 0) return -1;
    const size_t left = d.bytes.size() - d.at;
    const size_t k = static_cast<size_t>(n) < left ? static_cast<size_t>(n) : left;
    if (k) std::memcpy(buf, d.bytes.data() + d.at, k);
    d.at += k;
    if (k == static_cast<size_t>(n)) return n;
    if (d.options.removed_at_end) virt_com_setstat(VIRT_COM_REMOVED);
    return d.options.short_count ? static_cast<int>(k) : -1;
}

int dev_write(const uint8_t *, int n) {
    Device &d = g_device;
    ++d.writes;
    if (d.options.failing_write != 0 && d.writes == d.options.failing_write) return -1;
    return n;
}

void route_port(std::span<const uint8_t> bytes, int protocol, int timeout_ms, DeviceOptions options) {
    g_device = Device{bytes, 0, 0, options};
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

// One good protocol-3 exchange: the link's count of consecutive failures
// survives between commands, and a parsed reply is what resets it.
void reset_failure_count() {
    static uint8_t frame[7] = {0x02, 0x02, 0x01, 0x00, 0x00, 0, 0};
    const uint16_t crc = CRC16(frame + 2, 3);
    frame[5] = static_cast<uint8_t>(crc & 0xFF);
    frame[6] = static_cast<uint8_t>(crc >> 8);
    route_port(frame, 3, 100, {});
    virt_com_req req{};
    req.cmd = 0x0F02;
    virt_com_rsp rsp{};
    if (virt_com_command(&req, &rsp, 0) != 0) violated("priming exchange failed");
}

}  // namespace

void install_device(std::span<const uint8_t> bytes, int protocol, int timeout_ms, DeviceOptions options) {
    reset_failure_count();
    route_port(bytes, protocol, timeout_ms, options);
    set_clock(0);
    errno = 0;
}

size_t device_unread() { return g_device.bytes.size() - g_device.at; }

void drain_device() { g_device.at = g_device.bytes.size(); }

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
