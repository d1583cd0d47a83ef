// The reader driver's parts without pcscd: command parsing, the storage
// commands against a card model, answers to reset, device options and
// the bundle pcscd's hot-plug reads.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "atr.h"
#include "device_name.h"
#include "model_storage_card.h"
#include "port/usb_attachments.h"
#include "reader_apdu.h"

namespace {

using namespace vrpcsc;

Bytes sw(uint16_t word) { return {static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word & 0xFF)}; }

TEST(PcscApduParse, ShortCommandsSplitAndMalformedOnesAreRefused) {
    struct Case {
        Bytes bytes;
        uint16_t error;
        std::size_t lc;
        std::optional<std::size_t> le;
    };
    const Case cases[] = {
        {{0xFF, 0xCA, 0x00, 0x00}, sw::ok, 0, std::nullopt},
        {{0xFF, 0xCA, 0x00, 0x00, 0x00}, sw::ok, 0, 256},
        {{0xFF, 0xB0, 0x00, 0x04, 0x10}, sw::ok, 0, 16},
        {{0xFF, 0xD6, 0x00, 0x04, 0x02, 1, 2}, sw::ok, 2, std::nullopt},
        {{0xFF, 0xD6, 0x00, 0x04, 0x02, 1, 2, 0x00}, sw::ok, 2, 256},
        {{}, sw::wrong_length, 0, std::nullopt},
        {{0xFF, 0xCA, 0x00}, sw::wrong_length, 0, std::nullopt},
        {{0xFF, 0xD6, 0x00, 0x04, 0x03, 1, 2}, sw::wrong_length, 0, std::nullopt},      // Lc past the end
        {{0xFF, 0xD6, 0x00, 0x04, 0x01, 1, 2, 3}, sw::wrong_length, 0, std::nullopt},   // bytes after Le
        {{0xFF, 0xD6, 0x00, 0x04, 0x00, 0x00, 0x01, 9}, sw::wrong_length, 0, std::nullopt},  // extended
    };
    for (const Case &c : cases) {
        const Parsed p = parse_apdu(c.bytes.data(), c.bytes.size());
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(p.error, c.error);
        ASSERT_EQ(p.apdu.has_value(), c.error == sw::ok);
        if (!p.apdu) continue;
        EXPECT_EQ(p.apdu->lc, c.lc);
        EXPECT_EQ(p.apdu->le, c.le);
    }
}

// One command through the session; the bytes of the answer.
Bytes run(StorageSession &session, const CardFacts &facts, const Bytes &command) {
    const Parsed p = parse_apdu(command.data(), command.size());
    if (!p.apdu) return sw(p.error);
    const Answer a = reader_command(*p.apdu, facts, &session);
    return a.link_failed ? Bytes{} : a.bytes;
}

class StorageCommands : public ::testing::Test {
protected:
    void use(CardKind kind) {
        card = std::make_unique<ModelStorageCard>(kind);
        session = std::make_unique<StorageSession>(kind, *card, keys);
        facts.kind = kind;
        facts.uid = {0x01, 0x02, 0x03, 0x04};
    }
    Bytes run(const Bytes &command) { return ::run(*session, facts, command); }

    KeySlots keys;
    CardFacts facts;
    std::unique_ptr<ModelStorageCard> card;
    std::unique_ptr<StorageSession> session;
};

TEST_F(StorageCommands, ClassicAnswersWithTheStandardStatusWords) {
    use(CardKind::classic_1k);
    card->set_key(1, {1, 2, 3, 4, 5, 6});
    const Bytes transport{0xFF, 0x82, 0x00, 0x00, 0x06, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    struct Step {
        const char *what;
        Bytes command, answer;
    };
    const Step steps[] = {
        {"no key in the slot", {0xFF, 0x86, 0, 0, 5, 1, 0, 8, 0x60, 0}, sw(0x6983)},
        {"non-volatile key", {0xFF, 0x82, 0x20, 0x00, 0x06, 0, 0, 0, 0, 0, 0}, sw(0x6987)},
        {"third slot", {0xFF, 0x82, 0x00, 0x02, 0x06, 0, 0, 0, 0, 0, 0}, sw(0x6988)},
        {"short key", {0xFF, 0x82, 0x00, 0x00, 0x05, 0, 0, 0, 0, 0}, sw(0x6989)},
        {"load", transport, sw(0x9000)},
        {"version 2", {0xFF, 0x86, 0, 0, 5, 2, 0, 8, 0x60, 0}, sw(0x6A81)},
        {"key type", {0xFF, 0x86, 0, 0, 5, 1, 0, 8, 0x62, 0}, sw(0x6A81)},
        {"block 64", {0xFF, 0x86, 0, 0, 5, 1, 0, 64, 0x60, 0}, sw(0x6B00)},
        {"short data", {0xFF, 0x86, 0, 0, 4, 1, 0, 8, 0x60}, sw(0x6700)},
        {"read before", {0xFF, 0xB0, 0, 8, 0x10}, sw(0x6982)},
        {"auth", {0xFF, 0x86, 0, 0, 5, 1, 0, 8, 0x60, 0}, sw(0x9000)},
        {"read", {0xFF, 0xB0, 0, 9, 0x10}, [&] { Bytes b = card->bytes(9 * 16, 16); b.push_back(0x90); b.push_back(0); return b; }()},
        {"first 4 bytes", {0xFF, 0xB0, 0, 9, 0x04}, {144, 145, 146, 147, 0x90, 0x00}},
        {"more than a block", {0xFF, 0xB0, 0, 9, 0x11}, sw(0x6C10)},
        {"other sector", {0xFF, 0xB0, 0, 4, 0x10}, sw(0x6982)},
        {"not a block", {0xFF, 0xD6, 0, 9, 0x04, 1, 2, 3, 4}, sw(0x6700)},
        {"past the card", {0xFF, 0xB0, 0, 64, 0x10}, sw(0x6B00)},
        {"wrong key", {0xFF, 0x86, 0, 0, 5, 1, 0, 4, 0x60, 0}, sw(0x6300)},
        {"nothing held after a refusal", {0xFF, 0xB0, 0, 9, 0x10}, sw(0x6982)},
        {"unknown instruction", {0xFF, 0x00, 0, 0, 0}, sw(0x6D00)},
        {"uid", {0xFF, 0xCA, 0, 0, 0}, {1, 2, 3, 4, 0x90, 0}},
        {"uid, Le too short", {0xFF, 0xCA, 0, 0, 3}, sw(0x6C04)},
        {"uid, Le too long", {0xFF, 0xCA, 0, 0, 8}, {1, 2, 3, 4, 0x62, 0x82}},
        {"no answer to select", {0xFF, 0xCA, 1, 0, 0}, sw(0x6A81)},
        {"get data P1", {0xFF, 0xCA, 2, 0, 0}, sw(0x6B00)},
        {"class", {0x00, 0xB0, 0, 9, 0x10}, sw(0x6E00)},
    };
    for (const Step &s : steps) EXPECT_EQ(run(s.command), s.answer) << s.what;
}

TEST_F(StorageCommands, ClassicWriteReachesTheCardOnlyWithAuthentication) {
    use(CardKind::classic_4k);
    ASSERT_EQ(run({0xFF, 0x82, 0x00, 0x01, 0x06, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), sw(0x9000));
    Bytes update{0xFF, 0xD6, 0x00, 0xF1, 0x10};
    for (uint8_t i = 0; i < 16; ++i) update.push_back(static_cast<uint8_t>(0xA0 + i));
    const Bytes before = card->bytes(0xF1 * 16, 16);
    EXPECT_EQ(run(update), sw(0x6982));
    EXPECT_EQ(card->bytes(0xF1 * 16, 16), before);
    // Block 0xF1 lies in the last 16-block sector, with 0xF0.
    ASSERT_EQ(run({0xFF, 0x86, 0, 0, 5, 1, 0, 0xF0, 0x60, 1}), sw(0x9000));
    EXPECT_EQ(run(update), sw(0x9000));
    EXPECT_EQ(card->bytes(0xF1 * 16, 16), Bytes(update.begin() + 5, update.end()));
}

TEST_F(StorageCommands, AuthenticationIsRestoredAfterASearchAndLinkFailuresAreNoStatusWords) {
    use(CardKind::classic_mini);
    EXPECT_EQ(session->restore(), Outcome::ok);
    EXPECT_EQ(card->authentications, 0u) << "nothing to restore";
    ASSERT_EQ(run({0xFF, 0x82, 0x00, 0x00, 0x06, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), sw(0x9000));
    ASSERT_EQ(run({0xFF, 0x86, 0, 0, 5, 1, 0, 4, 0x60, 0}), sw(0x9000));
    EXPECT_EQ(session->restore(), Outcome::ok);
    EXPECT_EQ(card->authentications, 2u);
    card->link_down = true;
    const Bytes read{0xFF, 0xB0, 0, 4, 0x10};
    const Parsed p = parse_apdu(read.data(), read.size());
    EXPECT_TRUE(reader_command(*p.apdu, facts, session.get()).link_failed);
    EXPECT_EQ(session->restore(), Outcome::link_failed);
    card->link_down = false;
    EXPECT_EQ(run(read), sw(0x6982)) << "an authentication that could not be restored is gone";
}

TEST_F(StorageCommands, UltralightPagesWithoutAuthentication) {
    use(CardKind::ultralight);
    const Bytes ok = sw(0x9000);
    Bytes four = card->bytes(4 * 4, 16);
    four.insert(four.end(), ok.begin(), ok.end());
    EXPECT_EQ(run({0xFF, 0xB0, 0, 4, 0x00}), four);
    EXPECT_EQ(run({0xFF, 0xD6, 0, 6, 0x08, 1, 2, 3, 4, 5, 6, 7, 8}), ok);
    EXPECT_EQ(card->bytes(6 * 4, 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    Bytes last = card->bytes(15 * 4, 4);
    last.push_back(0x62);
    last.push_back(0x82);
    EXPECT_EQ(run({0xFF, 0xB0, 0, 15, 0x10}), last) << "the memory ends after page 15";
    EXPECT_EQ(run({0xFF, 0xD6, 0, 14, 0x0C, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), sw(0x6B00));
    EXPECT_EQ(run({0xFF, 0xD6, 0, 4, 0x14, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}),
              sw(0x6700));
    EXPECT_EQ(run({0xFF, 0xB0, 0, 4, 0x14}), sw(0x6C10));
    EXPECT_EQ(run({0xFF, 0x86, 0, 0, 5, 1, 0, 4, 0x60, 0}), sw(0x6A81)) << "no Classic authentication";
}

TEST(PcscAtr, StorageAndIsoDepAnswersToResetCarryAValidCheckByte) {
    const auto check_ok = [](const Bytes &atr) {
        uint8_t x = 0;
        for (std::size_t i = 1; i < atr.size(); ++i) x ^= atr[i];
        return x == 0;
    };
    const Bytes classic = storage_atr(CardKind::classic_1k);
    EXPECT_EQ(classic, (Bytes{0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00, 0x03, 0x06, 0x03, 0x00,
                              0x01, 0x00, 0x00, 0x00, 0x00, 0x6A}));
    for (CardKind k : {CardKind::classic_mini, CardKind::classic_4k, CardKind::ultralight, CardKind::ultralight_c})
        EXPECT_TRUE(check_ok(storage_atr(k)));
    EXPECT_TRUE(storage_atr(CardKind::iso_dep).empty());
    const Bytes many(20, 0x41);
    const Bytes atr = iso_dep_atr(many);
    EXPECT_EQ(atr.size(), 4u + 15u + 1u) << "at most 15 historical bytes";
    EXPECT_EQ(atr[1], 0x8F);
    EXPECT_TRUE(check_ok(atr));
}

TEST(PcscAtr, HistoricalBytesOfAnAnswerToSelectAreBounded) {
    struct Case {
        const char *what;
        Bytes ats, historical;
    };
    const Case cases[] = {
        {"TA TB TC", {0x0A, 0x78, 0x80, 0x70, 0x02, 'V', 'R', 'C', 'P', 'U'}, {'V', 'R', 'C', 'P', 'U'}},
        {"TB only", {0x05, 0x20, 0x81, 'A', 'B'}, {'A', 'B'}},
        {"none", {0x05, 0x78, 0x80, 0x70, 0x02}, {}},
        {"length byte alone", {0x01}, {}},
        {"length past the answer", {0x20, 0x00, 'X', 'Y'}, {'X', 'Y'}},
        {"interface bytes past the end", {0x03, 0x70, 0x80}, {}},
        {"empty", {}, {}},
        {"more than 15", [] { Bytes b{0x14, 0x00}; b.resize(0x14, 'h'); return b; }(), Bytes(15, 'h')},
    };
    for (const Case &c : cases) EXPECT_EQ(ats_historical_bytes(c.ats.data(), c.ats.size()), c.historical) << c.what;
}

// A type B card's ATR: its ATQB's application data and protocol info,
// the MBLI of its ATTRIB answer (never its CID), the check byte.
TEST(PcscAtr, TypeBCardsFromTheirRequestAndAttribAnswers) {
    struct Case {
        const char *what;
        Bytes atqb;  // from the PUPI on
        uint8_t attrib;
        Bytes atr;
    };
    const Case cases[] = {
        {"plain card, CID 8 dropped",
         {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x81, 0x70, 0x00},
         0x08,
         {0x3B, 0x88, 0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x81, 0x70, 0x00, 0xF8}},
        {"MBLI 3 with CID 1",
         {0x01, 0x02, 0x03, 0x04, 0xAA, 0xBB, 0xCC, 0xDD, 0x11, 0x81, 0x71},
         0x31,
         {0x3B, 0x88, 0x80, 0x01, 0xAA, 0xBB, 0xCC, 0xDD, 0x11, 0x81, 0x71, 0x30, 0xD8}},
        {"MBLI 15, a trailing reader byte ignored",
         {0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34, 0x56, 0x78, 0x00, 0x71, 0x85, 0xEE, 0x00},
         0xF0,
         {0x3B, 0x88, 0x80, 0x01, 0x12, 0x34, 0x56, 0x78, 0x00, 0x71, 0x85, 0xF0, 0x05}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const auto answer = type_b_answer(c.atqb.data(), c.atqb.size());
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->pupi, Bytes(c.atqb.begin(), c.atqb.begin() + 4));
        EXPECT_EQ(type_b_atr(*answer, c.attrib), c.atr);
    }
    // Short answers have no fields to take.
    const Bytes ten(10, 0x55);
    EXPECT_FALSE(type_b_answer(ten.data(), ten.size()));
    EXPECT_FALSE(type_b_answer(nullptr, 11));
}

TEST(PcscAtr, KindsFromAtqaAndSak) {
    struct Case {
        uint16_t atqa;
        uint8_t sak;
        CardKind kind;
    };
    const Case cases[] = {
        {0x0004, 0x08, CardKind::classic_1k}, {0x0002, 0x18, CardKind::classic_4k},
        {0x0004, 0x09, CardKind::classic_mini}, {0x0044, 0x00, CardKind::ultralight},
        {0x0344, 0x20, CardKind::iso_dep},      {0x0004, 0x28, CardKind::iso_dep},
        {0x0004, 0x00, CardKind::unknown},      {0x0004, 0x10, CardKind::unknown},
    };
    for (const Case &c : cases) EXPECT_EQ(kind_of(c.atqa, c.sak), c.kind) << std::hex << c.atqa << " " << int(c.sak);
}

TEST(PcscDeviceName, PathAndOptions) {
    const auto plain = parse_device_name("/dev/ttyUSB0");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->path, "/dev/ttyUSB0");
    EXPECT_EQ(plain->family, 1);
    EXPECT_EQ(plain->timeout_ms, 0);
    const auto all = parse_device_name("/dev/pts/3:family=2,timeout=250,log=3");
    ASSERT_TRUE(all);
    EXPECT_EQ(all->path, "/dev/pts/3");
    EXPECT_EQ(all->family, 2);
    EXPECT_EQ(all->timeout_ms, 250);
    EXPECT_EQ(all->log_level, 3);
    for (const char *bad : {"", ":family=1", "/dev/x:", "/dev/x:family=3", "/dev/x:timeout=5", "/dev/x:timeout=1e3",
                            "/dev/x:speed=9600", "/dev/x:family=1,", "/dev/x:family"})
        EXPECT_FALSE(parse_device_name(bad)) << bad;
}

// pcscd's hot-plug names a USB reader usb:VVVV/PPPP:libudev:IFACE:NODE
// (or :libusb-1.0:BUS:ADDRESS[:IFACE]).
TEST(PcscDeviceName, UsbNamesGiveIdsAndWhereTheDeviceIs) {
    struct Case {
        const char *name;
        uint16_t vendor, product;
        int bus, address;
    };
    const Case cases[] = {
        {"usb:1a86/e010:libudev:0:/dev/bus/usb/001/002", 0x1A86, 0xE010, 1, 2},
        {"usb:0471/A112:libudev:1:/dev/bus/usb/003/127", 0x0471, 0xA112, 3, 127},
        {"usb:1a86/7523:libudev:0:/dev/other/node", 0x1A86, 0x7523, 0, 0},  // no bus and address there
        {"usb:0108/0100:libusb-1.0:2:9", 0x0108, 0x0100, 2, 9},
        {"usb:0108/0100:libusb-1.0:2:9:0", 0x0108, 0x0100, 2, 9},
        {"usb:1a86/e010", 0x1A86, 0xE010, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto options = parse_device_name(c.name);
        ASSERT_TRUE(options && options->usb);
        EXPECT_EQ(options->usb->vendor_id, c.vendor);
        EXPECT_EQ(options->usb->product_id, c.product);
        EXPECT_EQ(options->usb->bus, c.bus);
        EXPECT_EQ(options->usb->address, c.address);
    }
    for (const char *bad : {"usb:", "usb:1a86", "usb:1a86/", "usb:1a86e010/0001", "usb:xyz1/0001", "usb:1a86/e010:libudev",
                            "usb:1a86/e010:libudev:0:", "usb:1a86/e010:libudev:x:/dev/bus/usb/001/002",
                            "usb:1a86/e010:libusb-1.0:1", "usb:1a86/e010:libusb-1.0:1:200",
                            "usb:1a86/e010:libusb-1.0:1:2:0:7", "usb:1a86/e010:serial:1:2"})
        EXPECT_FALSE(parse_device_name(bad)) << bad;
}

// The strings of one key's array in the bundle's Info.plist.
std::vector<std::string> plist_array(const std::string &plist, const std::string &key) {
    std::vector<std::string> out;
    const auto at = plist.find("<key>" + key + "</key>");
    if (at == std::string::npos) return out;
    const auto end = plist.find("</array>", at);
    for (auto s = plist.find("<string>", at); s < end; s = plist.find("<string>", s + 1)) {
        const auto from = s + 8;
        out.push_back(plist.substr(from, plist.find("</string>", from) - from));
    }
    return out;
}

// The bundle lists exactly the library's USB attachments, row by row, so
// that pcscd hands the driver every device the library can open.
TEST(PcscBundle, InfoPlistListsTheUsbAttachments) {
    const std::filesystem::path bundle = VR_IFD_BUNDLE;
    std::ifstream in(bundle / "Contents" / "Info.plist");
    ASSERT_TRUE(in) << bundle;
    std::stringstream text;
    text << in.rdbuf();
    const std::string plist = text.str();
    const auto vendors = plist_array(plist, "ifdVendorID");
    const auto products = plist_array(plist, "ifdProductID");
    const auto names = plist_array(plist, "ifdFriendlyName");
    ASSERT_EQ(vendors.size(), std::size(vr::port::usb::kAttachments));
    ASSERT_EQ(products.size(), vendors.size());
    ASSERT_EQ(names.size(), vendors.size());
    for (std::size_t i = 0; i < vendors.size(); ++i) {
        const auto &a = vr::port::usb::kAttachments[i];
        SCOPED_TRACE(a.type);
        EXPECT_EQ(std::stoul(vendors[i], nullptr, 16), a.vendor_id);
        EXPECT_EQ(std::stoul(products[i], nullptr, 16), a.product_id);
        EXPECT_NE(names[i].find(std::string("(") + a.type + ")"), std::string::npos) << names[i];
    }
    // pcscd loads Contents/Linux/<CFBundleExecutable>.
    const auto at = plist.find("<key>CFBundleExecutable</key>");
    ASSERT_NE(at, std::string::npos);
    const auto from = plist.find("<string>", at) + 8;
    const std::string executable = plist.substr(from, plist.find("</string>", from) - from);
    EXPECT_EQ(executable, "libifdvantelrfid.so");
    EXPECT_TRUE(std::filesystem::exists(bundle / "Contents" / "Linux" / executable));
}

}  // namespace
