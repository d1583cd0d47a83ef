#include "sound_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "card.h"
#include "field.h"
#include "picc.h"
#include "tessil.h"

namespace vrtest {

namespace {

using vrsim::Card;
using Bytes = std::vector<uint8_t>;

const unsigned char kKey[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const Bytes kUid{0xDE, 0xAD, 0xBE, 0xEF};

}  // namespace

std::shared_ptr<Card> filled_card() {
    auto card = Card::classic_1k(kUid);
    for (int b = 1; b < 64; ++b) {
        if (b % 4 == 3) continue;  // trailers keep their keys
        vrsim::Block data{};
        for (int i = 0; i < 16; ++i) data[static_cast<size_t>(i)] = static_cast<uint8_t>(b * 16 + i);
        card->set_block(b, data);
    }
    return card;
}

namespace {

// Reads every block of a 1K card, sector by sector, into 1024 bytes.
bool dump(picc *p, Bytes &image) {
    image.assign(1024, 0);
    for (int sector = 0; sector < 16; ++sector) {
        if (picc_auth(p, kKey, 0x60, 4 * sector) != 0) return false;
        for (int b = 4 * sector; b < 4 * sector + 4; ++b)
            if (picc_read(p, image.data() + 16 * b, b) != 0) return false;
    }
    return true;
}

// The card's image as the reader shows it: key A reads back as zeros.
Bytes readable_image(const Card &card) {
    Bytes image = card.image();
    for (int sector = 0; sector < 16; ++sector) std::fill_n(image.begin() + 64 * sector + 48, 6, 0);
    return image;
}

picc *open_card() { return picc_open("mifare_s50", "sound", 0, PICC_SEARCH_PLAIN); }

}  // namespace

void card_session_with_dump(vrsim::AudioFrontEnd &front) {
    auto card = front.field().place(filled_card());
    picc *p = open_card();
    ASSERT_NE(p, nullptr) << errno;
    unsigned char uid[10];
    ASSERT_EQ(picc_getuid(p, uid), 4);
    EXPECT_EQ(Bytes(uid, uid + 4), kUid);
    ASSERT_EQ(picc_auth(p, kKey, 0x60, 4), 0);
    const unsigned char data[16] = {'a', 'u', 'd', 'i', 'o', 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x5A};
    ASSERT_EQ(picc_write(p, data, 6), 0);
    unsigned char back[16] = {};
    ASSERT_EQ(picc_read(p, back, 6), 0);
    EXPECT_EQ(std::memcmp(back, data, 16), 0);
    Bytes image;
    ASSERT_TRUE(dump(p, image));
    EXPECT_EQ(image, readable_image(*card));
    EXPECT_EQ(picc_close(p), 0);
}

void card_session_enciphered(vrsim::AudioFrontEnd &front) {
    auto card = front.field().place(filled_card());
    picc *p = open_card();
    ASSERT_NE(p, nullptr) << errno;
    ASSERT_EQ(picc_ctrl(nullptr, PICC_CTRL_LINK_ENCRYPTION, 1), 0);
    ASSERT_EQ(picc_auth(p, kKey, 0x60, 8), 0);
    const unsigned char data[16] = {0xC0, 0xDE, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0xAA, 0x55, 0xAA, 0x55};
    ASSERT_EQ(picc_write(p, data, 9), 0);
    unsigned char back[16] = {};
    ASSERT_EQ(picc_read(p, back, 9), 0);
    EXPECT_EQ(std::memcmp(back, data, 16), 0);
    EXPECT_EQ(card->block(9)[0], 0xC0);
    bool enciphered = false;
    for (const auto &r : front.sim().requests()) enciphered = enciphered || r.encrypted;
    EXPECT_TRUE(enciphered) << "the requests went out enciphered";
    EXPECT_EQ(picc_close(p), 0);
}

}  // namespace vrtest
