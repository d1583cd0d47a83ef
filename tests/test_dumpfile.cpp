// MIFARE Classic dump files: the three forms round trip, convert into one
// another, keep unreadable blocks and unknown keys apart from real data,
// and refuse malformed files with a clear reason.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "dumpfile.h"
#include "mifare.h"

namespace {

using vrdump::CardImage;
using vrdump::Format;
using vrdump::Kind;

std::span<const uint8_t> bytes_of(const std::string &text) {
    return {reinterpret_cast<const uint8_t *>(text.data()), text.size()};
}

// A card with distinct contents everywhere: a 4-byte UID with its check
// byte in block 0, data blocks with a pattern, and different keys A and B
// per sector held both in the key table and in the trailers.
CardImage sample_card(Kind kind) {
    CardImage image = CardImage::empty(kind);
    image.uid = {0xDE, 0xAD, 0xBE, 0xEF};
    image.sak = kind == Kind::classic_mini ? 0x09 : kind == Kind::classic_1k ? 0x08 : 0x18;
    image.atqa = {kind == Kind::classic_4k ? uint8_t{0x02} : uint8_t{0x04}, 0x00};
    for (int b = 0; b < vrdump::block_count(kind); ++b) {
        for (int i = 0; i < 16; ++i) image.blocks[b][i] = static_cast<uint8_t>(b * 7 + i * 13);
        image.readable[b] = 1;
    }
    image.blocks[0] = {0xDE, 0xAD, 0xBE, 0xEF, 0xDE ^ 0xAD ^ 0xBE ^ 0xEF, image.sak, image.atqa[0], image.atqa[1],
                       0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69};
    for (int s = 0; s < vrdump::sector_count(kind); ++s) {
        image.keys[s].a = vrdump::Key{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, static_cast<uint8_t>(s)};
        image.keys[s].b = vrdump::Key{0xB0, 0xB1, 0xB2, 0xB3, 0xB4, static_cast<uint8_t>(s)};
        vrdump::Block &t = image.blocks[vrdump::trailer_block(s)];
        t[6] = 0xFF, t[7] = 0x07, t[8] = 0x80, t[9] = 0x69;
    }
    vrdump::keys_into_trailers(image);
    return image;
}

void expect_same(const CardImage &got, const CardImage &want) {
    EXPECT_EQ(got.kind, want.kind);
    EXPECT_EQ(got.uid, want.uid);
    EXPECT_EQ(got.atqa, want.atqa);
    EXPECT_EQ(got.sak, want.sak);
    ASSERT_EQ(got.blocks.size(), want.blocks.size());
    for (std::size_t b = 0; b < want.blocks.size(); ++b) {
        SCOPED_TRACE("block " + std::to_string(b));
        EXPECT_EQ(got.readable[b], want.readable[b]);
        if (want.readable[b]) {
            EXPECT_EQ(got.blocks[b], want.blocks[b]);
        }
    }
    ASSERT_EQ(got.keys.size(), want.keys.size());
    for (std::size_t s = 0; s < want.keys.size(); ++s) {
        SCOPED_TRACE("sector " + std::to_string(s));
        EXPECT_EQ(got.keys[s].a, want.keys[s].a);
        EXPECT_EQ(got.keys[s].b, want.keys[s].b);
    }
}

CardImage round_trip(Format format, const CardImage &image, const vrdump::WriteOptions &options = {}) {
    std::vector<uint8_t> bytes;
    const vrdump::Status written = vrdump::encode(format, image, bytes, options);
    EXPECT_TRUE(written) << written.error;
    CardImage back;
    const vrdump::Status read = vrdump::decode(format, bytes, back);
    EXPECT_TRUE(read) << read.error;
    return back;
}

TEST(DumpFile, EveryFormatRoundTripsEveryCardSize) {
    for (Kind kind : {Kind::classic_mini, Kind::classic_1k, Kind::classic_4k}) {
        const CardImage card = sample_card(kind);
        for (Format format : {Format::binary, Format::eml, Format::json}) {
            SCOPED_TRACE(static_cast<int>(format) + 10 * static_cast<int>(kind));
            expect_same(round_trip(format, card), card);
        }
    }
}

TEST(DumpFile, BinaryLayoutIsTheCardMemoryInBlockOrder) {
    const CardImage card = sample_card(Kind::classic_4k);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(vrdump::encode(Format::binary, card, bytes));
    ASSERT_EQ(bytes.size(), 4096u);
    for (int b : {0, 1, 63, 127, 128, 143, 255})
        EXPECT_TRUE(std::equal(card.blocks[b].begin(), card.blocks[b].end(), bytes.begin() + b * 16)) << b;
    // Keys of sector 39 (trailer 255) sit at the trailer's bytes 0..5, 10..15.
    EXPECT_EQ(bytes[255 * 16 + 5], 39);
    EXPECT_EQ(bytes[255 * 16 + 10], 0xB0);
}

TEST(DumpFile, ConversionsKeepEveryFormatsText) {
    const CardImage card = sample_card(Kind::classic_1k);
    std::vector<uint8_t> json, eml, bin, json_again;
    ASSERT_TRUE(vrdump::encode(Format::json, card, json));
    CardImage a, b, c;
    ASSERT_TRUE(vrdump::decode(Format::json, json, a));
    ASSERT_TRUE(vrdump::encode(Format::binary, a, bin));
    ASSERT_TRUE(vrdump::decode(Format::binary, bin, b));
    ASSERT_TRUE(vrdump::encode(Format::eml, b, eml));
    ASSERT_TRUE(vrdump::decode(Format::eml, eml, c));
    ASSERT_TRUE(vrdump::encode(Format::json, c, json_again));
    EXPECT_EQ(std::string(json.begin(), json.end()), std::string(json_again.begin(), json_again.end()));
}

TEST(DumpFile, JsonCarriesTheCardSectionAndSectorKeys) {
    const CardImage card = sample_card(Kind::classic_1k);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(vrdump::encode(Format::json, card, bytes));
    const std::string text(bytes.begin(), bytes.end());
    for (const char *piece : {"\"FileType\": \"mfc v2\"", "\"UID\": \"DEADBEEF\"", "\"ATQA\": \"0400\"",
                              "\"SAK\": \"08\"", "\"3\": \"A0A1A2A3A400FF078069B0B1B2B3B400\"",
                              "\"KeyA\": \"A0A1A2A3A40F\"", "\"KeyB\": \"B0B1B2B3B40F\"",
                              "\"AccessConditions\": \"FF078069\""})
        EXPECT_NE(text.find(piece), std::string::npos) << piece;
}

TEST(DumpFile, UnreadableBlocksAreMarkedNeverZeroed) {
    CardImage card = sample_card(Kind::classic_1k);
    card.readable[5] = 0;
    card.readable[7] = 0;  // a trailer: its keys cannot go into the image
    for (Format format : {Format::eml, Format::json}) {
        const CardImage back = round_trip(format, card);
        EXPECT_EQ(back.readable[5], 0);
        EXPECT_EQ(back.readable[7], 0);
        EXPECT_EQ(back.unreadable_count(), 2);
    }
    std::vector<uint8_t> eml;
    ASSERT_TRUE(vrdump::encode(Format::eml, card, eml));
    EXPECT_NE(std::string(eml.begin(), eml.end()).find("\n--------------------------------\n"), std::string::npos);

    std::vector<uint8_t> bin;
    const vrdump::Status refused = vrdump::encode(Format::binary, card, bin);
    EXPECT_FALSE(refused);
    EXPECT_NE(refused.error.find("block 5 is unreadable"), std::string::npos) << refused.error;
    // Asked for explicitly, zero filling is allowed.
    ASSERT_TRUE(vrdump::encode(Format::binary, card, bin, {.zero_unreadable = true}));
    EXPECT_TRUE(std::all_of(bin.begin() + 5 * 16, bin.begin() + 6 * 16, [](uint8_t v) { return v == 0; }));
}

TEST(DumpFile, KnownKeysFillTheTrailersOfAFreshDump) {
    // A card hides key A when its trailer is read: the dump knows the key
    // from the authentication and the image must carry it.
    CardImage card = sample_card(Kind::classic_1k);
    std::fill_n(card.blocks[3].begin(), 6, 0);
    card.keys[1].b.reset();  // unknown: trailer bytes stay as read
    std::vector<uint8_t> bin;
    ASSERT_TRUE(vrdump::encode(Format::binary, card, bin));
    EXPECT_EQ(bin[3 * 16 + 0], 0xA0);
    EXPECT_EQ(bin[7 * 16 + 10], card.blocks[7][10]);

    std::vector<uint8_t> json;
    ASSERT_TRUE(vrdump::encode(Format::json, card, json));
    CardImage back;
    ASSERT_TRUE(vrdump::decode(Format::json, json, back));
    EXPECT_FALSE(back.keys[1].b.has_value());
    EXPECT_TRUE(back.keys[1].a.has_value());
}

TEST(DumpFile, IdentityComesFromBlockZeroWithoutACardSection) {
    CardImage four = sample_card(Kind::classic_1k);
    CardImage seven = four;
    seven.blocks[0] = {0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x08, 0x44, 0x00, 0, 0, 0, 0, 0, 0};
    for (const auto &[image, uid, sak, atqa0] :
         {std::tuple{four, std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}, 0x08, 0x04},
          std::tuple{seven, std::vector<uint8_t>{0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}, 0x08, 0x44}}) {
        std::vector<uint8_t> bin;
        ASSERT_TRUE(vrdump::encode(Format::binary, image, bin));
        CardImage back;
        ASSERT_TRUE(vrdump::decode(Format::binary, bin, back));
        EXPECT_EQ(back.uid, uid);
        EXPECT_EQ(back.sak, sak);
        EXPECT_EQ(back.atqa[0], atqa0);
    }
    // JSON without "Card" and without "SectorKeys" takes both from blocks.
    std::string json = "{\"FileType\": \"mfc v2\", \"blocks\": {\"0\": \"" + vrdump::hex(four.blocks[0]) +
                       "\", \"3\": \"" + vrdump::hex(four.blocks[3]) + "\"}}";
    CardImage back;
    ASSERT_TRUE(vrdump::decode(Format::json, bytes_of(json), back));
    EXPECT_EQ(back.kind, Kind::classic_1k);
    EXPECT_EQ(back.uid, four.uid);
    EXPECT_EQ(back.keys[0].a, four.keys[0].a);
    EXPECT_EQ(back.readable[1], 0);  // left out of the file: unknown
    EXPECT_EQ(back.unreadable_count(), 62);
}

// A JSON file has no size of its own: one that ends with block 19 is a
// Mini, and so is a shorter one whose Card section gives a Mini's SAK.
TEST(DumpFile, JsonTellsAMiniByItsLastBlockOrItsSak) {
    CardImage mini = sample_card(Kind::classic_mini);
    mini.readable[0] = 0;  // no SAK to be learnt from block 0 either
    std::vector<uint8_t> json;
    ASSERT_TRUE(vrdump::encode(Format::json, mini, json));
    CardImage back;
    ASSERT_TRUE(vrdump::decode(Format::json, json, back));
    EXPECT_EQ(back.kind, Kind::classic_mini);

    const std::string blocks = "\"blocks\": {\"0\": \"" + vrdump::hex(mini.blocks[0]) + "\", \"3\": \"" +
                               vrdump::hex(mini.blocks[3]) + "\"}";
    for (const auto &[sak, kind] : {std::pair{"08", Kind::classic_1k}, std::pair{"09", Kind::classic_mini}}) {
        const std::string text = std::string("{\"FileType\": \"mfc v2\", \"Card\": {\"UID\": \"\", ") +
                                 "\"ATQA\": \"0400\", \"SAK\": \"" + sak + "\"}, " + blocks + "}";
        ASSERT_TRUE(vrdump::decode(Format::json, bytes_of(text), back)) << text;
        EXPECT_EQ(back.kind, kind) << sak;
    }
}

TEST(DumpFile, JsonReaderAcceptsWhatOtherWritersAdd) {
    const std::string json = R"({
      "Created": "some \"tool\" \u00e9\ud83d\ude00", "FileType": "mfc v2",
      "Card": {"UID": "0a0b0c0d", "ATQA": "0400", "SAK": "08", "ATS": ""},
      "blocks": {"255": "000102030405060708090a0b0c0d0e0f"},
      "SectorKeys": {"0": {"KeyA": "ffffffffffff", "AccessConditionsText": {"block0": "x"}}},
      "extra": [1, -2.5e3, true, false, null, {}, []]
    })";
    CardImage image;
    const vrdump::Status s = vrdump::decode(Format::json, bytes_of(json), image);
    ASSERT_TRUE(s) << s.error;
    EXPECT_EQ(image.kind, Kind::classic_4k);
    EXPECT_EQ(image.uid, (std::vector<uint8_t>{0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_EQ(image.blocks[255][15], 0x0F);
    EXPECT_EQ(image.keys[0].a, (vrdump::Key{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_FALSE(image.keys[0].b.has_value());
}

TEST(DumpFile, MalformedFilesAreRefusedWithTheReason) {
    const std::string good_block = "\"00112233445566778899AABBCCDDEEFF\"";
    const std::string head = "{\"FileType\": \"mfc v2\", ";
    std::string eml63, eml_bad, eml_short;
    for (int i = 0; i < 63; ++i) eml63 += "00112233445566778899AABBCCDDEEFF\n";
    eml_bad = eml63 + "00112233445566778899AABBCCDDEEFG\n";
    eml_short = eml63 + "00112233445566778899AABBCCDDEE\n";
    std::string eml_dashes = eml63 + "00112233445566778899AABBCCDDEE--\n";
    std::string eml_257;
    for (int i = 0; i < 257; ++i) eml_257 += "00112233445566778899AABBCCDDEEFF\n";
    const struct {
        Format format;
        std::string content;
        const char *reason;
    } cases[] = {
        {Format::binary, std::string(1000, '\0'), "1000 bytes"},
        {Format::binary, std::string(1024 + 16, '\0'), "1040 bytes"},
        {Format::binary, "", "0 bytes"},
        {Format::eml, eml63, "63 blocks"},
        {Format::eml, eml_bad, "line 64: expected 32 hexadecimal digits"},
        {Format::eml, eml_short, "line 64"},
        {Format::eml, eml_dashes, "line 64"},
        {Format::eml, eml_257, "line 257: more than 256 blocks"},
        {Format::json, "", "bad JSON at byte 0"},
        {Format::json, "[1, 2", "bad JSON at byte 5"},
        {Format::json, "{\"a\": 1,}", "expected a member name"},
        {Format::json, "{\"a\": \"x}", "unterminated string"},
        {Format::json, "{\"a\": \"\\q\"}", "bad escape"},
        {Format::json, "{\"a\": \"\\u12G4\"}", "bad \\u escape"},
        {Format::json, "{\"a\": tru}", "unknown literal"},
        {Format::json, "{\"a\": 01x}", "expected ',' or '}'"},
        {Format::json, "{} {}", "unexpected text after the end"},
        {Format::json, std::string(5000, '['), "nested too deeply"},
        {Format::json, "[]", "not an object"},
        {Format::json, "{\"blocks\": {}}", "no \"FileType\""},
        {Format::json, "{\"FileType\": \"mfu\", \"blocks\": {}}", "unsupported FileType \"mfu\""},
        {Format::json, head + "\"Card\": {}}", "no \"blocks\""},
        {Format::json, head + "\"blocks\": {}}", "holds no block"},
        {Format::json, head + "\"blocks\": []}", "\"blocks\" must be an object"},
        {Format::json, head + "\"blocks\": {\"256\": " + good_block + "}}", "bad block number \"256\""},
        {Format::json, head + "\"blocks\": {\"01\": " + good_block + "}}", "bad block number \"01\""},
        {Format::json, head + "\"blocks\": {\"-1\": " + good_block + "}}", "bad block number"},
        {Format::json, head + "\"blocks\": {\"1\": " + good_block + ", \"1\": " + good_block + "}}",
         "block 1 given twice"},
        {Format::json, head + "\"blocks\": {\"1\": \"0011\"}}", "block 1 must be 32 hexadecimal digits"},
        {Format::json, head + "\"blocks\": {\"1\": 12}}", "block 1 must be 32 hexadecimal digits"},
        {Format::json, head + "\"blocks\": {\"1\": " + good_block + "}, \"Card\": {\"UID\": \"0102030405\"}}",
         "\"UID\" has a bad value \"0102030405\""},
        {Format::json, head + "\"blocks\": {\"1\": " + good_block + "}, \"Card\": {\"UID\": \"01020304\"}}",
         "\"ATQA\" must be a hexadecimal string"},
        {Format::json,
         head + "\"blocks\": {\"1\": " + good_block +
             "}, \"Card\": {\"UID\": \"01020304\", \"ATQA\": \"04\", \"SAK\": \"08\"}}",
         "\"ATQA\" has a bad value"},
        {Format::json, head + "\"blocks\": {\"1\": " + good_block + "}, \"SectorKeys\": {\"16\": {}}}",
         "bad sector number \"16\""},
        {Format::json, head + "\"blocks\": {\"1\": " + good_block + "}, \"SectorKeys\": {\"0\": {\"KeyB\": \"FF\"}}}",
         "sector 0: \"KeyB\" has a bad value"},
        {Format::json, head + "\"blocks\": {\"1\": " + good_block + "}, \"SectorKeys\": {\"0\": []}}",
         "sector 0 must be an object"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.content.substr(0, 120));
        CardImage image = CardImage::empty(Kind::classic_1k);
        image.uid = {1, 2, 3, 4};
        const vrdump::Status s = vrdump::decode(c.format, bytes_of(c.content), image);
        EXPECT_FALSE(s);
        EXPECT_NE(s.error.find(c.reason), std::string::npos) << s.error;
        EXPECT_EQ(image.uid, (std::vector<uint8_t>{1, 2, 3, 4})) << "a failed read leaves the image alone";
    }
}

TEST(DumpFile, EmlToleratesLineEndingsAndCase) {
    std::string text;
    for (int i = 0; i < 64; ++i) text += "  00112233445566778899aabbccddeeff \r\n";
    text += "\n\n";
    CardImage image;
    ASSERT_TRUE(vrdump::decode(Format::eml, bytes_of(text), image));
    EXPECT_EQ(image.kind, Kind::classic_1k);
    EXPECT_EQ(image.blocks[63][15], 0xFF);
}

TEST(DumpFile, FormatFollowsTheExtension) {
    const struct {
        const char *path;
        std::optional<Format> format;
    } cases[] = {
        {"card.mfd", Format::binary}, {"dir/card.BIN", Format::binary}, {"a.b/card.eml", Format::eml},
        {"card.Json", Format::json},  {"card", std::nullopt},           {"a.json/card", std::nullopt},
        {"card.txt", std::nullopt},   {".mfd", Format::binary},
    };
    for (const auto &c : cases) EXPECT_EQ(vrdump::format_for_path(c.path), c.format) << c.path;
}

class DumpFiles : public testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("vr_dumpfile_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string path(const char *name) const { return (dir_ / name).string(); }
    std::filesystem::path dir_;
};

TEST_F(DumpFiles, SaveAndLoadEveryForm) {
    const CardImage card = sample_card(Kind::classic_1k);
    for (const char *name : {"c.mfd", "c.bin", "c.eml", "c.json"}) {
        ASSERT_TRUE(vrdump::save_file(path(name), card)) << name;
        CardImage back;
        const vrdump::Status s = vrdump::load_file(path(name), back);
        ASSERT_TRUE(s) << s.error;
        expect_same(back, card);
    }
    EXPECT_EQ(std::filesystem::file_size(path("c.mfd")), 1024u);
}

TEST_F(DumpFiles, FileErrorsNameTheFile) {
    CardImage image;
    vrdump::Status s = vrdump::load_file(path("missing.mfd"), image);
    EXPECT_NE(s.error.find("missing.mfd: cannot open"), std::string::npos) << s.error;
    s = vrdump::load_file(path("card.txt"), image);
    EXPECT_NE(s.error.find("unknown dump format"), std::string::npos) << s.error;
    std::ofstream(path("short.bin")) << "abc";
    s = vrdump::load_file(path("short.bin"), image);
    EXPECT_NE(s.error.find("short.bin: 3 bytes"), std::string::npos) << s.error;
    s = vrdump::save_file(path("no/such/dir/card.eml"), sample_card(Kind::classic_1k));
    EXPECT_NE(s.error.find("cannot create"), std::string::npos) << s.error;
    CardImage incomplete;  // no blocks at all
    s = vrdump::save_file(path("x.eml"), incomplete);
    EXPECT_NE(s.error.find("incomplete"), std::string::npos) << s.error;
}

// save_file writes under a temporary name and puts the file in place only
// when whole; an existing file stays untouched unless replacing is asked
// for. check_output tells the same before anything is read from a card.
TEST_F(DumpFiles, ExistingFilesAreReplacedOnlyWhenAsked) {
    const CardImage one_k = sample_card(Kind::classic_1k), mini = sample_card(Kind::classic_mini);
    ASSERT_TRUE(vrdump::save_file(path("c.mfd"), one_k));
    EXPECT_TRUE(vrdump::check_output(path("c.mfd"), true));
    vrdump::Status s = vrdump::check_output(path("c.mfd"), false);
    EXPECT_NE(s.error.find("c.mfd: exists"), std::string::npos) << s.error;
    s = vrdump::save_file(path("c.mfd"), mini);
    EXPECT_NE(s.error.find("exists"), std::string::npos) << s.error;
    EXPECT_EQ(std::filesystem::file_size(path("c.mfd")), 1024u);
    ASSERT_TRUE(vrdump::save_file(path("c.mfd"), mini, {}, true));
    EXPECT_EQ(std::filesystem::file_size(path("c.mfd")), 320u);
    // Nothing but the dump is left in the directory.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator()), 1);

    struct {
        std::string path;
        const char *error;
    } refused[] = {
        {path("c.txt"), "unknown dump format"},
        {path("no/such/dir/c.eml"), "no such directory"},
        {path("sub.json"), "is a directory"},
    };
    std::filesystem::create_directory(path("sub.json"));
    for (const auto &r : refused) {
        s = vrdump::check_output(r.path, true);
        EXPECT_NE(s.error.find(r.error), std::string::npos) << r.path << ": " << s.error;
    }
    EXPECT_TRUE(vrdump::check_output(path("new.eml"), false));
}

// Key files: a dictionary of candidates in text, or the binary key file of
// one card (every key A, then every key B).
TEST(KeyFiles, DictionaryAndBinaryForms) {
    vrdump::KeyFile keys;
    const std::string dictionary = "# transport keys\r\nFFFFFFFFFFFF\n\n  a0a1a2a3a4a5  # MAD key\nffffffffffff\n"
                                   "D3F7D3F7D3F7";
    ASSERT_TRUE(vrdump::decode_keys(bytes_of(dictionary), keys));
    EXPECT_EQ(keys.candidates, (std::vector<vrdump::Key>{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                                                         {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5},
                                                         {0xD3, 0xF7, 0xD3, 0xF7, 0xD3, 0xF7}}));
    EXPECT_TRUE(keys.known.empty());

    for (const Kind kind : {Kind::classic_mini, Kind::classic_1k, Kind::classic_4k}) {
        const int sectors = vrdump::sector_count(kind);
        std::vector<uint8_t> binary;
        for (int half = 0; half < 2; ++half)
            for (int s = 0; s < sectors; ++s)
                binary.insert(binary.end(), {uint8_t(half ? 0xB0 : 0xA0), 1, 2, 3, 4, uint8_t(s)});
        ASSERT_TRUE(vrdump::decode_keys(binary, keys)) << vrdump::kind_name(kind);
        EXPECT_EQ(keys.kind, kind);
        ASSERT_EQ(keys.known.size(), static_cast<std::size_t>(sectors));
        EXPECT_EQ(keys.known.back().a, (vrdump::Key{0xA0, 1, 2, 3, 4, uint8_t(sectors - 1)}));
        EXPECT_EQ(keys.known.back().b, (vrdump::Key{0xB0, 1, 2, 3, 4, uint8_t(sectors - 1)}));
        EXPECT_TRUE(keys.candidates.empty());
    }

    struct {
        std::string bytes;
        const char *error;
    } refused[] = {
        {"FFFFFFFFFFFF\nFFFFFFFFFF\n", "line 2 is not a key"},
        {"FFFFFFFFFFFF\nkey: FFFFFFFFFFFF\n", "line 2 is not a key"},
        {"# nothing here\n\n", "holds no key"},
        {std::string(191, '\xFF'), "191 bytes"},
        // Text with lines of a key file's size is still a dictionary.
        {std::string(190, '#') + "\nF", "line 2 is not a key"},
    };
    for (const auto &r : refused) {
        const vrdump::Status s = vrdump::decode_keys(bytes_of(r.bytes), keys);
        EXPECT_NE(s.error.find(r.error), std::string::npos) << r.bytes.substr(0, 40) << ": " << s.error;
    }
}

TEST(AccessBits, MatchTheLibrarysEncodingForEveryCode) {
    // Every combination of four 3-bit codes: the bytes agree with the card
    // library's gen_access and decode back to the same codes.
    for (int all = 0; all < 8 * 8 * 8 * 8; ++all) {
        const vrdump::AccessCodes codes{static_cast<uint8_t>(all & 7), static_cast<uint8_t>(all >> 3 & 7),
                                        static_cast<uint8_t>(all >> 6 & 7), static_cast<uint8_t>(all >> 9 & 7)};
        unsigned char lib[3] = {0xFF, 0x07, 0x80};
        for (int i = 0; i < 4; ++i) ASSERT_EQ(gen_access(lib, codes[i], i), 0);
        const auto ours = vrdump::encode_access(codes);
        ASSERT_EQ(ours[0], lib[0]);
        ASSERT_EQ(ours[1], lib[1]);
        ASSERT_EQ(ours[2], lib[2]);
        vrdump::Block trailer{};
        std::copy(ours.begin(), ours.end(), trailer.begin() + 6);
        ASSERT_EQ(vrdump::decode_access(trailer), codes);
    }
}

TEST(AccessBits, TransportConfigurationAndInconsistentBytes) {
    vrdump::Block trailer{};
    trailer[6] = 0xFF, trailer[7] = 0x07, trailer[8] = 0x80;
    EXPECT_EQ(vrdump::decode_access(trailer), (vrdump::AccessCodes{0, 0, 0, 4}));
    EXPECT_EQ(vrdump::describe_access(3, 4),
              "key A: write A; access bits: read A, write A; key B: read A, write A");
    EXPECT_EQ(vrdump::describe_access(0, 0),
              "read A|B, write A|B, increment A|B, decrement/transfer/restore A|B");
    EXPECT_EQ(vrdump::describe_access(1, 3), "read A|B, write B, increment B, decrement/transfer/restore A|B");
    // One bit whose inverted copy disagrees makes the whole trailer invalid.
    for (int byte = 6; byte <= 8; ++byte)
        for (int bit = 0; bit < 8; ++bit) {
            vrdump::Block bad = trailer;
            bad[byte] ^= static_cast<uint8_t>(1 << bit);
            EXPECT_FALSE(vrdump::decode_access(bad).has_value()) << byte << ":" << bit;
        }
}

TEST(AccessBits, KeyBIsKnownOnlyWhereKeyACanReadIt) {
    // Every trailer code: key B is taken from bytes 10..15 exactly where
    // key A may read it (codes 000, 010, 001), never from an inconsistent
    // trailer.
    for (uint8_t code = 0; code < 8; ++code) {
        vrdump::Block trailer{};
        const auto bytes = vrdump::encode_access({0, 0, 0, code});
        std::copy(bytes.begin(), bytes.end(), trailer.begin() + 6);
        for (int i = 0; i < vrdump::kKeySize; ++i) trailer[10 + i] = static_cast<uint8_t>(0xB0 + i);
        const auto key_b = vrdump::readable_key_b(trailer);
        if (code == 0 || code == 2 || code == 4) {
            EXPECT_EQ(key_b, (vrdump::Key{0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5})) << int(code);
        } else {
            EXPECT_FALSE(key_b.has_value()) << int(code);
        }
        trailer[6] ^= 0x01;
        EXPECT_FALSE(vrdump::readable_key_b(trailer).has_value()) << int(code);
    }
}

TEST(Geometry, SectorsAndTrailersOfBothSizes) {
    EXPECT_EQ(vrdump::trailer_block(0), 3);
    EXPECT_EQ(vrdump::trailer_block(31), 127);
    EXPECT_EQ(vrdump::first_block(32), 128);
    EXPECT_EQ(vrdump::trailer_block(32), 143);
    EXPECT_EQ(vrdump::trailer_block(39), 255);
    EXPECT_EQ(vrdump::sector_of(200), 36);
    EXPECT_TRUE(vrdump::is_trailer(207));
    EXPECT_FALSE(vrdump::is_trailer(131));
    int trailers = 0;
    for (int b = 0; b < 256; ++b) trailers += vrdump::is_trailer(b);
    EXPECT_EQ(trailers, 40);
    EXPECT_EQ(vrdump::block_count(Kind::classic_mini), 20);
    EXPECT_EQ(vrdump::sector_count(Kind::classic_mini), 5);
    EXPECT_STREQ(vrdump::kind_name(Kind::classic_mini), "MIFARE Classic Mini");
}

}  // namespace
