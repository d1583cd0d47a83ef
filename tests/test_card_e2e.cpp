// The card framework and the MIFARE Classic drivers end to end against the
// simulated reader and the virtual cards in its field. Where a change must
// have reached the card, the simulator's card enforces it afterwards.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "card.h"
#include "field.h"
#include "mifare.h"
#include "pcd.h"
#include "sim_link.h"

namespace {

using vrsim::Card;
using vrtest::Bytes;

const unsigned char kTransportKey[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const Bytes kUid{0xDE, 0xAD, 0xBE, 0xEF};

vrsim::Block block_of(std::initializer_list<uint8_t> head) {
    vrsim::Block b{};
    std::copy(head.begin(), head.end(), b.begin());
    return b;
}

class CardE2e : public vrtest::SimLink {
protected:
    void SetUp() override { open_link(); }

    // Opens a card record of the given type over the open link.
    picc *open(const char *type, uint8_t mode = PICC_SEARCH_PLAIN) {
        return picc_open(type, "uart", 0, mode, sim->path().c_str());
    }
    std::vector<vrsim::Request> requests_since_clear() const { return sim->requests(); }
    // The command codes sent since the last clear, with their first byte.
    std::vector<std::pair<uint16_t, int>> traffic() const {
        std::vector<std::pair<uint16_t, int>> out;
        for (const auto &r : sim->requests()) out.emplace_back(r.cmd, r.data.empty() ? -1 : r.data[0] == 0x60 || r.data[0] == 0x61 ? r.data[1] : r.data[0]);
        return out;
    }
    std::shared_ptr<Card> card;
};

TEST_F(CardE2e, OpenByTypeNameReadWrite) {
    card = sim->field().place(Card::classic_1k(kUid));
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr) << errno;
    EXPECT_EQ(picc_status(p), PICC_STATUS_ACTIVE);
    unsigned char uid[10];
    ASSERT_EQ(picc_getuid(p, uid), 4);
    EXPECT_EQ(Bytes(uid, uid + 4), kUid);
    ASSERT_EQ(picc_auth(p, kTransportKey, 0x60, 4), 0);
    const unsigned char data[16] = {'h', 'e', 'l', 'l', 'o', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x42};
    ASSERT_EQ(picc_write(p, data, 5), 0);
    unsigned char back[16] = {};
    ASSERT_EQ(picc_read(p, back, 5), 0);
    EXPECT_EQ(std::memcmp(back, data, 16), 0);
    EXPECT_EQ(card->block(5)[15], 0x42);
    EXPECT_EQ(picc_close(p), 0);
    EXPECT_EQ(piccs_list_len(&tessil.piccs), 0);
}

TEST_F(CardE2e, StoredKeyAuthenticatesWithoutAKey) {
    card = sim->field().place(Card::classic_1k(kUid));
    const vrsim::Key secret{1, 2, 3, 4, 5, 6};
    card->set_keys(2, secret, secret);
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(picc_auth(p, nullptr, 0x60, 8), -57) << "no key stored in the reader yet";
    ASSERT_EQ(pcd_download_passwd(2, 0x60, secret.data(), 6), 0);
    EXPECT_EQ(picc_auth(p, nullptr, 0x60, 8), 0);
    unsigned char out[16];
    EXPECT_EQ(picc_read(p, out, 9), 0);
}

TEST_F(CardE2e, ByteRangeReadAuthenticatesPerSectorAndSkipsTrailers) {
    card = sim->field().place(Card::classic_1k(kUid));
    for (int b : {4, 5, 6, 8, 9}) card->set_block(b, block_of({uint8_t(b), uint8_t(b), 0, 0, 0, 0, 0, 0, uint8_t(0x80 | b)}));
    ASSERT_EQ(pcd_download_passwd(0, 0x60, kTransportKey, 6), 0);
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr);

    sim->clear_log();
    unsigned char out[64];
    ASSERT_EQ(picc_readdata(p, 16, 48, out), 0);
    EXPECT_EQ(traffic(), (std::vector<std::pair<uint16_t, int>>{{0x0606, 7}, {0x0208, 4}, {0x0208, 5}, {0x0208, 6}}));

    sim->clear_log();
    ASSERT_EQ(picc_readdata(p, 56, 16, out), 0);
    EXPECT_EQ(traffic(), (std::vector<std::pair<uint16_t, int>>{{0x0606, 7}, {0x0208, 6}, {0x0606, 11}, {0x0208, 8}}));
    EXPECT_EQ(out[0], 0x86) << "block 6 from position 8";
    EXPECT_EQ(out[8], 8) << "then block 8 from position 0";

    errno = 0;
    EXPECT_EQ(picc_readdata(p, 8, 4, out), -1) << "below the data area";
    EXPECT_EQ(m1s50_readdata_ex(705, 16, out, kTransportKey), -1);
    EXPECT_EQ(errno, -24);
    sim->clear_log();
    ASSERT_EQ(m1s50_readdata_ex(704, 16, out, kTransportKey), 0);
    EXPECT_EQ(traffic(), (std::vector<std::pair<uint16_t, int>>{{0x0207, 63}, {0x0208, 62}}));
}

TEST_F(CardE2e, ByteRangeWriteKeepsBytesOutsideTheRange) {
    card = sim->field().place(Card::classic_1k(kUid));
    for (int b : {4, 5, 6, 8, 9}) {
        vrsim::Block fill;
        fill.fill(static_cast<uint8_t>(0xA0 + b));
        card->set_block(b, fill);
    }
    ASSERT_EQ(pcd_download_passwd(0, 0x60, kTransportKey, 6), 0);
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr);
    // Offsets 40..56 (block 6 from 8, then block 8 up to 8) across the
    // trailer of sector 1.
    unsigned char in[16];
    for (int i = 0; i < 16; ++i) in[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(picc_writedata(p, 56, 16, in), 0);
    const auto b6 = card->block(6), b8 = card->block(8), b7 = card->block(7);
    EXPECT_EQ(b6[7], 0xA6) << "before the range";
    EXPECT_EQ(b6[8], 0);
    EXPECT_EQ(b6[15], 7);
    EXPECT_EQ(b8[0], 8);
    EXPECT_EQ(b8[7], 15);
    EXPECT_EQ(b8[8], 0xA8) << "after the range";
    EXPECT_EQ(b7[6], 0xFF) << "the trailer is untouched";

    sim->clear_log();
    ASSERT_EQ(picc_writedata(p, 16, 3, in), 0);
    EXPECT_EQ(traffic(), (std::vector<std::pair<uint16_t, int>>{{0x0606, 7}, {0x0208, 4}, {0x0209, 4}}));
    EXPECT_EQ(card->block(4)[2], 2);
    EXPECT_EQ(card->block(4)[3], 0xA4);
    // A whole block is written without reading it first.
    sim->clear_log();
    ASSERT_EQ(picc_writedata(p, 32, 16, in), 0);
    EXPECT_EQ(traffic(), (std::vector<std::pair<uint16_t, int>>{{0x0606, 7}, {0x0209, 5}}));
}

TEST_F(CardE2e, KeyChangeIsEnforcedByTheCard) {
    card = sim->field().place(Card::classic_1k(kUid));
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr);
    const unsigned char new_a[12] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(picc_auth(p, kTransportKey, 0x60, 4), 0);
    ASSERT_EQ(picc_chpw(p, new_a, 0x60, 5), 0);
    EXPECT_EQ(card->key_a(1), (vrsim::Key{0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6}));
    EXPECT_EQ(card->key_b(1), (vrsim::Key{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})) << "key B untouched";
    EXPECT_EQ(picc_auth(p, kTransportKey, 0x60, 4), -34) << "the old key A no longer opens the sector";
    EXPECT_EQ(picc_auth(p, new_a, 0x60, 4), 0);

    const unsigned char both[12] = {1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2};
    ASSERT_EQ(picc_chpw(p, both, 0x62, 4), 0);
    EXPECT_EQ(card->key_a(1), (vrsim::Key{1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(card->key_b(1), (vrsim::Key{2, 2, 2, 2, 2, 2}));
    EXPECT_EQ(picc_chpw(p, both, 0x63, 4), -24);
}

TEST_F(CardE2e, KeyAChangeRefusedWhenKeyBIsHidden) {
    card = sim->field().place(Card::classic_1k(kUid));
    // Trailer condition 011: key B cannot be read, keys written with key B.
    card->set_access(1, {0, 0, 0, 3});
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(picc_auth(p, kTransportKey, 0x61, 4), 0);
    const unsigned char new_a[12] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(picc_chpw(p, new_a, 0x60, 4), -24);
    EXPECT_EQ(card->key_b(1), (vrsim::Key{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})) << "key B kept";
}

TEST_F(CardE2e, AccessConditionsAreEnforcedAfterTheChange) {
    card = sim->field().place(Card::classic_1k(kUid));
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(picc_auth(p, kTransportKey, 0x60, 8), 0);
    // Keys unchanged; block 8 read-only (C2 set: 010), blocks 9 and 10 and
    // the trailer as before (transport: 000 and 001).
    unsigned char desc[16];
    std::memset(desc, 0xFF, 12);
    desc[12] = 2;
    desc[13] = desc[14] = desc[15] = 0xFF;
    ASSERT_EQ(picc_chaccess(p, desc, 8), 0);
    EXPECT_EQ(card->access(2), (vrsim::AccessCodes{2, 0, 0, 4}));
    ASSERT_EQ(picc_auth(p, kTransportKey, 0x60, 8), 0);
    unsigned char data[16] = {1};
    EXPECT_EQ(picc_write(p, data, 8), -36) << "the card refuses the write now";
    EXPECT_EQ(picc_status(p), PICC_STATUS_FAILED);
    ASSERT_EQ(picc_auth(p, kTransportKey, 0x60, 8), 0);
    EXPECT_EQ(picc_read(p, data, 8), 0);
    EXPECT_EQ(picc_write(p, data, 9), 0);

    // FF FF FF FF leaves every condition and rewrites only the keys.
    std::memset(desc, 0x11, 6);
    std::memset(desc + 6, 0x22, 6);
    std::memset(desc + 12, 0xFF, 4);
    ASSERT_EQ(picc_chaccess(p, desc, 8), 0);
    EXPECT_EQ(card->access(2), (vrsim::AccessCodes{2, 0, 0, 4}));
    EXPECT_EQ(card->key_a(2), (vrsim::Key{0x11, 0x11, 0x11, 0x11, 0x11, 0x11}));
}

TEST_F(CardE2e, ValueBlocks) {
    card = sim->field().place(Card::classic_1k(kUid));
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(picc_auth(p, kTransportKey, 0x60, 12), 0);
    const unsigned char hundred[4] = {100, 0, 0, 0};
    const unsigned char seven[4] = {7, 0, 0, 0};
    ASSERT_EQ(picc_wrval(p, hundred, 12), 0);
    EXPECT_EQ(card->block(12), vrsim::classic::value_block(100, 12));
    ASSERT_EQ(picc_incval(p, seven, 12), 0);
    ASSERT_EQ(picc_transfer(p, 12), 0);
    ASSERT_EQ(picc_decval(p, hundred, 12), 0);
    ASSERT_EQ(picc_transfer(p, 13), 0) << "the transfer buffer goes to another block";
    unsigned char v[4];
    ASSERT_EQ(picc_rdval(p, v, 12), 0);
    EXPECT_EQ(v[0], 107);
    ASSERT_EQ(picc_rdval(p, v, 13), 0);
    EXPECT_EQ(v[0], 7);
    ASSERT_EQ(picc_load(p, 12), 0);
    ASSERT_EQ(picc_transfer(p, 14), 0);
    EXPECT_EQ(vrsim::classic::parse_value_block(card->block(14))->first, 107);
    // A block not in value format refuses value operations.
    ASSERT_EQ(picc_auth(p, kTransportKey, 0x60, 16), 0);
    EXPECT_EQ(picc_incval(p, seven, 16), -36);
}

TEST_F(CardE2e, FourKGeometryAndLargeSectorTrailers) {
    card = sim->field().place(Card::classic_4k(kUid));
    picc *p = open("mifare_s70");
    ASSERT_NE(p, nullptr) << errno;
    EXPECT_EQ(picc_seccnt(p), 40);
    EXPECT_EQ(picc_blkcnt(p), 256);
    EXPECT_EQ(picc_secblk(p, 31), 4);
    EXPECT_EQ(picc_secblk(p, 32), 16);
    const unsigned char keys[12] = {3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4};
    for (int block : {200, 130}) {
        ASSERT_EQ(picc_auth(p, kTransportKey, 0x60, static_cast<uint8_t>(block)), 0) << block;
        ASSERT_EQ(picc_chpw(p, keys, 0x61, static_cast<uint8_t>(block)), 0) << block;
    }
    const auto t207 = card->block(207), t143 = card->block(143);
    EXPECT_EQ(t207[0], 3);
    EXPECT_EQ(t207[10], 4);
    EXPECT_EQ(t143[0], 3);
    EXPECT_EQ(card->key_a(vrsim::classic::sector_of(200)), (vrsim::Key{3, 3, 3, 3, 3, 3}));
    // Data above block 127 is written with the sector's new key.
    EXPECT_EQ(picc_auth(p, kTransportKey, 0x60, 200), -34);
    ASSERT_EQ(picc_auth(p, keys, 0x60, 200), 0);
    const unsigned char data[16] = {0x25, 0x50};
    ASSERT_EQ(picc_write(p, data, 200), 0);
    EXPECT_EQ(card->block(200)[1], 0x50);
}

TEST_F(CardE2e, FourKRequestRefusesAOneKCard) {
    card = sim->field().place(Card::classic_1k(kUid));
    errno = 0;
    EXPECT_EQ(m1s70_req(), -1);
    EXPECT_EQ(errno, -20);
    EXPECT_EQ(open("mifare_s70"), nullptr);
}

TEST_F(CardE2e, TypeAIdentificationTable) {
    struct Case {
        uint16_t atqa;
        uint8_t sak;
        size_t uid_len;
        const char *name;
    };
    const Case cases[] = {
        {0x0004, 0x08, 4, "mifare_s50"},
        {0x0004, 0x09, 4, "mifare_s20"},
        {0x0002, 0x18, 4, "mifare_s70"},
        {0x0044, 0x00, 7, "mifare_ulc"},
        {0x0004, 0x20, 4, "MIFARE Plus (4 Byte UID or 4 Byte RID)"},
        {0x0042, 0x11, 7, "MIFARE Plus (7 Byte UID)"},
        {0x0344, 0x20, 7, "MIFARE DESFire"},
        {0x0004, 0x88, 4, "mifare_s50"},
        {0x0402, 0x77, 4, "mifare_s70"},
        {0x0048, 0x01, 7, "SmartMX with 7 Byte UID"},
        {0x0008, 0x01, 4, "iso14443A_card"},
    };
    for (const Case &c : cases) {
        Bytes uid(c.uid_len);
        for (size_t i = 0; i < uid.size(); ++i) uid[i] = static_cast<uint8_t>(0x10 + i);
        sim->field().place(Card::type_a(c.atqa, c.sak, uid));
        picc record{};
        ASSERT_EQ(pcd_search_type_A(&record, 0), 0) << c.name;
        EXPECT_STREQ(record.picc_type, c.name);
        EXPECT_EQ(record.uid_len, static_cast<int>(c.uid_len));
        EXPECT_EQ(record.atqa[0], c.atqa & 0xFF);
        EXPECT_EQ(record.atqa[1], c.atqa >> 8);
        EXPECT_EQ(record.sak, c.sak);
        EXPECT_EQ(record.card_status, PICC_STATUS_ACTIVE);
        free(record.picc_type);
    }
}

TEST_F(CardE2e, IdentifiedOpen) {
    card = sim->field().place(Card::classic_1k(kUid));
    picc *p = open("iso14443A_card");
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(picc_type(p), "Mifare S50");
    EXPECT_EQ(picc_status(p), PICC_STATUS_ACTIVE);
    unsigned char uid[10];
    EXPECT_EQ(picc_getuid(p, uid), 4);
    EXPECT_EQ(Bytes(uid, uid + 4), kUid);
    ASSERT_EQ(picc_auth(p, kTransportKey, 0x60, 1), 0);
    unsigned char block0[16];
    ASSERT_EQ(picc_read(p, block0, 0), 0);
    EXPECT_EQ(Bytes(block0, block0 + 4), kUid);
    // A type without a driver is refused after identification.
    sim->field().place(Card::mifare_plus(kUid, 0x20));
    errno = 0;
    EXPECT_EQ(open("iso14443A_card"), nullptr);
    EXPECT_EQ(errno, -20);
}

TEST_F(CardE2e, SameCardOpenedTwiceIsOneRecord) {
    card = sim->field().place(Card::classic_4k(kUid));
    picc *first = open("mifare_s70");
    ASSERT_NE(first, nullptr);
    picc *second = open("mifare_s70");
    EXPECT_EQ(second, first);
    EXPECT_EQ(piccs_list_len(&tessil.piccs), 1);
}

TEST_F(CardE2e, SearchAfterRemoval) {
    card = sim->field().place(Card::classic_4k(kUid));
    picc *p = open("mifare_s70");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(picc_search(p), 0) << "the selected card halts: it is there";
    EXPECT_EQ(card->state(), vrsim::CardState::halted);
    EXPECT_EQ(picc_search(p), 0) << "nothing active now: the halted card wakes";
    sim->field().remove();
    picc_sel(p);
    EXPECT_EQ(picc_search(p), -1);
    EXPECT_EQ(piccs_list_len(&tessil.piccs), 0) << "every record was released";
}

TEST_F(CardE2e, FailedOperationIsFollowedByReselection) {
    card = sim->field().place(Card::classic_4k(kUid));
    picc *p = open("mifare_s70");
    ASSERT_NE(p, nullptr);
    const unsigned char wrong[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(picc_auth(p, wrong, 0x60, 4), -34);
    EXPECT_EQ(picc_status(p), PICC_STATUS_FAILED);
    sim->clear_log();
    EXPECT_EQ(picc_auth(p, kTransportKey, 0x60, 4), 0);
    EXPECT_EQ(traffic(),
              (std::vector<std::pair<uint16_t, int>>{{0x0108, 'A'}, {0x0201, 0x52}, {0x0203, 0xDE}, {0x0207, 4}}));
    EXPECT_EQ(picc_status(p), PICC_STATUS_ACTIVE);
    // With the card gone, re-selection fails.
    EXPECT_EQ(picc_auth(p, wrong, 0x60, 4), -34);
    sim->field().remove();
    EXPECT_EQ(picc_auth(p, kTransportKey, 0x60, 4), -37);
}

// The reader activates a 1K card inside its own commands: re-selecting one
// after a failure sends nothing, and an authentication the card still has
// survives a caller's refused argument.
TEST_F(CardE2e, OneKCardIsReachedAgainWithoutSelectionTraffic) {
    card = sim->field().place(Card::classic_1k(kUid));
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr);
    const unsigned char wrong[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(picc_auth(p, wrong, 0x60, 4), -34);
    sim->clear_log();
    EXPECT_EQ(picc_auth(p, kTransportKey, 0x60, 4), 0);
    EXPECT_EQ(traffic(), (std::vector<std::pair<uint16_t, int>>{{0x0207, 4}}));

    unsigned char out[16];
    EXPECT_EQ(picc_auth(p, kTransportKey, 0x62, 4), -39);
    EXPECT_EQ(picc_readdata(p, 16, 721, out), -1);
    EXPECT_EQ(picc_status(p), PICC_STATUS_FAILED);
    sim->clear_log();
    EXPECT_EQ(picc_read(p, out, 5), 0) << "still authenticated for sector 1";
    EXPECT_EQ(traffic(), (std::vector<std::pair<uint16_t, int>>{{0x0208, 5}}));
}

// Searching with a 1K record asks the reader to activate a card, since the
// driver's wake-up and halt reach none: an empty field is reported as one.
TEST_F(CardE2e, OneKSearchAsksTheReaderForTheCard) {
    card = sim->field().place(Card::classic_1k(kUid));
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr);
    sim->clear_log();
    EXPECT_EQ(picc_search(p), 0) << "the active card answers";
    EXPECT_EQ(traffic(), (std::vector<std::pair<uint16_t, int>>{{0x0108, 'A'}, {0x0212, 0x52}}));
    EXPECT_EQ(picc_auth(p, nullptr, 0x60, 4), -57);
    EXPECT_EQ(picc_search(p), 0) << "no active record: the card still answers";

    sim->field().remove();
    unsigned char out[16];
    EXPECT_EQ(picc_read(p, out, 4), -1);
    EXPECT_EQ(picc_search(p), -1);
    EXPECT_EQ(piccs_list_len(&tessil.piccs), 0);
    // Idle cards only, in an empty field: no card, not a halted one.
    errno = 0;
    EXPECT_EQ(open("mifare_s50", PICC_SEARCH_IDLE_ONLY), nullptr);
    EXPECT_EQ(errno, -30);
}

TEST_F(CardE2e, SearchModes) {
    card = sim->field().place(Card::classic_4k(kUid));
    picc *p = open("mifare_s70");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(picc_close(p), 0);
    EXPECT_EQ(card->state(), vrsim::CardState::halted);
    // Opening resets the antenna, which powers the halted card down: it
    // answers as an idle card again, even to a search for idle cards only.
    picc *again = open("mifare_s70", PICC_SEARCH_IDLE_ONLY);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(picc_status(again), PICC_STATUS_ACTIVE);
    sim->field().remove();
    for (uint8_t mode : {PICC_SEARCH_WAKE, PICC_SEARCH_IDLE_ONLY}) {
        errno = 0;
        EXPECT_EQ(open("mifare_s70", mode), nullptr);
        EXPECT_EQ(errno, -30) << int(mode);
    }
}

TEST_F(CardE2e, BadInputIsRefusedWithoutTraffic) {
    card = sim->field().place(Card::classic_1k(kUid));
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr);
    sim->clear_log();
    unsigned char buf[16] = {};
    EXPECT_EQ(picc_read(p, buf, 64), -1) << "beyond a 1K card";
    EXPECT_EQ(picc_write(p, buf, 200), -24);
    EXPECT_EQ(picc_auth(p, kTransportKey, 0x62, 4), -39);
    EXPECT_EQ(picc_readdata(p, 16, 721, buf), -1);
    EXPECT_EQ(picc_write(p, nullptr, 4), -24);
    EXPECT_EQ(picc_readdata(nullptr, 16, 1, buf), -47);
    EXPECT_TRUE(sim->requests().empty());
    errno = 0;
    EXPECT_EQ(open("felica"), nullptr);
    EXPECT_EQ(errno, -20);
    EXPECT_EQ(picc_open(nullptr, "uart", 0, 0), nullptr);
    EXPECT_EQ(errno, -24);
}

TEST_F(CardE2e, EncryptedLinkStillServesTheCard) {
    card = sim->field().place(Card::classic_1k(kUid));
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(picc_ctrl(p, PICC_CTRL_LINK_ENCRYPTION, 1), 0);
    EXPECT_EQ(Bytes(tessil.s_com.enc_key, tessil.s_com.enc_key + 8), sim->firmware().session_key());
    ASSERT_EQ(picc_auth(p, kTransportKey, 0x60, 4), 0);
    const unsigned char data[16] = {0xC0, 0xFF, 0xEE};
    ASSERT_EQ(picc_write(p, data, 4), 0);
    unsigned char back[16];
    ASSERT_EQ(picc_read(p, back, 4), 0);
    EXPECT_EQ(std::memcmp(back, data, 16), 0);
    unsigned char version[16];
    ASSERT_EQ(pcd_get_firmware_version(version), 0);
    const auto reqs = sim->requests();
    ASSERT_FALSE(reqs.empty());
    EXPECT_TRUE(reqs.back().encrypted || reqs.back().data.empty());
    EXPECT_TRUE(reqs[reqs.size() - 2].encrypted) << "the read went enciphered";

    for (const auto &fault : {vrsim::Fault::enc_ragged(), vrsim::Fault::enc_overlong()}) {
        sim->inject(fault);
        errno = 0;
        EXPECT_EQ(picc_read(p, back, 4), -1);
        EXPECT_EQ(errno, -24);
        ASSERT_EQ(picc_auth(p, kTransportKey, 0x60, 4), 0);
    }
    ASSERT_EQ(picc_ctrl(p, PICC_CTRL_LINK_ENCRYPTION, 0), 0);
    ASSERT_EQ(picc_read(p, back, 4), 0);
    EXPECT_FALSE(sim->requests().back().encrypted);
}

}  // namespace
