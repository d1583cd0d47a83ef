// Building and sending one reader command from a worker.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>

#include "link/direct_command.h"
#include "virt_com.h"

// Under the address sanitizer the reply buffer past the reply's length is
// poisoned after each exchange, so a driver that reads reply bytes the
// reader never sent is reported (in the ASan tests and the fuzz targets)
// instead of reading what an earlier reply left there.
#if defined(__SANITIZE_ADDRESS__)
#define VR_POISON_REPLY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VR_POISON_REPLY 1
#endif
#endif
#ifdef VR_POISON_REPLY
#include <sanitizer/asan_interface.h>
#endif

namespace vr {

// Which way a command reaches the reader: the command exchange, or the
// second family's direct path (a protocol-1 message of its own).
enum class Route { exchange, direct };

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
    ~ReaderCommand() { unpoison_reply(); }
    ReaderCommand(const ReaderCommand &) = delete;
    ReaderCommand &operator=(const ReaderCommand &) = delete;
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
    int send(int timeout_ms = 0) {
        unpoison_reply();
        const int rc = virt_com_command(&req, &rsp, timeout_ms);
        poison_past_reply();
        return rc;
    }

    // Sends the request as a protocol-1 message of its own (the second
    // family's direct path); 0, or the path's failure result.
    int send_direct(int timeout_ms = 0) {
        unpoison_reply();
        const int rc = vr::link::direct_command(req, rsp, timeout_ms);
        poison_past_reply();
        return rc;
    }
    int send(Route route, int timeout_ms = 0) {
        return route == Route::direct ? send_direct(timeout_ms) : send(timeout_ms);
    }

    std::span<const uint8_t> reply() const {
        return {rsp.data, static_cast<std::size_t>(rsp.len > 0 ? rsp.len : 0)};
    }

private:
    void poison_past_reply() {
#ifdef VR_POISON_REPLY
        const std::size_t used = rsp.len > 0 && rsp.len <= VIRT_COM_RSP_MAX ? static_cast<std::size_t>(rsp.len) : 0;
        ASAN_POISON_MEMORY_REGION(rsp.data + used, sizeof rsp.data - used);
#endif
    }
    void unpoison_reply() {
#ifdef VR_POISON_REPLY
        ASAN_UNPOISON_MEMORY_REGION(rsp.data, sizeof rsp.data);
#endif
    }
};

// Copies the first n reply bytes to out after a successful exchange; a
// reply shorter than n is malformed (-1, errno -16).
int copy_reply(const ReaderCommand &c, unsigned char *out, int n);

}  // namespace vr
