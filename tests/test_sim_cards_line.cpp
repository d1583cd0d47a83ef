// The card side and link encryption over the simulator's pseudo-terminal:
// enciphered requests and replies byte for byte (built here with the link
// cipher, as a host would), the faults that spoil an enciphered reply, and
// the control channel's card commands.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "control.h"
#include "crypto.h"
#include "dumpfile.h"
#include "host_link.h"
#include "sim_harness.h"

using namespace std::chrono_literals;
using vrsim::Bytes;
using vrsim::Card;
using vrsim::Fault;
using vrsim::ReplyFrame;

namespace {

constexpr int kProtocol = 3;
const Bytes kUid{0xC1, 0xC2, 0xC3, 0xC4};

class SimCardsLine : public testing::Test {
protected:
    void SetUp() override {
        sim = vrsim::start_simulator();
        ASSERT_TRUE(sim) << "cannot start the simulator: " << strerror(errno);
        ASSERT_TRUE(host.open(sim->path()));
    }

    std::optional<ReplyFrame> command(uint16_t cmd, const Bytes& data = {}) {
        return host.command(kProtocol, cmd, data, 2s);
    }

    // Fetches a session key as the host does when it switches encryption on.
    Bytes new_session_key() {
        const auto r = command(0x0F09, {8});
        EXPECT_TRUE(r && r->status == 0 && r->data.size() == 8);
        return r ? r->data : Bytes{};
    }

    // An enciphered request: code, plain length (high, low), the data
    // padded and enciphered under `key`; head 0x42.
    static Bytes sealed_request(uint16_t cmd, const Bytes& data, const Bytes& key) {
        Bytes cipher = data;
        cipher.resize(data.size() + 7);
        uint32_t n = 0;
        EXPECT_EQ(com_alg_enc(cipher.data(), static_cast<uint32_t>(data.size()), key.data(), &n), 0);
        cipher.resize(n);
        Bytes body{static_cast<uint8_t>(cmd & 0xFF), static_cast<uint8_t>(cmd >> 8),
                   static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size() & 0xFF)};
        body.insert(body.end(), cipher.begin(), cipher.end());
        return vrsim::encode_host_frame(kProtocol, body, true);
    }

    std::optional<ReplyFrame> sealed_command(uint16_t cmd, const Bytes& data, const Bytes& key) {
        if (!host.write(sealed_request(cmd, data, key))) return std::nullopt;
        return host.read_frame(kProtocol, 2s);
    }

    // The plaintext of an enciphered reply's data (plain length, cipher).
    static Bytes opened(const ReplyFrame& r, const Bytes& key) {
        EXPECT_TRUE(r.encrypted);
        EXPECT_GE(r.data.size(), 2u);
        if (r.data.size() < 2) return {};
        const size_t plain = size_t{r.data[0]} << 8 | r.data[1];
        Bytes body(r.data.begin() + 2, r.data.end());
        EXPECT_EQ(body.size() % 8, 0u);
        uint32_t n = 0;
        EXPECT_EQ(com_alg_dec(body.data(), static_cast<uint32_t>(body.size()), key.data(), &n), 0);
        EXPECT_LE(plain, body.size());
        body.resize(std::min(plain, body.size()));
        return body;
    }

    std::unique_ptr<vrsim::Simulator> sim;
    vrsim::HostLink host;
};

}  // namespace

// Requests of several lengths (padded and whole blocks) come back as
// enciphered replies whose plaintext is what a plain exchange answers.
TEST_F(SimCardsLine, EncipheredRequestsGetEncipheredReplies) {
    auto card = sim->field().place(Card::classic_1k(kUid));
    Bytes block6(16);
    for (size_t i = 0; i < block6.size(); ++i) block6[i] = static_cast<uint8_t>(0xE0 + i);
    card->set_block(6, [&] {
        vrsim::Block b{};
        std::ranges::copy(block6, b.begin());
        return b;
    }());
    const Bytes key = new_session_key();
    ASSERT_EQ(key, sim->firmware().session_key());

    for (const Bytes& echo : {Bytes{0x5A}, Bytes(8, 0x11), Bytes(11, 0x22), Bytes(200, 0x33)}) {
        SCOPED_TRACE(echo.size());
        const auto r = sealed_command(0x0F02, echo, key);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 0);
        EXPECT_EQ(opened(*r, key), echo);
    }
    // Card commands: the 1K activation, an authentication (no reply data)
    // and a block read (16 bytes: two whole blocks of ciphertext).
    auto r = sealed_command(0x0212, {0x52}, key);
    ASSERT_TRUE(r);
    EXPECT_EQ(opened(*r, key), (Bytes{0x08, 4, 0xC1, 0xC2, 0xC3, 0xC4}));
    r = sealed_command(0x0207, {0x60, 6, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, key);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0);
    EXPECT_TRUE(r->encrypted);
    EXPECT_EQ(r->data, (Bytes{0x00, 0x00})) << "no data: plain length 0, no ciphertext";
    r = sealed_command(0x0208, {6}, key);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data.size(), 2u + 16u);
    EXPECT_EQ(opened(*r, key), block6);

    // A refusal goes back plain.
    r = sealed_command(0x0208, {8}, key);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0x17);
    EXPECT_FALSE(r->encrypted);
    EXPECT_TRUE(r->data.empty());
}

// The host's raw bodies keep head 0x42 while encryption is on; one that is
// not 4 + 8k bytes long is plain, and so is its reply.
TEST_F(SimCardsLine, PlainBodiesUnderTheEncryptedHead) {
    (void)new_session_key();
    ASSERT_TRUE(host.write(vrsim::encode_host_frame(kProtocol, Bytes{0x02, 0x0F, 0x11, 0x22, 0x33}, true)));
    const auto r = host.read_frame(kProtocol, 2s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0);
    EXPECT_FALSE(r->encrypted);
    EXPECT_EQ(r->data, (Bytes{0x11, 0x22, 0x33}));
}

// Requests the reader cannot read: no session key yet (0x8F), another key
// (the padding does not come out: 0x8F), a plain length that does not
// fit the ciphertext (0x8E). None of them runs.
TEST_F(SimCardsLine, UnreadableEncipheredRequestsAreRefused) {
    const Bytes other{1, 2, 3, 4, 5, 6, 7, 8};
    auto r = sealed_command(0x010D, {0x01, 0x01}, other);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0x8F) << "before any session key";

    const Bytes key = new_session_key();
    r = sealed_command(0x010D, {0x01, 0x01}, other);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0x8F) << "another key";

    Bytes frame = sealed_request(0x010D, {0x01, 0x01}, key);
    frame[4 + 3] = 9;  // plain length 9 in one block: recompute the CRC
    const Bytes body(frame.begin() + 4, frame.end() - 3);
    r = [&] {
        EXPECT_TRUE(host.write(vrsim::encode_host_frame(kProtocol, body, true)));
        return host.read_frame(kProtocol, 2s);
    }();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0x8E);
    EXPECT_EQ(sim->firmware().settings().beeps, 0u);

    r = sealed_command(0x010D, {0x01, 0x01}, key);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0);
    EXPECT_EQ(sim->firmware().settings().beeps, 1u);
}

// Asking for a new session key under encryption: the answer is enciphered
// with the key the request came under; the new key serves from the next
// exchange on.
TEST_F(SimCardsLine, NewSessionKeyTakesEffectAfterItsReply) {
    const Bytes first = new_session_key();
    const auto r = sealed_command(0x0F09, {8}, first);
    ASSERT_TRUE(r);
    const Bytes second = opened(*r, first);
    ASSERT_EQ(second.size(), 8u);
    EXPECT_EQ(sim->firmware().session_key(), second);
    const auto echo = sealed_command(0x0F02, {0x42, 0x43}, second);
    ASSERT_TRUE(echo);
    EXPECT_EQ(opened(*echo, second), (Bytes{0x42, 0x43}));
}

// The faults that spoil an enciphered reply, and their effect on plain
// replies (none).
TEST_F(SimCardsLine, FaultsSpoilEncipheredReplies) {
    const Bytes key = new_session_key();
    const Bytes data(11, 0x77);  // 16 bytes of ciphertext

    sim->inject(Fault::enc_ragged());
    auto r = sealed_command(0x0F02, data, key);
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->encrypted);
    EXPECT_EQ(r->data.size(), 2u + 15u) << "ciphertext one byte short of its blocks";

    sim->inject(Fault::enc_overlong());
    r = sealed_command(0x0F02, data, key);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->data.size(), 2u + 16u);
    EXPECT_EQ(size_t{r->data[0]} << 8 | r->data[1], 17u) << "plain length beyond the ciphertext";

    // A reply without ciphertext gets one stray byte.
    sim->inject(Fault::enc_ragged());
    r = sealed_command(0x010D, {0x01, 0x01}, key);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, (Bytes{0x00, 0x00, 0x00}));

    sim->inject(Fault::enc_ragged());
    r = command(0x0F02, {0x01, 0x02, 0x03});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, (Bytes{0x01, 0x02, 0x03})) << "plain replies go out as they are";

    r = sealed_command(0x0F02, data, key);
    ASSERT_TRUE(r);
    EXPECT_EQ(opened(*r, key), data) << "one reply each";

    const auto order = vrsim::parse_fault_order("enc_overlong x2");
    ASSERT_TRUE(order);
    EXPECT_EQ(order->fault, Fault::enc_overlong());
    EXPECT_EQ(order->count, 2u);
    EXPECT_EQ(vrsim::describe(Fault::enc_ragged()), "enc_ragged");
}

// The control channel places, shows, dumps and removes cards; the reader
// sees exactly what is in the field.
TEST_F(SimCardsLine, ControlChannelCardCommands) {
    vrsim::Control control(*sim);
    auto say = [&](const std::string& line) { return control.execute(line); };

    EXPECT_EQ(say("card show").text, "ok empty");
    EXPECT_EQ(say("card place mifare_s70 A1:B2:C3:D4").text,
              "ok mifare_s70 uid=A1B2C3D4 atqa=0002 sak=18 state=idle");
    auto r = command(0x0213, {0x52});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, (Bytes{7, 0x02, 0x00, 0xA1, 0xB2, 0xC3, 0xD4, 0x18}));
    EXPECT_EQ(say("card show").text, "ok mifare_s70 uid=A1B2C3D4 atqa=0002 sak=18 state=active");

    const auto dump = say("card dump");
    ASSERT_TRUE(dump.ok);
    EXPECT_EQ(std::count(dump.text.begin(), dump.text.end(), '\n'), 256);
    EXPECT_EQ(dump.text.rfind("ok 256 blocks\n  0  A1B2C3D4", 0), 0u);
    EXPECT_NE(dump.text.find("\n255  FFFFFFFFFFFFFF078069FFFFFFFFFFFF"), std::string::npos);

    EXPECT_EQ(say("card place iso14443a 04112233445566 atqa=0x0048 sak=20").text,
              "ok iso14443a uid=04112233445566 atqa=0048 sak=20 state=idle");
    r = command(0x0213, {0x52});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, (Bytes{10, 0x48, 0x00, 0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x20}));
    EXPECT_FALSE(say("card dump").ok) << "no memory for this kind";

    const auto random = say("card place mifare_s50");
    ASSERT_TRUE(random.ok);
    EXPECT_EQ(random.text.rfind("ok mifare_s50 uid=", 0), 0u) << "a random UID";
    EXPECT_TRUE(say("card remove").ok);
    r = command(0x0213, {0x52});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0x0D);

    for (const char* bad : {"card place", "card place mifare_s99", "card place mifare_s50 112233",
                            "card place mifare_s50 11223344 sak=1FF", "card place mifare_s50 11zz3344",
                            "card place iso14443a 11223344", "card remove", "card dump", "card",
                            "card shake"}) {
        SCOPED_TRACE(bad);
        const auto reply = say(bad);
        EXPECT_FALSE(reply.ok);
        EXPECT_EQ(reply.text.rfind("error: ", 0), 0u);
    }
}

// Dump files become cards: identity, memory and keys from the file; blocks
// the file marks unreadable are reported and left blank.
TEST_F(SimCardsLine, ControlChannelLoadsDumpFiles) {
    char dir_template[] = "/tmp/vrsim-cards-XXXXXX";
    ASSERT_NE(::mkdtemp(dir_template), nullptr);
    const std::filesystem::path dir = dir_template;
    vrsim::Control control(*sim);

    // A 1K card in JSON: its own UID, ATQA and SAK, sector 1 under other
    // keys, data in block 5, block 6 unreadable.
    vrdump::CardImage k1 = vrdump::CardImage::empty(vrdump::Kind::classic_1k);
    for (auto& r : k1.readable) r = 1;
    k1.blocks[0] = {0x0A, 0x0B, 0x0C, 0x0D, 0x0A ^ 0x0B ^ 0x0C ^ 0x0D, 0x88, 0x04, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
    k1.uid = {0x0A, 0x0B, 0x0C, 0x0D};
    k1.atqa = {0x04, 0x00};
    k1.sak = 0x88;
    for (int sector = 0; sector < 16; ++sector)
        k1.blocks[vrdump::trailer_block(sector)] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x07,
                                                    0x80, 0x69, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    k1.keys[1].a = vrdump::Key{1, 2, 3, 4, 5, 6};
    k1.blocks[5].fill(0x5E);
    k1.readable[6] = 0;
    const std::string json = dir / "card.json";
    ASSERT_TRUE(vrdump::save_file(json, k1));
    const auto answer = control.execute("card load " + json);
    EXPECT_EQ(answer.text,
              "ok mifare_s50 uid=0A0B0C0D atqa=0004 sak=88 state=idle (1 unreadable blocks in the file left blank)");
    auto r = command(0x0213, {0x52});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data, (Bytes{7, 0x04, 0x00, 0x0A, 0x0B, 0x0C, 0x0D, 0x88}));
    r = command(0x0207, {0x60, 5, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0x16) << "sector 1 has the dump's key A";
    ASSERT_EQ(command(0x0207, {0x60, 5, 1, 2, 3, 4, 5, 6})->status, 0);
    EXPECT_EQ(command(0x0208, {5})->data, Bytes(16, 0x5E));
    EXPECT_EQ(command(0x0208, {6})->data, Bytes(16, 0x00));

    // A 4K binary image: the identity comes from block 0.
    vrdump::CardImage k4 = vrdump::CardImage::empty(vrdump::Kind::classic_4k);
    for (auto& r4 : k4.readable) r4 = 1;
    k4.blocks[0] = {0xB1, 0xB2, 0xB3, 0xB4, 0xB1 ^ 0xB2 ^ 0xB3 ^ 0xB4, 0x18, 0x02, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int sector = 0; sector < 40; ++sector)
        k4.blocks[vrdump::trailer_block(sector)] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x07,
                                                    0x80, 0x69, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    k4.blocks[200].fill(0x20);
    const std::string mfd = dir / "card.mfd";
    ASSERT_TRUE(vrdump::save_file(mfd, k4));
    EXPECT_EQ(control.execute("card load " + mfd).text, "ok mifare_s70 uid=B1B2B3B4 atqa=0002 sak=18 state=idle");
    ASSERT_EQ(command(0x0207, {0x60, 200, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})->status, 0);
    EXPECT_EQ(command(0x0208, {200})->data, Bytes(16, 0x20));
    EXPECT_EQ(sim->field().card()->image().size(), 4096u);

    for (const std::string& bad : {std::string("card load"), "card load " + (dir / "missing.mfd").string(),
                                  "card load " + (dir / "card.txt").string()}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(control.execute(bad).text.rfind("error: ", 0), 0u);
    }
    EXPECT_EQ(sim->field().card()->name(), "mifare_s70") << "a failed load leaves the field as it was";
    std::filesystem::remove_all(dir);
}
