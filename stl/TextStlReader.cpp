#include "stl/TextStlReader.h"

#include "platform/CodePage.h"
#include "stl/DecimalParser.h"
#include "stl/TextRules.h"

#include <string>
#include <string_view>

namespace trimeld {
namespace {

constexpr char16_t cINVALID_NORMAL[] = u"Invalid Normal";
constexpr char16_t cINVALID_VERTEX[] = u"Invalid Vertex";
constexpr char16_t cOUTER_LOOP_NOT_FOUND[] = u"Outer Loop Not Found";
constexpr char16_t cEND_OF_LOOP_NOT_FOUND[] = u"End of Loop Not Found";
constexpr char16_t cEND_OF_FACET_NOT_FOUND[] = u"End of Facet Not found";

// The decimal separator of the reading's number format.
constexpr char16_t cDECIMAL_SEPARATOR = u'.';

enum class TLineForm { Keyword, Vertex };

template <typename CharT> bool IsVertexWord(std::basic_string_view<CharT> word) noexcept {
    return word.size() == cVERTEX_LABEL.size() && StartsWithUpper(cVERTEX_LABEL, word);
}

// The decoders, for either kind of text. A normal line is a keyword line,
// which the reading upper-cases: its fields are split as they stand, since
// upper-casing moves no field boundary, and shown upper-cased.
template <typename CharT> TPoint3D DecodeLine(std::basic_string_view<CharT> text, bool normal) {
    TFieldViews<CharT> fields;
    std::size_t first = 1;
    if (normal) {
        fields.Split(text, 5);
        if (fields.Count() != 5 || fields.More())
            throw TTrimeldError(cINVALID_NORMAL);
        first = 2;
    } else {
        fields.Split(text, 4);
        if (fields.Count() != 4 || fields.More() || !IsVertexWord(fields[0]))
            throw TTrimeldError(cINVALID_VERTEX);
    }
    // Component by component: a failing one leaves the earlier ones written.
    TPoint3D point{};
    point.x = ReadCoordinate(fields[first], normal);
    point.y = ReadCoordinate(fields[first + 1], normal);
    point.z = ReadCoordinate(fields[first + 2], normal);
    return point;
}

// Where the point lines go: decoded at once into the facet under way, or
// handed on to be decoded later.
template <typename CharT> class TNumbers {
public:
    explicit TNumbers(TFacetSink& facetSink) noexcept : sink(&facetSink) {}
    explicit TNumbers(TTextFacetSink& lineSink) noexcept : deferred(&lineSink) {}

    // which: 0 the normal, 1 to 3 the corners.
    void Point(int which, std::basic_string_view<CharT> text, std::int64_t line) {
        const bool normal = which == 0;
        if (deferred != nullptr) {
            if constexpr (sizeof(CharT) == 1) {
                if (text.size() <= cLONG_POINT_LINE) {
                    deferred->AddPointLine(text, normal, line);
                    return;
                }
            }
            deferred->AddPoint(DecodeLine(text, normal), line);
            return;
        }
        TPoint3D* const points[] = {&face.normal, &face.v1, &face.v2, &face.v3};
        *points[which] = DecodeLine(text, normal);
    }

    void Facet(std::int64_t line) {
        if (deferred != nullptr)
            deferred->EndFacet(line);
        else
            sink->AddFacet(face);
    }

private:
    TFacetSink* sink = nullptr;
    TTextFacetSink* deferred = nullptr;
    // Filled line by line; a facet that fails part-way is never passed on.
    TSTLFace face{};
};

// Walks the non-blank lines of the text with one cursor, in the order the
// accepted layout expects them. The cursor counts non-blank lines from 0, as
// an index into the text's lines with the blank ones deleted would; the
// lines are produced as the walk needs them and never held together.
// Keyword lines are tested as if upper-cased, without making the copy: the
// prefix tests fold a-z themselves, and upper-casing moves no field
// boundary, so a normal line is split as it stands.
template <typename CharT, typename TLines> class TTextStlWalk {
public:
    using TView = std::basic_string_view<CharT>;

    TTextStlWalk(TLines& lineReader, TNumbers<CharT>& numberSink, std::int64_t& lineNumberOut)
        : lines(lineReader), numbers(numberSink), lineNumber(lineNumberOut) {}

    // Returns whether a non-blank line follows an ENDSOLID line.
    bool Run() {
        lineNumber = 0;
        // Running out of lines at the top of the facet loop is the normal end
        // of a text without an ENDSOLID line, and no failure.
        if (!Advance() || !StartsWithUpper(cSOLID_LABEL, current))
            return false;
        if (!Advance())
            return false;
        for (;;) {
            if (StartsWithUpper(cFACETNORMAL_LABEL, current))
                ReadFacet();
            // A line that starts no facet is passed over; ENDFACET must follow it.
            MustAdvance();
            if (!StartsWithUpper(cENDFACET_LABEL, current))
                throw TTrimeldError(cEND_OF_FACET_NOT_FOUND);
            if (!Advance())
                return false;
            if (StartsWithUpper(cENDSOLID_LABEL, current)) {
                // Only looked at, for a note: whatever follows is not read.
                const std::int64_t endLine = lineNumber;
                const bool more = Advance();
                lineNumber = endLine;
                return more;
            }
        }
    }

private:
    void ReadFacet() {
        DecodeSTLNormals(current);
        MustAdvance();
        // Without its OUTER LOOP line the facet would get the corners of the
        // facet before it, a triangle the file does not hold: a format error.
        if (!StartsWithUpper(cOUTERLOOP_LABEL, current))
            throw TTrimeldError(cOUTER_LOOP_NOT_FOUND);
        for (int corner = 1; corner <= 3; ++corner) {
            MustAdvance();
            DecodeSTLVertex(current, corner);
        }
        MustAdvance();
        if (!StartsWithUpper(cENDLOOP_LABEL, current))
            throw TTrimeldError(cEND_OF_LOOP_NOT_FOUND);
        // Passed on at its ENDLOOP line, before ENDFACET is tested.
        numbers.Facet(lineNumber);
    }

    // Moves the cursor to the next non-blank line and makes it the current
    // line, trimmed. False when there is no further line.
    bool Advance() {
        TView line;
        do {
            if (!lines.Next(line))
                return false;
            line = TrimBlanks(line);
        } while (line.empty());
        ++cursor;
        lineNumber = lines.LineNumber();
        current = line;
        return true;
    }

    // Inside a facet the text must go on: a missing line is the line list's
    // index failure, with the index the cursor would have reached.
    void MustAdvance() {
        if (!Advance())
            RaiseListIndexError(cursor + 1);
    }

    void DecodeSTLNormals(TView aString) { numbers.Point(0, aString, lineNumber); }

    void DecodeSTLVertex(TView aString, int corner) { numbers.Point(corner, aString, lineNumber); }

    TLines& lines;
    TNumbers<CharT>& numbers;
    std::int64_t& lineNumber;
    std::int64_t cursor = -1;
    TView current;
};

// Takes the first bytes, enough to tell the marker, and walks the text as
// bytes when it has none (the ANSI code page), decoded to UTF-16 otherwise.
// Returns whether a non-blank line follows the ENDSOLID line.
template <typename TSink>
bool WalkText(platform::TStream& aStream, TSink& sink, std::int64_t& lineNumber) {
    char taken[3];
    std::size_t have = 0;
    while (have < sizeof taken) {
        const std::ptrdiff_t got = aStream.Read(taken + have, sizeof taken - have);
        if (got < 0)
            RaiseReadFailure(got);
        if (got == 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    std::size_t marker = 0;
    if (detail::DetectEncoding({taken, have}, marker) == detail::TTextEncoding::Ansi) {
        TAnsiLineReader lines(aStream, {taken, have});
        TNumbers<char> numbers(sink);
        return TTextStlWalk<char, TAnsiLineReader>(lines, numbers, lineNumber).Run();
    }
    detail::TReplayStream replay(aStream, taken, have);
    TLineReader lines(replay);
    TNumbers<char16_t> numbers(sink);
    return TTextStlWalk<char16_t, TLineReader>(lines, numbers, lineNumber).Run();
}

template <typename CharT>
std::u16string ShownField(std::basic_string_view<CharT> field, bool upperCased) {
    std::u16string text;
    if constexpr (sizeof(CharT) == 1)
        text = platform::DecodeAnsi(field);
    else
        text = field;
    return upperCased ? UpperCaseAscii(text) : text;
}

} // namespace

float ReadCoordinate(std::string_view field, bool upperCased) {
    const TDecimalResult number = TryParseDecimal(field, static_cast<char>(cDECIMAL_SEPARATOR));
    if (!number)
        RaiseNotANumber(ShownField(field, upperCased));
    return StoreSingle(number.value);
}

float ReadCoordinate(std::u16string_view field, bool upperCased) {
    const TDecimalResult number = TryParseDecimal(field, cDECIMAL_SEPARATOR);
    if (!number)
        RaiseNotANumber(ShownField(field, upperCased));
    return StoreSingle(number.value);
}

TPoint3D DecodePointLine(std::string_view text, bool normal) {
    return DecodeLine(text, normal);
}

TPoint3D DecodePointLine(std::u16string_view text, bool normal) {
    return DecodeLine(text, normal);
}

bool ReadTextStl(platform::TStream& aStream, TFacetSink& sink, std::int64_t& lineNumber) {
    return WalkText(aStream, sink, lineNumber);
}

bool ReadTextStlDeferred(platform::TStream& aStream, TTextFacetSink& sink,
                         std::int64_t& lineNumber) {
    return WalkText(aStream, sink, lineNumber);
}

} // namespace trimeld
