// The command exchange and its reply check over a reader that sends the fuzz
// bytes: stale replies, repeat requests after a corrupted reply, the resend,
// the status byte and, with link encryption on, enciphered replies.
// Input: a configuration byte (protocol, driver behaviour, link encryption,
// a "dc_usb" device, a failing first write, zeros after the bytes), a second
// one (raw bytes or replies framed by the device), the 8-byte session key, the request
// (code, data length, time-out), the port's default time-out, then the
// bytes the reader sends.
#include <cerrno>
#include <memory>

#include "fuzz_support.h"
#include "tessil.h"
#include "virt_com.h"

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t config = in.byte();
    const uint8_t config2 = in.byte();
    const int protocol = vrfuzz::protocol_from(config);
    vrfuzz::DeviceOptions options;
    options.short_count = config & 0x04;
    options.removed_at_end = config & 0x08;
    options.failing_write = (config >> 6) & 1;
    options.zeros_at_end = config & 0x80;
    options.framed = config2 & 0x01;
    const bool encrypted = config & 0x10;
    static char dc_usb[] = "dc_usb0";

    uint8_t key[8];
    for (uint8_t &k : key) k = in.byte();
    auto request = std::make_unique<virt_com_req>();
    request->cmd = in.u16();
    // Lengths around every limit: the body, the request, and beyond.
    request->len = in.u16() % (VIRT_COM_REQ_MAX + 16);
    for (int i = 0; i < VIRT_COM_REQ_MAX; ++i) request->data[i] = static_cast<uint8_t>(i * 7);
    const uint8_t t = in.byte();
    const int timeout = t == 0xFF ? -1 : t * 25;
    const int port_timeout = in.byte() * 40;

    vrfuzz::install_device(in.rest(), protocol, port_timeout, options);
    tessil.s_com.enc_on = encrypted ? 1 : 0;
    std::copy(key, key + 8, tessil.s_com.enc_key);
    if (config & 0x20) tessil.s_com.dev_name = dc_usb;

    // Two commands in a row: what the first leaves on the line is the
    // second's stale input.
    for (int command = 0; command < 2; ++command) {
        auto reply = std::make_unique<virt_com_rsp>();
        reply->len = -7;
        const int rc = virt_com_command(request.get(), reply.get(), timeout);
        if (rc == 0) {
            vrfuzz::check(reply->len >= 0 && reply->len <= VIRT_COM_RSP_MAX, "reply length");
        } else {
            vrfuzz::check(rc < 0, "failure is negative");
            if (rc == -1) vrfuzz::check(errno <= 0, "errno holds a library code");
        }
        // A port left to be checked is where the second command's check
        // pings past what the first left unread.
        const int state = virt_com_status();
        if ((state != VIRT_COM_OPEN && state != VIRT_COM_CHECK) || vrfuzz::device_unread() == 0) break;
    }
    tessil.s_com.dev_name = nullptr;
}
