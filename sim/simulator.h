// The reader on a pseudo-terminal: a thread that reads host frames from
// the master side, hands the requests to the firmware model and writes the
// replies back in the reader's frames, with optional wire pacing and
// injected faults. Used in-process by tests and by the vantel-rfid-sim
// program.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/pcapng.h"
#include "faults.h"
#include "firmware.h"
#include "frame.h"
#include "pty.h"
#include "wire.h"

namespace vrsim {

// How the simulated reader is set up (Simulator::Options).
struct SimOptions {
    int family = 1;     // 1 or 2
    int protocol = 0;   // 0: the family's own (3 first, 6 second)
    unsigned baud = 0;  // 0: unpaced; else 10 bits per byte at this rate
    std::string link;   // symlink to publish for the slave, optional
    std::string trace;  // pcapng file of every frame on the line, optional
    // An unfinished frame is given up after this much silence.
    unsigned frame_gap_ms = 100;
};

class Simulator {
public:
    using Options = SimOptions;

    explicit Simulator(Options options = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pty (first time), publishes the link and starts answering.
    // False with errno set when the pty or the link cannot be made.
    [[nodiscard]] bool start();
    // Stops answering; the pty stays open until destruction or hangup.
    void stop();
    [[nodiscard]] bool running() const { return worker_.joinable(); }

    // The path the host opens: the link when one is published, else the
    // slave device.
    [[nodiscard]] std::string path() const;
    [[nodiscard]] std::string slave_path() const;
    [[nodiscard]] bool connected() const;
    [[nodiscard]] int protocol() const { return protocol_; }
    [[nodiscard]] const Options& options() const { return options_; }
    [[nodiscard]] Firmware& firmware() { return firmware_; }
    // The reader's field: sim->field().place(vrsim::Card::classic_1k(uid)).
    [[nodiscard]] Field& field() { return firmware_.field(); }

    // ---- observation (thread-safe)
    // Host frames exactly as received (bad-checksum ones included).
    [[nodiscard]] std::vector<Bytes> frames_received() const;
    // Frames exactly as written to the host (injected ones included).
    [[nodiscard]] std::vector<Bytes> frames_sent() const;
    // Decoded requests, in order.
    [[nodiscard]] std::vector<Request> requests() const;
    // Bytes skipped between frames because no frame could start there.
    [[nodiscard]] size_t garbage_bytes() const;
    void clear_log();
    // Wait until at least n frames are in the log (counted since the last
    // clear_log); false on timeout.
    [[nodiscard]] bool wait_received(size_t n, std::chrono::milliseconds timeout) const;
    [[nodiscard]] bool wait_sent(size_t n, std::chrono::milliseconds timeout) const;
    // Frames fully dealt with (answered, dropped or ignored, faults taken):
    // a received frame is logged before it is handled, so wait on this
    // before changing faults that must have hit an earlier frame.
    [[nodiscard]] bool wait_handled(size_t n, std::chrono::milliseconds timeout) const;

    // ---- faults
    void inject(const Fault& fault, unsigned count = 1);
    void inject_every(const Fault& fault, unsigned period);
    void apply(const FaultOrder& order);
    void clear_faults();
    [[nodiscard]] size_t faults_queued() const;

    // ---- the line
    // Closes the pty now (the host's reads and writes fail) and withdraws
    // the link. Synchronous.
    void hangup();
    // Opens a new pty and re-points the link to it. Synchronous.
    [[nodiscard]] bool reconnect();

private:
    using Clock = std::chrono::steady_clock;
    enum class Action { hangup, reconnect };
    struct Pending {
        Action action;
        std::promise<bool> done;
    };

    void run();
    bool post(Action action);
    bool perform(Action action);
    void run_pending();
    void close_line();
    bool open_line();
    bool publish_link();
    void withdraw_link();
    void wake();

    // receive side
    void take_input(Clock::time_point now);
    void reset_input();
    bool process_input();  // false when interrupted

    // reply side
    [[nodiscard]] int protocol_of_next_frame() const;
    bool answer(const HostFrame& frame, int protocol);
    bool respond(const Request& request, const Reply& reply, std::optional<Fault> fault, int protocol);
    bool send(const Bytes& frame);
    enum class Write { done, interrupted, failed };
    Write write_now(ByteView bytes);
    Write write_paced(ByteView bytes);
    bool wait_writable(Clock::time_point deadline);
    bool sleep_until(Clock::time_point deadline);
    bool interrupted() const;

    Options options_;
    int protocol_;
    Firmware firmware_;
    vr::trace::Capture trace_;  // open when options_.trace names a file

    // The line; touched by the worker thread only while it runs.
    Pty pty_;
    mutable std::mutex path_mutex_;
    std::string slave_path_;
    UniqueFd wake_read_;
    UniqueFd wake_write_;
    std::thread worker_;
    std::atomic<bool> stopping_{false};

    std::mutex pending_mutex_;
    std::deque<Pending> pending_;
    std::atomic<bool> has_pending_{false};

    // Receive buffer, with the time at which each byte is "on the wire"
    // complete (arrival, or arrival plus wire time when paced).
    Bytes rx_;
    std::vector<Clock::time_point> rx_ready_;
    Clock::time_point rx_wire_free_{};
    Clock::time_point last_arrival_{};
    Clock::time_point rx_deadline_ = Clock::time_point::max();
    Clock::time_point tx_wire_free_{};
    Bytes previous_reply_;
    std::chrono::nanoseconds byte_time_{0};

    mutable std::mutex log_mutex_;
    mutable std::condition_variable log_changed_;
    std::vector<Bytes> received_;
    std::vector<Bytes> sent_;
    std::vector<Request> requests_;
    size_t handled_ = 0;
    size_t garbage_ = 0;

    mutable std::mutex fault_mutex_;
    FaultPlan faults_;
};

}  // namespace vrsim
