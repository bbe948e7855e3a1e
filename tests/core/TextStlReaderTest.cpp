#include "stl/TextStlReader.h"

#include "TestSupport.h"
#include "TextModel.h"
#include "geometry/CommonTypes.h"
#include "stl/DecimalParser.h"
#include "stl/TextRules.h"
#include "stl/TrimeldConverter.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace trimeld {
namespace {

using test::Bits;

// Records the facets as they come, without orienting them.
class TRecordingSink final : public TFacetSink {
public:
    void AddFacet(const TSTLFace& face) override { faces.push_back(face); }
    std::vector<TSTLFace> faces;
};

struct TReadResult {
    std::vector<TSTLFace> faces;
    std::u16string failure; // empty when reading ended cleanly
    std::int64_t line = 0;
};

TReadResult ReadText(const std::string& text, std::size_t readSize = cTEXT_CHUNK_SIZE) {
    test::TChunkStream stream(text, readSize);
    TRecordingSink sink;
    TReadResult result;
    try {
        ReadTextStl(stream, sink, result.line);
    } catch (const TTrimeldError& failure) {
        result.failure = failure.Message();
        EXPECT_FALSE(result.failure.empty());
    }
    result.faces = sink.faces;
    return result;
}

// A well-formed facet whose first corner's x is k.
std::string Facet(int k) {
    const std::string n = std::to_string(k);
    return "facet normal 0 0 1\nouter loop\nvertex " + n +
           " 0 0\nvertex 0 1 0\nvertex 0 0 1\n"
           "endloop\nendfacet\n";
}

std::vector<float> FirstXs(const std::vector<TSTLFace>& faces) {
    std::vector<float> xs;
    for (const TSTLFace& face : faces)
        xs.push_back(face.v1.x);
    return xs;
}

struct TReaderCase {
    const char* name;
    std::vector<float> firstXs; // v1.x of each facet passed on
    std::u16string failure;     // empty when reading ended cleanly
    std::int64_t line;          // the line last examined
    std::string text;
};

TEST(TextStlReader, ReadsFacetsAndStopsWhereTheTextIsDamaged) {
    const std::string f1 = Facet(1);
    const std::string f2 = Facet(2);
    const std::string f2WithoutEndfacet = f2.substr(0, f2.rfind("endfacet"));
    const std::string nul(1, '\0');
    // clang-format off
    const TReaderCase cases[] = {
        {"lower case, indented, blank lines", {1}, u"", 12,
         "solid t\n\n  facet normal 0 0 1\n\t\touter loop\n\n   vertex 1 0 0\n vertex 0 1 0\n"
         "\tvertex 0 0 1 \n  endloop\n\n endfacet\nendsolid t\n"},
        {"mixed case", {1}, u"", 9,
         "SOLID\nFaCeT NoRmAl 0 0 1\nOUTER LOOP\nVERTEX 1 0 0\nVeRtEx 0 1 0\nvertex 0 0 1\n"
         "ENDLOOP\nENDFACET\nENDSOLID"},
        {"CR LF, CR and LF CR breaks", {1}, u"", 11,
         "solid\r\nfacet normal 0 0 1\router loop\n\rvertex 1 0 0\r\r\nvertex 0 1 0\n"
         "vertex 0 0 1\nendloop\nendfacet\nendsolid\n"},
        {"first line not SOLID", {}, u"", 3, " \n\n" + f1},
        {"SOLID alone", {}, u"", 1, "solid x\n\n"},
        {"no text at all", {}, u"", 0, ""},
        {"no ENDSOLID", {1, 2}, u"", 15, "solid\n" + f1 + f2},
        {"several solids: the first only", {1}, u"", 9,
         "solid a\n" + f1 + "endsolid a\nsolid b\n" + f2},
        {"text after ENDSOLID", {1}, u"", 9, "solid\n" + f1 + "endsolid\nfacet normal x\n"},
        {"keywords followed by more", {1}, u"", 9,
         "solid\nfacet normal 0 0 1\nouter loops\nvertex 1 0 0\nvertex 0 1 0\nvertex 0 0 1\n"
         "endloop foo\nendfacet bar\nendsolid some"},
        {"a line passed over before ENDFACET", {1}, u"", 10,
         "solid\ncolor 1 2 3\nendfacet\n" + f1},
        {"commas between fields", {1}, u"", 8,
         "solid\nfacet normal 0,0,1\nouter loop\nvertex 1,0,0\nvertex 0 , 1 , 0\n"
         "vertex 0,0 1\nendloop\nendfacet\n"},
        {"a quoted number", {1}, u"", 8,
         "solid\nfacet normal 0 0 1\nouter loop\nvertex \"1\" 0 0\nvertex 0 1 0\n"
         "vertex 0 0 1\nendloop\nendfacet\n"},
        {"normal with four numbers", {1}, u"Invalid Normal", 9,
         "solid\n" + f1 + "facet normal 0 0 1 0\n" + f2},
        {"normal with two numbers", {}, u"Invalid Normal", 2, "solid\nfacet normal 0 1\n"},
        {"vertex with two numbers", {1}, u"Invalid Vertex", 11,
         "solid\n" + f1 + "facet normal 0 0 1\nouter loop\nvertex 1 2\n"},
        {"vertex keyword misspelt", {}, u"Invalid Vertex", 4,
         "solid\nfacet normal 0 0 1\nouter loop\nvertexx 1 0 0\n"},
        {"decimal commas", {}, u"Invalid Vertex", 4,
         "solid\nfacet normal 0 0 1\nouter loop\nvertex 1,5 2,5 3,5\n"},
        {"a word among the numbers", {}, u"'abc' is not a valid floating point value", 4,
         "solid\nfacet normal 0 0 1\nouter loop\nvertex 1.5 abc 2\n"},
        {"a word in the normal, upper-cased", {}, u"'NAN' is not a valid floating point value", 2,
         "solid\nfacet normal 0 0 nan\n"},
        {"1e39", {1}, u"Floating point overflow", 11,
         "solid\n" + f1 + "facet normal 0 0 1\nouter loop\nvertex 1e39 0 0\n"},
        {"two blanks in FACET  NORMAL", {}, u"End of Facet Not found", 3,
         "solid\nfacet  normal 0 0 1\nouter loop\n"},
        {"a tab in FACET NORMAL", {}, u"End of Facet Not found", 3,
         "solid\nfacet normal\t0 0 1\nouter loop\n"},
        {"ENDLOOP without ENDFACET", {1, 2}, u"End of Facet Not found", 15,
         "solid\n" + f1 + f2WithoutEndfacet + f1},
        {"four vertex lines", {1}, u"End of Loop Not Found", 14,
         "solid\n" + f1 + "facet normal 0 0 1\nouter loop\nvertex 2 0 0\nvertex 0 1 0\n"
         "vertex 0 0 1\nvertex 0 0 1\nendloop\n"},
        {"no OUTER LOOP", {1}, u"Outer Loop Not Found", 10,
         "solid\n" + f1 + "facet normal 0 0 -1\nendloop\nendfacet\n" + f2},
        // The index counts non-blank lines; the line number counts them all.
        {"the lines end inside a facet", {1}, u"List index out of bounds (10)", 13,
         "solid\n\n" + f1 + "\nfacet normal 0 0 1\n\nouter loop\n"},
        {"the lines end before ENDFACET", {1, 2}, u"List index out of bounds (14)", 14,
         "solid\n" + f1 + f2WithoutEndfacet},
        {"U+0000 between facets", {1}, u"", 8, "solid\n" + f1 + nul + f2},
        {"U+0000 inside a facet", {}, u"List index out of bounds (4)", 4,
         "solid\nfacet normal 0 0 1\nouter loop\nvertex 1 0 0" + nul + "\nvertex 0 1 0\n"},
    };
    // clang-format on
    for (const TReaderCase& c : cases) {
        for (const std::size_t readSize : {cTEXT_CHUNK_SIZE, std::size_t{1}, std::size_t{3}}) {
            SCOPED_TRACE(std::string(c.name) + ", reads of " + std::to_string(readSize));
            const TReadResult result = ReadText(c.text, readSize);
            EXPECT_EQ(FirstXs(result.faces), c.firstXs);
            EXPECT_EQ(result.failure, c.failure);
            EXPECT_EQ(result.line, c.line);
        }
    }
}

TEST(TextStlReader, ReadsNumbersToTheBit) {
    const TReadResult result = ReadText("solid\n"
                                        "facet normal -0 1e-45 0.1\n"
                                        "outer loop\n"
                                        "vertex 1,2,3\n"
                                        "vertex -1.5E+2 3.4028235e38 16777217\n"
                                        "vertex 1e-46 . -.\n"
                                        "endloop\n"
                                        "endfacet\n"
                                        "facet normal 0 0 0\n"
                                        "outer loop\n"
                                        "vertex 4 5 6\n"
                                        "vertex 7 8 9\n"
                                        "vertex 10 11 12\n"
                                        "endloop\n"
                                        "endfacet\n");
    EXPECT_EQ(result.failure, u"");
    ASSERT_EQ(result.faces.size(), 2u);
    const auto bits = [](const TPoint3D& p) {
        return std::vector<std::uint32_t>{Bits(p.x), Bits(p.y), Bits(p.z)};
    };
    const TSTLFace& first = result.faces[0];
    EXPECT_EQ(bits(first.normal), (std::vector<std::uint32_t>{0x80000000, 0x00000001, 0x3DCCCCCD}));
    EXPECT_EQ(bits(first.v1), (std::vector<std::uint32_t>{0x3F800000, 0x40000000, 0x40400000}));
    EXPECT_EQ(bits(first.v2), (std::vector<std::uint32_t>{0xC3160000, 0x7F7FFFFF, 0x4B800000}));
    EXPECT_EQ(bits(first.v3), (std::vector<std::uint32_t>{0x00000000, 0x00000000, 0x80000000}));
    const TSTLFace& second = result.faces[1];
    EXPECT_EQ(bits(second.normal), (std::vector<std::uint32_t>{0, 0, 0}));
    EXPECT_EQ(second.v3.z, 12.0f);
}

// A CR LF text whose first 64 KiB piece ends between the CR and the LF of a
// break, followed by a damaged facet.
struct TCutText {
    std::string text;
    std::int64_t damagedLine = 0;
    std::size_t facets = 0;
};

TCutText TextWithBreakAtPieceEnd() {
    TCutText cut{"solid big\r\n"};
    std::string facet;
    for (const char ch : Facet(1))
        facet += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    for (; cut.text.size() + facet.size() < cTEXT_CHUNK_SIZE - 100; ++cut.facets)
        cut.text += facet;
    // A line of blanks whose CR is the last byte of the piece.
    cut.text += std::string(cTEXT_CHUNK_SIZE - 1 - cut.text.size(), ' ') + "\r\n";
    cut.damagedLine = std::count(cut.text.begin(), cut.text.end(), '\n') + 3;
    cut.text += "facet normal 0 0 1\r\nouter loop\r\nvertex 1 2\r\n";
    return cut;
}

TEST(TextStlReader, JoinsCrLfCutByThePieceBoundary) {
    const TCutText cut = TextWithBreakAtPieceEnd();
    ASSERT_EQ(cut.text[cTEXT_CHUNK_SIZE - 1], '\r');
    ASSERT_EQ(cut.text[cTEXT_CHUNK_SIZE], '\n');
    const TReadResult result = ReadText(cut.text);
    EXPECT_EQ(result.failure, u"Invalid Vertex");
    EXPECT_EQ(result.line, cut.damagedLine); // no empty line in between
    EXPECT_EQ(result.faces.size(), cut.facets);
}

// The reading as the line list gives it: the whole text as lines, the blank
// ones deleted, then the cursor walk. Running out of lines where a facet may
// begin counts as the end, as it does for the streaming reader.
TReadResult ReadThroughLineList(const std::string& text) {
    platform::TMemoryStream stream(text);
    TLineList lines;
    LoadText(stream, lines);
    for (std::int32_t i = lines.Count() - 1; i >= 0; --i)
        if (TrimBlanks(lines.Read(i)).empty())
            lines.Delete(i);
    TRecordingSink sink;
    TReadResult result;
    std::int32_t cursor = 0;
    std::u16string current;
    const auto keywordLine = [&](std::int32_t index) {
        current = UpperCaseAscii(TrimBlanks(lines.Read(index)));
    };
    const auto fail = [](std::u16string_view message) {
        throw TTrimeldError(std::u16string(message));
    };
    TFieldList fields;
    const auto point = [&](std::size_t first, TPoint3D& p) {
        p = {StoreSingle(ParseDecimal(fields[first], u'.')),
             StoreSingle(ParseDecimal(fields[first + 1], u'.')),
             StoreSingle(ParseDecimal(fields[first + 2], u'.'))};
    };
    TSTLFace face{};
    try {
        if (lines.Count() == 0)
            return result;
        keywordLine(0);
        if (!StartsWith(u"SOLID", current) || lines.Count() == 1)
            return result;
        keywordLine(cursor = 1);
        while (cursor < lines.Count()) {
            if (StartsWith(u"FACET NORMAL ", current)) {
                SplitFields(current, fields);
                if (fields.Count() != 5)
                    fail(u"Invalid Normal");
                point(2, face.normal);
                keywordLine(++cursor);
                if (!StartsWith(u"OUTER LOOP", current))
                    fail(u"Outer Loop Not Found");
                for (TPoint3D* corner : {&face.v1, &face.v2, &face.v3}) {
                    current = TrimBlanks(lines.Read(++cursor));
                    SplitFields(current, fields);
                    if (fields.Count() != 4 || !SameTextAscii(fields[0], u"VERTEX"))
                        fail(u"Invalid Vertex");
                    point(1, *corner);
                }
                keywordLine(++cursor);
                if (!StartsWith(u"ENDLOOP", current))
                    fail(u"End of Loop Not Found");
                sink.AddFacet(face);
            }
            keywordLine(++cursor);
            if (!StartsWith(u"ENDFACET", current))
                fail(u"End of Facet Not found");
            if (cursor + 1 == lines.Count())
                break;
            keywordLine(++cursor);
            if (StartsWith(u"ENDSOLID", current))
                break;
        }
    } catch (const TTrimeldError& failure) {
        result.failure = failure.Message();
    }
    result.faces = sink.faces;
    return result;
}

// Damages a text line by line: lines dropped, doubled or emptied, breaks
// changed, blanks and U+0000 put in, numbers spoiled.
std::string Damage(const std::string& text, std::mt19937& random) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    const auto pick = [&](std::size_t count) {
        return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
    };
    const char* const breaks[] = {"\n", "\r\n", "\r", "\n\r", "\r\r\n"};
    const std::string inserts[] = {"",  "  \t", std::string(1, '\0'), "1e39", "endsolid", "x",
                                   ",", "\"",   "facet normal 0 0 1"};
    const std::size_t edits = 1 + pick(3);
    for (std::size_t e = 0; e < edits && !lines.empty(); ++e) {
        const std::size_t at = pick(lines.size());
        switch (pick(5)) {
        case 0:
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
            break;
        case 1:
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), lines[at]);
            break;
        case 2:
            lines[at].clear();
            break;
        default:
            lines[at].insert(pick(lines[at].size() + 1), inserts[pick(std::size(inserts))]);
        }
    }
    std::string damaged;
    for (const std::string& line : lines)
        damaged += line + breaks[pick(std::size(breaks))];
    if (pick(4) == 0)
        damaged.resize(pick(damaged.size() + 1)); // cut anywhere
    return damaged;
}

TEST(TextStlReader, MatchesTheLineListWalkOnDamagedTexts) {
    const std::string base = "solid part\n" + Facet(1) + "\n" + Facet(2) + Facet(3) +
                             "endsolid part\nsolid other\n" + Facet(4);
    std::mt19937 random(20240611);
    for (int round = 0; round < 400; ++round) {
        const std::string text = Damage(base, random);
        const TReadResult expected = ReadThroughLineList(text);
        for (const std::size_t readSize : {cTEXT_CHUNK_SIZE, std::size_t{1}, std::size_t{5}}) {
            SCOPED_TRACE("round " + std::to_string(round) + ", reads of " +
                         std::to_string(readSize));
            const TReadResult got = ReadText(text, readSize);
            EXPECT_EQ(FirstXs(got.faces), FirstXs(expected.faces));
            EXPECT_EQ(got.failure, expected.failure);
        }
    }
}

TEST(TextStlReader, ConverterOrientsTextFacetsAndKeepsWhereItStopped) {
    TTrimeldConverter converter(u"memory.stl");
    platform::TMemoryStream stream("solid t\n"
                                   "facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"
                                   "vertex 0 1 0\nendloop\nendfacet\n"
                                   "facet normal 0 0 0\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"
                                   "vertex 0 1 0\nendloop\nendfacet\n"
                                   "facet normal 0 0 1\nouter loop\nvertex 1e39 0 0\n");
    converter.LoadFromStream(stream);
    EXPECT_EQ(converter.LastKind(), TStlKind::Text);
    ASSERT_EQ(converter.TriangleCount(), 2);
    const TTriangle3D& agreeing = converter.TrianglesList()[0];
    const TTriangle3D& zeroNormal = converter.TrianglesList()[1];
    EXPECT_EQ(agreeing.b.x, 1.0f);
    EXPECT_EQ(agreeing.c.y, 1.0f);
    EXPECT_EQ(zeroNormal.a.y, 1.0f); // reversed: v3, v2, v1
    EXPECT_EQ(zeroNormal.c.x, 0.0f);
    EXPECT_TRUE(converter.LastStop().stopped);
    EXPECT_EQ(converter.LastStop().reason, u"Floating point overflow");
    EXPECT_EQ(converter.LastStop().position, 18);
}

TEST(TextStlReader, ReadsEveryTextFileOfTheCorpus) {
    if (const auto missing = test::CorpusMissing())
        GTEST_SKIP() << *missing;
    struct Case {
        const char* file;
        std::int32_t triangles;
        std::u16string stop; // empty when reading ended cleanly
    };
    const Case cases[] = {
        {"admesh_block.stl", 12, u""},
        {"assimp_sphereWithHole.stl", 285, u""},
        {"assimp_triangle_with_empty_solid.stl", 1, u""},
        {"liggghts_box.stl", 10, u""},
        {"numpystl_HalfDonut_ascii.stl", 288, u""},
        {"numpystl_Moon_Chinese.stl", 116, u""},
        {"openfoam_bullet.stl", 27752, u""},
        {"openfoam_heatedDuct.stl", 10, u""}, // the first of eight solids
        {"openscad_issue1580-zero-area-triangle.stl", 14, u""},
        {"openscad_issue945e.stl", 16, u"'NAN' is not a valid floating point value"},
        {"openscad_projection.stl", 4160, u""},
        {"openscad_toomanyvertices.stl", 12, u"End of Loop Not Found"},
        {"openscad_unparseable.stl", 1, u""}, // U+0010 is a blank to the splitter
        {"stlmodels_missingEndsolid.ascii.stl", 4, u""},
        {"stlmodels_namelessSolid.ascii.stl", 4, u""},
        {"stlmodels_wrongNormals.ascii.stl", 4, u""},
        {"trimesh_1002_tray_bottom.STL", 4520, u""},
        {"trimesh_multibody.stl", 12, u""}, // the first of two solids
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TTrimeldConverter converter(platform::FromUtf8((test::CorpusDir() / c.file).string()));
        converter.Convert();
        EXPECT_EQ(converter.LastKind(), TStlKind::Text);
        EXPECT_EQ(converter.TriangleCount(), c.triangles);
        EXPECT_EQ(converter.LastStop().reason, c.stop);
    }
}

} // namespace
} // namespace trimeld
