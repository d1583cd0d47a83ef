// The second reader family's card drivers end to end against the
// simulator's second-family firmware and the same virtual cards the first
// family reads: the Classic 1K through the family's own commands over
// protocol 6, the others over the direct protocol-1 path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "card.h"
#include "cpu_card.h"
#include "cpucard.h"
#include "field.h"
#include "identity_card.h"
#include "log_capture.h"
#include "mifare.h"
#include "pcd.h"
#include "sim_link.h"
#include "ultralight.h"
#include "ultralight_card.h"

namespace {

using vrsim::Card;
using vrtest::Bytes;

const unsigned char kTransportKey[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const Bytes kUid{0xDE, 0xAD, 0xBE, 0xEF};

class SecondFamily : public vrtest::SimLink {
protected:
    void SetUp() override { open_link(2); }

    picc *open(const char *type) { return picc_open(type, "uart", 0, PICC_SEARCH_PLAIN, sim->path().c_str()); }
    // Requests the reader received since the last clear.
    std::vector<vrsim::Request> sent() const { return sim->requests(); }
    std::shared_ptr<Card> card;
};

// ------------------------------------------------------------ Classic 1K

TEST_F(SecondFamily, Classic1kOpensReadsAndWritesWithTheFamilysOwnCommands) {
    card = sim->field().place(Card::classic_1k(kUid));
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr) << errno;
    EXPECT_EQ(picc_status(p), PICC_STATUS_ACTIVE);
    EXPECT_STREQ(picc_type(p), "Mifare S50");
    unsigned char uid[10];
    ASSERT_EQ(picc_getuid(p, uid), 4);
    EXPECT_EQ(Bytes(uid, uid + 4), kUid);

    sim->clear_log();
    ASSERT_EQ(picc_auth(p, kTransportKey, MIFARE_KEY_A, 4), 0);
    const unsigned char data[16] = {'t', 'w', 'o', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x5A};
    ASSERT_EQ(picc_write(p, data, 6), 0);
    unsigned char back[16] = {};
    ASSERT_EQ(picc_read(p, back, 6), 0);
    EXPECT_EQ(Bytes(back, back + 16), Bytes(data, data + 16));
    EXPECT_EQ(card->block(6)[15], 0x5A) << "the write reached the card";
    std::vector<uint16_t> codes;
    for (const auto &r : sent()) codes.push_back(r.cmd);
    EXPECT_EQ(codes, (std::vector<uint16_t>{0x4C, 0x44, 0x47, 0x46}));
    EXPECT_EQ(picc_close(p), 0);
}

// The key selector is 0x00 for key A and 0x04 for key B; the sector is the
// block divided by four. 0x4C carries the key between C0 F2 and 8B 01.
TEST_F(SecondFamily, AuthenticationSendsTheKeySelectorAndSector) {
    card = sim->field().place(Card::classic_1k(kUid));
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr) << errno;
    struct Case {
        uint8_t key_type, block, selector, sector;
    };
    for (const Case c : {Case{0x61, 9, 0x04, 2}, Case{0x60, 9, 0x00, 2}, Case{0x60, 63, 0x00, 15}, Case{0x61, 0, 0x04, 0}}) {
        sim->clear_log();
        ASSERT_EQ(picc_auth(p, kTransportKey, c.key_type, c.block), 0) << int(c.block);
        const auto r = sent();
        ASSERT_EQ(r.size(), 2u);
        EXPECT_EQ(r[0].cmd, 0x4C);
        ASSERT_EQ(r[0].data.size(), 18u);
        EXPECT_EQ(r[0].data[0], c.selector);
        EXPECT_EQ(r[0].data[1], c.sector);
        EXPECT_EQ(Bytes(r[0].data.begin() + 8, r[0].data.begin() + 10), (Bytes{0xC0, 0xF2}));
        EXPECT_EQ(Bytes(r[0].data.begin() + 10, r[0].data.begin() + 16), Bytes(kTransportKey, kTransportKey + 6));
        EXPECT_EQ(Bytes(r[0].data.begin() + 16, r[0].data.end()), (Bytes{0x8B, 0x01}));
        EXPECT_EQ(r[1].cmd, 0x44);
        EXPECT_EQ(r[1].data, (Bytes{c.selector, c.sector}));
    }
}

TEST_F(SecondFamily, AuthenticationRefusals) {
    card = sim->field().place(Card::classic_1k(kUid));
    const vrsim::Key secret{1, 2, 3, 4, 5, 6};
    card->set_keys(3, secret, secret);
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr) << errno;
    // A refused argument sends no key; the card is selected again before
    // the next operation all the same, as after any failure.
    struct Case {
        const unsigned char *key;
        uint8_t key_type, block;
        int code;
        bool traffic;
    };
    for (const Case c : {Case{nullptr, 0x60, 4, -24, false}, Case{kTransportKey, 0x62, 4, -39, false},
                         Case{kTransportKey, 0x60, 12, -34, true}}) {
        sim->clear_log();
        errno = 0;
        EXPECT_NE(picc_auth(p, c.key, c.key_type, c.block), 0);
        EXPECT_EQ(errno, c.code) << int(c.key_type) << " " << int(c.block);
        bool key_sent = false;
        for (const auto &r : sent()) key_sent = key_sent || r.cmd == 0x4C;
        EXPECT_EQ(key_sent, c.traffic);
    }
    // After a refusal the card is reached again with the right key.
    EXPECT_EQ(picc_auth(p, secret.data(), 0x60, 12), 0);
    unsigned char out[16];
    EXPECT_EQ(picc_read(p, out, 13), 0);
}

// wrval builds the value block itself: value 100 on block 5.
TEST_F(SecondFamily, ValueBlockWrittenAsTheFamilyBuildsIt) {
    card = sim->field().place(Card::classic_1k(kUid));
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr) << errno;
    ASSERT_EQ(picc_auth(p, kTransportKey, 0x60, 5), 0);
    const unsigned char hundred[4] = {0x64, 0, 0, 0};
    sim->clear_log();
    ASSERT_EQ(picc_wrval(p, hundred, 5), 0);
    const Bytes expected{0x64, 0x00, 0x00, 0x00, 0x9B, 0xFF, 0xFF, 0xFF, 0x64, 0x00, 0x00, 0x00, 0x05, 0xFA, 0x05, 0xFA};
    const auto block = card->block(5);
    EXPECT_EQ(Bytes(block.begin(), block.end()), expected);
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0].cmd, 0x47) << "written as a block";

    // Increment, transfer, decrement, restore and transfer elsewhere.
    const unsigned char five[4] = {5, 0, 0, 0};
    ASSERT_EQ(picc_incval(p, five, 5), 0);
    ASSERT_EQ(picc_transfer(p, 5), 0);
    unsigned char value[4] = {};
    ASSERT_EQ(picc_rdval(p, value, 5), 0);
    EXPECT_EQ(Bytes(value, value + 4), (Bytes{105, 0, 0, 0}));
    ASSERT_EQ(picc_decval(p, five, 5), 0);
    ASSERT_EQ(picc_transfer(p, 5), 0);
    ASSERT_EQ(picc_load(p, 5), 0);
    ASSERT_EQ(picc_transfer(p, 6), 0);
    ASSERT_EQ(picc_rdval(p, value, 6), 0);
    EXPECT_EQ(Bytes(value, value + 4), (Bytes{100, 0, 0, 0}));
}

// rdval checks the block the card returns: every copy of the value and of
// the address must agree.
TEST_F(SecondFamily, ValueBlockChecks) {
    card = sim->field().place(Card::classic_1k(kUid));
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr) << errno;
    const vrsim::Block good = vrsim::classic::value_block(-2, 8);
    // A failed check leaves the card to be selected again, which ends its
    // authentication: each case authenticates first.
    struct Case {
        int index;  // byte spoiled, -1 for none
        int code;
    };
    for (const Case c : {Case{-1, 0}, Case{13, -16}, Case{12, -16}, Case{15, -16}, Case{4, -16}, Case{9, -16}}) {
        vrsim::Block b = good;
        if (c.index >= 0) b[c.index] ^= 0x01;
        card->set_block(8, b);
        ASSERT_EQ(picc_auth(p, kTransportKey, 0x60, 8), 0);
        unsigned char value[4] = {};
        errno = 0;
        const int rc = picc_rdval(p, value, 8);
        EXPECT_EQ(rc == 0 ? 0 : errno, c.code) << "byte " << c.index;
        if (c.code == 0) {
            EXPECT_EQ(Bytes(value, value + 4), (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
        }
    }
    // A block the card refuses to read (sector not authenticated).
    unsigned char value[4];
    errno = 0;
    EXPECT_NE(picc_rdval(p, value, 20), 0);
    EXPECT_EQ(errno, -14);
}

// The request answers with the card's ATQA: a 4K card is not the 1K
// driver's; an empty field is no card at all.
TEST_F(SecondFamily, Classic1kRequestTellsOtherCardsApart) {
    errno = 0;
    EXPECT_EQ(open("mifare_s50"), nullptr);
    EXPECT_EQ(errno, -30);
    card = sim->field().place(Card::classic_4k(kUid));
    EXPECT_EQ(open("mifare_s50"), nullptr);
    errno = 0;
    EXPECT_EQ(dclk_m1s50_req(), -1);
    EXPECT_EQ(errno, -20) << "a 4K card's ATQA starts with 0x02";
    card = sim->field().place(Card::classic_1k(kUid));
    EXPECT_EQ(dclk_m1s50_wupa(), 0);
}

TEST_F(SecondFamily, Classic1kKeyAndAccessChangesReachTheTrailer) {
    card = sim->field().place(Card::classic_1k(kUid));
    picc *p = open("mifare_s50");
    ASSERT_NE(p, nullptr) << errno;
    ASSERT_EQ(picc_auth(p, kTransportKey, 0x60, 4), 0);
    const unsigned char keys[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    ASSERT_EQ(picc_chpw(p, keys, 0x62, 4), 0);
    const auto trailer = card->block(7);
    EXPECT_EQ(Bytes(trailer.begin(), trailer.begin() + 6), Bytes(keys, keys + 6));
    EXPECT_EQ(picc_auth(p, keys, 0x60, 4), 0) << "the new key A opens the sector";
}

// ------------------------------------------------------------ the direct path

TEST_F(SecondFamily, Classic4kOverTheDirectPath) {
    card = sim->field().place(Card::classic_4k(kUid));
    picc *p = open("mifare_s70");
    ASSERT_NE(p, nullptr) << errno;
    EXPECT_STREQ(picc_type(p), "Mifare S70");
    sim->clear_log();
    // A block of the 16-block sectors.
    ASSERT_EQ(picc_auth(p, kTransportKey, MIFARE_KEY_A, 200), 0);
    const unsigned char data[16] = {4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x4B};
    ASSERT_EQ(picc_write(p, data, 200), 0);
    unsigned char back[16] = {};
    ASSERT_EQ(picc_read(p, back, 200), 0);
    EXPECT_EQ(Bytes(back, back + 16), Bytes(data, data + 16));
    EXPECT_EQ(card->block(200)[15], 0x4B);
    std::vector<uint16_t> codes;
    for (const auto &r : sent()) codes.push_back(r.cmd);
    EXPECT_EQ(codes, (std::vector<uint16_t>{0x0207, 0x0209, 0x0208}));
    // Each went out as a protocol-1 message: AA BB, length, two zero bytes,
    // the code low byte first.
    for (const Bytes &f : sim->frames_received()) {
        ASSERT_GE(f.size(), 8u);
        EXPECT_EQ(Bytes(f.begin(), f.begin() + 2), (Bytes{0xAA, 0xBB}));
        EXPECT_EQ(Bytes(f.begin() + 4, f.begin() + 6), (Bytes{0x00, 0x00}));
        EXPECT_EQ(f[7], 0x02);
    }
    // Values over the direct path: the reader builds the block.
    const unsigned char seven[4] = {7, 0, 0, 0};
    ASSERT_EQ(picc_wrval(p, seven, 201), 0);
    ASSERT_EQ(picc_incval(p, seven, 201), 0);
    ASSERT_EQ(picc_transfer(p, 201), 0);
    unsigned char value[4] = {};
    ASSERT_EQ(picc_rdval(p, value, 201), 0);
    EXPECT_EQ(value[0], 14);
}

// What the direct path makes of a reply: the echo must repeat the command
// code, a read that finds no frame fails, the status goes through the first
// family's table; only a 4K's ATQA passes the request's check.
TEST_F(SecondFamily, DirectPathReplyChecks) {
    card = sim->field().place(Card::classic_4k(kUid));
    struct Case {
        const char *what;
        vrsim::Fault fault;
        int code;
    };
    for (const Case &c : {Case{"wrong echo", vrsim::Fault::wrong_echo(), -16}, Case{"no reply", vrsim::Fault::drop(), -14},
                          Case{"line noise", vrsim::Fault::garbage(), -14},
                          Case{"status no card", vrsim::Fault::with_status(0x0D), -30},
                          Case{"status auth", vrsim::Fault::with_status(0x16), -34}}) {
        // The anticollision of a record without a UID is one direct message.
        picc record{};
        sim->inject(c.fault);
        errno = 0;
        const int rc = dclk_m1s70_anticoll(&record, 0);
        EXPECT_EQ(rc, -1) << c.what;
        EXPECT_EQ(errno, c.code) << c.what;
        EXPECT_EQ(record.uid_len, 0) << c.what;
    }
    // Woken by its request, the card answers the same anticollision.
    ASSERT_EQ(dclk_m1s70_wupa(), 0);
    picc record{};
    ASSERT_EQ(dclk_m1s70_anticoll(&record, 0), 0);
    EXPECT_EQ(Bytes(record.uid, record.uid + record.uid_len), kUid);
    card = sim->field().place(Card::classic_1k(kUid));
    errno = 0;
    EXPECT_EQ(dclk_m1s70_wupa(), -1);
    EXPECT_EQ(errno, -20) << "a 1K's ATQA is not a 4K's";
}

// An Ultralight read answers four pages, all of which the second family's
// driver hands back; a write is one page.
TEST_F(SecondFamily, UltralightReadsFourPagesAndWritesOne) {
    const Bytes uid{0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    auto ul = vrsim::UltralightCard::make(false, uid, 0x0044, 0x00, nullptr);
    for (int page = 4; page < 8; ++page)
        ul->set_page(page, {static_cast<uint8_t>(page), 0xA0, 0xB0, static_cast<uint8_t>(0xC0 + page)});
    sim->field().place(ul);
    picc *p = open("mifare_ul");
    ASSERT_NE(p, nullptr) << errno;
    EXPECT_STREQ(picc_type(p), "Mifare ultralight");
    unsigned char got[10];
    ASSERT_EQ(picc_getuid(p, got), 7);
    EXPECT_EQ(Bytes(got, got + 7), uid);
    unsigned char pages[16] = {};
    ASSERT_EQ(picc_read(p, pages, 4), 0);
    Bytes expected;
    for (int page = 4; page < 8; ++page)
        for (uint8_t b : ul->page(page)) expected.push_back(b);
    EXPECT_EQ(Bytes(pages, pages + 16), expected);
    const unsigned char one[4] = {1, 2, 3, 4};
    sim->clear_log();
    ASSERT_EQ(picc_write(p, one, 9), 0);
    EXPECT_EQ(ul->page(9), (vrsim::Page{1, 2, 3, 4}));
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0].cmd, 0x0704);
    EXPECT_EQ(sent()[0].data, (Bytes{9, 1, 2, 3, 4}));
    // A card that is not an Ultralight fails the request's check.
    sim->field().place(Card::classic_1k(kUid));
    errno = 0;
    EXPECT_EQ(dclk_m0ul_wupa(), -1);
    EXPECT_EQ(errno, -20);
}

// The Ultralight C's key goes with every authentication; control code 17
// moves the first protected page.
TEST_F(SecondFamily, UltralightCAuthenticatesAndMovesItsProtectedPages) {
    auto ulc = vrsim::UltralightCard::make(true, {0x04, 1, 2, 3, 4, 5, 6}, 0x0044, 0x00, nullptr);
    ulc->set_page(vrsim::ultralight::kAuth0Page, {0x04, 0, 0, 0});
    ulc->set_page(4, {0x11, 0x22, 0x33, 0x44});
    sim->field().place(ulc);
    picc *p = open("mifare_ulc");
    ASSERT_NE(p, nullptr) << errno;
    EXPECT_STREQ(picc_type(p), "Mifare Ultralight_C");
    unsigned char pages[16] = {};
    EXPECT_NE(picc_read(p, pages, 4), 0) << "protected until authenticated";
    errno = 0;
    EXPECT_NE(picc_auth(p, nullptr, 0, 0), 0);
    EXPECT_EQ(errno, -24) << "no stored-key form";
    const auto key = vrsim::ultralight::kTransportKey;
    sim->clear_log();
    ASSERT_EQ(picc_auth(p, key.data(), 0, 0), 0);
    // After the failures the card is selected again first; then the key.
    ASSERT_FALSE(sent().empty());
    EXPECT_EQ(sent().back().cmd, 0x0703);
    EXPECT_EQ(sent().back().data, Bytes(key.begin(), key.end()));
    ASSERT_EQ(picc_read(p, pages, 4), 0) << errno;
    EXPECT_EQ(Bytes(pages, pages + 4), (Bytes{0x11, 0x22, 0x33, 0x44}));
    ASSERT_EQ(picc_ctrl(p, PICC_CTRL_ULC_START_PAGE, 0x30), 0);
    EXPECT_EQ(ulc->page(vrsim::ultralight::kAuth0Page)[0], 0x30);
}

TEST_F(SecondFamily, IdentityCardIdentifierOverTheDirectPath) {
    const Bytes identifier{0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
    sim->field().place(vrsim::IdentityCard::make(identifier, nullptr));
    picc *p = open("id_card");
    ASSERT_NE(p, nullptr) << errno;
    EXPECT_EQ(picc_status(p), PICC_STATUS_ACTIVE);
    unsigned char got[10];
    ASSERT_EQ(picc_getuid(p, got), 8);
    EXPECT_EQ(Bytes(got, got + 8), identifier);
    EXPECT_EQ(sim->firmware().settings().picc_protocol, 'B');
    bool direct = false;
    for (const Bytes &f : sim->frames_received()) direct = direct || (f.size() > 7 && f[0] == 0xAA && f[6] == 0x01 && f[7] == 0x03);
    EXPECT_TRUE(direct) << "0x0301 went out as a protocol-1 message";
    picc_close(p);
    // An empty field: the search that wakes cards finds none.
    (void)sim->field().remove();
    errno = 0;
    EXPECT_EQ(picc_open("id_card", "uart", 0, PICC_SEARCH_WAKE, sim->path().c_str()), nullptr);
    EXPECT_EQ(errno, -30);
}

// The CPU-card driver is offered, not registered: a caller installs it on
// a record of its own. Its activation's whole answer becomes the UID; its
// APDUs go in the length-prefixed buffer; block operations send nothing.
TEST_F(SecondFamily, CpuCardDriverOverTheDirectPath) {
    const Bytes uid{0x08, 0x0A, 0x0B, 0x0C};
    sim->field().place(vrsim::CpuCard::make(uid, vrsim::CpuCard::kAtqa, vrsim::CpuCard::kSak, nullptr));
    EXPECT_NE(tessil.picc_init_tab.cpucard, dclk_cpucard_init);
    picc record{};
    ASSERT_EQ(dclk_cpucard_init(&record), 0);
    sim->clear_log();
    ASSERT_EQ(record.query(nullptr, &record), 0) << errno;
    ASSERT_EQ(sent().size(), 1u) << "request and select send nothing";
    EXPECT_EQ(sent()[0].cmd, 0x0210);
    EXPECT_EQ(sent()[0].data, (Bytes{0x52}));
    ASSERT_GT(record.uid_len, 4);
    // The answer holds the card's UID among the rest (SAK, length, ATS).
    const Bytes answer(record.uid, record.uid + record.uid_len);
    EXPECT_NE(std::search(answer.begin(), answer.end(), uid.begin(), uid.end()), answer.end());
    unsigned char buffer[256] = {7, 0x00, 0xA4, 0x00, 0x0C, 0x02, 0x10, 0x01};
    ASSERT_EQ(record.read(buffer, 0), 0);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{2, 0x90, 0x00}));
    unsigned char rd[256] = {5, 0x00, 0xB0, 0x81, 0x05, 0x03};
    ASSERT_EQ(record.read(rd, 0), 0);
    EXPECT_EQ(Bytes(rd, rd + 6), (Bytes{5, 5, 6, 7, 0x90, 0x00}));
    sim->clear_log();
    const unsigned char sixteen[16] = {};
    EXPECT_EQ(record.write(sixteen, 4), 0);
    EXPECT_EQ(record.auth(sixteen, 0x60, 4), 0);
    EXPECT_EQ(record.transfer(4), 0);
    EXPECT_EQ(record.halt(&record), 0);
    EXPECT_TRUE(sent().empty());
    free(record.vendor);
    free(record.picc_type);
    free(record.protocol_name);
}

}  // namespace

namespace {

// The second family's own link table holds only the PDIUSBD12 attachment:
// on a serial line it needs the first family registered before it. Without
// it the open fails as a port that cannot be opened, and says why.
TEST(SecondFamilyAlone, SerialOpenWithoutTheFirstFamilyFailsClearly) {
    vrsim::SimOptions o;
    o.family = 2;
    auto sim = vrsim::start_simulator(o);
    ASSERT_TRUE(sim);
    vrtest::LogCapture log;
    picc_regapi(VR_FAMILY_SECOND);
    errno = 0;
    EXPECT_EQ(virt_com_open("uart", 0, nullptr, sim->path().c_str()), -1);
    EXPECT_EQ(errno, -10);
    errno = 0;
    EXPECT_EQ(picc_open("mifare_s50", "uart", 0, PICC_SEARCH_PLAIN, sim->path().c_str()), nullptr);
    EXPECT_EQ(errno, -10);
    bool said = false;
    for (const std::string &line : log.lines())
        said = said || line.find("no \"uart\" driver in the registered reader family") != std::string::npos;
    EXPECT_TRUE(said);
    // Registered over the first family, the same line opens.
    picc_regapi(VR_FAMILY_FIRST);
    picc_regapi(VR_FAMILY_SECOND);
    EXPECT_EQ(virt_com_open("uart", 0, nullptr, sim->path().c_str()), 0);
    virt_com_close();
}

}  // namespace
