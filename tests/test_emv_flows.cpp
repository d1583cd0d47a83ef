// The EMV flows' steps over a scripted reader: the APDUs each step sends,
// how DOLs are filled, and what malformed card answers do (the step ends;
// nothing is read or written past a buffer). The whole flows run against
// the simulated bank card in test_bank_e2e.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "emv.h"
#include "picc.h"
#include "scripted_device.h"
#include "tessil.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vrtest::p3_reply;
using vrtest::ScriptedDevice;

constexpr uint16_t kCmdApdu = 0x0211;

Bytes with_sw(Bytes data, uint16_t sw = 0x9000) {
    data.push_back(static_cast<uint8_t>(sw >> 8));
    data.push_back(static_cast<uint8_t>(sw & 0xFF));
    return data;
}

tlv_object object(uint16_t tag, const Bytes &value) {
    tlv_object o{};
    o.tag = tag;
    o.length = static_cast<uint8_t>(value.size());
    std::copy(value.begin(), value.end(), o.value);
    return o;
}

class Flows : public ::testing::Test {
protected:
    void SetUp() override {
        picc_regapi(VR_FAMILY_FIRST);
        dev = &ScriptedDevice::install(3, 200);
    }
    // The card's answer (data and status word) to the next APDU.
    void card_answers(const Bytes &answer) {
        Bytes body{0x00};
        body.insert(body.end(), answer.begin(), answer.end());
        dev->feed(p3_reply(body));
    }
    // The APDUs sent so far, taken from the written frames.
    std::vector<Bytes> apdus() const {
        std::vector<Bytes> out;
        const Bytes w = dev->written();
        for (std::size_t at = 0; at + 7 <= w.size();) {
            const std::size_t n = w[at + 2] | w[at + 3] << 8;
            const uint16_t cmd = static_cast<uint16_t>(w[at + 4] | w[at + 5] << 8);
            EXPECT_EQ(cmd, kCmdApdu);
            out.emplace_back(w.begin() + static_cast<long>(at + 6), w.begin() + static_cast<long>(at + 4 + n));
            at += n + 7;
        }
        return out;
    }
    struct Records {
        tlv_object *list = nullptr;
        int count = 0;
        ~Records() { std::free(list); }
    };
    ScriptedDevice *dev = nullptr;
};

// ---- DOLs

TEST(FillDol, ValuesComeFromTheInputThenTheTerminalElseZeros) {
    const Bytes input = {0x9F, 0x02, 0x04, 0x00, 0x00, 0x01, 0x00,  // 9F02 of the wrong length
                         0x9A, 0x03, 0x24, 0x05, 0x17,              //
                         0x9F, 0x1A, 0x02, 0x08, 0x40};              // overrides pos_config
    const struct {
        const char *what;
        Bytes dol;
        Bytes data;  // Lc and what follows
    } cases[] = {
        {"a wrong length in the input gives zeros", {0x9F, 0x02, 0x06}, {0x06, 0, 0, 0, 0, 0, 0}},
        {"from the input", {0x9A, 0x03}, {0x03, 0x24, 0x05, 0x17}},
        {"the input before pos_config", {0x9F, 0x1A, 0x02}, {0x02, 0x08, 0x40}},
        {"from pos_config", {0x9F, 0x37, 0x04}, {0x04, 0x20, 0x65, 0xC8, 0xF9}},
        {"a length pos_config does not have", {0x9F, 0x37, 0x02}, {0x02, 0x00, 0x00}},
        {"a tag the terminal does not supply", {0x9F, 0x45, 0x02, 0x5F, 0x2A, 0x02}, {0x04, 0, 0, 0x01, 0x56}},
        {"an entry cut short is ignored", {0x9C, 0x01, 0x9F}, {0x01, 0x00}},
        {"nothing asked", {}, {0x00}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t apdu[EMV_APDU_SIZE];
        std::memset(apdu, 0xA5, sizeof apdu);
        const tlv_object dol = object(0x8C, c.dol);
        EXPECT_EQ(fill_xDOL(&dol, input.data(), static_cast<int>(input.size()), apdu), c.data[0]);
        EXPECT_EQ(Bytes(apdu + 4, apdu + 4 + c.data.size()), c.data);
        EXPECT_EQ(apdu[4 + c.data.size()], 0xA5) << "nothing written after the data";
    }
}

TEST(FillDol, PdolGoesIntoTheCommandTemplate) {
    uint8_t apdu[EMV_APDU_SIZE] = {};
    const tlv_object pdol = object(0x9F38, {0x9F, 0x66, 0x04, 0x9C, 0x01});
    EXPECT_EQ(fill_xDOL(&pdol, nullptr, 0, apdu), 7);
    EXPECT_EQ(Bytes(apdu + 4, apdu + 12), (Bytes{0x07, 0x83, 0x05, 0xF6, 0x80, 0x00, 0x00, 0x00}));
    // An empty PDOL still sends the template.
    const tlv_object empty = object(0x9F38, {});
    EXPECT_EQ(fill_xDOL(&empty, nullptr, 0, apdu), 2);
    EXPECT_EQ(Bytes(apdu + 4, apdu + 7), (Bytes{0x02, 0x83, 0x00}));
}

TEST(FillDol, DataBeyondOneCommandIsRefused) {
    // Two entries of 200 bytes: Lc is one byte.
    uint8_t apdu[EMV_APDU_SIZE];
    std::memset(apdu, 0xA5, sizeof apdu);
    const tlv_object dol = object(0x8D, {0x9F, 0x4E, 0xC8, 0x9F, 0x4E, 0xC8});
    EXPECT_EQ(fill_xDOL(&dol, nullptr, 0, apdu), -1);
    // A PDOL has two bytes less room: 253 bytes of values fit, 254 do not.
    const tlv_object fits = object(0x9F38, {0xDF, 0x01, 0xFD});
    EXPECT_EQ(fill_xDOL(&fits, nullptr, 0, apdu), 255);
    const tlv_object too_long = object(0x9F38, {0xDF, 0x01, 0xFE});
    EXPECT_EQ(fill_xDOL(&too_long, nullptr, 0, apdu), -1);
    EXPECT_EQ(apdu[5 + 255], 0xA5);
}

// ---- processing options and records

TEST_F(Flows, Format1ProcessingOptionsNameOneRecord) {
    emv_application app{};
    card_answers(with_sw({0x80, 0x06, 0x7C, 0x00, 0x08, 0x01, 0x01, 0x00}));
    card_answers(with_sw({0x70, 0x04, 0x5F, 0x34, 0x01, 0x01}));
    for (int i = 0; i < 4; ++i) card_answers(with_sw({}, 0x6A88));
    Records r;
    ASSERT_EQ(get_records(&app, &r.list, &r.count), 1);

    const auto sent = apdus();
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[0], (Bytes{0x80, 0xA8, 0x00, 0x00, 0x02, 0x83, 0x00}));
    EXPECT_EQ(sent[1], (Bytes{0x00, 0xB2, 0x01, 0x0C, 0x00}));
    EXPECT_EQ(sent[2], (Bytes{0x80, 0xCA, 0x9F, 0x36, 0x00}));
    EXPECT_EQ(sent[5], (Bytes{0x80, 0xCA, 0x9F, 0x4F, 0x00}));
    ASSERT_EQ(r.count, 3);
    EXPECT_EQ(r.list[0].tag, 0x82);
    EXPECT_EQ(Bytes(r.list[0].value, r.list[0].value + 2), (Bytes{0x7C, 0x00}));
    EXPECT_EQ(r.list[1].tag, 0x94);
    EXPECT_EQ(Bytes(r.list[1].value, r.list[1].value + 4), (Bytes{0x08, 0x01, 0x01, 0x00}));
    EXPECT_EQ(r.list[2].tag, 0x70);
}

TEST_F(Flows, Format2ProcessingOptionsWithAZeroFilledPdol) {
    emv_application app{};
    app.pdol = object(0x9F38, {0x9F, 0x66, 0x04, 0x9F, 0x02, 0x06});
    card_answers(with_sw({0x77, 0x0A, 0x82, 0x02, 0x7C, 0x00, 0x94, 0x04, 0x10, 0x02, 0x03, 0x00}));
    card_answers(with_sw({0x70, 0x00}));
    card_answers(with_sw({0x70, 0x00}));
    card_answers(with_sw({0x9F, 0x36, 0x02, 0x00, 0x07}));
    for (int i = 0; i < 3; ++i) card_answers(with_sw({}, 0x6A88));
    Records r;
    ASSERT_EQ(get_records(&app, &r.list, &r.count), 1);
    const auto sent = apdus();
    ASSERT_EQ(sent.size(), 7u);
    // The read-only walk sends zeros for the PDOL, not the terminal's values.
    EXPECT_EQ(sent[0], (Bytes{0x80, 0xA8, 0x00, 0x00, 0x0C, 0x83, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sent[1], (Bytes{0x00, 0xB2, 0x02, 0x14, 0x00}));
    EXPECT_EQ(sent[2], (Bytes{0x00, 0xB2, 0x03, 0x14, 0x00}));
    ASSERT_EQ(r.count, 3);  // AIP, AFL, ATC: empty templates are not kept
    EXPECT_EQ(r.list[2].tag, 0x9F36);
}

TEST_F(Flows, MalformedAnswersEndTheReading) {
    const struct {
        const char *what;
        Bytes gpo_answer;
    } cases[] = {
        {"AFL of SFI 0", with_sw({0x80, 0x06, 0x7C, 0x00, 0x00, 0x01, 0x01, 0x00})},
        {"AFL of SFI 31", with_sw({0x80, 0x06, 0x7C, 0x00, 0xF8, 0x01, 0x01, 0x00})},
        {"AFL naming record 0", with_sw({0x80, 0x06, 0x7C, 0x00, 0x08, 0x00, 0x01, 0x00})},
        {"AFL with the last record before the first", with_sw({0x80, 0x06, 0x7C, 0x00, 0x08, 0x03, 0x02, 0x00})},
        {"AFL not in entries of four", with_sw({0x80, 0x05, 0x7C, 0x00, 0x08, 0x01, 0x01})},
        {"format 1 without the AIP", with_sw({0x80, 0x01, 0x7C})},
        {"format 2 without the AIP", with_sw({0x77, 0x06, 0x94, 0x04, 0x08, 0x01, 0x01, 0x00})},
        {"element longer than the answer", with_sw({0x80, 0x08, 0x7C, 0x00, 0x08, 0x01, 0x01, 0x00})},
        {"unknown template", with_sw({0x6F, 0x02, 0x7C, 0x00})},
        {"status word alone", with_sw({})},
        {"status word other than 90 00", with_sw({}, 0x6985)},
        {"no status word", {0x90}},
        {"nothing", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        dev->clear_written();
        emv_application app{};
        card_answers(c.gpo_answer);
        Records r;
        EXPECT_EQ(get_records(&app, &r.list, &r.count), 0);
        EXPECT_EQ(apdus().size(), 1u) << "no record is read";
        EXPECT_LE(r.count, 2);
        EXPECT_EQ(dev->unread(), 0u);
    }
}

TEST_F(Flows, AnAnswerLongerThanTheResponseCountsIsRefused) {
    apdu_response r{};
    const uint8_t apdu[] = {0x00, 0xB2, 0x01, 0x0C, 0x00};
    card_answers(with_sw(Bytes(255, 0x11)));
    EXPECT_EQ(apduWithBytesEx(nullptr, apdu, sizeof apdu, &r), 1);
    EXPECT_EQ(r.len, 255);
    EXPECT_EQ(r.sw, 0x9000);
    // A reader reply far beyond any APDU answer, 4000 bytes.
    card_answers(with_sw(Bytes(3998, 0x22)));
    EXPECT_EQ(apduWithBytesEx(nullptr, apdu, sizeof apdu, &r), 0);
    EXPECT_EQ(errno, -16);
    card_answers(with_sw(Bytes(256, 0x33)));
    EXPECT_EQ(apduWithBytesEx(nullptr, apdu, sizeof apdu, &r), 0);
}

// ---- the directory

TEST_F(Flows, DirectoryWalkStopsAfterThirtyRecordsOrAtRecordNotFound) {
    const Bytes pse = with_sw({0x6F, 0x08, 0x84, 0x01, 0x31, 0xA5, 0x03, 0x88, 0x01, 0x02});
    card_answers(pse);
    for (int i = 0; i < 40; ++i) card_answers(with_sw({0x70, 0x02, 0x9F, 0x00}));
    emv_application app{};
    EXPECT_EQ(get_application(&app), 0);
    auto sent = apdus();
    ASSERT_EQ(sent.size(), 31u);
    EXPECT_EQ(sent[0][4], 0x0E);
    EXPECT_EQ(Bytes(sent[0].begin() + 5, sent[0].end()),
              (Bytes{'1', 'P', 'A', 'Y', '.', 'S', 'Y', 'S', '.', 'D', 'D', 'F', '0', '1'}));
    EXPECT_EQ(sent[30], (Bytes{0x00, 0xB2, 30, 0x14, 0x00}));

    dev->clear_written();
    dev->input_.clear();
    card_answers(pse);
    card_answers(with_sw({0x70, 0x05, 0x61, 0x03, 0x4F, 0x01, 0xA0}));  // an AID without a label
    card_answers(with_sw({}, 0x6A83));
    EXPECT_EQ(get_application(&app), 0);
    EXPECT_EQ(apdus().size(), 3u);

    dev->clear_written();
    card_answers(pse);
    card_answers(with_sw({}, 0x6A82));  // skipped
    card_answers(with_sw({0x70, 0x0C, 0x61, 0x0A, 0x4F, 0x02, 0xA0, 0x01, 0x50, 0x01, 'X', 0x87, 0x01, 0x01}));
    ASSERT_EQ(get_application(&app), 1);
    EXPECT_EQ(app.aid.length, 2);
    EXPECT_EQ(app.label.value[0], 'X');
    EXPECT_EQ(app.priority.value[0], 1);
    EXPECT_EQ(app.preferred_name.length, 0);
}

TEST_F(Flows, SelectionChecksTheNameTheCardAnswers) {
    emv_application app{};
    app.aid = object(0x4F, {0xA0, 0x00, 0x00, 0x03, 0x33, 0x01, 0x01, 0x01});
    const struct {
        const char *what;
        Bytes answer;
        int selected;
        int pdol_length;
    } cases[] = {
        {"same name, a PDOL", with_sw({0x6F, 0x10, 0x84, 0x08, 0xA0, 0x00, 0x00, 0x03, 0x33, 0x01, 0x01, 0x01,
                                       0xA5, 0x04, 0x9F, 0x38, 0x01, 0x00}), 1, 1},
        {"another name", with_sw({0x6F, 0x09, 0x84, 0x07, 0xA0, 0x00, 0x00, 0x03, 0x33, 0x01, 0x01}), 0, 0},
        {"no name", with_sw({0x6F, 0x00}), 0, 0},
        {"refused", with_sw({}, 0x6A82), 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        dev->clear_written();
        card_answers(c.answer);
        app.pdol = tlv_object{};
        EXPECT_EQ(select_application(&app), c.selected);
        EXPECT_EQ(app.pdol.length, c.pdol_length);
        EXPECT_EQ(apdus().at(0), (Bytes{0x00, 0xA4, 0x04, 0x00, 0x08, 0xA0, 0x00, 0x00, 0x03, 0x33, 0x01, 0x01, 0x01}));
    }
}

TEST(Purchase, EndWithoutAStartAndMissingArguments) {
    picc card{};
    uint8_t out[EMV_OUT_SIZE];
    uint16_t length = 0;
    const uint8_t answer[] = {0x8A, 0x02, 0x30, 0x30};
    EXPECT_EQ(pboc_emv_purchase_end(&card, answer, sizeof answer, out, &length), -1);
    EXPECT_EQ(errno, -108);
    EXPECT_EQ(pboc_emv_purchase_end(nullptr, answer, sizeof answer, out, &length), -1);
    EXPECT_EQ(errno, -47);
    EXPECT_EQ(pboc_emv_purchase_init(&card, answer, sizeof answer, nullptr, &length), -1);
    EXPECT_EQ(errno, -24);
    EXPECT_EQ(pboc_emv_info(nullptr), -1);
}

}  // namespace
