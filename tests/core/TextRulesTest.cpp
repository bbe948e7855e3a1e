#include "stl/TextRules.h"

#include "TextModel.h"
#include "platform/Unicode.h"

#include "geometry/CommonTypes.h"
#include "platform/CodePage.h"
#include "platform/Files.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace trimeld {
namespace {

using platform::TMemoryStream;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

using TTexts = std::vector<std::u16string>;

TTexts Entries(const TLineList& list) {
    TTexts entries;
    for (std::int32_t i = 0; i < list.Count(); ++i)
        entries.push_back(list.Read(i));
    return entries;
}

// The views kept by TFieldViews under each limit: the first fields of the
// splitter's list, and More() exactly when there were further ones.
template <typename CharT>
void ExpectViewsAgree(std::basic_string_view<CharT> text, const TTexts& expected) {
    TFieldViews<CharT> views;
    for (std::size_t limit = 0; limit <= TFieldViews<CharT>::cMAX_FIELDS; ++limit) {
        views.Split(text, limit);
        ASSERT_EQ(views.Count(), std::min(limit, expected.size())) << "limit " << limit;
        EXPECT_EQ(views.More(), expected.size() > limit) << "limit " << limit;
        for (std::size_t i = 0; i < views.Count(); ++i) {
            if constexpr (sizeof(CharT) == 1)
                EXPECT_EQ(platform::DecodeAnsi(views[i]), expected[i]);
            else
                EXPECT_EQ(views[i], expected[i]);
        }
    }
}

// The fields by SplitFields, checked against the views over the same text
// and, where the code page has every character, over its bytes.
TTexts Fields(std::u16string_view text) {
    TFieldList fields;
    SplitFields(text, fields);
    const TTexts entries = Entries(fields);
    ExpectViewsAgree(text, entries);
    const std::string bytes = platform::EncodeAnsi(text);
    if (platform::DecodeAnsi(bytes) == text)
        ExpectViewsAgree(std::string_view(bytes), entries);
    return entries;
}

TTexts ReadLines(const std::string& bytes, std::size_t chunkSize) {
    TMemoryStream stream(bytes);
    TLineReader reader(stream, chunkSize);
    TTexts lines;
    std::u16string_view line;
    while (reader.Next(line))
        lines.emplace_back(line);
    return lines;
}

// A text of the size given, as std::u16string_view would cut at the first U+0000.
template <std::size_t N> constexpr std::u16string_view Text(const char16_t (&text)[N]) {
    return {text, N - 1};
}
template <std::size_t N> std::string Bytes(const char (&bytes)[N]) {
    return {bytes, N - 1};
}

const std::string cUTF8_MARKER = "\xEF\xBB\xBF";

TEST(TextRules, TrimBlanksRemovesEveryControlAndSpaceAtBothEnds) {
    struct Case {
        std::u16string_view text;
        std::u16string_view trimmed;
    };
    const Case cases[] = {
        {u"\t x \u00A0", u"x \u00A0"}, // U+00A0 is no blank here
        {u" \t\r\n\x01\x1F ", u""},
        {Text(u"\0a b\0"), u"a b"},
        {u"\x7F", u"\x7F"},
        {u"", u""},
        {u"\x2028x\x2028", u"\x2028x\x2028"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.text));
        EXPECT_EQ(TrimBlanks(c.text), c.trimmed);
    }
}

TEST(TextRules, UpperCaseAsciiChangesOnlyAToZ) {
    EXPECT_EQ(UpperCaseAscii(u"façade"), u"FAçADE");
    EXPECT_EQ(UpperCaseAscii(u"`az{ AZ@ éÿ ı"), u"`AZ{ AZ@ éÿ ı");
    std::u16string reused = u"a much longer text than the next";
    UpperCaseAscii(u"vertex", reused);
    EXPECT_EQ(reused, u"VERTEX");
}

TEST(TextRules, PrefixAndSubstringTestsCompareExactly) {
    struct Case {
        std::u16string_view keyword;
        std::u16string_view text;
        bool startsWith;
        bool contains;
    };
    const Case cases[] = {
        {u"ENDLOOP", u"ENDLOOPX", true, true},
        {u"ENDLOOP", u"ENDLOOP", true, true},
        {u"OUTER LOOP", u"OUTER  LOOP", false, false},
        {u"SOLID", u"solid", false, false},
        {u"SOLID", u"SOLI", false, false},
        {u"SOLID", u"", false, false},
        {u"FACET NORMAL ", u"SOLID FACET NORMAL 1", false, true},
        {u"FACET NORMAL ", u"FACET NORMAL", false, false},
        {Text(u"A\0B"), Text(u"A\0BC"), true, true},
        {Text(u"A\0B"), u"AB", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.keyword) + " in " + platform::ToUtf8(c.text));
        EXPECT_EQ(StartsWith(c.keyword, c.text), c.startsWith);
        EXPECT_EQ(Contains(c.keyword, c.text), c.contains);
    }
}

TEST(TextRules, SameTextAsciiFoldsOnlyAsciiLetters) {
    struct Case {
        std::u16string_view first;
        std::u16string_view second;
        bool same;
    };
    const Case cases[] = {
        {u"vertex", u"VERTEX", true},
        {u"VeRtEx", u"VERTEX", true},
        {u"VERTEX ", u"VERTEX", false},
        {u"VÉRTEX", u"VERTEX", false},
        {u"vértex", u"VÉRTEX", false},
        {u"", u"", true},
        {u"[", u"{", false}, // 0x5B and 0x7B differ by 0x20 but are no letters
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.first) + " = " + platform::ToUtf8(c.second));
        EXPECT_EQ(SameTextAscii(c.first, c.second), c.same);
        EXPECT_EQ(SameTextAscii(c.second, c.first), c.same);
    }
}

struct TLinesCase {
    std::u16string_view text;
    TTexts lines;
};

const TLinesCase cLineCases[] = {
    {u"a\r\nb\r\n", {u"a", u"b"}},
    {u"a\nb", {u"a", u"b"}},
    {u"a\rb\r", {u"a", u"b"}},
    {u"a\n\rb", {u"a", u"", u"b"}}, // LF CR is two breaks
    {u"a\r\r\nb", {u"a", u"", u"b"}},
    {u"a\n\nb\n", {u"a", u"", u"b"}},
    {u"\n", {u""}},
    {u"\r\n\r\n", {u"", u""}},
    {u"", {}},
    {u"one line", {u"one line"}},
    {Text(u"ab\ncd\ne\0f\ngh"), {u"ab", u"cd", u"e"}},
    {Text(u"\0abc\n"), {}},
    {Text(u"a\r\0"), {u"a"}},
    {Text(u"a\n\r\0b"), {u"a", u""}},
    {u"a\fb\u0085c\u2028d\u000B", {u"a\fb\u0085c\u2028d\u000B"}},
};

TEST(TextRules, SplitLinesBreaksAtCrLfAndCrLfPairs) {
    TLineList lines;
    lines.Append(u"left over from before");
    for (const TLinesCase& c : cLineCases) {
        SCOPED_TRACE(platform::ToUtf8(c.text));
        SplitLines(c.text, lines);
        EXPECT_EQ(Entries(lines), c.lines);
    }
}

TEST(TextRules, LineReaderSplitsAlikeWhereverItsPiecesEnd) {
    for (const TLinesCase& c : cLineCases) {
        const std::string bytes = platform::EncodeAnsi(c.text);
        if (platform::DecodeAnsi(bytes) != c.text)
            continue; // characters outside the code page
        for (const std::size_t chunkSize : {4, 5, 6, 7, 64 * 1024}) {
            SCOPED_TRACE(platform::ToUtf8(c.text) + " in pieces of " + std::to_string(chunkSize));
            EXPECT_EQ(ReadLines(bytes, chunkSize), c.lines);
        }
    }
}

TEST(TextRules, LineReaderJoinsCrLfCutBetweenPieces) {
    // Pieces of four bytes: "abc\r" | "\ndef" | "\r\n\r\n" | "gh".
    TMemoryStream stream("abc\r\ndef\r\n\r\ngh");
    TLineReader reader(stream, 4);
    std::vector<std::pair<std::u16string, std::int64_t>> lines;
    std::u16string_view line;
    while (reader.Next(line))
        lines.emplace_back(line, reader.LineNumber());
    EXPECT_THAT(lines,
                ElementsAre(std::pair{std::u16string(u"abc"), 1},
                            std::pair{std::u16string(u"def"), 2}, std::pair{std::u16string(u""), 3},
                            std::pair{std::u16string(u"gh"), 4}));
}

TEST(TextRules, TextLoaderDecodesByTheLeadingMarker) {
    struct Case {
        const char* name;
        std::string bytes;
        TTexts lines;
    };
    const Case cases[] = {
        {"ANSI", Bytes("a\x80\xE9\n\xFF\x81"), {u"a\u20AC\u00E9", u"\u00FF\x81"}},
        {"ANSI, marker cut short", Bytes("\xEF\xBB"), {u"\u00EF\u00BB"}},
        {"UTF-8",
         cUTF8_MARKER + Bytes("a\xC3\xA9\r\n\xF0\x9F\x98\x80\xE2\x80\xA8"),
         {u"a\u00E9", u"\U0001F600\u2028"}},
        {"UTF-8, cut in a sequence", cUTF8_MARKER + Bytes("good\nbad\xC3"), {}},
        {"UTF-8, a surrogate", cUTF8_MARKER + Bytes("a\n\xED\xA0\x80"), {}},
        {"UTF-8, overlong", cUTF8_MARKER + Bytes("a\n\xC0\xAF"), {}},
        {"UTF-8, overlong of three", cUTF8_MARKER + Bytes("a\n\xE0\x80\xAF"), {}},
        {"UTF-8, above U+10FFFF", cUTF8_MARKER + Bytes("a\n\xF4\x90\x80\x80"), {}},
        {"UTF-8, flaw after U+0000", cUTF8_MARKER + Bytes("a\n\0\xFF"), {}},
        {"UTF-8, U+0000", cUTF8_MARKER + Bytes("a\nb\0c"), {u"a", u"b"}},
        {"UTF-16LE", Bytes("\xFF\xFEx\0\n\0\xAC\x20z"), {u"x", u"\u20AC"}},
        {"UTF-16BE", Bytes("\xFE\xFF\0a\0\r\0\n\0b"), {u"a", u"b"}},
        {"UTF-16LE, U+0000", Bytes("\xFF\xFEx\0\0\0y\0"), {u"x"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMemoryStream stream(c.bytes);
        TLineList lines;
        LoadText(stream, lines);
        EXPECT_EQ(Entries(lines), c.lines);
        EXPECT_EQ(stream.Position(), stream.Size()); // the stream is read to its end
        for (const std::size_t chunkSize : {4, 5, 6}) {
            SCOPED_TRACE(chunkSize);
            EXPECT_EQ(ReadLines(c.bytes, chunkSize), c.lines);
        }
    }
}

TEST(TextRules, TextLoaderStartsAtTheStreamPosition) {
    TMemoryStream stream("xx" + cUTF8_MARKER + "a\n\xC3\xA9");
    ASSERT_TRUE(stream.Seek(2));
    TLineList lines;
    LoadText(stream, lines);
    EXPECT_EQ(Entries(lines), (TTexts{u"a", u"\u00E9"}));
}

TEST(TextRules, LineListRefusesIndexesOutsideTheList) {
    TLineList lines;
    SplitLines(u"a\nb\nc\nd\ne", lines);
    for (const std::int32_t index : {5, -1, 1000}) {
        SCOPED_TRACE(index);
        const std::string message = "List index out of bounds (" + std::to_string(index) + ")";
        EXPECT_THAT([&] { (void)lines.Read(index); }, ThrowsMessage<TTrimeldError>(StrEq(message)));
        EXPECT_THAT([&] { lines.Delete(index); }, ThrowsMessage<TTrimeldError>(StrEq(message)));
        EXPECT_EQ(lines.Count(), 5);
    }
    EXPECT_THAT([&] { (void)lines.Read(5); },
                ThrowsMessage<TTrimeldError>(StrEq("List index out of bounds (5)")));
}

TEST(TextRules, LineListDeleteMovesLaterLinesUp) {
    TLineList lines;
    SplitLines(u"a\nb\nc", lines);
    lines.Delete(0);
    EXPECT_EQ(Entries(lines), (TTexts{u"b", u"c"}));
    lines.Delete(1);
    lines.Append(u"d");
    EXPECT_EQ(Entries(lines), (TTexts{u"b", u"d"}));
}

TEST(TokenSplitter, SplitsTheReferenceLines) {
    struct Case {
        std::u16string_view text;
        TTexts fields;
    };
    const Case cases[] = {
        {u"FACET NORMAL 0 0 1", {u"FACET", u"NORMAL", u"0", u"0", u"1"}},
        {u"vertex 1.5,2.5 , 3.5", {u"vertex", u"1.5", u"2.5", u"3.5"}},
        {u"1,5", {u"1", u"5"}},
        {u"a,,b", {u"a", u"", u"b"}},
        {u"a , , b", {u"a", u"", u"b"}},
        {u"a,", {u"a", u""}},
        {u"a, ", {u"a"}}, // the blank stands between the comma and the end
        {u",a", {u"", u"a"}},
        {u",", {u"", u""}},
        {u"", {}},
        {u" \t ", {}},
        {u"\"x y\",z", {u"x y", u"z"}},
        {u"\"a\"\"b\"", {u"a\"b"}},
        {u"\"ab\"cd", {u"ab", u"cd"}},
        {u"a\"b\"", {u"a\"b\""}},
        {u"\"\"", {u""}},
        {u"\"abc", {u"abc"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.text));
        EXPECT_EQ(Fields(c.text), c.fields);
    }
}

TEST(TokenSplitter, TreatsControlsAsBlanksAndUNulAsTheEnd) {
    struct Case {
        std::u16string_view text;
        TTexts fields;
    };
    const Case cases[] = {
        {u"\u0001a\u001Fb\u007Fc", {u"a", u"b\u007Fc"}},
        {u"a\u00A0b", {u"a\u00A0b"}},
        {Text(u"a\0 b"), {u"a"}},
        {Text(u"a,\0b"), {u"a", u""}},
        {Text(u"\"a\0b\""), {u"a"}},
        {u"\"a\"\"", {u"a\""}},
        {u"\"a\" , b", {u"a", u"b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.text));
        EXPECT_EQ(Fields(c.text), c.fields);
    }
}

TEST(TokenSplitter, PassesNonSpacingMarksOnlyAfterBlanksAndCommas) {
    struct Case {
        std::u16string_view text;
        TTexts fields;
    };
    const Case cases[] = {
        // clang-format off
        {u"a \u0301b", {u"a", u"b"}},
        {u"\u0301a", {u"\u0301a"}}, // no blank before it
        {u" \u0301\u0308a", {u"a"}},
        {u"a\u0301 b", {u"a\u0301", u"b"}},
        {u"a,\u0301", {u"a", u""}}, // a comma followed only by marks is followed by the end
        {u"a,\u0301,b", {u"a", u"", u"b"}},
        {u"a \u0301", {u"a"}},
        {u"a \u00B4b", {u"a", u"\u00B4b"}}, // a spacing accent is an ordinary character
        {u"a \u0903b", {u"a", u"\u0903b"}}, // a spacing combining mark (Mc) too
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.text));
        EXPECT_EQ(Fields(c.text), c.fields);
    }
}

TEST(TokenSplitter, ReplacesTheWholeListOnEverySplit) {
    TFieldList fields;
    SplitFields(u"vertex 1.000000e+01 2.5 \"quoted field\"", fields);
    ASSERT_EQ(fields.Count(), 4);
    SplitFields(u"x,", fields);
    EXPECT_EQ(Entries(fields), (TTexts{u"x", u""}));
    SplitFields(u"", fields);
    EXPECT_THAT(Entries(fields), IsEmpty());
}

} // namespace
} // namespace trimeld
