// BER-TLV codec and EMV dictionaries: known answers, round trips, the log
// tree, and hostile card answers (truncated, overlong, random, deeply
// nested) that must never make the codec read or write outside its buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform.h"
#include "log.h"
#include "tlv.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kSentinel = 0xCC;
constexpr int kOutSize = 300;  // more than the 259 bytes an element can take

Bytes hex(std::string_view text) {
    Bytes out;
    std::string digits;
    for (char c : text) {
        if (c != ' ') digits += c;
    }
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// A heap copy of exactly the given bytes: the sanitizer build reports any
// read past its end.
class Exact {
public:
    explicit Exact(const Bytes &bytes)
        : data_(new uint8_t[std::max<std::size_t>(bytes.size(), 1)]),
          size_(static_cast<int>(bytes.size())) {
        std::copy(bytes.begin(), bytes.end(), data_.get());
    }
    const uint8_t *data() const { return data_.get(); }
    int size() const { return size_; }

private:
    std::unique_ptr<uint8_t[]> data_;
    int size_;
};

// An output buffer filled with a sentinel, to show what was written.
struct Out {
    uint8_t bytes[kOutSize];
    Out() { std::memset(bytes, kSentinel, sizeof bytes); }
    bool untouched_from(int offset) const {
        return std::all_of(bytes + offset, bytes + kOutSize, [](uint8_t b) { return b == kSentinel; });
    }
};

tlv_object make_object(uint16_t tag, const Bytes &value) {
    tlv_object object{};
    object.tag = tag;
    object.length = static_cast<uint8_t>(value.size());
    std::copy(value.begin(), value.end(), object.value);
    return object;
}

Bytes value_of(const tlv_object &object) {
    return Bytes(object.value, object.value + object.length);
}

// Collects the text of the library's log lines (without the level and time
// prefix "<I> YYYY-MM-DD hh:mm:ss ").
class LogCapture {
public:
    LogCapture() {
        log_set_level(LOG_LEVEL_I);
        vr::platform::set_log_sink([this](std::string_view line) {
            constexpr std::size_t kPrefix = 24;
            lines.emplace_back(line.size() >= kPrefix ? line.substr(kPrefix) : line);
        });
    }
    ~LogCapture() { vr::platform::set_log_sink(nullptr); }
    std::vector<std::string> lines;
};

std::string tree_line(int indent, uint16_t tag, int length) {
    std::ostringstream s;
    s << std::string(static_cast<std::size_t>(indent), ' ') << std::hex << tag << '-'
      << get_value(tag, LIST_TAGS) << ": (" << std::dec << length << " byte)\n";
    return s.str();
}

std::vector<std::string> keys_of(const tlv_string_pair *table) {
    std::vector<std::string> keys;
    for (; (*table)[0][0] != '\0'; ++table) keys.emplace_back((*table)[0]);
    return keys;
}

std::vector<std::string> split(const std::string &list) {
    std::vector<std::string> out;
    std::istringstream s(list);
    for (std::string item; std::getline(s, item, ',');) {
        item.erase(std::remove(item.begin(), item.end(), ' '), item.end());
        out.push_back(item);
    }
    return out;
}

std::string upper(std::string s) {
    for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

const std::string kTagKeys =
    "42, 4f, 50, 57, 5a, 61, 6f, 70, 71, 72, 73, 77, 80, 81, 82, 83, 84, 86, 87, 88, 89, 8a, "
    "8c, 8d, 8e, 8f, 90, 91, 92, 93, 94, 95, 97, 98, 99, 9a, 9b, 9c, 9d, a5, e0, e1, e2, e3, "
    "c2, 5f20, 5f24, 5f25, 5f28, 5f2a, 5f2d, 5f30, 5f34, 5f36, 5f50, 5f53, 5f54, 5f55, 5f56, "
    "5f57, 9f01, 9f02, 9f03, 9f04, 9f05, 9f06, 9f07, 9f08, 9f09, 9f0b, 9f0d, 9f0e, 9f0f, "
    "9f10, 9f11, 9f12, 9f13, 9f14, 9f15, 9f16, 9f17, 9f18, 9f1a, 9f1b, 9f1c, 9f1d, 9f1e, "
    "9f1f, 9f20, 9f21, 9f22, 9f23, 9f26, 9f27, 9f2d, 9f2e, 9f2f, 9f32, 9f33, 9f34, 9f35, "
    "9f36, 9f37, 9f38, 9f39, 9f3a, 9f3b, 9f3c, 9f3d, 9f40, 9f41, 9f42, 9f43, 9f44, 9f45, "
    "9f46, 9f47, 9f48, 9f49, 9f4a, 9f4b, 9f4c, 9f4d, 9f4e, 9f4f, 9F50, 9F51, 9F52, 9F53, "
    "9F54, 9F56, 9F57, 9F58, 9F59, 9F5A, 9F5C, 9F61, 9F62, 9F63, 9F6D, 9F72, 9F73, 9F74, "
    "9F75, 9F76, 9F77, 9F78, 9F79, 9F7A, 9F7B, A5, bf0c, df01, df02, df11, df12, df13, "
    "df14, df15, df16, df17, df18, df31";

// The example answer: 0x50 sits inside the A5 template.
const Bytes kFci = hex("6F 0A 84 02 A0 00 A5 04 50 02 41 42");

// A record with two application templates.
const Bytes kRecord = hex("70 12 61 07 4F 02 A0 01 50 01 41 61 07 4F 02 A0 02 50 01 42");

// ---------------------------------------------------------------- dictionaries

TEST(TlvDictionary, KeysInTableOrder) {
    const auto keys = split(kTagKeys);
    ASSERT_EQ(keys.size(), 163u);
    EXPECT_EQ(keys_of(LIST_TAGS), keys);

    // The English table: the keys from 42 to 9f4f, then bf0c and the
    // terminal parameter tags, without the PBOC tags and df31.
    std::vector<std::string> english(keys.begin(), keys.begin() + 125);
    EXPECT_EQ(english.back(), "9f4f");
    for (const char *k : {"bf0c", "df01", "df02", "df11", "df12", "df13", "df14", "df15",
                          "df16", "df17", "df18"}) {
        english.emplace_back(k);
    }
    EXPECT_EQ(keys_of(LIST_TAGS_EN), english);
    EXPECT_EQ(english.size(), 136u);

    EXPECT_EQ(keys_of(LIST_STATUS_WORDS),
              (std::vector<std::string>{"9000", "6a83", "6a81", "6985", "6a82", "6a86"}));
}

TEST(TlvDictionary, TellingRows) {
    EXPECT_STREQ(get_value(0x9F02, LIST_TAGS), "9F02\t授权金额Amount, Authorised (Numeric)");
    EXPECT_STREQ(get_value(0x5F20, LIST_TAGS), "Cardholder Name");
    EXPECT_STREQ(get_value(0xBF0C, LIST_TAGS),
                 "BF0C\t发卡行自定义数据 FCIFile Control Information (FCI) Issuer Discretionary Data");
    EXPECT_STREQ(get_value(0xDF31, LIST_TAGS), "Issuer Script Results");
    EXPECT_STREQ(get_value(0x9F79, LIST_TAGS), "9F79 电子现金余额(EC Balance)");
    EXPECT_STREQ(get_value(0x9F61, LIST_TAGS), "9F61 持卡人证件号");
    EXPECT_STREQ(get_value(0x9F02, LIST_TAGS_EN), "Amount, Authorised (Numeric)");

    const struct {
        unsigned sw;
        const char *text;
    } words[] = {{0x9000, "Command successful"},     {0x6A83, "Record not found"},
                 {0x6A81, "Function not supported"}, {0x6985, "Conditions of use not satisfied"},
                 {0x6A82, "File not found"},         {0x6A86, "Incorrect P1 or P2 parameter"}};
    for (const auto &w : words) EXPECT_STREQ(get_value(w.sw, LIST_STATUS_WORDS), w.text);
}

// The bilingual rows carry the upper-case tag and a tab (PBOC rows: a
// space), and end in the English-only table's name for the same key.
TEST(TlvDictionary, DescriptionLayout) {
    for (const tlv_string_pair *e = LIST_TAGS; (*e)[0][0]; ++e) {
        const std::string key = (*e)[0], text = (*e)[1];
        SCOPED_TRACE(key);
        ASSERT_FALSE(text.empty());
        const unsigned value = static_cast<unsigned>(std::stoul(key, nullptr, 16));
        const bool pboc = key.size() == 4 && key[0] == '9' && key[1] == 'F';
        if (pboc) {
            EXPECT_EQ(text.rfind(key + " ", 0), 0u);
        } else if (key != "5f20" && key[0] != 'd' && key != "A5") {
            EXPECT_EQ(text.rfind(upper(key) + "\t", 0), 0u);
        }
        const std::string english = get_value(value, LIST_TAGS_EN);
        if (!english.empty() && key != "bf0c" && key != "A5") {
            EXPECT_TRUE(text.ends_with(english)) << text;
        }
    }
    for (const tlv_string_pair *e = LIST_TAGS_EN; (*e)[0][0]; ++e) {
        const std::string text = (*e)[1];
        EXPECT_TRUE(std::all_of(text.begin(), text.end(),
                                [](char c) { return c >= 0x20 && c < 0x7F; }))
            << text;
    }
}

TEST(TlvDictionary, LookupByNumber) {
    EXPECT_EQ(std::string(get_value(0x9F79, LIST_TAGS)).rfind("9F79", 0), 0u);
    EXPECT_STREQ(get_value(0x1234, LIST_TAGS), "");
    EXPECT_STREQ(get_value(0x9000, nullptr), "");
    // Two rows carry A5; the first, bilingual one wins.
    EXPECT_EQ(std::string(get_value(0xA5, LIST_TAGS)).rfind("A5\t", 0), 0u);
    // Leading zeros are not written: 0x0042 is "42".
    EXPECT_STRNE(get_value(0x42, LIST_TAGS), "");
}

// ---------------------------------------------------------------- rules

TEST(TlvRules, TagAndLengthForms) {
    EXPECT_TRUE(tag_is_two_bytes(0x9F));
    EXPECT_TRUE(tag_is_two_bytes(0x5F));
    EXPECT_TRUE(tag_is_two_bytes(0xBF));
    EXPECT_FALSE(tag_is_two_bytes(0x6F));
    EXPECT_FALSE(tag_is_two_bytes(0x9E));

    EXPECT_TRUE(length_is_two_bytes(0x81));
    for (uint8_t b : {0x00, 0x7F, 0x80, 0x82, 0x83, 0xFF}) EXPECT_FALSE(length_is_two_bytes(b)) << +b;

    const struct {
        uint16_t tag;
        bool constructed;
    } forms[] = {{0x6F, true},   {0x70, true},    {0xA5, true},  {0x50, false}, {0x84, false},
                 {0xBF0C, true}, {0x9F12, false}, {0x5F20, false}, {0xDF31, false}, {0x20, true}};
    for (const auto &f : forms) EXPECT_EQ(is_constructed_object(f.tag) != 0, f.constructed) << f.tag;

    EXPECT_FALSE(is_valid_tag(0));
    EXPECT_TRUE(is_valid_tag(0x50));
    EXPECT_EQ(left_byte(0x9F12), 0x9F);
    EXPECT_EQ(right_byte(0x9F12), 0x12);
}

TEST(TlvRules, GetTagStaysInsideItsBuffer) {
    const Exact two(hex("9F 12")), one(hex("50")), cut(hex("9F"));
    EXPECT_EQ(get_tag(two.data(), two.size()), 0x9F12);
    EXPECT_EQ(get_tag(one.data(), one.size()), 0x50);
    EXPECT_EQ(get_tag(cut.data(), cut.size()), 0);
    EXPECT_EQ(get_tag(two.data(), 0), 0);
    EXPECT_EQ(get_tag(nullptr, 2), 0);
}

// ---------------------------------------------------------------- search

TEST(TlvSearch, FindsNestedElementsInDocumentOrder) {
    const Exact fci(kFci);
    tlv_object found{};
    EXPECT_EQ(get_tlv(fci.data(), fci.size(), 0x50, 1, &found), 2);
    EXPECT_EQ(found.tag, 0x50);
    EXPECT_EQ(value_of(found), hex("41 42"));

    EXPECT_EQ(get_tlv(fci.data(), fci.size(), 0x50, 2, &found), 0);
    EXPECT_EQ(found.tag, 0x50);
    EXPECT_EQ(found.length, 0);

    EXPECT_EQ(get_tlv(fci.data(), fci.size(), 0x84, 1, &found), 2);
    EXPECT_EQ(value_of(found), hex("A0 00"));
    EXPECT_EQ(get_tlv(fci.data(), fci.size(), 0x6F, 1, &found), 10);
    EXPECT_EQ(value_of(found), Bytes(kFci.begin() + 2, kFci.end()));
}

TEST(TlvSearch, CountsOccurrencesAcrossTemplates) {
    const Exact record(kRecord);
    tlv_object found{};
    EXPECT_EQ(get_tlv(record.data(), record.size(), 0x4F, 2, &found), 2);
    EXPECT_EQ(value_of(found), hex("A0 02"));
    EXPECT_EQ(get_tlv(record.data(), record.size(), 0x50, 2, &found), 1);
    EXPECT_EQ(value_of(found), hex("42"));
    EXPECT_EQ(get_tlv(record.data(), record.size(), 0x4F, 3, &found), 0);
    for (int occurrence : {0, -1}) {
        EXPECT_EQ(get_tlv(record.data(), record.size(), 0x4F, occurrence, &found), 0);
    }

    Out out;
    const int n = get_tlv_data(record.data(), record.size(), 0x61, 2, out.bytes);
    EXPECT_EQ(n, 9);
    EXPECT_EQ(Bytes(out.bytes, out.bytes + n), hex("61 07 4F 02 A0 02 50 01 42"));
    EXPECT_TRUE(out.untouched_from(n));
}

TEST(TlvSearch, ZeroTagEndsTheScan) {
    // Nothing after a zero tag byte is looked at: the buffer is empty for
    // every search when it starts with 00.
    const Exact padded(hex("00 50 02 41 42"));
    tlv_object found{};
    Out out;
    for (uint16_t tag : {0x00, 0x50}) {
        EXPECT_EQ(get_tlv(padded.data(), padded.size(), tag, 1, &found), 0);
        EXPECT_EQ(get_tlv_data(padded.data(), padded.size(), tag, 1, out.bytes), 0);
    }
    EXPECT_TRUE(out.untouched_from(0));
}

TEST(TlvSearch, EmptyAndMissingBuffers) {
    tlv_object found{};
    found.length = 7;
    EXPECT_EQ(get_tlv(nullptr, 10, 0x50, 1, &found), 0);
    EXPECT_EQ(found.length, 0);
    const Exact fci(kFci);
    EXPECT_EQ(get_tlv(fci.data(), 0, 0x6F, 1, &found), 0);
    EXPECT_EQ(get_tlv(fci.data(), -5, 0x6F, 1, &found), 0);
    EXPECT_EQ(get_tlv(fci.data(), fci.size(), 0x6F, 1, nullptr), 0);
    EXPECT_EQ(get_tlv_data(fci.data(), fci.size(), 0x6F, 1, nullptr), 0);
}

// ---------------------------------------------------------------- encoding

TEST(TlvEncode, KnownEncodings) {
    Out out;
    Bytes value(200);
    for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(i);
    const tlv_object name = make_object(0x9F12, value);
    EXPECT_EQ(copy_tlv(out.bytes, &name), 204);
    EXPECT_EQ(Bytes(out.bytes, out.bytes + 4), hex("9F 12 81 C8"));
    EXPECT_EQ(Bytes(out.bytes + 4, out.bytes + 204), value);
    EXPECT_TRUE(out.untouched_from(204));

    Out small;
    const tlv_object label = make_object(0x50, hex("41 42 43 44 45"));
    EXPECT_EQ(copy_tlv(small.bytes, &label), 7);
    EXPECT_EQ(Bytes(small.bytes, small.bytes + 7), hex("50 05 41 42 43 44 45"));
    EXPECT_TRUE(small.untouched_from(7));
}

// copy_tlv then get_tlv and get_tlv_data give back the element, for one-
// and two-byte tags, primitive and constructed, and both length forms.
TEST(TlvEncode, RoundTrip) {
    for (uint16_t tag : {0x50, 0x84, 0x6F, 0x9F12, 0x5F20, 0xBF0C}) {
        for (int length : {0, 1, 0x7F, 0x80, 0xC8, 0xFF}) {
            SCOPED_TRACE(testing::Message() << std::hex << tag << " length " << std::dec << length);
            Bytes value(static_cast<std::size_t>(length));
            for (int i = 0; i < length; ++i) value[static_cast<std::size_t>(i)] = static_cast<uint8_t>(0x30 + i);
            const tlv_object original = make_object(tag, value);

            Out encoded;
            const int n = copy_tlv(encoded.bytes, &original);
            const int header = (tag > 0xFF ? 2 : 1) + (length >= 0x80 ? 2 : 1);
            ASSERT_EQ(n, header + length);
            EXPECT_TRUE(encoded.untouched_from(n));

            const Exact wire(Bytes(encoded.bytes, encoded.bytes + n));
            tlv_object decoded{};
            EXPECT_EQ(get_tlv(wire.data(), wire.size(), tag, 1, &decoded), length);
            EXPECT_EQ(decoded.tag, tag);
            EXPECT_EQ(value_of(decoded), value);

            Out copied;
            EXPECT_EQ(get_tlv_data(wire.data(), wire.size(), tag, 1, copied.bytes), n);
            EXPECT_EQ(Bytes(copied.bytes, copied.bytes + n), Bytes(encoded.bytes, encoded.bytes + n));
            EXPECT_TRUE(copied.untouched_from(n));
        }
    }
}

TEST(TlvEncode, GetHexIsUpperCaseAndTerminated) {
    char out[16];
    std::memset(out, 'x', sizeof out);
    const uint8_t bytes[] = {0x00, 0xAB, 0x5F, 0x9c};
    EXPECT_EQ(get_hex(bytes, 4, out), out);
    EXPECT_STREQ(out, "00AB5F9C");
    EXPECT_EQ(out[9], 'x');
    get_hex(bytes, 0, out);
    EXPECT_STREQ(out, "");
}

// ---------------------------------------------------------------- log tree

TEST(TlvTree, DecodeLogsTheTreeAndExtracts) {
    LogCapture log;
    const tlv_object fci = make_object(0x6F, Bytes(kFci.begin() + 2, kFci.end()));
    Out out;
    int length = -1;
    decode_tlv(&fci, 0x50, out.bytes, &length);

    EXPECT_EQ(log.lines, (std::vector<std::string>{tree_line(0, 0x6F, 10), tree_line(2, 0x84, 2),
                                                   tree_line(2, 0xA5, 4), tree_line(4, 0x50, 2)}));
    EXPECT_EQ(length, 4);
    EXPECT_EQ(Bytes(out.bytes, out.bytes + 4), hex("50 02 41 42"));
    EXPECT_TRUE(out.untouched_from(4));
}

TEST(TlvTree, TextValuesAndNoDescentBelowTheMatch) {
    LogCapture log;
    const tlv_object fci = make_object(0x6F, Bytes(kFci.begin() + 2, kFci.end()));
    Out out;
    int length = -1;
    decode_tlv(&fci, 0xA5, out.bytes, &length);
    EXPECT_EQ(log.lines, (std::vector<std::string>{tree_line(0, 0x6F, 10), tree_line(2, 0x84, 2),
                                                   tree_line(2, 0xA5, 4)}));
    EXPECT_EQ(length, 6);
    EXPECT_EQ(Bytes(out.bytes, out.bytes + 6), hex("A5 04 50 02 41 42"));

    log.lines.clear();
    print_tlv_recursive(&fci, 1);
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{tree_line(2, 0x6F, 10), tree_line(4, 0x84, 2),
                                        tree_line(4, 0xA5, 4), tree_line(6, 0x50, 2),
                                        "        s:\"AB\"\n"}));
}

TEST(TlvTree, LaterMatchWinsAndLongLengthsSplit) {
    LogCapture log;
    const tlv_object two = make_object(0x6F, hex("A5 03 50 01 41 A5 81 03 50 01 42"));
    Out out;
    int length = -1;
    decode_tlv(&two, 0x50, out.bytes, &length);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(Bytes(out.bytes, out.bytes + 3), hex("50 01 42"));
    EXPECT_TRUE(out.untouched_from(3));
}

TEST(TlvTree, EmptyObjectsDoNothing) {
    LogCapture log;
    Out out;
    int length = -1;
    const tlv_object no_tag = make_object(0, hex("50 01 41"));
    const tlv_object no_value = make_object(0x6F, {});
    decode_tlv(&no_tag, 0x50, out.bytes, &length);
    decode_tlv(&no_value, 0x6F, out.bytes, &length);
    decode_tlv(nullptr, 0x6F, out.bytes, &length);
    print_tlv(&no_value);
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(length, -1);
    EXPECT_TRUE(out.untouched_from(0));
}

// ---------------------------------------------------------------- hostile input

// Answers that break the grammar: the element asked for, and any element
// behind the break, is "not found" and nothing is copied.
TEST(TlvHostile, MalformedAnswersFindNothing) {
    const struct {
        const char *bytes;
        uint16_t tag;
        const char *why;
    } cases[] = {
        {"50 05 41 42", 0x50, "value runs past the end"},
        {"6F 10 50 02 41 42", 0x50, "template runs past the end"},
        {"5A 02 11 22 50 05 41", 0x50, "second element runs past the end"},
        {"50 82 00 02 41 42", 0x50, "three-byte length form"},
        {"50 80 41 42 00 00", 0x50, "indefinite length form"},
        {"5A 84 00 00 00 01 00 50 01 41", 0x50, "unsupported form hides what follows"},
        {"50 81", 0x50, "0x81 without its length byte"},
        {"50", 0x50, "tag without length"},
        {"9F", 0x9F12, "two-byte tag cut after one byte"},
        {"9F 12", 0x9F12, "two-byte tag without length"},
        {"9F 12 81", 0x9F12, "two-byte tag, 0x81 without its length byte"},
        {"", 0x50, "empty answer"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        const Exact answer(hex(c.bytes));
        tlv_object found{};
        EXPECT_EQ(get_tlv(answer.data(), answer.size(), c.tag, 1, &found), 0);
        EXPECT_EQ(found.tag, c.tag);
        Out out;
        EXPECT_EQ(get_tlv_data(answer.data(), answer.size(), c.tag, 1, out.bytes), 0);
        EXPECT_TRUE(out.untouched_from(0));
    }
}

// Every prefix of an answer: an element is found exactly when it and
// everything scanned before it lie inside the prefix.
TEST(TlvHostile, TruncatedAnswers) {
    const Bytes full = hex("5A 02 11 22 A5 04 50 02 41 42 9F 12 03 41 42 43");
    const struct {
        uint16_t tag;
        int needs;  // bytes the scan must see to find it
        Bytes value;
    } elements[] = {{0x5A, 4, hex("11 22")},
                    {0xA5, 10, hex("50 02 41 42")},
                    {0x50, 10, hex("41 42")},
                    {0x9F12, 16, hex("41 42 43")}};
    for (int size = 0; size <= static_cast<int>(full.size()); ++size) {
        const Exact answer(Bytes(full.begin(), full.begin() + size));
        for (const auto &e : elements) {
            SCOPED_TRACE(testing::Message() << "prefix " << size << " tag " << std::hex << e.tag);
            tlv_object found{};
            const int length = get_tlv(answer.data(), answer.size(), e.tag, 1, &found);
            if (size >= e.needs) {
                EXPECT_EQ(length, static_cast<int>(e.value.size()));
                EXPECT_EQ(value_of(found), e.value);
            } else {
                EXPECT_EQ(length, 0);
            }
        }
    }
    // A strict prefix of a single template holds no complete element.
    for (int size = 0; size < static_cast<int>(kRecord.size()); ++size) {
        const Exact answer(Bytes(kRecord.begin(), kRecord.begin() + size));
        Out out;
        for (uint16_t tag : {0x70, 0x61, 0x4F, 0x50}) {
            EXPECT_EQ(get_tlv_data(answer.data(), answer.size(), tag, 1, out.bytes), 0);
        }
        EXPECT_TRUE(out.untouched_from(0));
    }
}

// Templates nested as deep as the value allows; and templates that claim
// more children than the data hold.
TEST(TlvHostile, DeepNesting) {
    Bytes nested = hex("50 01 41");
    int levels = 0;
    for (;;) {
        const int header = nested.size() >= 0x80 ? 3 : 2;
        if (nested.size() + static_cast<std::size_t>(header) > 255) break;
        Bytes wrapped{0xE1};
        if (header == 3) wrapped.push_back(0x81);
        wrapped.push_back(static_cast<uint8_t>(nested.size()));
        wrapped.insert(wrapped.end(), nested.begin(), nested.end());
        nested = std::move(wrapped);
        ++levels;
    }
    ASSERT_GT(levels, 100);

    const Exact answer(nested);
    tlv_object found{};
    EXPECT_EQ(get_tlv(answer.data(), answer.size(), 0x50, 1, &found), 1);
    EXPECT_EQ(get_tlv(answer.data(), answer.size(), 0xE1, levels, &found),
              3);  // the innermost template holds only 50 01 41
    EXPECT_EQ(get_tlv(answer.data(), answer.size(), 0xE1, levels + 1, &found), 0);

    LogCapture log;
    const tlv_object top = make_object(0x6F, nested);
    Out out;
    int length = -1;
    decode_tlv(&top, 0x50, out.bytes, &length);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(Bytes(out.bytes, out.bytes + 3), hex("50 01 41"));
    EXPECT_EQ(log.lines.size(), static_cast<std::size_t>(levels) + 2);

    // 64 templates, each claiming 127 bytes of the 126 that follow it.
    Bytes hollow;
    for (int i = 0; i < 64; ++i) {
        hollow.push_back(0xE1);
        hollow.push_back(0x7F);
    }
    const Exact claim(hollow);
    EXPECT_EQ(get_tlv(claim.data(), claim.size(), 0xE1, 1, &found), 0);
    log.lines.clear();
    const tlv_object shell = make_object(0x6F, hollow);
    decode_tlv(&shell, 0x50, out.bytes, &length);
    EXPECT_EQ(log.lines, (std::vector<std::string>{tree_line(0, 0x6F, 128)}));
}

// Random answers: whatever is found is a complete element copied from the
// answer, and nothing is written past the element.
TEST(TlvHostile, RandomBytes) {
    vr::platform::set_log_sink([](std::string_view) {});
    std::mt19937 rng(20240601);
    std::uniform_int_distribution<int> byte(0, 255), size(0, 300);
    int found_count = 0;
    for (int round = 0; round < 3000; ++round) {
        Bytes random;
        std::vector<std::size_t> starts;  // element starts of a generated answer
        if (round % 2 == 0) {
            random.resize(static_cast<std::size_t>(size(rng)));
            for (auto &b : random) b = static_cast<uint8_t>(byte(rng));
        } else {
            // Plausible answers: short primitive elements of random tags,
            // some wrapped in a template, then a few bytes damaged and the
            // end cut at random.
            auto tag_bytes = [&](bool constructed) {
                uint8_t first = static_cast<uint8_t>(byte(rng));
                first = constructed ? (first | 0x20) : (first & ~0x20);
                random.push_back(first == 0 ? 0x01 : first);
                if (tag_is_two_bytes(random.back())) random.push_back(static_cast<uint8_t>(byte(rng)));
            };
            auto primitive = [&](int length) {
                starts.push_back(random.size());
                tag_bytes(false);
                random.push_back(static_cast<uint8_t>(length));
                for (int i = 0; i < length; ++i) random.push_back(static_cast<uint8_t>(byte(rng)));
            };
            while (random.size() < 200) {
                const int length = byte(rng) % 8;
                if (byte(rng) % 4 == 0) {
                    starts.push_back(random.size());
                    tag_bytes(true);
                    const std::size_t length_at = random.size();
                    random.push_back(0);
                    primitive(length);
                    random[length_at] = static_cast<uint8_t>(random.size() - length_at - 1);
                } else {
                    primitive(length);
                }
            }
            for (int damage = byte(rng) % 3; damage > 0; --damage) {
                random[static_cast<std::size_t>(byte(rng)) % random.size()] = static_cast<uint8_t>(byte(rng));
            }
            random.resize(static_cast<std::size_t>(size(rng)) % (random.size() + 1));
        }
        const Exact answer(random);
        std::size_t at = random.empty() ? 0 : static_cast<std::size_t>(byte(rng)) % random.size();
        std::erase_if(starts, [&](std::size_t start) { return start >= random.size(); });
        if (!starts.empty()) at = starts[static_cast<std::size_t>(byte(rng)) % starts.size()];
        const uint16_t tag = get_tag(answer.data() + at, answer.size() - static_cast<int>(at));
        const int occurrence = 1 + byte(rng) % 3;

        tlv_object found{};
        const int length = get_tlv(answer.data(), answer.size(), tag, occurrence, &found);
        Out out;
        const int n = get_tlv_data(answer.data(), answer.size(), tag, occurrence, out.bytes);
        ASSERT_TRUE(out.untouched_from(n));
        if (n == 0) {
            ASSERT_EQ(length, 0);
            continue;
        }
        ++found_count;
        ASSERT_LE(n, answer.size());
        ASSERT_EQ(length, found.length);
        ASSERT_TRUE(n - length >= 2 && n - length <= 4);
        ASSERT_NE(std::search(random.begin(), random.end(), out.bytes, out.bytes + n), random.end());
        ASSERT_TRUE(std::equal(out.bytes + (n - length), out.bytes + n, found.value));

        // Walk the same bytes as the value of a template.
        const tlv_object top = make_object(0x70, Bytes(random.begin(), random.begin() +
                                                       std::min<std::size_t>(random.size(), 255)));
        Out extracted;
        int extracted_length = -1;
        decode_tlv(&top, tag, extracted.bytes, &extracted_length);
        // A later match may be shorter than an earlier one it replaces, so
        // only the largest element size bounds what was written.
        ASSERT_LE(extracted_length, 259);
        ASSERT_TRUE(extracted.untouched_from(259));
        if (extracted_length == -1) {
            ASSERT_TRUE(extracted.untouched_from(0));
        }
    }
    EXPECT_GT(found_count, 300);  // the fixture really exercises the found path
    vr::platform::set_log_sink(nullptr);
}

}  // namespace
