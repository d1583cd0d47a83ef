// A pseudo-terminal pair standing in for the reader's serial line. The
// master side is the reader's end; the slave path is what the host opens.
#pragma once

#include <string>
#include <utility>

namespace vrsim {

// Owns one file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        if (this != &o) reset(std::exchange(o.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] bool valid() const { return fd_ >= 0; }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

class Pty {
public:
    // Opens a new pair: the master non-blocking, the slave in raw mode at
    // 115200 baud. The pair keeps a slave descriptor of its own open, so
    // that the host closing its side neither makes the master report an
    // error nor lets the line discipline fall back to echoing. False with
    // errno set on failure.
    [[nodiscard]] bool open();
    void close();

    [[nodiscard]] bool is_open() const { return master_.valid(); }
    [[nodiscard]] int master() const { return master_.get(); }
    [[nodiscard]] const std::string& slave_path() const { return path_; }

private:
    UniqueFd master_;
    UniqueFd slave_;
    std::string path_;
};

}  // namespace vrsim
