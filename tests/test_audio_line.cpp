// The virtual line on its virtual clock, between a host that plays and
// records through the "line" backend and a far end driven by the test.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/backend.h"
#include "audio/line.h"

namespace {

namespace line = vr::audio::line;
using vr::audio::kLineBackend;
using vr::audio::kPlayback;
using vr::audio::kRecord;

constexpr int kChunkFrames = 128;

class VirtualLine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(line::attach({}));
        for (int direction : {kPlayback, kRecord}) {
            ASSERT_EQ(kLineBackend.init(direction, direction == kPlayback ? 2 : 1, line::kRate, 256), 0);
            ASSERT_EQ(kLineBackend.start(direction), 0);
        }
        // The host's receive side waits for samples all along, as the
        // modem's does: that is what asks the far end to move time on.
        reader_ = std::thread([this] {
            std::vector<int16_t> block(512);
            while (!stop_ && kLineBackend.read(block.data(), static_cast<int>(block.size())) >= 0) {
            }
        });
        far_ = std::thread([this] {
            std::vector<int16_t> stereo(2 * kChunkFrames);
            const std::vector<int16_t> quiet(kChunkFrames);
            while (line::far_read(stereo.data(), kChunkFrames) > 0) {
                {
                    std::lock_guard hold(heard_lock_);
                    heard_.insert(heard_.end(), stereo.begin(), stereo.end());
                }
                if (line::far_write(quiet.data(), kChunkFrames) < 0) break;
            }
        });
    }
    void TearDown() override {
        stop_ = true;
        line::detach();
        far_.join();
        for (int direction : {kPlayback, kRecord}) kLineBackend.uninit(direction);
        reader_.join();
    }

    // Writes the whole of samples, as the modem's send thread does.
    static void play(const std::vector<int16_t> &samples) {
        std::size_t done = 0;
        while (done < samples.size()) {
            const int n = kLineBackend.write(samples.data() + done, static_cast<int>(samples.size() - done));
            ASSERT_GE(n, 0);
            done += static_cast<std::size_t>(n);
        }
    }

    std::vector<int16_t> heard() {
        std::lock_guard hold(heard_lock_);
        return heard_;
    }

private:
    std::atomic<bool> stop_{false};
    std::thread reader_;
    std::thread far_;
    std::mutex heard_lock_;
    std::vector<int16_t> heard_;
};

// A counting signal in stereo frames, from first on.
std::vector<int16_t> counting(int first, int frames) {
    std::vector<int16_t> out;
    for (int i = first; i < first + frames; ++i) out.insert(out.end(), {static_cast<int16_t>(i), static_cast<int16_t>(i)});
    return out;
}

// A sending host held up between two writes, for longer than a scheduler
// hiccup on a loaded machine, keeps the clock: the far end hears the two
// pieces back to back, with no silence put between them.
TEST_F(VirtualLine, AWriterHeldUpBetweenWritesLosesNoTime) {
    constexpr int kPiece = 2 * kChunkFrames + 40;  // ends inside a chunk
    play(counting(1, kPiece));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the writer is held up
    play(counting(1 + kPiece, kPiece));
    // Play on until the far end has taken both pieces.
    const std::vector<int16_t> idle = counting(30000, kChunkFrames);
    for (int i = 0; i < 8; ++i) play(idle);

    const std::vector<int16_t> got = heard();
    std::size_t at = 0;
    while (at < got.size() && got[at] != 1) ++at;
    ASSERT_LE(at + 4 * kPiece, got.size()) << "the far end heard both pieces";
    for (int i = 0; i < 2 * kPiece; ++i) ASSERT_EQ(got[at + 2 * static_cast<std::size_t>(i)], i + 1) << "frame " << i;
    EXPECT_EQ(line::stats().underruns, 0);
}

// A running stream left unfed (the modem calibrating) does not stop time
// for long: the host's record stream still gets its samples, the far end
// hearing silence.
TEST_F(VirtualLine, ARunningStreamLeftUnfedPlaysSilence) {
    const uint64_t before = line::stats().clock;
    const auto moved = [&] { return line::stats().clock >= before + 10 * kChunkFrames; };
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!moved() && std::chrono::steady_clock::now() < give_up) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(moved());
    EXPECT_GT(line::stats().underruns, 0);
}

}  // namespace
