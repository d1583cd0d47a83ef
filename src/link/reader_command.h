// Building and sending one reader command from a worker.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>

#include "virt_com.h"

namespace vr {

// A request and its reply, filled by a worker and sent once. Lives on the
// worker's stack (about 8 KiB).
struct ReaderCommand {
    virt_com_req req;
    virt_com_rsp rsp;

    explicit ReaderCommand(uint16_t code) {
        req.cmd = code;
        req.len = 0;
        rsp.len = 0;
    }
    ReaderCommand(uint16_t code, std::initializer_list<uint8_t> bytes) : ReaderCommand(code) {
        append(bytes);
    }
    void append(std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) req.data[req.len++] = b;
    }
    // Appends n bytes; the caller keeps the total within the request.
    void append(const void *bytes, int n) {
        std::memcpy(req.data + req.len, bytes, static_cast<std::size_t>(n));
        req.len += n;
    }
    // Sends the request; 0, or the exchange's failure result.
    int send(int timeout_ms = 0) { return virt_com_command(&req, &rsp, timeout_ms); }

    std::span<const uint8_t> reply() const {
        return {rsp.data, static_cast<std::size_t>(rsp.len > 0 ? rsp.len : 0)};
    }
};

// Copies the first n reply bytes to out after a successful exchange; a
// reply shorter than n is malformed (-1, errno -16).
int copy_reply(const ReaderCommand &c, unsigned char *out, int n);

}  // namespace vr
