#include "core/pcapng.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/lock.h"

namespace vr::trace {
namespace {

constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescription = 1;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kOptionEnd = 0;
constexpr uint16_t kOptionUserApplication = 4;  // section header
constexpr uint16_t kOptionInterfaceName = 2;    // interface description
constexpr uint16_t kOptionFlags = 2;            // enhanced packet
constexpr uint32_t kFlagInbound = 1, kFlagOutbound = 2;
// Far above the largest frame (8 KiB with protocol 1's stuffing).
constexpr uint32_t kSnapLength = 65535;

// A block under construction, in the machine's byte order (the section's
// byte-order magic tells readers which one).
class Block {
public:
    explicit Block(uint32_t type) {
        put32(type);
        put32(0);  // total length, filled by finish()
    }
    void put16(uint16_t v) { put(&v, sizeof v); }
    void put32(uint32_t v) { put(&v, sizeof v); }
    void put(const void *bytes, std::size_t n) {
        const auto *b = static_cast<const uint8_t *>(bytes);
        bytes_.insert(bytes_.end(), b, b + n);
    }
    void pad() { bytes_.resize((bytes_.size() + 3) / 4 * 4, 0); }
    void option(uint16_t code, const void *value, std::size_t n) {
        put16(code);
        put16(static_cast<uint16_t>(n));
        put(value, n);
        pad();
    }
    void text_option(uint16_t code, std::string_view text) { option(code, text.data(), text.size()); }
    const std::vector<uint8_t> &finish() {
        put16(kOptionEnd);
        put16(0);
        const auto total = static_cast<uint32_t>(bytes_.size() + 4);
        std::memcpy(bytes_.data() + 4, &total, sizeof total);
        put32(total);
        return bytes_;
    }

private:
    std::vector<uint8_t> bytes_;
};

bool write_all(int fd, const std::vector<uint8_t> &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::vector<uint8_t> section_header(Side side) {
    Block b(kSectionHeader);
    b.put32(kByteOrderMagic);
    b.put16(1);  // version 1.0
    b.put16(0);
    b.put32(0xFFFFFFFF);  // section length unknown
    b.put32(0xFFFFFFFF);
    b.text_option(kOptionUserApplication, side == Side::host ? "vantel-rfid library" : "vantel-rfid-sim");
    return b.finish();
}

std::vector<uint8_t> interface_description() {
    Block b(kInterfaceDescription);
    b.put16(kLinkType);
    b.put16(0);
    b.put32(kSnapLength);
    b.text_option(kOptionInterfaceName, "reader link");
    return b.finish();
}

}  // namespace

Capture::~Capture() {
    if (fd_ >= 0) ::close(fd_);
}

bool Capture::open(const char *path, Side side) {
    MutexHold hold(&lock_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) return false;
    side_ = side;
    if (!write_all(fd_, section_header(side)) || !write_all(fd_, interface_description())) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        errno = error;
        return false;
    }
    return true;
}

void Capture::record(Direction direction, int protocol, int family, const uint8_t *frame, std::size_t size) {
    timeval now{};
    gettimeofday(&now, nullptr);
    const uint64_t stamp = static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_usec);
    const auto captured = static_cast<uint32_t>(kRecordHead + size);
    const uint8_t head[kRecordHead] = {kRecordVersion, static_cast<uint8_t>(direction),
                                       static_cast<uint8_t>(protocol), static_cast<uint8_t>(family)};
    MutexHold hold(&lock_);
    if (fd_ < 0) return;
    const bool outbound = (direction == Direction::to_reader) == (side_ == Side::host);
    const uint32_t flags = outbound ? kFlagOutbound : kFlagInbound;

    Block b(kEnhancedPacket);
    b.put32(0);  // the one interface
    b.put32(static_cast<uint32_t>(stamp >> 32));
    b.put32(static_cast<uint32_t>(stamp));
    b.put32(captured);
    b.put32(captured);
    b.put(head, sizeof head);
    if (size) b.put(frame, size);
    b.pad();
    b.option(kOptionFlags, &flags, sizeof flags);
    write_all(fd_, b.finish());
}

}  // namespace vr::trace
