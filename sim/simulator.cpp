#include "simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <iterator>

namespace vrsim {
namespace {

using Clock = std::chrono::steady_clock;

// A reply the host does not read for this long is given up (a real line
// would have delivered it into a full buffer and lost it there).
constexpr auto kWriteStall = std::chrono::seconds(2);

int default_protocol(int family) { return family == 2 ? 6 : 3; }

// Waits on fds until the deadline (max: forever); ppoll for sub-millisecond
// pacing.
int poll_until(pollfd* fds, nfds_t n, Clock::time_point deadline) {
    if (deadline == Clock::time_point::max()) return ::ppoll(fds, n, nullptr, nullptr);
    const auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    return ::ppoll(fds, n, &ts, nullptr);
}

// The enciphered-reply faults: reply data is plain length (high, low) and
// the ciphertext.
void spoil_enciphered(Bytes& data, Fault::Kind kind) {
    if (data.size() < 2) return;
    if (kind == Fault::Kind::enc_ragged) {
        if (data.size() > 2)
            data.pop_back();
        else
            data.push_back(0x00);
    } else if (kind == Fault::Kind::enc_overlong) {
        const size_t claimed = data.size() - 2 + 1;
        data[0] = static_cast<uint8_t>(claimed >> 8);
        data[1] = static_cast<uint8_t>(claimed & 0xFF);
    }
}

// What a reader on a disturbed line sends: no byte of it is a frame head of
// any protocol (0x02, 0x42, 0xAA) or the protocol-2 acknowledgement (0x10).
constexpr uint8_t kLineNoise[] = {0x5A, 0xA5, 0xF0, 0x0F, 0xC3, 0x3C, 0x99, 0x66,
                                  0x81, 0x7E, 0xFF, 0x00, 0x24, 0xDB, 0x18, 0xE7};

void drain(int fd) {
    uint8_t buf[64];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
}

}  // namespace

Simulator::Simulator(Options options)
    : options_(std::move(options)),
      protocol_(options_.protocol != 0 ? options_.protocol : default_protocol(options_.family)),
      firmware_(options_.family == 2 ? Family::second : Family::first) {
    if (options_.baud > 0)
        byte_time_ = std::chrono::nanoseconds(10'000'000'000ULL / options_.baud);
}

Simulator::~Simulator() {
    stop();
    close_line();
}

bool Simulator::start() {
    if (running()) return true;
    if (!protocol_supported(protocol_) || (options_.family != 1 && options_.family != 2)) {
        errno = EINVAL;
        return false;
    }
    if (!wake_read_.valid()) {
        int p[2];
        if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) return false;
        wake_read_.reset(p[0]);
        wake_write_.reset(p[1]);
    }
    if (!options_.trace.empty() && !trace_.is_open() &&
        !trace_.open(options_.trace.c_str(), vr::trace::Side::reader))
        return false;
    if (!pty_.is_open() && !open_line()) return false;
    stopping_ = false;
    worker_ = std::thread([this] { run(); });
    return true;
}

void Simulator::stop() {
    if (!running()) return;
    stopping_ = true;
    wake();
    worker_.join();
    run_pending();  // whatever was posted while the worker ended
}

std::string Simulator::path() const {
    if (!options_.link.empty()) return options_.link;
    return slave_path();
}

std::string Simulator::slave_path() const {
    std::lock_guard hold(path_mutex_);
    return slave_path_;
}

bool Simulator::connected() const {
    std::lock_guard hold(path_mutex_);
    return !slave_path_.empty();
}

// ------------------------------------------------------------ observation

std::vector<Bytes> Simulator::frames_received() const {
    std::lock_guard hold(log_mutex_);
    return received_;
}

std::vector<Bytes> Simulator::frames_sent() const {
    std::lock_guard hold(log_mutex_);
    return sent_;
}

std::vector<Request> Simulator::requests() const {
    std::lock_guard hold(log_mutex_);
    return requests_;
}

size_t Simulator::garbage_bytes() const {
    std::lock_guard hold(log_mutex_);
    return garbage_;
}

void Simulator::clear_log() {
    std::lock_guard hold(log_mutex_);
    received_.clear();
    sent_.clear();
    requests_.clear();
    handled_ = 0;
    garbage_ = 0;
}

bool Simulator::wait_received(size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock hold(log_mutex_);
    return log_changed_.wait_for(hold, timeout, [&] { return received_.size() >= n; });
}

bool Simulator::wait_sent(size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock hold(log_mutex_);
    return log_changed_.wait_for(hold, timeout, [&] { return sent_.size() >= n; });
}

bool Simulator::wait_handled(size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock hold(log_mutex_);
    return log_changed_.wait_for(hold, timeout, [&] { return handled_ >= n; });
}

// ------------------------------------------------------------ faults

void Simulator::inject(const Fault& fault, unsigned count) {
    std::lock_guard hold(fault_mutex_);
    faults_.add(fault, count);
}

void Simulator::inject_every(const Fault& fault, unsigned period) {
    std::lock_guard hold(fault_mutex_);
    faults_.every(fault, period);
}

void Simulator::apply(const FaultOrder& order) {
    std::lock_guard hold(fault_mutex_);
    faults_.apply(order);
}

void Simulator::clear_faults() {
    std::lock_guard hold(fault_mutex_);
    faults_.clear();
}

size_t Simulator::faults_queued() const {
    std::lock_guard hold(fault_mutex_);
    return faults_.queued();
}

// ------------------------------------------------------------ the line

void Simulator::hangup() { (void)post(Action::hangup); }

bool Simulator::reconnect() { return post(Action::reconnect); }

// The line belongs to the worker while it runs: the action is handed to it
// and waited for; without a worker it is done here.
bool Simulator::post(Action action) {
    if (!running()) return perform(action);
    std::future<bool> done;
    {
        std::lock_guard hold(pending_mutex_);
        pending_.push_back(Pending{action, {}});
        done = pending_.back().done.get_future();
        has_pending_ = true;
    }
    wake();
    return done.get();
}

bool Simulator::perform(Action action) {
    close_line();
    return action == Action::reconnect ? open_line() : true;
}

void Simulator::run_pending() {
    std::deque<Pending> work;
    {
        std::lock_guard hold(pending_mutex_);
        work.swap(pending_);
        has_pending_ = false;
    }
    for (auto& p : work) p.done.set_value(perform(p.action));
}

bool Simulator::open_line() {
    if (!pty_.open()) return false;
    {
        std::lock_guard hold(path_mutex_);
        slave_path_ = pty_.slave_path();
    }
    reset_input();
    tx_wire_free_ = {};
    if (!publish_link()) {
        const int saved = errno;
        close_line();
        errno = saved;
        return false;
    }
    return true;
}

// Everything a host can observe goes in order: not connected, no link,
// then the line drops.
void Simulator::close_line() {
    {
        std::lock_guard hold(path_mutex_);
        slave_path_.clear();
    }
    withdraw_link();
    pty_.close();
    reset_input();
}

// The link is replaced atomically (a new symlink renamed over it), so a
// host reopening the path never finds it missing half way. Anything at the
// path that is not a symlink is left alone.
bool Simulator::publish_link() {
    const std::string& link = options_.link;
    if (link.empty()) return true;
    struct stat st{};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        errno = EEXIST;
        return false;
    }
    const std::string tmp = link + ".new" + std::to_string(::getpid());
    ::unlink(tmp.c_str());
    if (::symlink(pty_.slave_path().c_str(), tmp.c_str()) != 0) return false;
    if (::rename(tmp.c_str(), link.c_str()) != 0) {
        const int saved = errno;
        ::unlink(tmp.c_str());
        errno = saved;
        return false;
    }
    return true;
}

void Simulator::withdraw_link() {
    const std::string& link = options_.link;
    if (link.empty() || !pty_.is_open()) return;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) return;
    if (std::string(target, static_cast<size_t>(n)) == pty_.slave_path()) ::unlink(link.c_str());
}

void Simulator::wake() {
    const uint8_t one = 1;
    if (wake_write_.valid()) (void)!::write(wake_write_.get(), &one, 1);
}

bool Simulator::interrupted() const { return stopping_ || has_pending_; }

// ------------------------------------------------------------ worker

void Simulator::run() {
    while (!stopping_) {
        if (has_pending_) run_pending();
        pollfd fds[2] = {{wake_read_.get(), POLLIN, 0}, {pty_.master(), POLLIN, 0}};
        const nfds_t n = pty_.is_open() ? 2 : 1;
        const int rc = poll_until(fds, n, rx_deadline_);
        if (rc < 0 && errno != EINTR) break;
        if (rc > 0 && (fds[0].revents & POLLIN)) drain(wake_read_.get());
        if (stopping_) break;
        if (has_pending_) continue;
        if (rc > 0 && n == 2 && (fds[1].revents & POLLIN)) take_input(Clock::now());
        process_input();
    }
}

void Simulator::reset_input() {
    rx_.clear();
    rx_ready_.clear();
    rx_wire_free_ = {};
    rx_deadline_ = Clock::time_point::max();
}

// Reads what the host wrote. With pacing, each byte counts as received
// only once its wire time (10 bits) has passed after the previous one.
void Simulator::take_input(Clock::time_point now) {
    uint8_t buf[4096];
    for (;;) {
        const ssize_t n = ::read(pty_.master(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        Clock::time_point ready = std::max(now, rx_wire_free_);
        for (ssize_t i = 0; i < n; ++i) {
            rx_.push_back(buf[i]);
            if (byte_time_.count() > 0) ready += byte_time_;
            rx_ready_.push_back(ready);
        }
        rx_wire_free_ = ready;
        last_arrival_ = now;
    }
}

bool Simulator::process_input() {
    rx_deadline_ = Clock::time_point::max();
    while (!rx_.empty()) {
        const auto now = Clock::now();
        const bool at_gap = now >= last_arrival_ + std::chrono::milliseconds(options_.frame_gap_ms);
        const int protocol = protocol_of_next_frame();
        const HostFrame f = decode_host_frame(protocol, rx_, at_gap);
        if (f.kind == Decode::need_more || f.consumed == 0) {
            rx_deadline_ = last_arrival_ + std::chrono::milliseconds(options_.frame_gap_ms);
            return true;
        }
        if (f.kind != Decode::garbage && rx_ready_[f.consumed - 1] > now) {
            rx_deadline_ = rx_ready_[f.consumed - 1];  // still on the wire
            return true;
        }
        Bytes raw(rx_.begin(), rx_.begin() + static_cast<long>(f.consumed));
        rx_.erase(rx_.begin(), rx_.begin() + static_cast<long>(f.consumed));
        rx_ready_.erase(rx_ready_.begin(), rx_ready_.begin() + static_cast<long>(f.consumed));
        if (f.kind != Decode::garbage && !f.handshake)
            trace_.record(vr::trace::Direction::to_reader, protocol, options_.family, raw.data(), raw.size());
        {
            std::lock_guard hold(log_mutex_);
            if (f.kind == Decode::garbage)
                garbage_ += raw.size();
            else
                received_.push_back(std::move(raw));
        }
        log_changed_.notify_all();
        if (f.kind == Decode::garbage) continue;
        const bool completed = answer(f, protocol);
        {
            std::lock_guard hold(log_mutex_);
            ++handled_;
        }
        log_changed_.notify_all();
        if (!completed || interrupted()) {
            rx_deadline_ = Clock::now();  // come back to the rest at once
            return false;
        }
    }
    return true;
}

// The second family's reader takes the direct path's protocol-1 messages
// (head AA BB) beside its own protocol-6 frames.
constexpr uint8_t kDirectHead = 0xAA;

int Simulator::protocol_of_next_frame() const {
    if (protocol_ == 6 && firmware_.takes_direct_messages() && !rx_.empty() && rx_.front() == kDirectHead) return 1;
    return protocol_;
}

bool Simulator::answer(const HostFrame& f, int protocol) {
    if (f.handshake) return send(Bytes{kP2Ack});
    // Protocols 1 and 6 ignore a frame whose checksum fails; protocol 3
    // tells the host with status 0x91.
    if (f.kind == Decode::bad_checksum && protocol != 3) return true;

    std::optional<Fault> fault;
    {
        std::lock_guard hold(fault_mutex_);
        fault = faults_.next();
    }
    if (fault && fault->kind == Fault::Kind::hangup) {
        close_line();
        return true;
    }
    if (f.kind == Decode::bad_checksum)
        return respond(Request{}, Reply::error(status::crc_error), fault, protocol);

    const auto request = parse_request_body(protocol, f.body, f.encrypted);
    if (!request) return respond(Request{}, Reply::error(firmware_.malformed_status()), fault, protocol);
    {
        std::lock_guard hold(log_mutex_);
        requests_.push_back(*request);
    }
    log_changed_.notify_all();
    // An injected status stands for a reader that failed the command: it
    // does not run.
    const bool direct = protocol != protocol_;
    const Reply reply = fault && fault->kind == Fault::Kind::status ? Reply::error(fault->status)
                        : direct                                    ? firmware_.handle_direct(*request)
                                                                    : firmware_.handle(*request);
    return respond(*request, reply, fault, protocol);
}

bool Simulator::respond(const Request& request, const Reply& reply, std::optional<Fault> fault, int protocol) {
    Bytes frame;
    if (protocol == 2) {
        frame = {kP2Ack};  // protocol 2 only acknowledges; no reply frame
    } else if (reply.silent) {
        return true;
    } else if (reply.repeat_previous) {
        frame = !previous_reply_.empty()
                    ? previous_reply_
                    : encode_reply_frame(protocol, firmware_.nothing_to_repeat_status(), {},
                                         request.cmd);
    } else {
        Bytes data = reply.data;
        if (fault && reply.encrypted) spoil_enciphered(data, fault->kind);
        const bool echo_spoiled = fault && fault->kind == Fault::Kind::wrong_echo;
        const auto echo = static_cast<uint16_t>(echo_spoiled ? request.cmd + 1 : request.cmd);
        frame = encode_reply_frame(protocol, reply.status, data, echo, reply.encrypted);
        previous_reply_ = frame;
    }

    std::vector<Bytes> out;
    if (fault) {
        switch (fault->kind) {
        case Fault::Kind::drop:
            return true;
        case Fault::Kind::delay:
            if (!sleep_until(Clock::now() + std::chrono::milliseconds(fault->delay_ms))) return false;
            break;
        case Fault::Kind::crc:
            corrupt_checksum(frame, protocol);
            break;
        case Fault::Kind::stale90:
            for (unsigned k = 0; k < fault->reports; ++k)
                out.push_back(encode_reply_frame(protocol, status::timeout, {}, request.cmd));
            break;
        case Fault::Kind::garbage:
            frame.assign(std::begin(kLineNoise), std::end(kLineNoise));
            break;
        case Fault::Kind::lateping: {
            const uint8_t ping[] = {0x11, 0x22, 0x33};
            out.push_back(encode_reply_frame(protocol, status::ok, ping, kCmdEcho));
            break;
        }
        case Fault::Kind::status:
        case Fault::Kind::hangup:
        case Fault::Kind::enc_ragged:
        case Fault::Kind::enc_overlong:
        case Fault::Kind::wrong_echo:
            break;
        }
    }
    out.push_back(std::move(frame));
    for (const Bytes& f : out)
        if (!f.empty() && !send(f)) return false;
    return true;
}

// False only when the worker was interrupted (stop, hang-up, reconnect); a
// frame that could not be delivered is dropped and not logged.
bool Simulator::send(const Bytes& frame) {
    if (!pty_.is_open()) return true;
    const Write w = byte_time_.count() > 0 ? write_paced(frame) : write_now(frame);
    if (w == Write::interrupted) return false;
    if (w == Write::done) {
        // Protocol 2 has no reply frames: what it sends are acknowledgements.
        if (protocol_ != 2)
            trace_.record(vr::trace::Direction::from_reader, protocol_, options_.family, frame.data(), frame.size());
        {
            std::lock_guard hold(log_mutex_);
            sent_.push_back(frame);
        }
        log_changed_.notify_all();
    }
    return true;
}

Simulator::Write Simulator::write_now(ByteView bytes) {
    const auto give_up = Clock::now() + kWriteStall;
    size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::write(pty_.master(), bytes.data() + off, bytes.size() - off);
        if (n > 0) {
            off += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            if (wait_writable(give_up)) continue;
            return interrupted() ? Write::interrupted : Write::failed;
        }
        return Write::failed;
    }
    return Write::done;
}

// Hands each byte to the line when its wire time has passed, back to back
// with the previous frame.
Simulator::Write Simulator::write_paced(ByteView bytes) {
    const auto t0 = std::max(Clock::now(), tx_wire_free_);
    size_t sent = 0;
    while (sent < bytes.size()) {
        const auto now = Clock::now();
        const size_t due =
            now < t0 ? 0 : std::min<size_t>(bytes.size(), static_cast<size_t>((now - t0) / byte_time_));
        if (due > sent) {
            const Write w = write_now(bytes.subspan(sent, due - sent));
            if (w != Write::done) return w;
            sent = due;
            continue;
        }
        if (!sleep_until(t0 + byte_time_ * static_cast<long>(sent + 1))) return Write::interrupted;
    }
    tx_wire_free_ = t0 + byte_time_ * static_cast<long>(bytes.size());
    return Write::done;
}

bool Simulator::wait_writable(Clock::time_point deadline) {
    while (Clock::now() < deadline) {
        pollfd fds[2] = {{wake_read_.get(), POLLIN, 0}, {pty_.master(), POLLOUT, 0}};
        if (poll_until(fds, 2, deadline) < 0 && errno != EINTR) return false;
        if (fds[0].revents & POLLIN) {
            drain(wake_read_.get());
            if (interrupted()) return false;
        }
        if (fds[1].revents & POLLOUT) return true;
        if (fds[1].revents & (POLLERR | POLLHUP)) return false;
    }
    return false;
}

bool Simulator::sleep_until(Clock::time_point deadline) {
    while (Clock::now() < deadline) {
        pollfd fd{wake_read_.get(), POLLIN, 0};
        if (poll_until(&fd, 1, deadline) > 0) {
            drain(wake_read_.get());
            if (interrupted()) return false;
        }
    }
    return !interrupted();
}

}  // namespace vrsim
