// The reader's audio front end: see audio_front.h.
#include "audio_front.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vrsim {

namespace {

constexpr uint16_t kCmdSetCarrier = 0x0F01;
constexpr uint16_t kCmdFreqTest = 0x0F81;
constexpr int kRate = 44100;
// A carrier move waits this many passes at most for its answer to go out
// (the answer may have been dropped by a fault).
constexpr int kMoveWaitPasses = 100;

// The frequency a carrier command carries (high byte first), or 0 when it
// is out of the range a reader can play.
double carrier_of(const Request& rq) {
    const int hz = rq.data[0] << 8 | rq.data[1];
    return hz >= 20 && hz <= 20000 ? hz : 0.0;
}

}  // namespace

AudioFrontEnd::AudioFrontEnd(std::unique_ptr<AudioPort> port, AudioOptions options)
    : port_(std::move(port)),
      options_(std::move(options)),
      sim_(std::make_unique<Simulator>(options_.firmware)),
      encoder_(options_.amplitude, kRate),
      down_(options_.downlink),
      up_(options_.uplink),
      frequency_(options_.start_frequency) {
    encoder_.set_frequency(options_.start_frequency);
    install_commands();
}

AudioFrontEnd::~AudioFrontEnd() { stop(); }

void AudioFrontEnd::install_commands() {
    sim_->firmware().add_command(kCmdSetCarrier, [this](FirmwareState&, const Request& rq) {
        if (rq.data.size() != 2) return Reply::error(status::cmd_length);
        const double hz = carrier_of(rq);
        if (hz <= 0.0) return Reply::error(status::bad_argument);
        post(Order{Order::Kind::move, hz});
        return Reply::ok();
    });
    sim_->firmware().add_command(kCmdFreqTest, [this](FirmwareState&, const Request& rq) {
        if (rq.data.size() != 2) return Reply::error(status::cmd_length);
        const double hz = carrier_of(rq);
        if (hz <= 0.0) return Reply::error(status::bad_argument);
        post(Order{Order::Kind::tone, hz});
        return Reply::ok();
    });
}

bool AudioFrontEnd::start() {
    if (worker_.joinable()) return true;
    if (!port_) {
        errno = ENODEV;
        return false;
    }
    if (!sim_->start() || !firmware_link_.open(sim_->path())) return false;
    stopping_ = false;
    worker_ = std::thread([this] { run(); });
    return true;
}

void AudioFrontEnd::stop() {
    if (worker_.joinable()) {
        stopping_ = true;
        port_->interrupt();
        worker_.join();
    }
    sim_->stop();
}

void AudioFrontEnd::post(Order order) {
    std::lock_guard hold(orders_mutex_);
    orders_.push_back(order);
}

// Whatever the firmware has written since the last pass.
void AudioFrontEnd::take_replies(Bytes& out) {
    uint8_t buf[512];
    for (;;) {
        const ssize_t n = ::read(firmware_link_.fd(), buf, sizeof buf);
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
    }
}

// Protocol-3 reply frames: head 02|42 02, length (low, high), body, CRC.
void AudioFrontEnd::track_frames(ByteView bytes) {
    for (uint8_t b : bytes) {
        ++bytes_queued_;
        switch (frame_state_) {
        case 0: frame_state_ = (b == 0x02 || b == 0x42) ? 1 : 0; break;
        case 1: frame_state_ = b == 0x02 ? 2 : b == 0x42 ? 1 : 0; break;
        case 2:
            frame_left_ = b;
            frame_state_ = 3;
            break;
        case 3:
            frame_left_ |= b << 8;
            frame_left_ += 2;  // the CRC
            frame_state_ = 4;
            break;
        default:
            if (--frame_left_ == 0) {
                frame_ends_.push_back(bytes_queued_);
                frame_state_ = 0;
            }
            break;
        }
    }
}

// Orders the firmware posted. A test tone goes out before any answer
// queued after the order; a carrier move waits for the end of the next
// answer, which still goes out on the old carrier.
void AudioFrontEnd::apply_orders(uint64_t queued_before) {
    std::vector<Order> orders;
    {
        std::lock_guard hold(orders_mutex_);
        orders.swap(orders_);
    }
    for (const Order& o : orders) {
        if (o.kind == Order::Kind::tone) {
            encoder_.tone(o.hz, kRate * options_.tone_ms / 1000);
            ++tones_;
        } else {
            pending_move_ = o.hz;
            move_after_ = queued_before;
            move_wait_ = kMoveWaitPasses;
        }
    }
}

void AudioFrontEnd::run() {
    const int frames = options_.chunk_frames;
    std::vector<int16_t> stereo(static_cast<size_t>(2 * frames));
    std::vector<int16_t> tx(static_cast<size_t>(frames));
    Bytes heard;
    Bytes replies;
    while (!stopping_) {
        if (port_->read_downlink(stereo.data(), frames) < 0) break;
        heard.clear();
        decoder_.feed(down_.process(Channel::left(stereo)), heard);
        if (!heard.empty()) {
            heard_ += heard.size();
            if (!firmware_link_.write(heard)) break;
        }

        replies.clear();
        take_replies(replies);
        apply_orders(bytes_queued_);
        if (!replies.empty()) {
            track_frames(replies);
            encoder_.queue(replies);
        }
        if (pending_move_ > 0.0) {
            const auto end = std::find_if(frame_ends_.begin(), frame_ends_.end(),
                                          [this](uint64_t e) { return e > move_after_; });
            const bool answered = end != frame_ends_.end() && encoder_.bytes_sent() >= *end;
            if (answered || --move_wait_ <= 0) {
                encoder_.set_frequency(pending_move_);
                frequency_ = pending_move_;
                pending_move_ = 0.0;
            }
        }
        // Frame ends already sent are of no more use, unless a move waits.
        if (pending_move_ <= 0.0)
            std::erase_if(frame_ends_, [this](uint64_t e) { return e <= encoder_.bytes_sent(); });

        encoder_.render(tx);
        sent_ = encoder_.bytes_sent();
        const std::vector<int16_t> out = up_.process(tx);
        if (port_->write_uplink(out.data(), static_cast<int>(out.size())) < 0) break;
    }
}

}  // namespace vrsim
