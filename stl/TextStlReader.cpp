#include "stl/TextStlReader.h"

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

// Walks the non-blank lines of the text with one cursor, in the order the
// accepted layout expects them. The cursor counts non-blank lines from 0, as
// an index into the text's lines with the blank ones deleted would; the
// lines are produced as the walk needs them and never held together.
class TTextStlWalk {
public:
    TTextStlWalk(platform::TStream& aStream, TFacetSink& facetSink, std::int64_t& lineNumberOut)
        : lines(aStream), sink(facetSink), lineNumber(lineNumberOut) {}

    // Returns whether a non-blank line follows an ENDSOLID line.
    bool Run() {
        lineNumber = 0;
        // Running out of lines at the top of the facet loop is the normal end
        // of a text without an ENDSOLID line, and no failure.
        if (!Advance(TLineForm::Keyword) || !StartsWith(cSOLID_LABEL, current))
            return false;
        if (!Advance(TLineForm::Keyword))
            return false;
        for (;;) {
            if (StartsWith(cFACETNORMAL_LABEL, current))
                ReadFacet();
            // A line that starts no facet is passed over; ENDFACET must follow it.
            MustAdvance(TLineForm::Keyword);
            if (!StartsWith(cENDFACET_LABEL, current))
                throw TTrimeldError(cEND_OF_FACET_NOT_FOUND);
            if (!Advance(TLineForm::Keyword))
                return false;
            if (StartsWith(cENDSOLID_LABEL, current)) {
                // Only looked at, for a note: whatever follows is not read.
                const std::int64_t endLine = lineNumber;
                const bool more = Advance(TLineForm::Vertex);
                lineNumber = endLine;
                return more;
            }
        }
    }

private:
    void ReadFacet() {
        DecodeSTLNormals(current, face.normal);
        MustAdvance(TLineForm::Keyword);
        // Without its OUTER LOOP line the facet would get the corners of the
        // facet before it, a triangle the file does not hold: a format error.
        if (!StartsWith(cOUTERLOOP_LABEL, current))
            throw TTrimeldError(cOUTER_LOOP_NOT_FOUND);
        for (TPoint3D* corner : {&face.v1, &face.v2, &face.v3}) {
            MustAdvance(TLineForm::Vertex);
            DecodeSTLVertex(current, *corner);
        }
        MustAdvance(TLineForm::Keyword);
        if (!StartsWith(cENDLOOP_LABEL, current))
            throw TTrimeldError(cEND_OF_LOOP_NOT_FOUND);
        // Passed on at its ENDLOOP line, before ENDFACET is tested.
        sink.AddFacet(face);
    }

    // Moves the cursor to the next non-blank line and makes it the current
    // line: trimmed, and upper-cased for keyword lines. False when there is
    // no further line.
    bool Advance(TLineForm form) {
        std::u16string_view line;
        do {
            if (!lines.Next(line))
                return false;
            line = TrimBlanks(line);
        } while (line.empty());
        ++cursor;
        lineNumber = lines.LineNumber();
        // Trimming first and upper-casing after gives the same text as the
        // other way round: neither step touches what the other one changes.
        if (form == TLineForm::Keyword) {
            UpperCaseAscii(line, upperLine);
            current = upperLine;
        } else {
            current = line;
        }
        return true;
    }

    // Inside a facet the text must go on: a missing line is the line list's
    // index failure, with the index the cursor would have reached.
    void MustAdvance(TLineForm form) {
        if (!Advance(form))
            RaiseListIndexError(cursor + 1);
    }

    void DecodeSTLNormals(std::u16string_view aString, TPoint3D& aNormal) {
        SplitFields(aString, fields);
        if (fields.Count() != 5)
            throw TTrimeldError(cINVALID_NORMAL);
        aNormal.x = ReadCoordinate(fields[2]);
        aNormal.y = ReadCoordinate(fields[3]);
        aNormal.z = ReadCoordinate(fields[4]);
    }

    void DecodeSTLVertex(std::u16string_view aString, TPoint3D& aVertex) {
        SplitFields(aString, fields);
        if (fields.Count() != 4 || !SameTextAscii(fields[0], cVERTEX_LABEL))
            throw TTrimeldError(cINVALID_VERTEX);
        aVertex.x = ReadCoordinate(fields[1]);
        aVertex.y = ReadCoordinate(fields[2]);
        aVertex.z = ReadCoordinate(fields[3]);
    }

    static float ReadCoordinate(std::u16string_view field) {
        return StoreSingle(ParseDecimal(field, cDECIMAL_SEPARATOR));
    }

    TLineReader lines;
    TFacetSink& sink;
    std::int64_t& lineNumber;
    std::int64_t cursor = -1;
    std::u16string upperLine;
    std::u16string_view current;
    TFieldList fields;
    // Not cleared between facets, as the binary reader's scratch facet.
    TSTLFace face{};
};

} // namespace

bool ReadTextStl(platform::TStream& aStream, TFacetSink& sink, std::int64_t& lineNumber) {
    return TTextStlWalk(aStream, sink, lineNumber).Run();
}

} // namespace trimeld
