#include "host_link.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace vrsim {

using Clock = std::chrono::steady_clock;

bool HostLink::open(const std::string& path) {
    close();
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) return false;
    termios tio{};
    if (::tcgetattr(fd.get(), &tio) == 0) {
        ::cfmakeraw(&tio);
        (void)::tcsetattr(fd.get(), TCSANOW, &tio);
    }
    fd_ = std::move(fd);
    return true;
}

void HostLink::close() {
    fd_.reset();
    pending_.clear();
}

bool HostLink::write(ByteView bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::write(fd_.get(), bytes.data() + off, bytes.size() - off);
        if (n > 0) {
            off += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_.get(), POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0 || (p.revents & (POLLERR | POLLHUP))) return false;
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    return true;
}

bool HostLink::send_request(int protocol, uint16_t cmd, ByteView data) {
    return write(encode_host_frame(protocol, request_body(protocol, cmd, data)));
}

bool HostLink::fill(Clock::time_point deadline) {
    for (;;) {
        uint8_t buf[4096];
        const ssize_t n = ::read(fd_.get(), buf, sizeof buf);
        if (n > 0) {
            pending_.insert(pending_.end(), buf, buf + n);
            return true;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd_.get(), POLLIN, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(left.count()) + 1);
        if (rc < 0 && errno != EINTR) return false;
        if (rc > 0 && !(p.revents & POLLIN) && (p.revents & (POLLERR | POLLHUP))) return false;
    }
}

std::optional<ReplyFrame> HostLink::read_frame(int protocol, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        ReplyFrame f = decode_reply_frame(protocol, pending_);
        if (f.kind == Decode::need_more) {
            if (!fill(deadline)) return std::nullopt;
            continue;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(f.consumed));
        if (f.kind != Decode::garbage) return f;
    }
}

std::optional<ReplyFrame> HostLink::command(int protocol, uint16_t cmd, ByteView data,
                                            std::chrono::milliseconds timeout) {
    if (!send_request(protocol, cmd, data)) return std::nullopt;
    return read_frame(protocol, timeout);
}

Bytes HostLink::read_bytes(size_t n, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (pending_.size() < n && fill(deadline)) {
    }
    const size_t take = std::min(n, pending_.size());
    Bytes out(pending_.begin(), pending_.begin() + static_cast<long>(take));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(take));
    return out;
}

bool HostLink::line_failed() {
    pollfd p{fd_.get(), POLLIN | POLLOUT, 0};
    if (::poll(&p, 1, 0) < 0) return true;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return true;
    uint8_t b;
    const ssize_t n = ::read(fd_.get(), &b, 1);
    if (n == 1) {
        pending_.push_back(b);
        return false;
    }
    return n == 0 || (errno != EAGAIN && errno != EINTR);
}

}  // namespace vrsim
