// The Ultralight and Ultralight C drivers end to end: the library over a
// pseudo-terminal against the simulated reader and its virtual cards. What
// the driver changed is checked on the card itself.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "pcd.h"
#include "sim_link.h"
#include "ultralight.h"
#include "ultralight_card.h"

namespace {

using vrsim::Page;
using vrsim::UltralightCard;
using vrtest::Bytes;

const Bytes kUid{0x04, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6};
const vrsim::UlcKey kKey = vrsim::ultralight::kTransportKey;

class UltralightE2e : public vrtest::SimLink {
protected:
    void SetUp() override { open_link(); }

    std::shared_ptr<UltralightCard> place(bool model_c) {
        auto card = UltralightCard::make(model_c, kUid, 0x0044, 0x00, nullptr);
        sim->field().place(card);
        return card;
    }
    picc *open(const char *type) { return picc_open(type, "uart", 0, PICC_SEARCH_PLAIN, sim->path().c_str()); }
    // The requests since the last clear, as command code and data.
    std::vector<std::pair<uint16_t, Bytes>> traffic() const {
        std::vector<std::pair<uint16_t, Bytes>> out;
        for (const auto &r : sim->requests()) out.emplace_back(r.cmd, r.data);
        return out;
    }
};

TEST_F(UltralightE2e, OpenReadWriteAndGeometry) {
    auto card = place(false);
    picc *p = open("mifare_ul");
    ASSERT_NE(p, nullptr) << errno;
    EXPECT_STREQ(picc_type(p), "Mifare Ultralight");
    unsigned char uid[10];
    ASSERT_EQ(picc_getuid(p, uid), 7);
    EXPECT_EQ(Bytes(uid, uid + 7), kUid);
    EXPECT_EQ(picc_status(p), PICC_STATUS_ACTIVE);

    const unsigned char page[4] = {0xCA, 0xFE, 0xBA, 0xBE};
    ASSERT_EQ(picc_write(p, page, 6), 0);
    EXPECT_EQ(card->page(6), (Page{0xCA, 0xFE, 0xBA, 0xBE}));
    unsigned char back[4] = {};
    ASSERT_EQ(picc_read(p, back, 6), 0);
    EXPECT_EQ(std::memcmp(back, page, 4), 0);
    EXPECT_EQ(picc_blkcnt(p), 16);
    EXPECT_EQ(picc_seccnt(p), 16);
    EXPECT_EQ(picc_blklen(p, 0), 4);
    EXPECT_EQ(picc_secblk(p, 3), 1);
    EXPECT_EQ(picc_auth(p, nullptr, 0, 0), -22) << "an Ultralight has no authentication";
    EXPECT_EQ(picc_ctrl(p, PICC_CTRL_ULC_START_PAGE, 0x30), -22);

    // A second anticollision sends nothing: the record knows the UID.
    sim->clear_log();
    EXPECT_EQ(m0ul_anticoll(p, 0), 0);
    EXPECT_EQ(m0ul_getuid(p), 0);
    EXPECT_TRUE(sim->requests().empty());
    EXPECT_EQ(picc_close(p), 0);
    EXPECT_EQ(card->state(), vrsim::CardState::halted);
}

TEST_F(UltralightE2e, ByteRangesOnBothSizes) {
    auto card = place(false);
    picc *p = open("mifare_ul");
    ASSERT_NE(p, nullptr);
    sim->clear_log();
    unsigned char out[192];
    ASSERT_EQ(picc_readdata(p, 0, 64, out), 0);
    EXPECT_EQ(traffic(), (decltype(traffic()){{0x070C, {0x00, 0x00, 0x00, 0x40}}}));
    EXPECT_EQ(Bytes(out, out + 64), card->memory());

    struct Case {
        uint16_t address, length;
    };
    // Outside the 64 bytes, or a write below byte 16: refused by the driver
    // before any traffic.
    for (const Case c : {Case{60, 8}, Case{65, 0}, Case{0, 65}}) {
        sim->clear_log();
        errno = 0;
        EXPECT_EQ(m0ul_readdata(c.address, c.length, out), -1) << c.address;
        EXPECT_EQ(errno, -24);
        EXPECT_EQ(m0ul_readdata_enc(c.address, c.length, out), -1) << c.address;
        EXPECT_TRUE(sim->requests().empty());
    }
    const unsigned char in[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (const Case c : {Case{12, 4}, Case{62, 4}}) {
        errno = 0;
        EXPECT_EQ(m0ul_writedata(c.address, c.length, in), -1) << c.address;
        EXPECT_EQ(errno, -24);
    }
    EXPECT_EQ(m0ulc_writedata(12, 4, in), -1) << "the C's first 16 bytes too";
    EXPECT_EQ(m0ulc_writedata_enc(189, 4, in), -1);
    EXPECT_TRUE(sim->requests().empty());
    // Through the dispatcher: the write family returns the code.
    EXPECT_EQ(picc_writedata(p, 12, 4, in), -24);
    EXPECT_EQ(picc_readdata(p, 60, 8, out), -1);
    sim->clear_log();
    ASSERT_EQ(m0ul_writedata(16, 4, in), 0);
    EXPECT_EQ(traffic(), (decltype(traffic()){{0x070B, {0x00, 0x10, 0x00, 0x04, 1, 2, 3, 4}}}));
    EXPECT_EQ(card->page(4), (Page{1, 2, 3, 4}));
    ASSERT_EQ(picc_writedata(p, 20, 4, in + 4), 0);
    EXPECT_EQ(card->page(5), (Page{5, 6, 7, 8}));
    picc_close(p);

    // The Ultralight C's memory is 192 bytes: the same range is sent.
    place(true);
    p = open("mifare_ulc");
    ASSERT_NE(p, nullptr);
    sim->clear_log();
    ASSERT_EQ(m0ulc_readdata(60, 8, out), 0);
    EXPECT_EQ(traffic(), (decltype(traffic()){{0x070C, {0x00, 60, 0x00, 8}}}));
    EXPECT_EQ(picc_blkcnt(p), 48);
}

TEST_F(UltralightE2e, LockedPagesStayUnwritten) {
    auto card = place(false);
    card->set_page(9, {9, 9, 9, 9});
    picc *p = open("mifare_ul");
    ASSERT_NE(p, nullptr);
    // Lock page 9 (lock byte 1, bit 1) through the library.
    const unsigned char lock[4] = {0, 0, 0x00, 0x02};
    ASSERT_EQ(picc_write(p, lock, 2), 0);
    const unsigned char data[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    errno = 0;
    EXPECT_EQ(picc_write(p, data, 9), -36);
    EXPECT_EQ(picc_status(p), PICC_STATUS_FAILED);
    // A byte range over the locked page fails there; the page before it
    // was written, the locked one was not.
    unsigned char range[8] = {7, 7, 7, 7, 8, 8, 8, 8};
    EXPECT_EQ(picc_writedata(p, 32, 8, range), -36);
    EXPECT_EQ(card->page(8), (Page{7, 7, 7, 7}));
    EXPECT_EQ(card->page(9), (Page{9, 9, 9, 9}));
    // The card is reselected for the next operation and still answers.
    unsigned char back[4];
    ASSERT_EQ(picc_read(p, back, 9), 0);
    EXPECT_EQ(back[0], 9);
}

TEST_F(UltralightE2e, UltralightCAuthenticationKeyChangeAndProtectedPages) {
    auto card = place(true);
    card->set_page(0x28 - 2, {0x5A, 0x5A, 0x5A, 0x5A});
    picc *p = open("mifare_ulc");
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(picc_type(p), "Mifare Ultralight C");
    // Protect from page 0x20 on (the first protected page, control 17).
    sim->clear_log();
    ASSERT_EQ(picc_ctrl(p, PICC_CTRL_ULC_START_PAGE, 0x20), 0);
    EXPECT_EQ(traffic(), (decltype(traffic()){{0x0707, {0x20}}}));
    EXPECT_EQ(card->page(42)[0], 0x20);

    unsigned char out[4];
    EXPECT_EQ(picc_read(p, out, 0x26), -1) << "protected";
    vrsim::UlcKey wrong = kKey;
    wrong[0] ^= 0x10;
    EXPECT_EQ(picc_auth(p, wrong.data(), 0, 0), -34);
    EXPECT_EQ(picc_read(p, out, 0x26), -1) << "a wrong key leaves the card locked";
    EXPECT_FALSE(card->authenticated());
    ASSERT_EQ(picc_auth(p, kKey.data(), 0, 0), 0);
    ASSERT_EQ(picc_read(p, out, 0x26), 0);
    EXPECT_EQ(out[0], 0x5A);

    // The key change: current key, then the new one.
    vrsim::UlcKey next;
    for (size_t i = 0; i < next.size(); ++i) next[i] = static_cast<uint8_t>(0xF0 - 3 * i);
    unsigned char keys[32];
    std::memcpy(keys, kKey.data(), 16);
    std::memcpy(keys + 16, next.data(), 16);
    sim->clear_log();
    ASSERT_EQ(picc_chpw(p, keys, 0, 0), 0);
    ASSERT_EQ(traffic().size(), 1u);
    EXPECT_EQ(traffic()[0].first, 0x0706);
    EXPECT_EQ(traffic()[0].second, Bytes(keys, keys + 32));
    EXPECT_EQ(card->key(), next);

    // The reader's stored key, asked for with an empty key (no data sent).
    ASSERT_EQ(pcd_set_ulc_key(next.data()), 0);
    sim->clear_log();
    ASSERT_EQ(picc_auth(p, nullptr, 0, 0), 0);
    EXPECT_EQ(traffic(), (decltype(traffic()){{0x0712, {}}}));
}

TEST_F(UltralightE2e, EncipheredRangesRoundTripThroughTheReadersKey) {
    auto card = place(true);
    picc *p = open("mifare_ulc");
    ASSERT_NE(p, nullptr);
    unsigned char key[16];
    for (int i = 0; i < 16; ++i) key[i] = static_cast<unsigned char>(0x31 * i);
    ASSERT_EQ(pcd_set_dataenc_key(key), 0);
    const unsigned char secret[10] = {'s', 'e', 'c', 'r', 'e', 't', ' ', 'p', 'i', 'n'};
    ASSERT_EQ(picc_writedata_enc(p, 40, 10, secret), 0);
    unsigned char stored[10], plain[10];
    ASSERT_EQ(picc_readdata(p, 40, 10, stored), 0);
    EXPECT_NE(std::memcmp(stored, secret, 10), 0) << "the card holds ciphertext";
    ASSERT_EQ(picc_readdata_enc(p, 40, 10, plain), 0);
    EXPECT_EQ(std::memcmp(plain, secret, 10), 0);
    EXPECT_EQ(picc_writedata_enc(p, 8, 4, secret), -24);
}

TEST_F(UltralightE2e, IdentifiedOpenAndAnotherCardInTheField) {
    place(false);
    // ATQA 44 00 and SAK 00 name the Ultralight C, whichever is present.
    picc *p = open("iso14443A_card");
    ASSERT_NE(p, nullptr) << errno;
    EXPECT_STREQ(picc_type(p), "Mifare Ultralight C");
    EXPECT_EQ(picc_uidlen(p), 7);
    picc_close(p);

    // A MIFARE Classic card answers the request with another ATQA; with
    // no card nothing answers.
    sim->field().place(vrsim::Card::classic_1k());
    errno = 0;
    EXPECT_EQ(m0ul_req(), -1);
    EXPECT_EQ(errno, -20);
    errno = 0;
    EXPECT_EQ(picc_open("mifare_ul", "uart", 0, PICC_SEARCH_WAKE, sim->path().c_str()), nullptr);
    EXPECT_EQ(errno, -30);
    sim->field().remove();
    errno = 0;
    EXPECT_EQ(m0ulc_wupa(), -1);
    EXPECT_EQ(errno, -32);
}

}  // namespace
