// The Java bridge's parts that need no Java VM: the decoding of texts from
// cards and readers into Java texts, and the Bluetooth link on a thread no
// VM knows. (The bridge itself runs in a real VM in tests/java.)
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "bluetooth.h"
#include "bridge/text.h"

namespace {

struct TextCase {
    const char *name;
    std::string utf8;
    std::u16string expected;
};

TEST(BridgeText, Utf8BecomesUtf16AndMalformedBytesBecomeReplacements) {
    const TextCase cases[] = {
        {"ascii", "VR1356-S", u"VR1356-S"},
        {"two bytes", "gr\xc3\xbc\xc3\x9f" "e", u"grüße"},
        {"three bytes", "\xe8\xaf\xbb\xe5\x8d\xa1", u"读卡"},
        {"four bytes", "\xf0\x9f\x98\x80", u"\U0001F600"},
        {"an embedded NUL is a character", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"stray continuation", "a\x80z", u"a\uFFFDz"},
        {"invalid lead", "\xff\xfe", u"\uFFFD\uFFFD"},
        {"overlong slash", "\xc0\xaf", u"\uFFFD"},
        {"encoded surrogate", "\xed\xa0\x80", u"\uFFFD"},
        {"past U+10FFFF", "\xf4\x90\x80\x80", u"\uFFFD"},
        {"cut at the end", "ok\xe4\xb8", u"ok\uFFFD"},
        {"cut before a new lead", "\xe4\xb8" "A", u"\uFFFD" "A"},
    };
    for (const TextCase &c : cases)
        EXPECT_EQ(vr::bridge::utf8_to_utf16(c.utf8.data(), c.utf8.size()), c.expected) << c.name;
}

TEST(BridgeBluetooth, OperationsFailWithTheirCodesWithoutAJavaVm) {
    uint8_t b[4] = {};
    struct Row {
        const char *name;
        int result;
        int code;
        int (*call)(uint8_t *);
    };
    const Row rows[] = {
        {"open", -1, -10, [](uint8_t *) { return bluetooth_open(); }},
        {"close", -1, -11, [](uint8_t *) { return bluetooth_close(); }},
        {"flush", -1, -79, [](uint8_t *) { return bluetooth_flush(3); }},
        {"read", -1, -14, [](uint8_t *p) { return bluetooth_read(p, 4); }},
        {"write", -1, -13, [](uint8_t *p) { return bluetooth_write(p, 4); }},
    };
    for (const Row &r : rows) {
        errno = 0;
        EXPECT_EQ(r.call(b), r.result) << r.name;
        EXPECT_EQ(errno, r.code) << r.name;
    }
    EXPECT_EQ(android_local_jnienv_bluetooth(), nullptr);
    EXPECT_EQ(android_bluetooth_init(nullptr), -1);
}

}  // namespace
