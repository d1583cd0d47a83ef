#include "link/direct_command.h"

#include <cstring>

#include "core/errors.h"
#include "link/link.h"
#include "sys.h"

namespace vr::link {
namespace {

constexpr int kDirectProtocol = 1;
// Reply body: two bytes the reader fills with its node address, the
// command code repeated (low, high), the status, then the data.
constexpr int kEchoAt = 2;
constexpr int kStatusAt = 4;
constexpr int kDataAt = 5;

int write_request(const virt_com_req &req) {
    uint8_t body[VIRT_COM_BODY_MAX];
    if (req.len < 0 || req.len > VIRT_COM_BODY_MAX - 2) return fail(kEArg);
    body[0] = static_cast<uint8_t>(req.cmd & 0xFF);
    body[1] = static_cast<uint8_t>(req.cmd >> 8);
    std::memcpy(body + 2, req.data, static_cast<std::size_t>(req.len));
    const int n = req.len + 2;
    return virt_com_writemsg(body, n, kDirectProtocol) == n ? 0 : fail(kESend);
}

}  // namespace

int direct_command(const virt_com_req &req, virt_com_rsp &rsp, int timeout_ms) {
    const ExchangeHold hold;
    rsp.len = 0;
    if (virt_com_flush(3) != 0) return -1;
    if (write_request(req) != 0) return -1;
    uint8_t body[VIRT_COM_RSP_MAX + 1];
    const int n = virt_com_readmsg(body, kDirectProtocol, timeout_ms);
    if (n < 0) return fail(kERecv);
    if (n < kDataAt || (body[kEchoAt] | body[kEchoAt + 1] << 8) != req.cmd) return fail(kEMsgWrong);
    const uint8_t status = body[kStatusAt];
    if (status == 0) {
        rsp.len = n - kDataAt;
        std::memcpy(rsp.data, body + kDataAt, static_cast<std::size_t>(rsp.len));
    }
    return return_code(status);
}

}  // namespace vr::link
