// The reader's card side, driven through the firmware model: activation
// states, identification replies, removal, authentication with given and
// downloaded keys, the MIFARE Classic access conditions for data blocks and
// trailers, value blocks and the transfer buffer.
#include <gtest/gtest.h>

#include "byte_strings.h"
#include "card.h"
#include "firmware.h"

using vrsim::Block;
using vrsim::Bytes;
using vrtest::cat;
using vrsim::Card;
using vrsim::CardState;
using vrsim::Firmware;
using vrsim::Key;
using vrsim::KeyType;
using vrsim::Reply;
using vrsim::Request;

namespace {

constexpr uint8_t kOk = 0x00;
constexpr uint8_t kNoCard = 0x0D;
constexpr uint8_t kBadArgument = 0x0C;
constexpr uint8_t kRequestFailed = 0x14;
constexpr uint8_t kAuthFailed = 0x16;
constexpr uint8_t kReadFailed = 0x17;
constexpr uint8_t kWriteFailed = 0x18;
constexpr uint8_t kNoStoredKey = 0x23;
constexpr uint8_t kLengthError = 0x8E;

constexpr uint8_t kA = 0x60;
constexpr uint8_t kB = 0x61;
const Bytes kUid{0x11, 0x22, 0x33, 0x44};
const Key kFF = vrsim::classic::kTransportKey;
const Key kKeyA{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
const Key kKeyB{0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5};

Bytes value_bytes(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    return {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
            static_cast<uint8_t>(u >> 24)};
}

// A first-family reader with one card in its field.
struct Reader {
    Firmware fw;

    Reply run(uint16_t cmd, Bytes data = {}) { return fw.handle(Request{cmd, std::move(data)}); }
    uint8_t status(uint16_t cmd, Bytes data = {}) { return run(cmd, std::move(data)).status; }
    std::shared_ptr<Card> place(std::shared_ptr<Card> card) { return fw.field().place(std::move(card)); }

    uint8_t auth(uint8_t type, uint8_t block, const Key& key) {
        return status(0x0207, cat(Bytes{type, block}, key));
    }
    Reply read(uint8_t block) { return run(0x0208, {block}); }
    uint8_t write(uint8_t block, const Block& data) { return status(0x0209, cat(Bytes{block}, data)); }
    uint8_t write_value(uint8_t block, int32_t v) { return status(0x020A, cat(Bytes{block}, value_bytes(v))); }
    Reply read_value(uint8_t block) { return run(0x020B, {block}); }
    uint8_t decrement(uint8_t block, int32_t v) { return status(0x020C, cat(Bytes{block}, value_bytes(v))); }
    uint8_t increment(uint8_t block, int32_t v) { return status(0x020D, cat(Bytes{block}, value_bytes(v))); }
    uint8_t restore(uint8_t block) { return status(0x020E, {block}); }
    uint8_t transfer(uint8_t block) { return status(0x020F, {block}); }
};

Block filled(uint8_t v) {
    Block b;
    b.fill(v);
    return b;
}

}  // namespace

// ------------------------------------------------------------ activation

// REQA wakes idle cards only, WUPA idle and halted ones; anticollision
// gives the UID of a ready card, select makes it active, halt halts it.
TEST(SimCards, ActivationFollowsTheCardStates) {
    Reader r;
    auto card = r.place(Card::classic_4k(kUid));
    EXPECT_EQ(card->state(), CardState::idle);

    EXPECT_EQ(r.status(0x0202), kNoCard) << "an idle card takes no anticollision";
    EXPECT_EQ(r.run(0x0201, {0x26}).data, (Bytes{0x02, 0x00}));
    EXPECT_EQ(card->state(), CardState::ready);
    EXPECT_EQ(r.run(0x0202).data, kUid);
    EXPECT_EQ(r.status(0x0203, {0x11, 0x22, 0x33, 0x45}), kNoCard) << "another UID";
    EXPECT_EQ(card->state(), CardState::idle);

    ASSERT_EQ(r.status(0x0201, {0x26}), kOk);
    ASSERT_EQ(r.status(0x0203, kUid), kOk);
    EXPECT_EQ(card->state(), CardState::active);
    EXPECT_EQ(r.status(0x0204), kOk);
    EXPECT_EQ(card->state(), CardState::halted);
    EXPECT_EQ(r.status(0x0204), kNoCard) << "nothing active to halt";

    EXPECT_EQ(r.status(0x0201, {0x26}), kRequestFailed) << "a halted card ignores REQA";
    EXPECT_EQ(r.run(0x0201, {0x52}).data, (Bytes{0x02, 0x00}));
    ASSERT_EQ(r.status(0x0203, kUid), kOk);

    // A request is not valid for an active card: it drops back without
    // answering, to halt since it was woken from there, and the next
    // wake-up finds it.
    EXPECT_EQ(r.status(0x0201, {0x52}), kRequestFailed);
    EXPECT_EQ(card->state(), CardState::halted);
    EXPECT_EQ(r.status(0x0201, {0x52}), kOk);
    // A card selected from idle drops back to idle.
    ASSERT_EQ(r.status(0x0203, kUid), kOk);
    ASSERT_EQ(r.status(0x0204), kOk);
    ASSERT_EQ(r.status(0x010C, {0x00}), kOk);  // field off and on: power-on reset
    ASSERT_EQ(r.status(0x010C, {0x01}), kOk);
    ASSERT_EQ(r.status(0x0201, {0x26}), kOk);
    ASSERT_EQ(r.status(0x0203, kUid), kOk);
    EXPECT_EQ(r.status(0x0202), kNoCard);
    EXPECT_EQ(card->state(), CardState::idle);
}

TEST(SimCards, CardCommandsCheckTheirArguments) {
    Reader r;
    r.place(Card::classic_1k(kUid));
    struct Case {
        const char* name;
        uint16_t cmd;
        Bytes data;
        uint8_t status;
    };
    const Case cases[] = {
        {"request kind 0x27", 0x0201, {0x27}, kBadArgument},
        {"request without kind", 0x0201, {}, kLengthError},
        {"one-shot kind 0x00", 0x0212, {0x00}, kBadArgument},
        {"search kind 0x53", 0x0213, {0x53}, kBadArgument},
        {"select with 3 bytes", 0x0203, {1, 2, 3}, kLengthError},
        {"anticollision with data", 0x0202, {0x93}, kLengthError},
        {"auth key type 0x62", 0x0207, cat(Bytes{0x62, 4}, kFF), kBadArgument},
        {"auth short key", 0x0207, {0x60, 4, 1, 2, 3, 4, 5}, kLengthError},
        {"stored-key auth key type 0x00", 0x0606, {0x00, 4}, kBadArgument},
        {"read without block", 0x0208, {}, kLengthError},
        {"write 15 bytes", 0x0209, Bytes(16, 0), kLengthError},
        {"value write to a trailer", 0x020A, {7, 1, 0, 0, 0}, kBadArgument},
        {"increment without value", 0x020D, {4}, kLengthError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(r.status(c.cmd, c.data), c.status);
    }
}

// 0x0213 answers count, ATQA (low byte first), UID, SAK; 0x0212 answers
// SAK, UID length, UID. Both wake a halted card.
TEST(SimCards, IdentificationReplies) {
    const Bytes uid7{0x04, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56};
    const Bytes uid10{0x04, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    struct Case {
        const char* name;
        std::shared_ptr<Card> card;
        Bytes search;    // 0x0213
        Bytes one_shot;  // 0x0212
    };
    const Case cases[] = {
        {"classic 1K", Card::classic_1k(kUid), cat(Bytes{7, 0x04, 0x00}, cat(kUid, Bytes{0x08})),
         cat(Bytes{0x08, 4}, kUid)},
        {"classic 4K", Card::classic_4k(kUid), cat(Bytes{7, 0x02, 0x00}, cat(kUid, Bytes{0x18})),
         cat(Bytes{0x18, 4}, kUid)},
        {"classic mini", Card::classic_mini(kUid), cat(Bytes{7, 0x04, 0x00}, cat(kUid, Bytes{0x09})),
         cat(Bytes{0x09, 4}, kUid)},
        {"ultralight", Card::ultralight(uid7), cat(Bytes{10, 0x44, 0x00}, cat(uid7, Bytes{0x00})),
         cat(Bytes{0x00, 7}, uid7)},
        {"ultralight C", Card::ultralight_c(uid7), cat(Bytes{10, 0x44, 0x00}, cat(uid7, Bytes{0x00})),
         cat(Bytes{0x00, 7}, uid7)},
        {"plus SL3", Card::mifare_plus(kUid), cat(Bytes{7, 0x04, 0x00}, cat(kUid, Bytes{0x20})),
         cat(Bytes{0x20, 4}, kUid)},
        {"plus SL2 7-byte", Card::mifare_plus(uid7, 0x11),
         cat(Bytes{10, 0x44, 0x00}, cat(uid7, Bytes{0x11})), cat(Bytes{0x11, 7}, uid7)},
        {"desfire", Card::desfire(uid7), cat(Bytes{10, 0x44, 0x03}, cat(uid7, Bytes{0x20})),
         cat(Bytes{0x20, 7}, uid7)},
        {"generic 10-byte", Card::type_a(0x0048, 0x20, uid10),
         cat(Bytes{13, 0x48, 0x00}, cat(uid10, Bytes{0x20})), cat(Bytes{0x20, 10}, uid10)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.card);
        Reader r;
        r.place(c.card);
        const Reply search = r.run(0x0213, {0x52});
        EXPECT_EQ(search.status, kOk);
        EXPECT_EQ(search.data, c.search);
        EXPECT_EQ(c.card->state(), CardState::active);
        ASSERT_EQ(r.status(0x0204), kOk);
        const Reply one = r.run(0x0212, {0x52});
        EXPECT_EQ(one.status, kOk);
        EXPECT_EQ(one.data, c.one_shot);
        // A double-size UID goes through anticollision as 88 and its first
        // three bytes.
        ASSERT_EQ(r.status(0x0204), kOk);
        ASSERT_EQ(r.status(0x0201, {0x52}), kOk);
        const Bytes level1 = r.run(0x0202).data;
        const Bytes& uid = c.card->uid();
        const Bytes expected = uid.size() == 4 ? uid : Bytes{0x88, uid[0], uid[1], uid[2]};
        EXPECT_EQ(level1, expected);
        EXPECT_EQ(r.status(0x0203, level1), kOk);
    }
}

// Without a reachable card every command reports it; the card comes back
// idle when the field returns.
TEST(SimCards, NoCardWhenRemovedOrOutOfReach) {
    Reader r;
    struct Probe {
        uint16_t cmd;
        Bytes data;
        uint8_t status;
    };
    const Probe probes[] = {
        {0x0201, {0x52}, kRequestFailed}, {0x0202, {}, kNoCard},     {0x0203, kUid, kNoCard},
        {0x0204, {}, kNoCard},            {0x0212, {0x52}, kNoCard}, {0x0213, {0x52}, kNoCard},
        {0x0207, cat(Bytes{kA, 4}, kFF), kNoCard}, {0x0208, {4}, kReadFailed},
        {0x0209, cat(Bytes{4}, Bytes(16, 0)), kWriteFailed}, {0x020F, {4}, kWriteFailed},
    };
    const auto check_all = [&](const char* situation) {
        for (const auto& p : probes) {
            SCOPED_TRACE(std::string(situation) + ", command " + std::to_string(p.cmd));
            EXPECT_EQ(r.status(p.cmd, p.data), p.status);
        }
    };
    check_all("empty field");

    auto card = r.place(Card::classic_1k(kUid));
    ASSERT_EQ(r.auth(kA, 4, kFF), kOk);
    EXPECT_EQ(card->state(), CardState::authenticated);
    EXPECT_EQ(r.fw.field().remove(), card);
    EXPECT_EQ(card->state(), CardState::idle);
    check_all("card removed");

    r.place(card);
    ASSERT_EQ(r.auth(kA, 4, kFF), kOk);
    ASSERT_EQ(r.status(0x010C, {0x00}), kOk);  // antenna off
    EXPECT_EQ(card->state(), CardState::idle);
    check_all("antenna off");
    ASSERT_EQ(r.status(0x010C, {0x01}), kOk);
    ASSERT_EQ(r.status(0x0108, {'B'}), kOk);
    check_all("type B selected");
    ASSERT_EQ(r.status(0x0108, {'A'}), kOk);
    EXPECT_EQ(r.run(0x0212, {0x52}).data, cat(Bytes{0x08, 4}, kUid));
}

// Placing a card takes the previous one away; a card keeps its memory
// out of the field.
TEST(SimCards, CardsKeepTheirMemoryAcrossPlacements) {
    Reader r;
    auto first = r.place(Card::classic_1k(kUid));
    ASSERT_EQ(r.auth(kA, 4, kFF), kOk);
    ASSERT_EQ(r.write(4, filled(0x5A)), kOk);
    auto second = r.place(Card::classic_1k({0xA1, 0xA2, 0xA3, 0xA4}));
    EXPECT_EQ(first->state(), CardState::idle);
    EXPECT_EQ(r.run(0x0212, {0x52}).data, (Bytes{0x08, 4, 0xA1, 0xA2, 0xA3, 0xA4}));
    r.place(first);
    ASSERT_EQ(r.auth(kA, 4, kFF), kOk);
    EXPECT_EQ(r.read(4).data, Bytes(16, 0x5A));
}

TEST(SimCards, RandomUidsHaveTheKindsSize) {
    EXPECT_EQ(Card::classic_1k()->uid().size(), 4u);
    EXPECT_EQ(Card::ultralight()->uid().size(), 7u);
    EXPECT_EQ(Card::desfire()->uid()[0], 0x04);
    EXPECT_NE(Card::classic_1k()->uid(), Card::classic_1k()->uid());
    std::string why;
    EXPECT_FALSE(Card::classic_1k({1, 2, 3}, &why));
    EXPECT_NE(why.find("4"), std::string::npos);
    EXPECT_FALSE(Card::make("mifare_s99", {}, {}, {}, &why));
    EXPECT_FALSE(Card::make("iso14443a", {}, {}, {}, &why)) << "needs ATQA and SAK";
    const auto odd = Card::make("mifare_s50", kUid, 0x0104, 0x88, &why);
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->atqa(), 0x0104);
    EXPECT_EQ(odd->sak(), 0x88);
    EXPECT_EQ(odd->block(0)[5], 0x88);
}

// Manufacturer block and transport configuration of a new card.
TEST(SimCards, NewClassicCardLayout) {
    auto c1k = Card::classic_1k(kUid);
    EXPECT_EQ(c1k->block_count(), 64);
    EXPECT_EQ(c1k->block(0), (Block{0x11, 0x22, 0x33, 0x44, 0x44, 0x08, 0x04, 0x00, 0x62, 0x63, 0x64, 0x65,
                                    0x66, 0x67, 0x68, 0x69}));
    const Block transport{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0x80, 0x69,
                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(c1k->block(63), transport);
    EXPECT_EQ(c1k->block(62), Block{});
    auto c4k = Card::classic_4k(kUid);
    EXPECT_EQ(c4k->block_count(), 256);
    EXPECT_EQ(c4k->block(127), transport);
    EXPECT_EQ(c4k->block(143), transport);
    EXPECT_EQ(c4k->block(255), transport);
    EXPECT_EQ(c4k->block(131), Block{}) << "no trailer inside a 16-block sector";
    EXPECT_EQ(c4k->access(39), (vrsim::AccessCodes{0, 0, 0, 4}));
    EXPECT_EQ(Card::classic_mini(kUid)->block_count(), 20);
    EXPECT_EQ(Card::ultralight()->block_count(), 0);
}

// ------------------------------------------------------------ authentication

TEST(SimCards, AuthenticationOpensOneSector) {
    Reader r;
    auto card = r.place(Card::classic_1k(kUid));
    card->set_keys(1, kKeyA, kKeyB);
    card->set_access(1, {0, 0, 0, 3});  // key B not readable: usable

    EXPECT_EQ(r.read(4).status, kReadFailed) << "not authenticated";
    ASSERT_EQ(r.auth(kA, 4, kKeyA), kOk);
    EXPECT_EQ(card->authentication(), (std::pair{1, KeyType::a}));
    EXPECT_EQ(r.read(6).status, kOk);
    EXPECT_EQ(r.read(8).status, kReadFailed) << "sector 2 is not open";
    EXPECT_EQ(card->state(), CardState::idle) << "a refused command ends the session";
    EXPECT_EQ(r.read(5).status, kReadFailed);

    ASSERT_EQ(r.auth(kB, 7, kKeyB), kOk) << "the reader reselects the card by itself";
    EXPECT_EQ(card->authentication(), (std::pair{1, KeyType::b}));
    EXPECT_EQ(r.auth(kA, 4, kFF), kAuthFailed);
    EXPECT_EQ(card->state(), CardState::idle);
    EXPECT_EQ(r.read(4).status, kReadFailed);
    EXPECT_EQ(r.auth(kA, 64, kFF), kAuthFailed) << "no block 64 on a 1K card";

    // After a halt the reader wakes the card again for the next
    // authentication.
    ASSERT_EQ(r.auth(kA, 0, kFF), kOk);
    ASSERT_EQ(r.status(0x0204), kOk);
    EXPECT_EQ(card->state(), CardState::halted);
    ASSERT_EQ(r.auth(kA, 0, kFF), kOk);
    const Block b0 = card->block(0);
    EXPECT_EQ(r.read(0).data, Bytes(b0.begin(), b0.end()));
}

// 0x0606 takes the key downloaded for the block's sector, else the one in
// slot 0; without either it reports 0x23.
TEST(SimCards, StoredKeysBySectorSlot) {
    Reader r;
    auto card = r.place(Card::classic_4k(kUid));
    card->set_keys(5, kKeyA, kKeyB);
    card->set_keys(33, kKeyB, kKeyA);
    card->set_access(5, {0, 0, 0, 3});

    EXPECT_EQ(r.status(0x0606, {kA, 20}), kNoStoredKey);
    ASSERT_EQ(r.status(0x0605, cat(Bytes{kA, 0}, kFF)), kOk);
    EXPECT_EQ(r.status(0x0606, {kA, 4}), kOk) << "slot 0 serves every sector";
    EXPECT_EQ(r.status(0x0606, {kA, 20}), kAuthFailed) << "sector 5 has another key A";
    EXPECT_EQ(r.status(0x0606, {kB, 20}), kNoStoredKey) << "no key B anywhere";

    ASSERT_EQ(r.status(0x0605, cat(Bytes{kA, 5}, kKeyA)), kOk);
    ASSERT_EQ(r.status(0x0605, cat(Bytes{kB, 5}, kKeyB)), kOk);
    EXPECT_EQ(r.status(0x0606, {kA, 23}), kOk);
    EXPECT_EQ(r.status(0x0606, {kB, 21}), kOk);
    EXPECT_EQ(card->authentication(), (std::pair{5, KeyType::b}));
    EXPECT_EQ(r.status(0x0606, {kA, 24}), kOk) << "sector 6 falls back to slot 0";

    // Sector 33 of a 4K card (blocks 144..159) uses slot 33.
    ASSERT_EQ(r.status(0x0605, cat(Bytes{kA, 33}, kKeyB)), kOk);
    EXPECT_EQ(r.status(0x0606, {kA, 150}), kOk);
    EXPECT_EQ(card->authentication(), (std::pair{33, KeyType::a}));
    // A key shorter than six bytes is no key.
    ASSERT_EQ(r.status(0x0605, {kB, 0, 1, 2, 3}), kOk);
    EXPECT_EQ(r.status(0x0606, {kB, 4}), kNoStoredKey);
}

// ------------------------------------------------------------ access conditions

// Every data-block access code, with key A and with key B (key B usable:
// trailer code 110): read, write, increment, decrement, restore and
// transfer allowed as the MIFARE Classic access table says.
TEST(SimCards, DataBlockAccessConditions) {
    struct Row {
        uint8_t code;  // C1 | C2 << 1 | C3 << 2
        const char* read;
        const char* write;
        const char* increment;
        const char* dec_transfer_restore;
    };
    // C1 C2 C3: 000, 100, 010, 110, 001, 101, 011, 111
    const Row rows[] = {
        {0, "AB", "AB", "AB", "AB"}, {1, "AB", "B", "", ""}, {2, "AB", "", "", ""},
        {3, "AB", "B", "B", "AB"},   {4, "AB", "", "", "AB"}, {5, "B", "", "", ""},
        {6, "B", "B", "", ""},       {7, "", "", "", ""},
    };
    for (const Row& row : rows) {
        for (const uint8_t key : {kA, kB}) {
            SCOPED_TRACE("code " + std::to_string(row.code) + (key == kA ? " key A" : " key B"));
            const char letter = key == kA ? 'A' : 'B';
            const auto may = [&](const char* who) { return std::string(who).find(letter) != std::string::npos; };
            const auto expect = [&](bool allowed, uint8_t refusal) { return allowed ? kOk : refusal; };

            Reader r;
            auto card = r.place(Card::classic_1k(kUid));
            card->set_keys(1, kKeyA, kKeyB);
            // Block 4 under test; block 5 (code 000) supplies a transfer
            // buffer for the transfer case.
            card->set_access(1, {row.code, 0, 0, 3});
            card->set_block(4, vrsim::classic::value_block(100, 4));
            card->set_block(5, vrsim::classic::value_block(7, 5));
            const Key& k = key == kA ? kKeyA : kKeyB;

            ASSERT_EQ(r.auth(key, 4, k), kOk);
            EXPECT_EQ(r.read(4).status, expect(may(row.read), kReadFailed)) << "read";
            ASSERT_EQ(r.auth(key, 4, k), kOk);
            EXPECT_EQ(r.write(4, vrsim::classic::value_block(100, 4)), expect(may(row.write), kWriteFailed))
                << "write";
            ASSERT_EQ(r.auth(key, 4, k), kOk);
            EXPECT_EQ(r.increment(4, 1), expect(may(row.increment), kWriteFailed)) << "increment";
            ASSERT_EQ(r.auth(key, 4, k), kOk);
            EXPECT_EQ(r.decrement(4, 1), expect(may(row.dec_transfer_restore), kWriteFailed)) << "decrement";
            ASSERT_EQ(r.auth(key, 4, k), kOk);
            EXPECT_EQ(r.restore(4), expect(may(row.dec_transfer_restore), kWriteFailed)) << "restore";
            ASSERT_EQ(r.auth(key, 4, k), kOk);
            ASSERT_EQ(r.restore(5), kOk);
            EXPECT_EQ(r.transfer(4), expect(may(row.dec_transfer_restore), kWriteFailed)) << "transfer";
            EXPECT_EQ(card->block(4), vrsim::classic::value_block(may(row.dec_transfer_restore) ? 7 : 100,
                                                                  may(row.dec_transfer_restore) ? 5 : 4));
        }
    }
}

// Every trailer access code with key A and key B: what a read shows (key A
// never; access bytes and key B only where readable), which parts a write
// changes, and that a readable key B opens nothing.
TEST(SimCards, TrailerAccessConditions) {
    struct Row {
        uint8_t code;
        const char* write_key_a;
        const char* read_access;
        const char* write_access;
        const char* read_key_b;
        const char* write_key_b;
    };
    const Row rows[] = {
        {0, "A", "A", "", "A", "A"},  {1, "B", "AB", "", "", "B"},  {2, "", "A", "", "A", ""},
        {3, "", "AB", "", "", ""},    {4, "A", "A", "A", "A", "A"}, {5, "", "AB", "B", "", ""},
        {6, "B", "AB", "B", "", "B"}, {7, "", "AB", "", "", ""},
    };
    const Key new_a{0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    const Key new_b{0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
    for (const Row& row : rows) {
        const bool key_b_is_data = std::string(row.read_key_b) == "A";
        for (const uint8_t key : {kA, kB}) {
            SCOPED_TRACE("trailer code " + std::to_string(row.code) + (key == kA ? " key A" : " key B"));
            const char letter = key == kA ? 'A' : 'B';
            const auto may = [&](const char* who) { return std::string(who).find(letter) != std::string::npos; };

            Reader r;
            auto card = r.place(Card::classic_1k(kUid));
            card->set_keys(1, kKeyA, kKeyB);
            card->set_access(1, {0, 0, 0, row.code});
            Block stored = card->block(7);
            stored[9] = 0x69;
            card->set_block(7, stored);
            const Key& k = key == kA ? kKeyA : kKeyB;

            ASSERT_EQ(r.auth(key, 7, k), kOk) << "a key B that is data still authenticates";
            if (key == kB && key_b_is_data) {
                EXPECT_EQ(r.read(7).status, kReadFailed);
                ASSERT_EQ(r.auth(key, 7, k), kOk);
                EXPECT_EQ(r.read(4).status, kReadFailed) << "every access is refused";
                continue;
            }
            const Reply shown = r.read(7);
            ASSERT_EQ(shown.status, kOk);
            Bytes expected(16, 0x00);
            if (may(row.read_access)) std::copy_n(stored.begin() + 6, 4, expected.begin() + 6);
            if (may(row.read_key_b)) std::copy_n(stored.begin() + 10, 6, expected.begin() + 10);
            EXPECT_EQ(shown.data, expected);

            // Write new keys and a new byte 9 with the same access codes.
            Block next = stored;
            std::copy(new_a.begin(), new_a.end(), next.begin());
            std::copy(new_b.begin(), new_b.end(), next.begin() + 10);
            next[9] = 0x42;
            const bool any = may(row.write_key_a) || may(row.write_access) || may(row.write_key_b);
            ASSERT_EQ(r.auth(key, 7, k), kOk);
            EXPECT_EQ(r.write(7, next), any ? kOk : kWriteFailed);
            const Block after = card->block(7);
            EXPECT_EQ(card->key_a(1), may(row.write_key_a) ? new_a : kKeyA);
            EXPECT_EQ(card->key_b(1), may(row.write_key_b) ? new_b : kKeyB);
            EXPECT_EQ(after[9], may(row.write_access) ? 0x42 : 0x69);
            EXPECT_EQ(card->access(1), (vrsim::AccessCodes{0, 0, 0, row.code}));
        }
    }
}

// Access bytes whose inverted copies disagree block the sector for good;
// block 0 is read-only whatever the access bits say.
TEST(SimCards, MalformedAccessBitsBlockTheSector) {
    Reader r;
    auto card = r.place(Card::classic_1k(kUid));
    ASSERT_EQ(r.auth(kA, 7, kFF), kOk);
    Block t = card->block(7);
    t[6] = 0x00;  // every inverted bit now equals its plain copy's
    ASSERT_EQ(r.write(7, t), kOk) << "the transport trailer lets key A write the access bits";
    EXPECT_FALSE(card->access(1).has_value());
    ASSERT_EQ(r.auth(kA, 4, kFF), kOk);
    EXPECT_EQ(r.read(4).status, kReadFailed);
    ASSERT_EQ(r.auth(kA, 7, kFF), kOk);
    EXPECT_EQ(r.write(7, card->block(3)), kWriteFailed) << "not even the trailer can mend it";

    ASSERT_EQ(r.auth(kA, 0, kFF), kOk);
    EXPECT_EQ(r.write(0, filled(0x00)), kWriteFailed);
    EXPECT_EQ(card->block(0)[0], 0x11);
}

// The 4K card's large sectors: one access code governs a group of five
// blocks, the trailer is the sector's 16th block.
TEST(SimCards, LargeSectorsUseBlockGroups) {
    Reader r;
    auto card = r.place(Card::classic_4k(kUid));
    card->set_access(32, {2, 7, 0, 4});  // blocks 128..132 read-only, 133..137 closed, 138..142 free
    ASSERT_EQ(r.auth(kA, 143, kFF), kOk);
    EXPECT_EQ(r.read(132).status, kOk);
    EXPECT_EQ(r.write(132, filled(1)), kWriteFailed);
    ASSERT_EQ(r.auth(kA, 128, kFF), kOk);
    EXPECT_EQ(r.read(133).status, kReadFailed);
    ASSERT_EQ(r.auth(kA, 128, kFF), kOk);
    EXPECT_EQ(r.write(142, filled(2)), kOk);
    EXPECT_EQ(r.read(143).data, (Bytes{0, 0, 0, 0, 0, 0, card->block(143)[6], card->block(143)[7],
                                      card->block(143)[8], 0x69, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(r.read(144).status, kReadFailed) << "sector 33 is not open";
}

// ------------------------------------------------------------ value blocks

TEST(SimCards, ValueBlocksAndTheTransferBuffer) {
    Reader r;
    auto card = r.place(Card::classic_1k(kUid));
    ASSERT_EQ(r.auth(kA, 8, kFF), kOk);
    ASSERT_EQ(r.write_value(8, 1000), kOk);
    EXPECT_EQ(card->block(8), (Block{0xE8, 0x03, 0, 0, 0x17, 0xFC, 0xFF, 0xFF, 0xE8, 0x03, 0, 0, 8, 0xF7, 8, 0xF7}));
    EXPECT_EQ(r.read_value(8).data, value_bytes(1000));

    // Increment and decrement only fill the transfer buffer.
    ASSERT_EQ(r.increment(8, 250), kOk);
    EXPECT_EQ(r.read_value(8).data, value_bytes(1000));
    ASSERT_EQ(r.increment(8, 250), kOk);
    ASSERT_EQ(r.transfer(8), kOk);
    EXPECT_EQ(r.read_value(8).data, value_bytes(1250));
    ASSERT_EQ(r.decrement(8, 2000), kOk);
    ASSERT_EQ(r.transfer(9), kOk);
    EXPECT_EQ(r.read_value(9).data, value_bytes(-750));
    EXPECT_EQ(card->block(9)[12], 8) << "the value keeps its source block's address byte";
    ASSERT_EQ(r.restore(8), kOk);
    ASSERT_EQ(r.transfer(10), kOk);
    EXPECT_EQ(r.read_value(10).data, value_bytes(1250));
    EXPECT_EQ(r.transfer(9), kOk) << "the buffer stays loaded after a transfer";
    EXPECT_EQ(r.read_value(9).data, value_bytes(1250));

    // The transfer buffer does not survive a new authentication, and the
    // trailer and other sectors are no targets.
    ASSERT_EQ(r.auth(kA, 8, kFF), kOk);
    EXPECT_EQ(r.transfer(8), kWriteFailed);
    ASSERT_EQ(r.auth(kA, 8, kFF), kOk);
    ASSERT_EQ(r.restore(8), kOk);
    EXPECT_EQ(r.transfer(11), kWriteFailed);
    ASSERT_EQ(r.auth(kA, 8, kFF), kOk);
    ASSERT_EQ(r.restore(8), kOk);
    EXPECT_EQ(r.transfer(12), kWriteFailed);
    // The adder wraps like the card's 32-bit register.
    ASSERT_EQ(r.auth(kA, 8, kFF), kOk);
    ASSERT_EQ(r.write_value(8, INT32_MAX), kOk);
    ASSERT_EQ(r.increment(8, 1), kOk);
    ASSERT_EQ(r.transfer(8), kOk);
    EXPECT_EQ(r.read_value(8).data, value_bytes(INT32_MIN));
}

// Value commands check the value-block format: every copy of the value
// and of the address must agree.
TEST(SimCards, ValueCommandsNeedTheValueFormat) {
    const Block good = vrsim::classic::value_block(5, 4);
    struct Case {
        const char* name;
        int byte;  // byte spoiled, -1 none
    };
    const Case cases[] = {{"intact", -1}, {"value copy 2", 9}, {"inverted value", 5},
                          {"address copy", 14}, {"inverted address", 15}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reader r;
        auto card = r.place(Card::classic_1k(kUid));
        Block b = good;
        if (c.byte >= 0) b[static_cast<size_t>(c.byte)] ^= 0x01;
        card->set_block(4, b);
        const bool intact = c.byte < 0;
        ASSERT_EQ(r.auth(kA, 4, kFF), kOk);
        EXPECT_EQ(r.read_value(4).status, intact ? kOk : kReadFailed);
        EXPECT_EQ(r.read(4).status, kOk) << "a value read that fails the format leaves the session open";
        EXPECT_EQ(r.increment(4, 1), intact ? kOk : kWriteFailed);
        ASSERT_EQ(r.auth(kA, 4, kFF), kOk);
        EXPECT_EQ(r.decrement(4, 1), intact ? kOk : kWriteFailed);
        ASSERT_EQ(r.auth(kA, 4, kFF), kOk);
        EXPECT_EQ(r.restore(4), intact ? kOk : kWriteFailed);
    }
}
