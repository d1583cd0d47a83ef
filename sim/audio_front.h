// The reader's audio front end: the same firmware as on a serial line
// (frames, cards, faults: a Simulator behind an internal pseudo-terminal,
// as a reader's audio chip talks to its main controller over a UART),
// reached over an audio line instead. It decodes the host's downlink line
// code, hands the bytes to the firmware, and sends the firmware's replies
// back on its uplink carrier, with the idle carrier between them. Each
// direction passes a channel model (noise, pass band, clock offset, ...).
//
// It adds the audio link's own reader commands:
//  - 0x0F01 set carrier (hi, lo): answered on the old carrier; the uplink
//    moves to the new frequency once that answer has gone out;
//  - 0x0F81 uplink frequency test (hi, lo): a test tone at the frequency
//    for 300 ms, then the answer on the carrier in force.
// (The echo 0x0F02 is the firmware's own.)
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "channel.h"
#include "host_link.h"
#include "line_code.h"
#include "simulator.h"

namespace vrsim {

// Where the front end's samples come from and go to.
class AudioPort {
public:
    virtual ~AudioPort() = default;
    // The host's next `frames` downlink frames (interleaved stereo): frames,
    // or -1 when the line is gone.
    virtual int read_downlink(int16_t* stereo, int frames) = 0;
    // Uplink samples (mono): count, or -1.
    virtual int write_uplink(const int16_t* mono, int count) = 0;
    // Makes a blocked read or write return (the front end is stopping).
    virtual void interrupt() = 0;
};

// The firmware behind the front end gives up an unfinished frame only
// after a second of silence: on the virtual clock the audio line stands
// still while the host does not listen, so the bytes of one request may
// reach the firmware far apart in real time.
inline SimOptions audio_firmware_options() {
    SimOptions o;
    o.frame_gap_ms = 1000;
    return o;
}

struct AudioOptions {
    ChannelConfig downlink;  // host to reader
    ChannelConfig uplink;    // reader to host
    double amplitude = 12000.0;
    int chunk_frames = 128;           // samples handled per pass
    double start_frequency = 5512.0;  // the uplink carrier at power-up
    int tone_ms = 300;                // length of the frequency test's tone
    SimOptions firmware = audio_firmware_options();  // the reader behind it
};

class AudioFrontEnd {
public:
    AudioFrontEnd(std::unique_ptr<AudioPort> port, AudioOptions options = {});
    ~AudioFrontEnd();
    AudioFrontEnd(const AudioFrontEnd&) = delete;
    AudioFrontEnd& operator=(const AudioFrontEnd&) = delete;

    // Starts the firmware and the audio loop; false (errno set) on failure.
    [[nodiscard]] bool start();
    void stop();

    [[nodiscard]] Simulator& sim() { return *sim_; }
    [[nodiscard]] Firmware& firmware() { return sim_->firmware(); }
    [[nodiscard]] Field& field() { return sim_->field(); }

    // The uplink carrier in force (Hz).
    [[nodiscard]] double uplink_frequency() const { return frequency_.load(); }
    // Downlink bytes decoded and uplink bytes sent, since start.
    [[nodiscard]] uint64_t bytes_heard() const { return heard_.load(); }
    [[nodiscard]] uint64_t bytes_sent() const { return sent_.load(); }
    // Test tones played for the frequency test.
    [[nodiscard]] int tones() const { return tones_.load(); }

private:
    struct Order {
        enum class Kind { move, tone } kind;
        double hz;
    };

    void install_commands();
    void post(Order order);
    void run();
    void take_replies(Bytes& out);
    void apply_orders(uint64_t queued_before);
    void track_frames(ByteView bytes);

    std::unique_ptr<AudioPort> port_;
    AudioOptions options_;
    std::unique_ptr<Simulator> sim_;
    HostLink firmware_link_;
    std::thread worker_;
    std::atomic<bool> stopping_{false};

    std::mutex orders_mutex_;
    std::vector<Order> orders_;

    // The audio loop's own state.
    LineEncoder encoder_;
    LineDecoder decoder_;
    Channel down_;
    Channel up_;
    // Reply frames in the uplink byte stream: where each one ends (counted
    // in bytes queued), so a carrier move waits for the answer to go out.
    int frame_state_ = 0;
    int frame_left_ = 0;
    uint64_t bytes_queued_ = 0;
    std::vector<uint64_t> frame_ends_;
    double pending_move_ = 0.0;
    uint64_t move_after_ = 0;
    int move_wait_ = 0;  // passes left before a move goes ahead anyway

    std::atomic<double> frequency_;
    std::atomic<uint64_t> heard_{0};
    std::atomic<uint64_t> sent_{0};
    std::atomic<int> tones_{0};
};

// The sound server's side: plays the uplink into a sink and records the
// downlink from a source (a sink's monitor), through libpulse. Null with
// the server's error text in *why when the streams cannot be made.
std::unique_ptr<AudioPort> open_pulse_port(const char* source, const char* sink, std::string* why);

}  // namespace vrsim
