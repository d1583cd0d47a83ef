// The frame reader of all four link protocols over a reader that sends the
// fuzz bytes. Input: a configuration byte (protocol, driver behaviour at
// the end of the bytes, whether a frame is written first, raw bytes or
// replies framed by the device), the reply time-out, the port's default
// time-out, then the bytes the reader sends.
#include <memory>

#include "fuzz_support.h"
#include "tessil.h"
#include "virt_com.h"

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t config = in.byte();
    const int protocol = vrfuzz::protocol_from(config);
    const int timeout = in.byte() * 25;           // 0..6375 ms
    const int port_timeout = in.byte() * 256;     // 0..65280 ms
    vrfuzz::DeviceOptions options;
    options.short_count = config & 0x04;
    options.removed_at_end = config & 0x08;
    const bool write_first = config & 0x10;
    options.zeros_at_end = config & 0x20;
    options.framed = config & 0x40;
    vrfuzz::install_device(in.rest(), protocol, port_timeout, options);

    // Protocol 2 reads the reader's handshake answers while writing.
    if (write_first) {
        static const uint8_t kBody[5] = {0x02, 0x0F, 0x11, 0x22, 0x33};
        const int rc = virt_com_writemsg(kBody, sizeof kBody, protocol);
        vrfuzz::check(rc == -1 || rc == static_cast<int>(sizeof kBody), "writemsg result");
    }

    // Frames are read until the reader has nothing more to say. The output
    // buffer is exactly as large as the interface promises to need.
    for (int frame = 0; frame < 8; ++frame) {
        auto out = std::make_unique<uint8_t[]>(VIRT_COM_RSP_MAX);
        const size_t before = vrfuzz::device_unread();
        const int rc = virt_com_readmsg(out.get(), protocol, timeout);
        switch (protocol) {
        case 3: vrfuzz::check(rc < 0 || (rc >= 1 && rc <= VIRT_COM_BODY_MAX), "protocol 3 body length"); break;
        case 6: vrfuzz::check(rc < 0 || (rc >= 1 && rc <= VIRT_COM_BODY_MAX + 1), "protocol 6 body length"); break;
        case 1: vrfuzz::check(rc < 0 || rc <= VIRT_COM_BODY_MAX, "protocol 1 body length"); break;
        default: vrfuzz::check(rc < 0, "protocol 2 has no reply frame"); break;
        }
        vrfuzz::check(tessil.s_com.enc_reply <= 1, "enc_reply is a flag");
        if (virt_com_status() != VIRT_COM_OPEN) break;
        if (vrfuzz::device_unread() == 0 || vrfuzz::device_unread() == before) break;
    }
}
