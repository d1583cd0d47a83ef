// The raw reader-command pass-through: a whole command in a caller's
// buffer, its reply back in the same buffer.
#include <cstring>

#include "audio.h"
#include "core/errors.h"
#include "virt_com.h"

namespace {
constexpr int kRawTimeoutMs = 10000;
}

VR_API int audio_raw_cmd(unsigned char *cmd, int *len) {
    if (!cmd || !len) return vr::fail(vr::kEArg);
    if (*len >= VIRT_COM_RSP_MAX) {
        *len = 0;
        return vr::fail(vr::kEFormat);
    }
    if (*len < 2) return vr::fail(vr::kEArg);
    virt_com_req req;
    virt_com_rsp rsp;
    req.cmd = static_cast<uint16_t>(cmd[0] | cmd[1] << 8);
    req.len = *len - 2;
    std::memcpy(req.data, cmd + 2, static_cast<std::size_t>(req.len));
    rsp.len = 0;
    int rc = virt_com_command(&req, &rsp, kRawTimeoutMs);
    if (rc != 0) return rc < -1 ? vr::fail(rc) : -1;
    std::memcpy(cmd, rsp.data, static_cast<std::size_t>(rsp.len));
    *len = rsp.len;
    return 0;
}
