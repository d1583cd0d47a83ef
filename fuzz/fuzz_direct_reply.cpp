// The second family's direct path over a reader that sends the fuzz bytes:
// the protocol-1 read, the echo of the command code, the status and the
// data handed back. Input: a configuration byte (driver behaviour: short
// reads, device removed at the end, zeros after the bytes), the command
// code, the port's default time-out / 40, then the bytes the reader sends.
#include <cerrno>
#include <memory>

#include "fuzz_support.h"
#include "link/direct_command.h"
#include "tessil.h"
#include "virt_com.h"

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t config = in.byte();
    vrfuzz::DeviceOptions options;
    options.short_count = config & 0x04;
    options.removed_at_end = config & 0x08;
    options.zeros_at_end = config & 0x80;
    auto request = std::make_unique<virt_com_req>();
    request->cmd = in.u16();
    request->len = 1;
    request->data[0] = 0x52;
    const int port_timeout = in.byte() * 40;
    vrfuzz::install_device(in.rest(), 1, port_timeout, options);

    auto reply = std::make_unique<virt_com_rsp>();
    reply->len = -7;
    const int rc = vr::link::direct_command(*request, *reply, 0);
    vrfuzz::check(reply->len >= 0 && reply->len <= VIRT_COM_RSP_MAX, "reply length");
    if (rc == 0) return;
    vrfuzz::check(rc == -1, "a failure is -1");
    vrfuzz::check(errno <= 0, "errno holds a library code");
    vrfuzz::check(reply->len == 0, "no data handed back from a failed command");
}
