// A link driver for unit tests: reads come from a script of bytes, writes
// are recorded. Installed into the global record's device table, it lets
// the framing and exchange run without any device.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

namespace vrtest {

class ScriptedDevice {
public:
    // Installs the device's operations and marks the port open.
    static ScriptedDevice &install(int protocol = 3, int timeout_ms = 3000);
    static ScriptedDevice &get();

    void feed(const std::vector<uint8_t> &bytes);
    std::vector<uint8_t> written() const { return written_; }
    void clear_written() { written_.clear(); }
    std::size_t unread() const { return input_.size(); }

    std::deque<uint8_t> input_;
    std::vector<uint8_t> written_;
    int reads = 0;
};

// A protocol-3 reply frame (head, 0x02, length, body, CRC) around body
// (status, data); head 0x02, or 0x42 for an enciphered reply.
std::vector<uint8_t> p3_reply(const std::vector<uint8_t> &body, uint8_t head = 0x02);
// A protocol-6 reply frame around status and data.
std::vector<uint8_t> p6_reply(uint8_t status, const std::vector<uint8_t> &data);

}  // namespace vrtest
