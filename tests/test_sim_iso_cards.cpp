// The reader model's Ultralight, ISO 14443-4, type B and SAM commands,
// driven through the firmware: what the virtual cards enforce (lock and
// OTP bits, the Ultralight C's protected pages and 3DES authentication,
// the file system's status words, ATTRIB by PUPI) and the SAM's frames.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "byte_strings.h"
#include "control.h"
#include "cpu_card.h"
#include "crypto.h"
#include "firmware.h"
#include "identity_card.h"
#include "sam.h"
#include "sim_harness.h"
#include "type_b_card.h"
#include "ultralight_card.h"
#include "ultralight_dump.h"

using vrsim::Bytes;
using vrtest::cat;
using vrsim::Firmware;
using vrsim::Page;
using vrsim::Reply;
using vrsim::Request;
using vrsim::UltralightCard;

namespace {

constexpr uint8_t kOk = 0x00;
constexpr uint8_t kNoCard = 0x0D;
constexpr uint8_t kAuthFailed = 0x16;
constexpr uint8_t kReadFailed = 0x17;
constexpr uint8_t kWriteFailed = 0x18;

const Bytes kUid7{0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
const vrsim::UlcKey kTransport = vrsim::ultralight::kTransportKey;

struct Reader {
    Firmware fw;

    Reply run(uint16_t cmd, Bytes data = {}) { return fw.handle(Request{cmd, std::move(data)}); }
    uint8_t status(uint16_t cmd, Bytes data = {}) { return run(cmd, std::move(data)).status; }
    template <class C>
    std::shared_ptr<C> place(std::shared_ptr<C> card) {
        fw.field().place(card);
        return card;
    }
    uint8_t write_page(uint8_t page, Page p) { return status(0x0704, cat(Bytes{page}, p)); }
    Bytes read_page(uint8_t page) { return run(0x0705, {page}).data; }
    uint8_t auth(const vrsim::UlcKey &key) { return status(0x0703, Bytes(key.begin(), key.end())); }
    void protocol(uint8_t letter) { ASSERT_EQ(status(0x0108, {letter}), kOk); }
};

std::shared_ptr<UltralightCard> ultralight(bool c) { return UltralightCard::make(c, kUid7, 0x0044, 0x00, nullptr); }

TEST(SimUltralight, NewCardLayoutAndReadWrapping) {
    Reader r;
    auto card = r.place(ultralight(false));
    EXPECT_EQ(r.run(0x0701, {0x26}).data, (Bytes{0x44, 0x00}));
    EXPECT_EQ(r.run(0x0702).data, cat(Bytes{0x00, 0x07}, kUid7)) << "SAK, UID length, UID";
    // Page 0: UID0..2 and BCC0 = 88 ^ UID0..2; page 1: UID3..6; page 2:
    // BCC1, then the lock bytes.
    const Bytes head = r.read_page(0);
    EXPECT_EQ(Bytes(head.begin(), head.begin() + 12),
              (Bytes{0x04, 0x11, 0x22, 0x88 ^ 0x04 ^ 0x11 ^ 0x22, 0x33, 0x44, 0x55, 0x66, 0x33 ^ 0x44 ^ 0x55 ^ 0x66,
                     0x48, 0x00, 0x00}));
    ASSERT_EQ(r.write_page(15, {1, 2, 3, 4}), kOk);
    EXPECT_EQ(r.read_page(14), cat(cat(Bytes(4, 0), Bytes{1, 2, 3, 4}), Bytes(head.begin(), head.begin() + 8)))
        << "pages 14, 15, then 0 and 1";
    EXPECT_EQ(r.status(0x0705, {16}), kReadFailed) << "no page 16";
    EXPECT_EQ(r.write_page(0, {9, 9, 9, 9}), kWriteFailed) << "UID pages are read-only";
    EXPECT_EQ(card->page(0)[0], 0x04);
}

TEST(SimUltralight, LockAndOtpBitsOnlyEverGetSet) {
    Reader r;
    auto card = r.place(ultralight(false));
    ASSERT_EQ(r.write_page(3, {0x01, 0x00, 0x00, 0x00}), kOk);
    ASSERT_EQ(r.write_page(3, {0x02, 0x00, 0x00, 0x80}), kOk);
    EXPECT_EQ(card->page(3), (Page{0x03, 0x00, 0x00, 0x80})) << "OTP bits are ORed in";
    // Lock page 5 (byte 2 bit 5) and page 12 (byte 3 bit 4); bytes 0..1 of
    // the lock page are not written.
    ASSERT_EQ(r.write_page(2, {0xFF, 0xFF, 0x20, 0x10}), kOk);
    EXPECT_EQ(card->page(2)[0], 0x33 ^ 0x44 ^ 0x55 ^ 0x66);
    EXPECT_EQ(r.write_page(5, {1, 1, 1, 1}), kWriteFailed);
    EXPECT_EQ(r.write_page(12, {1, 1, 1, 1}), kWriteFailed);
    EXPECT_EQ(card->page(5), (Page{})) << "a locked page stays unwritten";
    EXPECT_EQ(r.write_page(6, {1, 1, 1, 1}), kOk) << "the page beside it is open";
    ASSERT_EQ(r.write_page(2, {0, 0, 0x00, 0x00}), kOk);
    EXPECT_EQ(card->page(2)[2], 0x20) << "lock bits cannot be cleared";
    // Block-locking pages 4..9 freezes their lock bits: page 7 stays open.
    ASSERT_EQ(r.write_page(2, {0, 0, 0x02, 0x00}), kOk);
    ASSERT_EQ(r.write_page(2, {0, 0, 0x80, 0x00}), kOk);
    EXPECT_EQ(r.write_page(7, {7, 7, 7, 7}), kOk);
    // Locking the OTP page.
    ASSERT_EQ(r.write_page(2, {0, 0, 0x08, 0x00}), kOk);
    EXPECT_EQ(r.write_page(3, {0xFF, 0xFF, 0xFF, 0xFF}), kWriteFailed);
}

TEST(SimUltralightC, ProtectedPagesNeedTheKey) {
    Reader r;
    auto card = r.place(ultralight(true));
    EXPECT_EQ(card->key(), kTransport);
    // Protect from page 0x20 on, reads too (AUTH1 bit 0 clear).
    ASSERT_EQ(r.status(0x0707, {0x20}), kOk);
    EXPECT_EQ(card->page(42)[0], 0x20);
    EXPECT_EQ(r.status(0x0705, {0x20}), kReadFailed);
    EXPECT_EQ(r.write_page(0x21, {1, 2, 3, 4}), kWriteFailed);
    // Reading below runs on to page 0 at the first protected page.
    const Bytes below = r.read_page(0x1E);
    const Bytes first = r.read_page(0);
    ASSERT_EQ(below.size(), 16u);
    EXPECT_EQ(Bytes(below.begin() + 8, below.end()), Bytes(first.begin(), first.begin() + 8));

    vrsim::UlcKey wrong = kTransport;
    wrong[15] ^= 0x02;  // not a parity bit, which DES ignores
    EXPECT_EQ(r.auth(wrong), kAuthFailed);
    EXPECT_FALSE(card->authenticated());
    EXPECT_EQ(r.status(0x0705, {0x20}), kReadFailed) << "a wrong key leaves the card locked";
    ASSERT_EQ(r.auth(kTransport), kOk);
    EXPECT_TRUE(card->authenticated());
    ASSERT_EQ(r.write_page(0x21, {1, 2, 3, 4}), kOk);
    EXPECT_EQ(r.read_page(0x21)[0], 1);
    // Leaving the active state ends the authentication: a request is not
    // valid there and sends the card back to idle (the reader's second
    // request wakes it again).
    EXPECT_EQ(r.run(0x0701, {0x52}).status, kOk);
    EXPECT_FALSE(card->authenticated());
    EXPECT_EQ(r.status(0x0705, {0x21}), kReadFailed);

    // With AUTH1 bit 0 set only writes are protected.
    ASSERT_EQ(r.auth(kTransport), kOk);
    ASSERT_EQ(r.write_page(43, {0x01, 0, 0, 0}), kOk);
    ASSERT_EQ(r.run(0x0701, {0x52}).status, kOk);
    EXPECT_FALSE(card->authenticated());
    EXPECT_EQ(r.read_page(0x21)[0], 1);
    EXPECT_EQ(r.write_page(0x21, {5, 5, 5, 5}), kWriteFailed);
}

TEST(SimUltralightC, KeyChangeStoredKeyCounterAndKeyPages) {
    Reader r;
    auto card = r.place(ultralight(true));
    const vrsim::UlcKey next{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                             0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    Bytes wrong_old(16, 0);
    EXPECT_EQ(r.status(0x0706, cat(wrong_old, next)), kAuthFailed);
    EXPECT_EQ(card->key(), kTransport) << "a wrong current key changes nothing";
    ASSERT_EQ(r.status(0x0706, cat(Bytes(kTransport.begin(), kTransport.end()), next)), kOk);
    EXPECT_EQ(card->key(), next);
    // Pages 44..47 hold each half of the key reversed.
    EXPECT_EQ(card->page(44), (Page{0x77, 0x66, 0x55, 0x44}));
    EXPECT_EQ(card->page(47), (Page{0xBB, 0xAA, 0x99, 0x88}));
    EXPECT_EQ(r.status(0x0705, {44}), kReadFailed) << "the key is never read";
    // The reader's stored key.
    EXPECT_EQ(r.status(0x0712), kAuthFailed);
    ASSERT_EQ(r.status(0x0710, Bytes(next.begin(), next.end())), kOk);
    EXPECT_EQ(r.status(0x0712), kOk);
    // The counter adds what is written and refuses to overflow.
    ASSERT_EQ(r.write_page(41, {0x05, 0x00, 0, 0}), kOk);
    ASSERT_EQ(r.write_page(41, {0x03, 0x00, 0, 0}), kOk);
    EXPECT_EQ(card->counter(), 8);
    EXPECT_EQ(r.write_page(41, {0xFF, 0xFF, 0, 0}), kWriteFailed);
    EXPECT_EQ(card->counter(), 8);
}

TEST(SimUltralight, ByteRangesPlainAndEnciphered) {
    Reader r;
    auto card = r.place(ultralight(true));
    const Bytes data{0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
    // Bytes 18..23: page 4 from byte 2, page 5 whole; page 4's first two
    // bytes are kept.
    card->set_page(4, {0x10, 0x20, 0x30, 0x40});
    ASSERT_EQ(r.status(0x070B, cat(Bytes{0x00, 18, 0x00, 6}, data)), kOk);
    EXPECT_EQ(card->page(4), (Page{0x10, 0x20, 0xA1, 0xA2}));
    EXPECT_EQ(r.run(0x070C, {0x00, 18, 0x00, 6}).data, data);
    EXPECT_EQ(r.status(0x070C, {0x00, 170, 0x00, 8}), kReadFailed) << "into the key pages";

    std::array<uint8_t, 16> key{};
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(0x40 + i);
    ASSERT_EQ(r.status(0x0711, Bytes(key.begin(), key.end())), kOk);
    ASSERT_EQ(r.status(0x0713, cat(Bytes{0x00, 33, 0x00, 6}, data)), kOk);
    const Bytes stored = r.run(0x070C, {0x00, 33, 0x00, 6}).data;
    EXPECT_NE(stored, data) << "enciphered on the card";
    EXPECT_EQ(r.run(0x0714, {0x00, 33, 0x00, 6}).data, data);
    // Any sub-range deciphers alike: the keystream follows the address.
    EXPECT_EQ(r.run(0x0714, {0x00, 35, 0x00, 3}).data, Bytes(data.begin() + 2, data.begin() + 5));
    // The keystream byte of address 33 is the 3DES encryption of block 4.
    uint8_t counter[8] = {0, 0, 0, 0, 0, 0, 0, 4}, stream[8];
    ASSERT_EQ(Run3Des(0, 0, counter, 8, key.data(), 16, stream, 8, nullptr), 1);
    EXPECT_EQ(stored[0], data[0] ^ stream[1]);
}

TEST(SimIsoDep, CpuCardActivationAndFileSystem) {
    Reader r;
    auto card = r.place(vrsim::CpuCard::make({0xC1, 0xC2, 0xC3, 0xC4}, vrsim::CpuCard::kAtqa, vrsim::CpuCard::kSak, nullptr));
    EXPECT_EQ(r.status(0x0211, {0x00, 0xA4, 0x00, 0x00}), kNoCard) << "no APDU before RATS";
    const Reply act = r.run(0x0210, {0x52});
    ASSERT_EQ(act.status, kOk);
    EXPECT_EQ(act.data, cat(Bytes{0x20, 0x04, 0xC1, 0xC2, 0xC3, 0xC4, 0x00}, vrsim::CpuCard::kAts));
    struct Case {
        Bytes apdu;
        Bytes answer;
    };
    const Bytes name{0xF0, 'V', 'R', 'T', 'E', 'S', 'T', 0x01};
    const Case cases[] = {
        {cat(Bytes{0x00, 0xA4, 0x04, 0x0C, 0x08}, name), {0x90, 0x00}},
        {{0x00, 0xB0, 0x00, 0x00, 0x04}, {0x69, 0x86}},                      // no current file
        {{0x00, 0xA4, 0x00, 0x0C, 0x02, 0x01, 0x01}, {0x90, 0x00}},
        {{0x00, 0xB0, 0x01, 0x29, 0x04}, {46, 47, 48, 0x62, 0x82}},          // 3 left of 300
        {{0x00, 0xB0, 0x01, 0x2C, 0x01}, {0x6B, 0x00}},                      // offset 300
        {{0x00, 0xB0, 0x81, 0x02, 0x02}, {2, 3, 0x90, 0x00}},                // SFI 1
        {{0x00, 0xB2, 0x02, 0x14, 0x00}, cat(Bytes{2}, cat(Bytes(15, 0xA2), Bytes{0x90, 0x00}))},
        {{0x00, 0xB2, 0x05, 0x14, 0x00}, {0x6A, 0x83}},                      // record 5 of 4
        {{0x00, 0xB2, 0x01, 0x14, 0x04}, {0x6C, 0x10}},                      // Le too short
        {{0x00, 0xB2, 0x01, 0x0C, 0x00}, {0x69, 0x81}},                      // SFI 1 is transparent
        {{0x00, 0xA4, 0x00, 0x00, 0x02, 0x77, 0x77}, {0x6A, 0x82}},
        {{0x00, 0xC0, 0x00, 0x00, 0x00}, {0x69, 0x85}},                      // nothing waits
        {{0x00, 0xCA, 0x00, 0x00, 0x00}, {0x6D, 0x00}},
        {{0x90, 0xB0, 0x00, 0x00, 0x01}, {0x6E, 0x00}},
        {{0x00, 0xB0, 0x00}, {0x67, 0x00}},
    };
    for (const Case &c : cases) {
        const Reply rep = r.run(0x0211, c.apdu);
        ASSERT_EQ(rep.status, kOk);
        EXPECT_EQ(rep.data, c.answer) << testing::PrintToString(c.apdu);
    }
    // A SELECT without Le leaves its FCI for GET RESPONSE.
    EXPECT_EQ(r.run(0x0211, {0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x01}).data, (Bytes{0x61, 0x0D}));
    EXPECT_EQ(r.run(0x0211, {0x00, 0xC0, 0x00, 0x00, 0x05}).data,
              (Bytes{0x62, 0x0B, 0x80, 0x02, 0x00, 0x61, 0x08}));
    EXPECT_EQ(r.run(0x0211, {0x00, 0xC0, 0x00, 0x00, 0x00}).data,
              (Bytes{0x10, 0x82, 0x01, 0x01, 0x83, 0x02, 0x00, 0x01, 0x90, 0x00}));
    // A batch answers item by item; a halt ends the protocol.
    EXPECT_EQ(r.run(0x0215, {0x00, 0x04, 0x00, 0xCA, 0x00, 0x00, 0x00, 0x01, 0x00}).data,
              (Bytes{0x00, 0x02, 0x6D, 0x00, 0x00, 0x02, 0x67, 0x00}));
    EXPECT_EQ(r.status(0x0215, {0x00, 0x09, 0x00}), 0x0C) << "an item longer than the batch";
    ASSERT_EQ(r.status(0x0204), kOk);
    EXPECT_FALSE(card->in_protocol());
    EXPECT_EQ(r.status(0x0211, {0x00, 0xCA, 0x00, 0x00, 0x00}), kNoCard);
}

TEST(SimTypeB, RequestAttribByPupiAndTheReadersTrailingByte) {
    Reader r;
    auto card = r.place(vrsim::CidCard::make({0x01, 0x02, 0x03, 0x04}, nullptr));
    EXPECT_EQ(r.status(0x0303, {0x05, 0x00, 0x00}), kNoCard) << "type A selected";
    r.protocol('B');
    EXPECT_EQ(r.status(0x0201, {0x26}), 0x14) << "type A commands reach no type B card";
    EXPECT_EQ(r.run(0x0303, {0x05, 0x00, 0x00}).data,
              (Bytes{0x50, 0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0, 0x00, 0x81, 0x70, 0x00}));
    EXPECT_EQ(r.status(0x0303, {0x00, 0xA4, 0x00, 0x00, 0x02, 0x60, 0x02}), kNoCard) << "not active yet";
    EXPECT_EQ(r.status(0x0303, {0x1D, 0, 0, 0, 0, 0x00, 0x08, 0x01, 0x08}), kNoCard) << "another PUPI";
    EXPECT_EQ(r.run(0x0303, {0x1D, 1, 2, 3, 4, 0x00, 0x08, 0x01, 0x08}).data, (Bytes{0x08, 0x00}));
    EXPECT_EQ(r.run(0x0303, {0x00, 0xA4, 0x00, 0x00, 0x02, 0x60, 0x02}).data, (Bytes{0x90, 0x00, 0x00}));
    const Bytes head = r.run(0x0303, {0x80, 0xB0, 0x00, 0x00, 0x20}).data;
    ASSERT_EQ(head.size(), 32u + 3);
    EXPECT_EQ(Bytes(head.begin(), head.begin() + 3), (Bytes{'C', 'I', 'D'}));
    EXPECT_EQ(Bytes(head.begin(), head.begin() + 32), card->file(0x6002));
    EXPECT_EQ(r.run(0x0303, {0x50, 1, 2, 3, 4}).data, (Bytes{0x00, 0x00}));
    EXPECT_EQ(r.status(0x0303, {0x05, 0x00, 0x00}), kNoCard) << "halted: REQB does not wake it";
    EXPECT_EQ(r.status(0x0303, {0x05, 0x00, 0x08}), kOk) << "WUPB does";
}

// ------------------------------------------------------------------ SAM

Bytes sam_request(uint8_t command, uint8_t parameter) {
    Bytes f{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, command, parameter};
    f.push_back(static_cast<uint8_t>(0x03 ^ command ^ parameter));
    return f;
}

// SW3 and the data of an answer frame whose framing checks out.
std::pair<uint8_t, Bytes> sam_parts(const Bytes &a) {
    EXPECT_GE(a.size(), 11u);
    if (a.size() < 11) return {0, {}};
    EXPECT_EQ(Bytes(a.begin(), a.begin() + 5), (Bytes{0xAA, 0xAA, 0xAA, 0x96, 0x69}));
    EXPECT_EQ(static_cast<size_t>(a[5] << 8 | a[6]), a.size() - 7);
    uint8_t x = 0;
    for (size_t i = 5; i + 1 < a.size(); ++i) x ^= a[i];
    EXPECT_EQ(x, a.back());
    return {a[9], Bytes(a.begin() + 10, a.end() - 1)};
}

TEST(SimSam, SearchSelectAndReadsOfTheIdentityCard) {
    Reader r;
    EXPECT_EQ(r.run(0x0305, sam_request(0x10, 0xFF)).data,
              (Bytes{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x04, 0x00, 0x00, 0x90, 0x94}));
    EXPECT_EQ(sam_parts(r.run(0x0305, sam_request(0x20, 0x01)).data).first, 0x80) << "no card";
    auto card = r.place(vrsim::IdentityCard::make({1, 2, 3, 4, 5, 6, 7, 8}, nullptr));
    EXPECT_EQ(sam_parts(r.run(0x0305, sam_request(0x30, 0x01)).data).first, 0x41) << "nothing selected";
    EXPECT_EQ(sam_parts(r.run(0x0305, sam_request(0x20, 0x01)).data),
              (std::pair<uint8_t, Bytes>{0x9F, {0, 0, 0, 0}}));
    EXPECT_EQ(sam_parts(r.run(0x0305, sam_request(0x20, 0x02)).data),
              (std::pair<uint8_t, Bytes>{0x90, {1, 2, 3, 4, 5, 6, 7, 8}}));
    const auto records = card->records();
    const auto [status, data] = sam_parts(r.run(0x0305, sam_request(0x30, 0x10)).data);
    EXPECT_EQ(status, 0x90);
    Bytes expected{0x01, 0x00, 0x04, 0x00, 0x04, 0x00};
    expected = cat(cat(cat(expected, records.text), records.photo), records.fingerprint);
    EXPECT_EQ(data, expected);
    EXPECT_EQ(sam_parts(r.run(0x0305, sam_request(0x30, 0x03)).data).first, 0x91) << "no extra address";

    // The reader's short answer keeps the SAM's length field: 1280 more
    // than the frame it sends.
    const Bytes short_answer = r.run(0x0306, sam_request(0x30, 0x10)).data;
    ASSERT_EQ(short_answer.size(), 11u + 6 + 1024);
    EXPECT_EQ(static_cast<size_t>(short_answer[5] << 8 | short_answer[6]), short_answer.size() + 1273);
    EXPECT_EQ(Bytes(short_answer.begin() + 16, short_answer.end() - 1), records.fingerprint);
    uint8_t x = 0;
    for (size_t i = 5; i + 1 < short_answer.size(); ++i) x ^= short_answer[i];
    EXPECT_EQ(x, short_answer.back());

    // Removed: the read fails; a CID card is found but not selected.
    r.fw.field().remove();
    EXPECT_EQ(sam_parts(r.run(0x0305, sam_request(0x30, 0x01)).data).first, 0x41);
    r.place(vrsim::CidCard::make({}, nullptr));
    EXPECT_EQ(sam_parts(r.run(0x0305, sam_request(0x20, 0x01)).data).first, 0x9F);
    EXPECT_EQ(sam_parts(r.run(0x0305, sam_request(0x20, 0x02)).data).first, 0x81);
}

TEST(SimSam, BadRequestsAndInjectedFaults) {
    Reader r;
    r.place(vrsim::IdentityCard::make({}, nullptr));
    Bytes bad_check = sam_request(0x11, 0xFF);
    bad_check.back() ^= 1;
    EXPECT_EQ(sam_parts(r.run(0x0305, bad_check).data).first, 0x10);
    Bytes bad_length = sam_request(0x11, 0xFF);
    bad_length[6] = 0x04;
    bad_length.back() ^= 0x03 ^ 0x04;
    EXPECT_EQ(sam_parts(r.run(0x0305, bad_length).data).first, 0x11);
    EXPECT_EQ(sam_parts(r.run(0x0305, sam_request(0x12, 0xFF)).data).first, 0x21);

    r.fw.sam().fail(vrsim::Sam::Step::select, 0x81, 2);
    ASSERT_EQ(sam_parts(r.run(0x0305, sam_request(0x20, 0x01)).data).first, 0x9F);
    EXPECT_EQ(sam_parts(r.run(0x0305, sam_request(0x20, 0x02)).data).first, 0x81);
    EXPECT_EQ(sam_parts(r.run(0x0305, sam_request(0x20, 0x02)).data).first, 0x81);
    EXPECT_EQ(sam_parts(r.run(0x0305, sam_request(0x20, 0x02)).data).first, 0x90) << "two failures only";

    r.fw.sam().spoil_next(vrsim::Sam::Spoil::check_byte);
    const Bytes spoiled = r.run(0x0305, sam_request(0x11, 0xFF)).data;
    uint8_t x = 0;
    for (size_t i = 5; i + 1 < spoiled.size(); ++i) x ^= spoiled[i];
    EXPECT_NE(x, spoiled.back());
    // The second family takes the SAM's frames as command 0x8B.
    Firmware second(vrsim::Family::second);
    EXPECT_EQ(sam_parts(second.handle(Request{0x008B, sam_request(0x11, 0xFF)}).data).first, 0x90);
}

}  // namespace

// The control channel places the new kinds, loads Ultralight dumps and
// identity-card files, lists Ultralight pages and sets the SAM's faults.
TEST(SimControl, NewKindsFilesAndSamFaults) {
    auto sim = vrsim::start_simulator();
    ASSERT_TRUE(sim);
    vrsim::Control control(*sim);
    auto say = [&](const std::string &line) { return control.execute(line); };
    EXPECT_EQ(say("card place cid_card 01020304").text, "ok cid_card uid=01020304 state=idle");
    EXPECT_EQ(say("card place id_card 1122334455667788").text, "ok id_card uid=1122334455667788 state=idle");
    EXPECT_EQ(say("card place cpu_card 0A0B0C0D").text, "ok cpu_card uid=0A0B0C0D atqa=0008 sak=20 state=idle");

    char dir_template[] = "/tmp/vrsim-iso-XXXXXX";
    ASSERT_NE(::mkdtemp(dir_template), nullptr);
    const std::filesystem::path dir = dir_template;
    vrdump::UlImage image = vrdump::UlImage::empty(vrdump::UlKind::ultralight_c);
    for (int p = 0; p < 44; ++p) image.readable[static_cast<size_t>(p)] = 1;
    image.pages[7] = {0x77, 0x77, 0x77, 0x77};
    image.uid = {0x04, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    ASSERT_TRUE(vrdump::save_ultralight(dir / "c.json", image));
    EXPECT_EQ(say("card load " + (dir / "c.json").string()).text,
              "ok mifare_ulc uid=04AABBCCDDEEFF atqa=0044 sak=00 state=idle (4 unreadable blocks in the file left blank)");
    const auto dump = say("card dump");
    EXPECT_EQ(dump.text.rfind("ok 48 pages\n  0  04AABB", 0), 0u) << dump.text;
    EXPECT_NE(dump.text.find("\n  7  77777777"), std::string::npos);
    EXPECT_NE(dump.text.find("\n 44  42524541"), std::string::npos) << "the key pages stay the new card's";
    // Saved and loaded back page for page.
    EXPECT_EQ(say("card save " + (dir / "saved.json").string()).text, "ok saved " + (dir / "saved.json").string());
    EXPECT_TRUE(say("card place mifare_ul").ok);
    EXPECT_EQ(say("card load " + (dir / "saved.json").string()).text,
              "ok mifare_ulc uid=04AABBCCDDEEFF atqa=0044 sak=00 state=idle");
    EXPECT_EQ(say("card dump").text, dump.text);

    {
        std::ofstream out(dir / "id.json");
        out << R"({"FileType": "prc-id", "Identifier": "0102030405060708", "Text": {"name": "测试"}, "Fingerprint": false})";
    }
    EXPECT_EQ(say("card load " + (dir / "id.json").string()).text, "ok id_card uid=0102030405060708 state=idle");
    const auto card = std::dynamic_pointer_cast<vrsim::IdentityCard>(sim->field().card());
    ASSERT_TRUE(card);
    EXPECT_EQ(card->text().name, "测试");
    EXPECT_TRUE(card->records().fingerprint.empty());
    {
        std::ofstream out(dir / "bad.json");
        out << R"({"FileType": "prc-id", "Text": {"name": "a name far too long for the fifteen characters"}})";
    }
    EXPECT_FALSE(say("card load " + (dir / "bad.json").string()).ok);
    std::filesystem::remove_all(dir);

    EXPECT_EQ(say("sam fail select 81 x2").text, "ok");
    EXPECT_EQ(say("sam spoil length").text, "ok");
    EXPECT_EQ(say("sam show").text, "ok no card selected");
    EXPECT_EQ(say("sam clear").text, "ok");
    for (const char *bad : {"sam fail select", "sam fail nowhere 81", "sam fail read 8181", "sam fail read 81 x0",
                            "sam fail read 81 x2y", "sam fail read 81 x99999999999", "sam spoil everything", "sam",
                            "card place cid_card 0102", "card place id_card sak=20"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(say(bad).ok);
    }
}
