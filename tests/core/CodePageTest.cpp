#include "platform/CodePage.h"

#include <gtest/gtest.h>

namespace trimeld::platform {
namespace {

TEST(CodePage, DecodesWindows1252) {
    struct Case {
        unsigned char byte;
        char16_t ch;
    };
    const Case cases[] = {
        {0x00, 0x0000}, {0x41, u'A'},   {0x7F, 0x007F}, {0x80, 0x20AC}, {0x81, 0x0081},
        {0x8D, 0x008D}, {0x8F, 0x008F}, {0x90, 0x0090}, {0x9D, 0x009D}, {0x9F, 0x0178},
        {0xA0, 0x00A0}, {0xE7, 0x00E7}, {0xFF, 0x00FF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.byte));
        EXPECT_EQ(DecodeAnsiByte(c.byte), c.ch);
        EXPECT_EQ(static_cast<unsigned char>(EncodeAnsiChar(c.ch)), c.byte);
    }
}

TEST(CodePage, EncodesUnrepresentableCharactersAsQuestionMarks) {
    EXPECT_EQ(EncodeAnsi(u"a\u0142\u20AC\U0001F600z"), "a?\x80??z");
}

} // namespace
} // namespace trimeld::platform
