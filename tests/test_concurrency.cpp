// Several threads on one open card against the simulated reader: card
// operations and control codes at the same time. Threads that keep a
// sequence of operations together (authenticate, write, read, value
// operations) take the exclusive use of control code 43; reader commands
// run alongside without it. Results must stay correct and nothing may
// deadlock; the ThreadSanitizer build runs these tests too.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "card.h"
#include "field.h"
#include "mifare.h"
#include "sim_link.h"

namespace {

using vrsim::Card;

const unsigned char kKey[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr int kCardThreads = 4;
constexpr int kRounds = 12;

// Sector of card thread t, its data block and its value block.
int sector_of(int t) { return 1 + t; }
int data_block(int t) { return 4 * sector_of(t); }
int value_block(int t) { return 4 * sector_of(t) + 1; }

std::array<unsigned char, 16> pattern(int t, int round) {
    std::array<unsigned char, 16> b{};
    for (int i = 0; i < 16; ++i) b[i] = static_cast<unsigned char>(0x10 * t + round + i);
    return b;
}

class Concurrency : public vrtest::SimLink {
protected:
    void SetUp() override {
        open_link();
        // Threads wait for each other's exchanges; under a sanitizer the
        // simulator answers more slowly too.
        tessil.s_com.timeout = 1000;
        card = sim->field().place(Card::classic_1k({0xDE, 0xAD, 0xBE, 0xEF}));
        for (int t = 0; t < kCardThreads; ++t)
            card->set_block(value_block(t), vrsim::classic::value_block(100, static_cast<uint8_t>(value_block(t))));
        p = picc_open("mifare_s50", "uart", 0, PICC_SEARCH_PLAIN, sim->path().c_str());
        ASSERT_NE(p, nullptr) << errno;
    }

    // Runs body while holding the exclusive use, waiting for it while
    // another thread holds it.
    template <typename Body>
    void exclusively(Body body) {
        int rc;
        while ((rc = picc_ctrl(p, PICC_CTRL_TAKE_EXCLUSIVE)) == -85)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        ASSERT_EQ(rc, 0);
        body();
        EXPECT_EQ(picc_ctrl(p, PICC_CTRL_RELEASE_EXCLUSIVE), 0);
    }

    // Reader commands through the control codes, until told to stop.
    void reader_commands(const std::atomic<bool> &stop, std::atomic<int> &done) {
        while (!stop) {
            unsigned char msn[8] = {};
            EXPECT_EQ(picc_ctrl(p, PICC_CTRL_GET_MSN, msn), 0);
            EXPECT_EQ(msn[0], 0x56);
            unsigned char version[16] = {};
            EXPECT_EQ(picc_ctrl(p, PICC_CTRL_FIRMWARE_VERSION, version), 0);
            EXPECT_EQ(std::memcmp(version, "vantel-sim", 10), 0);
            EXPECT_EQ(picc_ctrl(p, PICC_CTRL_SET_LED, 1, 0), 0);
            EXPECT_EQ(picc_blkcnt(p), 64);
            ++done;
        }
    }

    std::shared_ptr<Card> card;
    picc *p = nullptr;
};

TEST_F(Concurrency, ExclusiveSessionsStayCorrectBesideReaderCommands) {
    std::atomic<bool> stop{false};
    std::atomic<int> reader_rounds{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kCardThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int round = 0; round < kRounds; ++round) {
                exclusively([&] {
                    ASSERT_EQ(picc_auth(p, kKey, MIFARE_KEY_A, static_cast<uint8_t>(data_block(t))), 0);
                    const auto data = pattern(t, round);
                    ASSERT_EQ(picc_write(p, data.data(), static_cast<uint8_t>(data_block(t))), 0);
                    unsigned char back[16] = {};
                    ASSERT_EQ(picc_read(p, back, static_cast<uint8_t>(data_block(t))), 0);
                    EXPECT_EQ(std::memcmp(back, data.data(), 16), 0);
                    const unsigned char one[4] = {1, 0, 0, 0};
                    ASSERT_EQ(picc_incval(p, one, static_cast<uint8_t>(value_block(t))), 0);
                    ASSERT_EQ(picc_transfer(p, static_cast<uint8_t>(value_block(t))), 0);
                    unsigned char value[4] = {};
                    ASSERT_EQ(picc_rdval(p, value, static_cast<uint8_t>(value_block(t))), 0);
                    EXPECT_EQ(value[0], 101 + round);
                });
            }
        });
    }
    std::thread reader([&] { reader_commands(stop, reader_rounds); });
    for (auto &th : threads) th.join();
    stop = true;
    reader.join();

    EXPECT_GT(reader_rounds, 0);
    for (int t = 0; t < kCardThreads; ++t) {
        const auto expected = pattern(t, kRounds - 1);
        const vrsim::Block on_card = card->block(data_block(t));
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), on_card.begin())) << "thread " << t;
        EXPECT_EQ(vrsim::classic::parse_value_block(card->block(value_block(t)))->first, 100 + kRounds);
    }
}

// Without exclusive use the threads' authentications undo each other, so
// operations may fail; every call must still return a documented result,
// a successful read must return the block's real content, nothing may
// hang, and the card must stay usable afterwards.
TEST_F(Concurrency, UncoordinatedCallsFailCleanly) {
    for (int t = 0; t < kCardThreads; ++t) card->set_block(data_block(t), [&] {
        vrsim::Block b{};
        const auto data = pattern(t, 0);
        std::copy(data.begin(), data.end(), b.begin());
        return b;
    }());
    std::atomic<bool> stop{false};
    std::atomic<int> reader_rounds{0};
    std::atomic<int> reads_ok{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kCardThreads; ++t) {
        threads.emplace_back([&, t] {
            const auto block = static_cast<uint8_t>(data_block(t));
            for (int round = 0; round < kRounds; ++round) {
                const int auth = picc_auth(p, kKey, MIFARE_KEY_A, block);
                EXPECT_LE(auth, 0);
                unsigned char back[16] = {};
                const int rc = picc_read(p, back, block);
                if (rc == 0) {
                    ++reads_ok;
                    const auto data = pattern(t, 0);
                    EXPECT_EQ(std::memcmp(back, data.data(), 16), 0) << "a read returned another block";
                } else {
                    EXPECT_EQ(rc, -1);
                }
                unsigned char value[4] = {};
                EXPECT_LE(picc_rdval(p, value, static_cast<uint8_t>(value_block(t))), 0);
            }
        });
    }
    std::thread reader([&] { reader_commands(stop, reader_rounds); });
    for (auto &th : threads) th.join();
    stop = true;
    reader.join();
    EXPECT_GT(reader_rounds, 0);

    // The card answers as before once the threads are done.
    ASSERT_EQ(picc_auth(p, kKey, MIFARE_KEY_A, 4), 0);
    unsigned char back[16] = {};
    ASSERT_EQ(picc_read(p, back, 4), 0);
    EXPECT_EQ(std::memcmp(back, pattern(0, 0).data(), 16), 0);
}

}  // namespace
