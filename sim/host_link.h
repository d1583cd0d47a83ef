// The host's end of a simulated serial line, for tests and tools that talk
// to the simulator byte for byte without the library: open the path, write
// frames, read the reader's frames back with a time-out.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "frame.h"
#include "pty.h"

namespace vrsim {

class HostLink {
public:
    // Opens the device read-write, non-blocking, in raw mode.
    [[nodiscard]] bool open(const std::string& path);
    void close();
    [[nodiscard]] int fd() const { return fd_.get(); }

    // Writes all bytes; false when the line fails.
    [[nodiscard]] bool write(ByteView bytes);
    // Writes a request in the protocol's body layout and frame.
    [[nodiscard]] bool send_request(int protocol, uint16_t cmd, ByteView data);

    // Reads until one reader frame is complete (a frame or one with a bad
    // checksum); bytes that cannot start a frame are skipped. Nothing on
    // time-out or line failure.
    [[nodiscard]] std::optional<ReplyFrame> read_frame(int protocol,
                                                       std::chrono::milliseconds timeout);
    // One request and its reply.
    [[nodiscard]] std::optional<ReplyFrame> command(int protocol, uint16_t cmd, ByteView data,
                                                    std::chrono::milliseconds timeout);
    // Reads raw bytes until n have come or the time-out passes.
    [[nodiscard]] Bytes read_bytes(size_t n, std::chrono::milliseconds timeout);

    // Whether the line reports a hang-up or error (read or poll fails).
    [[nodiscard]] bool line_failed();

private:
    // Reads what is there, waiting until the deadline for something.
    // False on time-out or failure.
    bool fill(std::chrono::steady_clock::time_point deadline);

    UniqueFd fd_;
    Bytes pending_;
};

}  // namespace vrsim
