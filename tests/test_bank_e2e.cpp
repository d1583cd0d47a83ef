// Bank cards end to end: the library over a pseudo-terminal against the
// simulated reader and its virtual PBOC card. The card information through
// control code 31 (plain and masked), the purchase start and end through
// control codes 50 and 51 with the card answering in both formats, issuer
// authentication, issuer scripts, and the failures the card can cause.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bank_card.h"
#include "byte_strings.h"
#include "emv.h"
#include "log_capture.h"
#include "pboc.h"
#include "sim_link.h"

namespace {

using vrtest::Bytes;
using vrtest::hex;

const Bytes kUid{0x62, 0x11, 0x22, 0x33};
constexpr const char *kPan = "6229990000123459";
constexpr const char *kHolder = "VANTEL/TEST CARD";
constexpr const char *kIdNumber = "990001200001010011";
// Amount 1.00, other amount 0, TVR, date, type, time.
constexpr const char *kTransaction = "9F02060000000001009F0306000000000000950500000000009A032405179C01009F2103101112";

Bytes bytes_of(const std::string &text) {
    Bytes out(text.size() / 2);
    EXPECT_EQ(pboc_str2data(text.c_str(), out.data(), static_cast<int>(out.size())), 0) << text;
    return out;
}

Bytes value(const Bytes &data, uint16_t tag) {
    tlv_object o{};
    get_tlv(data.data(), static_cast<int>(data.size()), tag, 1, &o);
    return Bytes(o.value, o.value + o.length);
}

// The two parts of an online message, each behind its big-endian length.
struct Message {
    Bytes part1, part2;
    bool whole = false;
};

Message parts_of(const Bytes &m) {
    Message out;
    if (m.size() < 4) return out;
    const std::size_t n1 = m[0] << 8 | m[1];
    if (m.size() < 4 + n1) return out;
    const std::size_t n2 = m[2 + n1] << 8 | m[3 + n1];
    out.part1.assign(m.begin() + 2, m.begin() + 2 + static_cast<long>(n1));
    out.part2.assign(m.begin() + 4 + static_cast<long>(n1), m.end());
    out.whole = out.part2.size() == n2;
    return out;
}

// The tags of a run of elements, in order.
std::vector<uint16_t> tags_of(const Bytes &data) {
    std::vector<uint16_t> tags;
    for (std::size_t at = 0; at < data.size();) {
        const uint16_t tag = get_tag(data.data() + at, static_cast<int>(data.size() - at));
        const std::size_t tag_size = tag > 0xFF ? 2 : 1;
        tags.push_back(tag);
        at += tag_size + 1 + data[at + tag_size];
    }
    return tags;
}

class BankE2e : public vrtest::SimLink {
protected:
    void SetUp() override {
        open_link();
        card = vrsim::BankCard::make(kUid, nullptr);
        sim->field().place(card);
        record = picc_open("pboc_card", "uart", 0, PICC_SEARCH_PLAIN, sim->path().c_str());
        ASSERT_NE(record, nullptr) << errno;
    }
    const char *item(int which) {
        const char *text = "unset";
        EXPECT_EQ(picc_ctrl(record, PICC_CTRL_BANK_INFO, which, &text), 0) << which;
        return text;
    }
    // Control code 50 or 51 on hexadecimal text: the result code, and the
    // result's bytes in *out.
    int step(int code, const std::string &in, Bytes *out = nullptr) {
        std::vector<char> text(2 * EMV_OUT_SIZE + 1);
        int length = -1;
        const int rc = picc_ctrl(record, code, in.c_str(), text.data(), &length);
        if (rc == 0 && out) {
            EXPECT_EQ(static_cast<std::size_t>(length), std::strlen(text.data()));
            *out = bytes_of(text.data());
        }
        return rc;
    }
    Bytes start() {
        Bytes message;
        EXPECT_EQ(step(PICC_CTRL_PURCHASE_INIT, kTransaction, &message), 0);
        return message;
    }
    // The issuer's answer to the last ARQC: authentication data (91), the
    // response code (8A) and optionally a script (72).
    std::string issuer_answer(const std::string &arc = "3030", const std::string &script = "") {
        const auto auth = card->issuer_authentication(bytes_of(arc));
        EXPECT_TRUE(auth);
        std::string answer = "910A" + hex(auth.value_or(Bytes{})) + "8A02" + arc;
        if (!script.empty()) answer += "72" + hex(Bytes{static_cast<uint8_t>(script.size() / 2)}) + script;
        return answer;
    }
    // A script command with the card's MAC, as an 86 element.
    std::string script_command(const std::string &command) {
        const auto c = card->script_command(bytes_of(command));
        EXPECT_TRUE(c);
        const Bytes b = c.value_or(Bytes{});
        return "86" + hex(Bytes{static_cast<uint8_t>(b.size())}) + hex(b);
    }
    std::shared_ptr<vrsim::BankCard> card;
    picc *record = nullptr;
};

TEST_F(BankE2e, CardInformationPlainAndMasked) {
    vrtest::LogCapture log;
    sim->clear_log();
    EXPECT_STREQ(item(PBOC_ITEM_PAN), kPan);
    // One reading for all items: SELECT, records 1..3 and the fourth (6A83),
    // GET DATA of the balance.
    const auto sent = sim->requests();
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(hex(sent[0].data), "00A4040007A0000003330101");
    EXPECT_EQ(hex(sent[1].data), "00B2010C00");
    EXPECT_EQ(hex(sent[4].data), "00B2040C00");
    EXPECT_EQ(hex(sent[5].data), "80CA9F7909");

    EXPECT_STREQ(item(PBOC_ITEM_MSD2), "6229990000123459D30122201234567890");
    EXPECT_STREQ(item(PBOC_ITEM_PANMASK), "622999000012****");
    EXPECT_STREQ(item(PBOC_ITEM_VALIDDATE), "12/30");
    EXPECT_STREQ(item(PBOC_ITEM_NAME), "56414E54454C2F544553542043415244");
    EXPECT_STREQ(item(PBOC_ITEM_NAMEASCII), kHolder);
    EXPECT_STREQ(item(PBOC_ITEM_NAMEASCIIMASK), "VANTEL/TEST CAR*");
    EXPECT_STREQ(item(PBOC_ITEM_IDENTYPE), "00");
    EXPECT_STREQ(item(PBOC_ITEM_IDENNUM), "393930303031323030303031303130303131");
    EXPECT_STREQ(item(PBOC_ITEM_IDENNUMASCII), kIdNumber);
    EXPECT_STREQ(item(PBOC_ITEM_IDENNUMASCIIMASK), "99000120000101****");
    EXPECT_STREQ(pboc_info_qbocvalue(record), "000000010000");
    EXPECT_STREQ(pboc_info_uuid(record), "62112233");
    EXPECT_EQ(sim->requests().size(), 6u) << "the information is read once";

    // Nothing of it reaches the log.
    for (const std::string &line : log.lines()) {
        EXPECT_EQ(line.find(kPan), std::string::npos) << line;
        EXPECT_EQ(line.find(kHolder), std::string::npos) << line;
        EXPECT_EQ(line.find(kIdNumber), std::string::npos) << line;
        EXPECT_EQ(line.find("56414E54454C"), std::string::npos) << line;
    }
}

TEST_F(BankE2e, InformationErrorsAndRetry) {
    // A reading that fails (the reader loses the card at the SELECT) keeps
    // nothing, not even the UID stored before it; the next request reads
    // the card again.
    const char *text = nullptr;
    sim->inject(vrsim::Fault::with_status(vrsim::status::no_card));
    EXPECT_EQ(picc_ctrl(record, PICC_CTRL_BANK_INFO, PBOC_ITEM_PAN, &text), -30);
    EXPECT_EQ(record->info, nullptr);
    EXPECT_EQ(picc_ctrl(record, PICC_CTRL_BANK_INFO, PBOC_ITEM_PAN, &text), 0);
    EXPECT_STREQ(text, kPan);

    EXPECT_EQ(picc_ctrl(record, PICC_CTRL_BANK_INFO, 11, &text), -24);
    EXPECT_EQ(picc_ctrl(record, PICC_CTRL_BANK_INFO, -1, &text), -24);
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_BANK_INFO, 0, &text), -47);
    EXPECT_EQ(picc_ctrl(record, PICC_CTRL_BANK_INFO, 0, nullptr), -24);
}

TEST_F(BankE2e, RecordsEndAtTheFirstErrorStatus) {
    // Record 1 answered 6A83: nothing is decoded and no further record is
    // asked for; the balance is still read.
    card->fail(0xB2, 0x6A83);
    sim->clear_log();
    const char *text = "unset";
    EXPECT_EQ(picc_ctrl(record, PICC_CTRL_BANK_INFO, PBOC_ITEM_PAN, &text), 0);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(sim->requests().size(), 3u);
    EXPECT_STREQ(pboc_info_qbocvalue(record), "000000010000");
}

TEST_F(BankE2e, PurchaseInBothFormats) {
    for (int format : {2, 1}) {
        SCOPED_TRACE(format);
        card->set_gpo_format(format);
        sim->clear_log();
        const Bytes message = start();
        const Message m = parts_of(message);
        ASSERT_TRUE(m.whole) << hex(message);
        EXPECT_EQ(tags_of(m.part1), (std::vector<uint16_t>{0x5A, 0x5F24, 0x5F34}));
        EXPECT_EQ(tags_of(m.part2), (std::vector<uint16_t>{0x82, 0x9F36, 0x9F26, 0x9F27, 0x9F33, 0x95, 0x9F37, 0x9F02,
                                                           0x9F03, 0x9F1A, 0x5F2A, 0x9A, 0x9C, 0x9F10}));
        EXPECT_EQ(hex(value(m.part1, 0x5A)), kPan);
        EXPECT_EQ(hex(value(m.part1, 0x5F24)), "301231");
        EXPECT_EQ(hex(value(m.part2, 0x82)), "7C00");
        EXPECT_EQ(hex(value(m.part2, 0x9F27)), "80");
        EXPECT_EQ(value(m.part2, 0x9F36), (Bytes{0x00, static_cast<uint8_t>(card->atc())}));
        EXPECT_EQ(hex(value(m.part2, 0x9F02)), "000000000100");
        EXPECT_EQ(hex(value(m.part2, 0x9F37)), "2065C8F9") << "the terminal's unpredictable number";
        EXPECT_EQ(card->last_cryptogram(), 0x80);

        // The APDUs: PSE, its directory record, the application, GPO with
        // the PDOL's values, the AFL's four records, GENERATE AC.
        const auto sent = sim->requests();
        ASSERT_EQ(sent.size(), 9u);
        EXPECT_EQ(hex(sent[0].data), "00A404000E315041592E5359532E4444463031");
        EXPECT_EQ(hex(sent[1].data), "00B2010C00");
        EXPECT_EQ(hex(sent[2].data), "00A4040008A000000333010101");
        EXPECT_EQ(hex(sent[3].data).substr(0, 14), "80A8000023832" "1");
        EXPECT_EQ(hex(sent[3].data).substr(14, 8), "F6800000") << "9F66 from the terminal";
        EXPECT_EQ(hex(sent[7].data), "00B2011400");
        EXPECT_EQ(hex(sent[8].data).substr(0, 10), "80AE800034");

        Bytes answer;
        ASSERT_EQ(step(PICC_CTRL_PURCHASE_END, issuer_answer(), &answer), 0);
        EXPECT_EQ(card->last_cryptogram(), 0x40) << "approved";
        const Bytes cid = format == 2 ? value(answer, 0x9F27) : Bytes{value(answer, 0x80).at(0)};
        EXPECT_EQ(cid, Bytes{0x40});
        // External authenticate, then the second GENERATE AC.
        const auto all = sim->requests();
        EXPECT_EQ(hex(all[9].data).substr(0, 10), "008200000A");
        EXPECT_EQ(hex(all[10].data).substr(0, 14), "80AE80001F3030");
    }
}

TEST_F(BankE2e, EndWithAuthenticationDataOnly) {
    start();
    const auto auth = card->issuer_authentication(bytes_of("3030"));
    ASSERT_TRUE(auth);
    Bytes answer;
    // No response code: the terminal's own (Y1, offline approved) fills CDOL2.
    ASSERT_EQ(step(PICC_CTRL_PURCHASE_END, "910A" + hex(*auth), &answer), 0);
    EXPECT_EQ(card->last_cryptogram(), 0x40);
    EXPECT_EQ(hex(sim->requests().back().data).substr(10, 4), "5931");
    // The purchase is over.
    EXPECT_EQ(step(PICC_CTRL_PURCHASE_END, "8A023030"), -108);
}

TEST_F(BankE2e, IssuerScripts) {
    const struct {
        const char *what;
        int good_before;  // commands with a good MAC, then
        bool spoiled;     // one with a spoiled MAC
        uint8_t result;
    } cases[] = {
        {"all commands run", 2, false, 0x20},
        {"the second fails", 1, true, 0x12},
        {"the first fails", 0, true, 0x11},
        {"no command", 0, false, 0x00},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes message = start();
        std::string script = "9F180411223344";
        const std::string put_balance = script_command("04DA9F7906000000020000");
        for (int i = 0; i < c.good_before; ++i) script += i == 0 ? put_balance : script_command("8424000000");
        if (c.spoiled) {
            std::string bad = script_command("841E000000");
            bad.back() = bad.back() == '0' ? '1' : '0';
            script += bad;
        }
        Bytes out;
        ASSERT_EQ(step(PICC_CTRL_PURCHASE_END, issuer_answer("3030", script), &out), 0);
        // The online message of the start, then DF31 with the result.
        ASSERT_EQ(out.size(), message.size() + 8);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(message.size())), message);
        EXPECT_EQ(Bytes(out.end() - 8, out.end()), (Bytes{0xDF, 0x31, 0x05, c.result, 0x11, 0x22, 0x33, 0x44}));
        EXPECT_FALSE(card->blocked()) << "the spoiled block command did not run";
        if (c.good_before > 0) {
            EXPECT_EQ(card->balance(), 20000u);
        }
    }
}

TEST_F(BankE2e, EndFailures) {
    // Without a start.
    EXPECT_EQ(step(PICC_CTRL_PURCHASE_END, "8A023030"), -108);

    // A wrong ARPC: the card refuses the authentication (63 00).
    start();
    EXPECT_EQ(step(PICC_CTRL_PURCHASE_END, "910A00112233445566778899" "3030" "8A023030"), -108);
    // The application stays, but the card now declines the second cryptogram.
    Bytes answer;
    ASSERT_EQ(step(PICC_CTRL_PURCHASE_END, "8A023030", &answer), 0);
    EXPECT_EQ(card->last_cryptogram(), 0x00);

    // Scripts of 71 are not run, and the application waits for another end.
    start();
    EXPECT_EQ(step(PICC_CTRL_PURCHASE_END, issuer_answer() + "7103860100"), -108);
    ASSERT_EQ(step(PICC_CTRL_PURCHASE_END, "8A023030", &answer), 0);

    // The card refuses the second GENERATE AC: the purchase is over.
    start();
    card->fail(0xAE, 0x6985);
    EXPECT_EQ(step(PICC_CTRL_PURCHASE_END, "8A023030"), -108);
    EXPECT_EQ(step(PICC_CTRL_PURCHASE_END, "8A023030"), -108);

    // Text that is no hexadecimal, and no record.
    EXPECT_EQ(step(PICC_CTRL_PURCHASE_END, "8A0230"
                                           "3"),
              -21);
    std::vector<char> text(64);
    int length = 0;
    EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_PURCHASE_INIT, kTransaction, text.data(), &length), -47);
}

TEST_F(BankE2e, StartFailuresFromTheCard) {
    const struct {
        const char *what;
        uint8_t ins;
        uint16_t sw;
        int code;
    } cases[] = {
        {"no payment environment", 0xA4, 0x6A82, -107},
        {"processing options refused", 0xA8, 0x6985, -106},
        {"a record missing", 0xB2, 0x6A83, -107},  // the directory record
        {"first GENERATE AC refused", 0xAE, 0x6985, -106},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        card->clear_faults();
        card->fail(c.ins, c.sw);
        EXPECT_EQ(step(PICC_CTRL_PURCHASE_INIT, kTransaction), c.code);
        // No application is left for an end.
        EXPECT_EQ(step(PICC_CTRL_PURCHASE_END, "8A023030"), -108);
    }
    // A transaction input without the amount.
    card->clear_faults();
    EXPECT_EQ(step(PICC_CTRL_PURCHASE_INIT, "950500000000009A032405179C0100"), -106);
}

TEST_F(BankE2e, InfoWalkOnACardWithoutPaymentEnvironment) {
    card->set_pse(false);
    sim->clear_log();
    testing::internal::CaptureStderr();
    EXPECT_EQ(pboc_emv_info(record), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Invalid status word: 0x6a82 File not found"), std::string::npos) << err;
    EXPECT_EQ(sim->requests().size(), 1u);

    // With it: selection, processing options, four records, four GET DATA.
    card->set_pse(true);
    sim->clear_log();
    EXPECT_EQ(pboc_emv_info(record), 0);
    EXPECT_EQ(sim->requests().size(), 3u + 1u + 4u + 4u);
}

}  // namespace
