#include "platform/Unicode.h"

#include <gtest/gtest.h>

#include <string>

namespace trimeld::platform {
namespace {

TEST(Unicode, EveryByteStringSurvivesAsAName) {
    struct Case {
        const char* what;
        std::string bytes;
        std::u16string name;
    };
    const Case cases[] = {
        {"ASCII", "part.stl", u"part.stl"},
        {"valid UTF-8, four-byte included",
         "\xc5\x82\xc3\xb3"
         "d\xf0\x9f\x98\x80",
         u"łód\U0001F600"},
        {"a real U+FFFD", "\xef\xbf\xbd", u"\uFFFD"},
        {"lone bytes", "\xfe.raw", u"\xDCFE.raw"},
        {"lone continuation", "a\x80", u"a\xDC80"},
        {"cut sequence", "\xe2\x82", u"\xDCE2\xDC82"},
        {"cut sequence before ASCII", "\xc3(", u"\xDCC3("},
        {"encoded surrogate", "\xed\xa0\x80", u"\xDCED\xDCA0\xDC80"},
        {"overlong slash", "\xc0\xaf", u"\xDCC0\xDCAF"},
        {"beyond U+10FFFF", "\xf4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::u16string name = NameFromBytes(c.bytes);
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(NameToBytes(name), c.bytes);
    }
    // All 256 single bytes, and each after a lead byte that wants more.
    for (int b = 0x01; b <= 0xFF; ++b) {
        for (const std::string prefix : {"", "\xc3", "\xf0\x9f"}) {
            const std::string bytes = prefix + static_cast<char>(b);
            EXPECT_EQ(NameToBytes(NameFromBytes(bytes)), bytes) << b;
        }
    }
}

TEST(Unicode, NamesThatStandForNoBytesAreRefused) {
    EXPECT_EQ(NameToBytes(std::u16string(u"a\0b", 3)), std::nullopt);
    EXPECT_EQ(NameToBytes(u"\xD800"), std::nullopt);             // lone lead surrogate
    EXPECT_EQ(NameToBytes(u"\xDC7F"), std::nullopt);             // a trail below the escapes
    EXPECT_EQ(NameToBytes(u"\xD83D\xDE00"), "\xf0\x9f\x98\x80"); // a pair is a character
    EXPECT_EQ(NameToBytes(u""), "");
}

TEST(Unicode, EscapedBytesShowAsReplacementCharacters) {
    const std::u16string name = NameFromBytes("x\xfe\xff\xc5\x82");
    EXPECT_EQ(name.size(), 4u); // one unit a byte, as the length limit counts them
    EXPECT_EQ(DisplayName(name), u"x\uFFFD\uFFFDł");
    EXPECT_EQ(ToUtf8(name), "x\xef\xbf\xbd\xef\xbf\xbd\xc5\x82");
    EXPECT_EQ(DisplayName(u"\U0001F600"), u"\U0001F600");
}

} // namespace
} // namespace trimeld::platform
