// The second family's direct path: a first-family command code sent as a
// protocol-1 message of its own, past the command exchange (no resend, no
// repeat request), whatever protocol the port speaks otherwise. The
// second family's drivers other than the Classic 1K reach the reader
// this way.
#pragma once

#include "virt_com.h"

namespace vr::link {

// Sends req (code low, high, data) and reads the answer into rsp: on
// status 0 rsp holds the reply data (the bytes after the node, the echo
// and the status). Result: 0; -1 with errno -13 for a short write, -14
// for a failed read, -16 when the reply does not repeat the command code;
// -1 for a failed flush; else return_code(status) (-1, errno set).
int direct_command(const virt_com_req &req, virt_com_rsp &rsp, int timeout_ms);

}  // namespace vr::link
