// Link traces: every frame of the reader link, with its direction and a
// microsecond time stamp, in a pcapng file that Wireshark reads (and
// decodes with contrib/wireshark/vantelrfid.lua).
//
// Each packet is a 4-byte head, then the frame's bytes as they went over
// the line:
//   0  record version (1)
//   1  direction: 0 host to reader, 1 reader to host
//   2  link protocol (1, 2, 3 or 6)
//   3  reader family (1 or 2; 0 unknown)
// The interface's link type is LINKTYPE_USER0; the packet's pcapng flags
// say inbound or outbound as seen from the side that recorded it.
//
// Written by the library (VANTEL_RFID_TRACE) and by the simulator
// (--trace), which is why it needs nothing but the standard library and
// POSIX.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>

namespace vr::trace {

enum class Direction : uint8_t { to_reader = 0, from_reader = 1 };
// Who records: the host sends the frames to the reader, the reader receives
// them.
enum class Side : uint8_t { host, reader };

constexpr uint16_t kLinkType = 147;  // LINKTYPE_USER0
constexpr uint8_t kRecordVersion = 1;
constexpr std::size_t kRecordHead = 4;

class Capture {
public:
    Capture() = default;
    ~Capture();
    Capture(const Capture &) = delete;
    Capture &operator=(const Capture &) = delete;

    // Creates (or empties) the file and writes the section and interface
    // descriptions; false with errno set.
    bool open(const char *path, Side side);
    [[nodiscard]] bool is_open() const { return fd_ >= 0; }
    // Appends one frame stamped with the wall-clock time. Safe from any
    // thread; each frame is one write, so a crash loses no earlier frame.
    void record(Direction direction, int protocol, int family, const uint8_t *frame, std::size_t size);

private:
    int fd_ = -1;
    Side side_ = Side::host;
    pthread_mutex_t lock_ = PTHREAD_MUTEX_INITIALIZER;
};

}  // namespace vr::trace
