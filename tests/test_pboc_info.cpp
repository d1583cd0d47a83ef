// The bank card's information table without a card: decoding records given
// as hexadecimal text, the texts derived from the tag values and their
// masks, and what replacing a value does to them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "pboc.h"

namespace {

// A zeroed record whose table is released with it.
struct Record {
    picc *p = static_cast<picc *>(std::calloc(1, sizeof(picc)));
    ~Record() { picc_free(p); }
};

std::string text_of(const char *t) { return t ? t : "(none)"; }

TEST(PbocInfo, TrackTwoGivesNumberMaskAndExpiry) {
    const struct {
        const char *msd2;
        const char *pan, *panmask, *validdate;
    } cases[] = {
        {"1234567890123456789D2512201000", "1234567890123456789", "123456789012345****", "12/25"},
        {"6229990000123459D30122201234567890", "6229990000123459", "622999000012****", "12/30"},
        {"123D2512", "123", "***", "12/25"},         // shorter than the mask: all of it
        {"D2512", "", "", "12/25"},                  // no number at all
        {"1234567890123456D251", "1234567890123456", "123456789012****", "(none)"},  // expiry cut short
        {"12345678901234567890", "(none)", "(none)", "(none)"},                       // no separator
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.msd2);
        Record r;
        ASSERT_EQ(pboc_info_set(r.p, "57", c.msd2), 0);
        EXPECT_EQ(text_of(pboc_get_pan(r.p)), c.pan);
        EXPECT_EQ(text_of(pboc_get_panmask(r.p)), c.panmask);
        EXPECT_EQ(text_of(pboc_get_validdate(r.p)), c.validdate);
        EXPECT_EQ(text_of(pboc_get_msd2(r.p)), c.msd2);
    }
}

TEST(PbocInfo, NameAndIdNumberInCharactersAndMasked) {
    Record r;
    ASSERT_EQ(pboc_info_decode(r.p, "9F61083131303130312020"), 0);
    EXPECT_STREQ(pboc_get_idennum(r.p), "313130313031") << "cut before its space padding";
    EXPECT_STREQ(pboc_get_idennumascii(r.p), "110101");
    EXPECT_STREQ(pboc_get_idennumasciimask(r.p), "11****");
    ASSERT_EQ(pboc_info_decode(r.p, "5F20035A4841"), 0);
    EXPECT_STREQ(pboc_get_nameascii(r.p), "ZHA");
    EXPECT_STREQ(pboc_get_nameasciimask(r.p), "ZH*");

    // A name of spaces has no characters and no mask.
    ASSERT_EQ(pboc_info_set(r.p, "5F20", "20205A"), 0);
    EXPECT_STREQ(pboc_get_name(r.p), "20205A");
    EXPECT_EQ(pboc_get_nameascii(r.p), nullptr);
    EXPECT_EQ(pboc_get_nameasciimask(r.p), nullptr);

    // An ID number that is all padding stores nothing.
    ASSERT_EQ(pboc_info_decode(r.p, "9F61022020"), 0);
    EXPECT_EQ(pboc_get_idennum(r.p), nullptr);
    EXPECT_EQ(pboc_get_idennumascii(r.p), nullptr);
}

TEST(PbocInfo, DecodingWalksTemplatesAndStopsAtWhatDoesNotFit) {
    Record r;
    // A record template holding the name and the ID type, then the balance
    // outside it, then an unknown tag, all in lower case.
    ASSERT_EQ(pboc_info_decode(r.p, "700a5f2003414243" "9f620101" "9f7906000000012345" "df0101ff"), 0);
    EXPECT_STREQ(pboc_get_name(r.p), "414243");
    EXPECT_STREQ(pboc_get_identype(r.p), "01");
    EXPECT_STREQ(pboc_info_qbocvalue(r.p), "000000012345");

    // Long lengths (81); then an element running past the text: decoding
    // ends there and keeps what came before.
    Record t;
    std::string long_name = "5F208180";
    for (int i = 0; i < 0x80; ++i) long_name += "41";
    ASSERT_EQ(pboc_info_decode(t.p, (long_name + "9F6202" + "01").c_str()), 0);
    EXPECT_EQ(std::string(pboc_get_name(t.p)).size(), 256u);
    EXPECT_EQ(pboc_get_identype(t.p), nullptr);

    for (const char *bad : {"5F", "5F20", "5F2005414243", "5F2082000141", "5F20804142", "5G200141", "570"}) {
        SCOPED_TRACE(bad);
        Record b;
        EXPECT_EQ(pboc_info_decode(b.p, bad), 0);
        EXPECT_EQ(pboc_get_name(b.p), nullptr);
        EXPECT_EQ(pboc_get_msd2(b.p), nullptr);
    }
    Record e;
    EXPECT_EQ(pboc_info_decode(e.p, ""), -1);
    EXPECT_EQ(pboc_info_decode(nullptr, "5A0111"), -1);

    // Templates nested far deeper than any record are not followed to the
    // bottom, and the walk does not exhaust the stack.
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "7081";
    Record d;
    EXPECT_EQ(pboc_info_decode(d.p, deep.c_str()), 0);
}

TEST(PbocInfo, ANewValueReplacesTheTextsDerivedFromTheOld) {
    Record r;
    ASSERT_EQ(pboc_info_set(r.p, "57", "1111222233334444D2501"), 0);
    EXPECT_STREQ(pboc_get_panmask(r.p), "111122223333****");
    ASSERT_EQ(pboc_info_set(r.p, "57", "5555666677778888D2612"), 0);
    EXPECT_STREQ(pboc_get_panmask(r.p), "555566667777****");
    EXPECT_STREQ(pboc_get_validdate(r.p), "12/26");
    ASSERT_EQ(pboc_info_set(r.p, "57", nullptr), 0);
    EXPECT_EQ(pboc_get_pan(r.p), nullptr);

    EXPECT_EQ(pboc_info_set(r.p, "5A", "1234"), -1) << "not a key of the table";
    EXPECT_EQ(pboc_info_set(r.p, nullptr, "1234"), -1);
    EXPECT_EQ(pboc_info_set(nullptr, "57", "1234"), -1);
    EXPECT_EQ(pboc_get_pan(nullptr), nullptr);
}

}  // namespace
