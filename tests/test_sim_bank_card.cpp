// The simulated bank card through the reader model: the order its EMV
// commands must come in, what it checks (lengths, the issuer's ARPC, script
// MACs), blocking by script, its settings and injected status words, and
// its control commands.
#include <gtest/gtest.h>

#include <string>

#include "bank_card.h"
#include "byte_strings.h"
#include "control.h"
#include "firmware.h"
#include "sim_harness.h"

using vrsim::BankCard;
using vrsim::Bytes;
using vrtest::cat;

namespace {

Bytes sw_of(const Bytes &answer) { return answer.size() < 2 ? Bytes{} : Bytes(answer.end() - 2, answer.end()); }

const Bytes kOk{0x90, 0x00};
const Bytes kSelectApp{0x00, 0xA4, 0x04, 0x00, 0x07, 0xA0, 0x00, 0x00, 0x03, 0x33, 0x01, 0x01};
// 83 and the 33 bytes of the card's PDOL values.
const Bytes kGpo = cat({0x80, 0xA8, 0x00, 0x00, 0x23, 0x83, 0x21}, Bytes(33, 0));
const Bytes kGenerateArqc = cat({0x80, 0xAE, 0x80, 0x00, 0x34}, Bytes(52, 0));
Bytes second_generate(const Bytes &arc) { return cat(cat({0x80, 0xAE, 0x40, 0x00, 0x1F}, arc), Bytes(29, 0)); }
Bytes external_authenticate(const Bytes &data) { return cat({0x00, 0x82, 0x00, 0x00, 0x0A}, data); }

// The reader model with the bank card activated.
struct Reader {
    vrsim::Firmware fw;
    std::shared_ptr<BankCard> card = BankCard::make({0x62, 0x01, 0x02, 0x03}, nullptr);

    Reader() {
        fw.field().place(card);
        EXPECT_EQ(fw.handle(vrsim::Request{0x0210, {0x52}}).status, 0x00);
    }
    Bytes apdu(const Bytes &command) {
        const vrsim::Reply r = fw.handle(vrsim::Request{0x0211, command});
        EXPECT_EQ(r.status, 0x00);
        return r.data;
    }
    Bytes sw(const Bytes &command) { return sw_of(apdu(command)); }
    // Selected, processing options, first GENERATE AC: an ARQC.
    void go_online() {
        ASSERT_EQ(sw(kSelectApp), kOk);
        ASSERT_EQ(sw(kGpo), kOk);
        ASSERT_EQ(sw(kGenerateArqc), kOk);
        ASSERT_EQ(card->last_cryptogram(), 0x80);
    }
};

TEST(SimBankCard, CommandsOutOfOrderOrOfTheWrongLength) {
    Reader r;
    const Bytes out_of_sequence{0x69, 0x85};
    EXPECT_EQ(r.sw(kGpo), out_of_sequence) << "no application selected";
    EXPECT_EQ(r.sw({0x80, 0xCA, 0x9F, 0x36, 0x00}), out_of_sequence);
    ASSERT_EQ(r.sw(kSelectApp), kOk);
    EXPECT_EQ(r.sw(kGenerateArqc), out_of_sequence) << "before processing options";
    EXPECT_EQ(r.sw(external_authenticate(Bytes(10, 0))), out_of_sequence);
    EXPECT_EQ(r.sw({0x84, 0x1E, 0x00, 0x00, 0x04, 1, 2, 3, 4}), out_of_sequence) << "a script before the ARQC";
    EXPECT_EQ(r.sw({0x80, 0xA8, 0x00, 0x00, 0x02, 0x83, 0x00}), (Bytes{0x67, 0x00})) << "the PDOL asks for 33 bytes";
    ASSERT_EQ(r.sw(kGpo), kOk);
    EXPECT_EQ(r.sw({0x80, 0xAE, 0x80, 0x00, 0x02, 0x83, 0x00}), (Bytes{0x67, 0x00})) << "CDOL1 asks for 52";
    ASSERT_EQ(r.sw(kGenerateArqc), kOk);
    EXPECT_EQ(r.sw(external_authenticate(Bytes(9, 0))), (Bytes{0x67, 0x00}));
    EXPECT_EQ(r.sw({0x80, 0xCA, 0x9F, 0x7F, 0x00}), (Bytes{0x6A, 0x88}));
    EXPECT_EQ(r.sw({0x84, 0x99, 0x00, 0x00, 0x04, 1, 2, 3, 4}), (Bytes{0x6D, 0x00}));
    ASSERT_EQ(r.sw(second_generate({'0', '0'})), kOk);
    EXPECT_EQ(r.card->last_cryptogram(), 0x40);
    EXPECT_EQ(r.sw(second_generate({'0', '0'})), out_of_sequence) << "the transaction is complete";
    EXPECT_EQ(r.card->atc(), 1);
}

TEST(SimBankCard, IssuerAuthenticationDecidesTheSecondCryptogram) {
    const struct {
        const char *what;
        bool good_arpc;
        Bytes arc;
        Bytes auth_sw;
        uint8_t cryptogram;
    } cases[] = {
        {"approved", true, {'0', '0'}, {0x90, 0x00}, 0x40},
        {"declined by the issuer", true, {'0', '5'}, {0x90, 0x00}, 0x00},
        {"ARPC not the issuer's", false, {'0', '0'}, {0x63, 0x00}, 0x00},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Reader r;
        r.go_online();
        Bytes data = r.card->issuer_authentication(c.arc).value();
        if (!c.good_arpc) data[0] ^= 0x01;
        EXPECT_EQ(r.sw(external_authenticate(data)), c.auth_sw);
        EXPECT_EQ(r.sw(external_authenticate(data)), (Bytes{0x69, 0x85})) << "once only";
        ASSERT_EQ(r.sw(second_generate(c.arc)), kOk);
        EXPECT_EQ(r.card->last_cryptogram(), c.cryptogram);
    }
}

TEST(SimBankCard, ScriptsNeedTheMacAndBlockTheApplication) {
    Reader r;
    r.go_online();
    ASSERT_FALSE(r.card->issuer_authentication(Bytes{'0'}));
    Bytes block = r.card->script_command(Bytes{0x84, 0x1E, 0x00, 0x00, 0x00}).value();
    EXPECT_EQ(block.size(), 9u);
    Bytes spoiled = block;
    spoiled.back() ^= 0xFF;
    EXPECT_EQ(r.sw(spoiled), (Bytes{0x69, 0x88}));
    EXPECT_FALSE(r.card->blocked());
    EXPECT_EQ(r.sw(block), kOk);
    EXPECT_TRUE(r.card->blocked());
    const Bytes put = r.card->script_command(Bytes{0x04, 0xDA, 0x9F, 0x79, 0x06, 0x00, 0x00, 0x00, 0x01, 0x23, 0x45}).value();
    EXPECT_EQ(r.sw(put), kOk);
    EXPECT_EQ(r.card->balance(), 12345u);
    const Bytes not_bcd = r.card->script_command(Bytes{0x04, 0xDA, 0x9F, 0x79, 0x06, 0, 0, 0, 0, 0, 0xAB}).value();
    EXPECT_EQ(r.sw(not_bcd), (Bytes{0x6A, 0x80}));

    // Blocked: the application's SELECT warns, and it refuses a purchase.
    const Bytes selected = r.apdu(kSelectApp);
    EXPECT_EQ(sw_of(selected), (Bytes{0x62, 0x83}));
    EXPECT_GT(selected.size(), 2u) << "the FCI comes all the same";
    EXPECT_EQ(r.sw(kGpo), (Bytes{0x69, 0x85}));
}

TEST(SimBankCard, SettingsAndInjectedStatusWords) {
    Reader r;
    // The environments: PSE with its SFI, PPSE with the directory entry.
    const Bytes pse = r.apdu(cat({0x00, 0xA4, 0x04, 0x00, 0x0E}, Bytes{'1', 'P', 'A', 'Y', '.', 'S', 'Y', 'S', '.', 'D',
                                                                       'D', 'F', '0', '1'}));
    EXPECT_EQ(sw_of(pse), kOk);
    EXPECT_EQ(Bytes(pse.begin() + 20, pse.begin() + 23), (Bytes{0x88, 0x01, 0x01}));
    const Bytes ppse = r.apdu(cat({0x00, 0xA4, 0x04, 0x00, 0x0E}, Bytes{'2', 'P', 'A', 'Y', '.', 'S', 'Y', 'S', '.',
                                                                        'D', 'D', 'F', '0', '1', 0x00}));
    EXPECT_EQ(sw_of(ppse), kOk);
    EXPECT_EQ(Bytes(ppse.begin() + 20, ppse.begin() + 22), (Bytes{0xBF, 0x0C}));
    r.card->set_pse(false);
    EXPECT_EQ(r.sw(cat({0x00, 0xA4, 0x04, 0x00, 0x0E}, Bytes{'1', 'P', 'A', 'Y', '.', 'S', 'Y', 'S', '.', 'D', 'D', 'F',
                                                           '0', '1'})),
              (Bytes{0x6A, 0x82}));

    // Format 1 and format 2 processing options.
    ASSERT_EQ(r.sw(kSelectApp), kOk);
    EXPECT_EQ(r.apdu(kGpo)[0], 0x77);
    r.card->set_gpo_format(1);
    const Bytes f1 = r.apdu(kGpo);
    EXPECT_EQ(f1, (Bytes{0x80, 0x0A, 0x7C, 0x00, 0x08, 0x01, 0x03, 0x00, 0x10, 0x01, 0x01, 0x01, 0x90, 0x00}));
    EXPECT_EQ(r.card->atc(), 2);

    // Two injected refusals of processing options, then the card again.
    r.card->fail(0xA8, 0x6985, 2);
    EXPECT_EQ(r.sw(kGpo), (Bytes{0x69, 0x85}));
    EXPECT_EQ(r.sw(kGpo), (Bytes{0x69, 0x85}));
    EXPECT_EQ(r.sw(kGpo), kOk);
    EXPECT_EQ(r.card->atc(), 3) << "a refused command does not run";
}

TEST(SimBankCard, ControlCommands) {
    auto sim = vrsim::start_simulator();
    ASSERT_TRUE(sim);
    vrsim::Control control(*sim);
    auto say = [&](const std::string &line) { return control.execute(line); };
    EXPECT_FALSE(say("bank show").ok) << "no bank card in the field";
    EXPECT_EQ(say("card place pboc_card 62010203").text, "ok pboc_card uid=62010203 atqa=0008 sak=20 state=idle");
    EXPECT_EQ(say("bank gpo 1").text, "ok");
    EXPECT_EQ(say("bank pse off").text, "ok");
    EXPECT_EQ(say("bank fail A8 6985 x2").text, "ok");
    EXPECT_EQ(say("bank show").text, "ok gpo=1 pse=off atc=0 balance=10000 blocked=no pin_tries=3 last=none");
    EXPECT_EQ(say("bank clear").text, "ok");
    EXPECT_EQ(say("bank issuer 3030").text, "error: no ARQC from the card yet, or a malformed argument");
    for (const char *bad : {"bank", "bank gpo 3", "bank pse maybe", "bank fail A8", "bank fail A8 69", "bank fail A8 6985 x0",
                            "bank fail ZZ 6985", "bank script", "card place pboc_card sak=28"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(say(bad).ok);
    }
}

}  // namespace
