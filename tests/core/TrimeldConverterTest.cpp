#include "stl/TrimeldConverter.h"

#include "TestSupport.h"
#include "raw/RawWriter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace trimeld {
namespace {

using test::StlBytes;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

constexpr float cQNAN = std::numeric_limits<float>::quiet_NaN();

// A facet in the plane z = 0 whose corners wind counter-clockwise seen from +z.
TSTLFace Facet(TPoint3D normal, float shift = 0) {
    return {normal, {shift, 0, 0}, {shift + 1, 0, 0}, {shift, 1, 0}};
}

bool SameTriangle(const TTriangle3D& t, const TPoint3D& a, const TPoint3D& b, const TPoint3D& c) {
    return std::memcmp(&t.a, &a, 12) == 0 && std::memcmp(&t.b, &b, 12) == 0 &&
           std::memcmp(&t.c, &c, 12) == 0;
}

std::unique_ptr<TTrimeldConverter> Read(const std::string& bytes) {
    auto conv = std::make_unique<TTrimeldConverter>(u"memory.stl");
    platform::TMemoryStream stream(bytes);
    conv->LoadFromStream(stream);
    return conv;
}

TEST(TrimeldConverter, KindTestLooksAtTheFirst80BytesOnly) {
    struct Case {
        std::string header;
        TStlKind kind;
    };
    const std::string padded70(70, 'x');
    const Case cases[] = {
        {"", TStlKind::Binary},
        {"sol", TStlKind::Binary},
        {"solid part facet normal 0 0 1", TStlKind::Text},
        {"SoLiD x\nFaCeT NoRmAl 0 0 1", TStlKind::Text},
        {"solix facet normal ", TStlKind::Text},           // the fifth letter is not tested
        {"solid part", TStlKind::Binary},                  // the classic binary "solid" header
        {"solid x facet  normal 0 0 1", TStlKind::Binary}, // two blanks
        {"solid x facet normal", TStlKind::Binary},        // no blank after NORMAL
        {" solid x facet normal 0", TStlKind::Binary},
        {"\xD3olid facet normal 0", TStlKind::Binary},
        {"solid" + padded70 + "facet normal 0 0 1", TStlKind::Binary},      // beyond byte 80
        {"solid" + std::string(62, ' ') + "facet normal ", TStlKind::Text}, // ends at byte 80
        {std::string("solid\0facet normal 0", 20), TStlKind::Text},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        unsigned char header[cFULL_HEADER_LEN] = {};
        std::memcpy(header, c.header.data(), std::min(c.header.size(), cFULL_HEADER_LEN));
        EXPECT_EQ(detail::JudgeKind(header), c.kind);
    }
}

TEST(TrimeldConverter, OrientationFollowsTheStoredNormal) {
    const TPoint3D v1{0, 0, 0};
    struct Case {
        const char* what;
        TSTLFace face;
        bool reversed;
    };
    const Case cases[] = {
        {"agreeing", Facet({0, 0, 1}), false},
        {"agreeing, not unit", Facet({0.1f, 0.2f, 5}), false},
        {"opposite", Facet({0, 0, -1}), true},
        {"perpendicular", Facet({1, 0, 0}), true},
        {"zero normal", Facet({0, 0, 0}), true},
        {"degenerate", {{0, 0, 1}, v1, v1, v1}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto read = Read(StlBytes({c.face}));
        const TTrimeldConverter& conv = *read;
        ASSERT_EQ(conv.TriangleCount(), 1);
        const TSTLFace& f = c.face;
        EXPECT_TRUE(c.reversed ? SameTriangle(conv.TrianglesList()[0], f.v3, f.v2, f.v1)
                               : SameTriangle(conv.TrianglesList()[0], f.v1, f.v2, f.v3));
    }
}

TEST(TrimeldConverter, DamagedFacetStopsReadingKeepingEarlierOnes) {
    struct Case {
        const char* what;
        std::string bytes;
        std::int32_t count;
        std::int64_t stopFacet; // 0: no stop
        const char* reason;
    };
    const TSTLFace good = Facet({0, 0, 1});
    const TSTLFace nan = {{0, 0, 1}, {0, 0, 0}, {cQNAN, 0, 0}, {0, 1, 0}};
    const TSTLFace huge = {{0, 0, 1}, {0, 0, 0}, {1e20f, 0, 0}, {0, 1e20f, 0}};
    const std::string three = StlBytes({good, good, good});
    const Case cases[] = {
        {"NaN corner", StlBytes({good, good, nan, good}), 2, 3, "Invalid floating point operation"},
        {"overflowing cross product", StlBytes({good, huge}), 1, 2, "Floating point overflow"},
        {"ends inside a facet", three.substr(0, three.size() - 1), 2, 3, "Read beyond end of file"},
        {"count beyond the data", StlBytes({good, good}, 5), 2, 3, "Read beyond end of file"},
        {"claims 2^31-1 facets", StlBytes({good}, 0x7FFFFFFF), 1, 2, "Read beyond end of file"},
        {"stops at the count", StlBytes({good, good, good}, 2), 2, 0, ""},
        {"zero count", StlBytes({good}, 0), 0, 0, ""},
        {"negative count", StlBytes({good}, -3), 0, 0, ""},
        {"empty file", "", 0, 0, ""},
        {"three bytes", "abc", 0, 0, ""},
        {"header only", StlBytes({}).substr(0, 84), 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto read = Read(c.bytes);
        const TTrimeldConverter& conv = *read;
        EXPECT_EQ(conv.LastKind(), TStlKind::Binary);
        EXPECT_EQ(conv.TriangleCount(), c.count);
        EXPECT_EQ(conv.LastStop().stopped, c.stopFacet != 0);
        EXPECT_EQ(conv.LastStop().position, c.stopFacet);
        EXPECT_EQ(platform::ToUtf8(conv.LastStop().reason), c.reason);
        EXPECT_EQ(conv.ErrorCount(), 0);
        EXPECT_EQ(conv.Status(), 0);
    }
}

TEST(TrimeldConverter, ReadsFromTheStreamPositionAndAppendsOnEveryRead) {
    const std::string stl = StlBytes({Facet({0, 0, 1}, 0), Facet({0, 0, -1}, 5)});
    platform::TMemoryStream stream("prefix" + stl);
    ASSERT_TRUE(stream.Seek(6));
    TTrimeldConverter conv(u"memory.stl");
    conv.LoadFromStream(stream);
    ASSERT_TRUE(stream.Seek(6));
    conv.LoadFromStream(stream);
    ASSERT_EQ(conv.TriangleCount(), 4);
    EXPECT_EQ(conv.TrianglesList()[1].a.x, 5.0f); // reversed: v3 first
    EXPECT_EQ(conv.TrianglesList()[2].a.x, 0.0f);
    EXPECT_EQ(conv.TrianglesList()[3].b.x, 6.0f);
}

TEST(TrimeldConverter, ListGrowsPastItsChunkSize) {
    std::vector<TSTLFace> faces;
    for (int i = 0; i < 70000; ++i)
        faces.push_back(Facet({0, 0, 1}, static_cast<float>(i)));
    const auto read = Read(StlBytes(faces));
    const TTrimeldConverter& conv = *read;
    ASSERT_EQ(conv.TriangleCount(), 70000);
    for (std::int32_t i : {0, 32767, 32768, 65536, 69999})
        EXPECT_EQ(conv.TrianglesList()[i].a.x, static_cast<float>(i));
}

TEST(TrimeldConverter, FileThatCannotBeOpenedRaisesWithFullPath) {
    test::TTempDir dir;
    TTrimeldConverter conv(dir.Name("sub/../missing.stl"));
    const std::string expected = "Cannot open file \"" + (dir.Path() / "missing.stl").string() +
                                 "\". " + platform::ToUtf8(platform::SystemErrorText(ENOENT));
    EXPECT_THAT([&] { conv.Convert(); }, ThrowsMessage<TFileOpenError>(StrEq(expected)));
    EXPECT_EQ(conv.TriangleCount(), 0);
}

TEST(TrimeldConverter, FolderRaisesTheFileOpenFailure) {
    test::TTempDir dir;
    TTrimeldConverter conv(u"x.stl");
    EXPECT_THAT([&] { conv.LoadFromFile(dir.Name("")); },
                ThrowsMessage<TFileOpenError>(::testing::EndsWith(
                    "\". " + platform::ToUtf8(platform::SystemErrorText(EISDIR)))));
}

// What one reading gave: the triangles' bytes, the kind and the stop.
struct TOutcome {
    std::string triangles;
    TStlKind kind;
    bool stopped;
    std::int64_t position;
    std::u16string reason;
    bool operator==(const TOutcome&) const = default;
};

TOutcome ReadOutcome(platform::TStream& stream) {
    TTrimeldConverter conv(u"x.stl");
    conv.LoadFromStream(stream);
    TOutcome outcome{{},
                     conv.LastKind(),
                     conv.LastStop().stopped,
                     conv.LastStop().position,
                     conv.LastStop().reason};
    for (std::int32_t i = 0; i < conv.TriangleCount(); ++i)
        outcome.triangles.append(reinterpret_cast<const char*>(&conv.TrianglesList()[i]),
                                 sizeof(TTriangle3D));
    return outcome;
}

const std::string cTEXT_FACET = "facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"
                                "vertex 0 1 0\nendloop\nendfacet\n";

TEST(TrimeldConverter, ReadsAPipeExactlyLikeAFile) {
    const TSTLFace up = Facet({0, 0, 1}), down = Facet({0, 0, -1}, 2);
    const std::string text = "solid t\n" + cTEXT_FACET + cTEXT_FACET + "endsolid t\n";
    struct Case {
        const char* what;
        std::string bytes;
        std::int32_t count;
    };
    const Case cases[] = {
        {"binary", StlBytes({up, down, up}), 3},
        {"binary with a solid header", StlBytes({up, down}, std::nullopt, "solid part"), 2},
        {"binary cut short", StlBytes({up, down}, 4), 2},
        {"binary shorter than its header", StlBytes({}).substr(0, 50), 0},
        {"text", text, 2},
        {"text cut inside a facet", text.substr(0, text.size() - 40), 1},
        {"text damaged", "solid t\n" + cTEXT_FACET + "facet normal 0 x 1\n" + cTEXT_FACET, 1},
        {"text with a NUL", "solid t\n" + cTEXT_FACET + std::string(1, '\0') + cTEXT_FACET, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform::TMemoryStream file(c.bytes);
        const TOutcome expected = ReadOutcome(file);
        EXPECT_EQ(expected.triangles.size(),
                  static_cast<std::size_t>(c.count) * sizeof(TTriangle3D));
        if (expected.stopped) {
            EXPECT_GT(expected.position, 0);
        }
        // A header split across reads at every size, up to one read for all.
        for (const std::size_t readSize : {std::size_t{1}, std::size_t{3}, std::size_t{79},
                                           std::size_t{81}, c.bytes.size() + 1}) {
            SCOPED_TRACE(readSize);
            test::TChunkStream pipe(c.bytes, readSize, false);
            EXPECT_EQ(ReadOutcome(pipe), expected);
        }
    }
}

TEST(TrimeldConverter, TextReadingLeavesTheStreamAtItsEnd) {
    const std::string texts[] = {
        "solid t\n" + cTEXT_FACET + "endsolid t\ntrailing words\n",
        "solid t\n" + cTEXT_FACET + "facet normal 0 x 1\n" + cTEXT_FACET,
        "solid t\nfacet normal 0 0 1\x00 after a NUL\n" + cTEXT_FACET,
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        for (const bool seekable : {true, false}) {
            test::TChunkStream stream(text, 7, seekable);
            (void)ReadOutcome(stream);
            EXPECT_EQ(stream.Position(), static_cast<std::int64_t>(text.size()));
        }
    }
}

// A read the system refuses, or memory running out, is no damage of the
// content: it is raised, and what was read before stays.
TEST(TrimeldConverter, SystemFailuresDuringReadingAreRaised) {
    const TSTLFace up = Facet({0, 0, 1});
    const std::string binary = StlBytes({up, up, up});
    const std::string text = "solid t\n" + cTEXT_FACET + cTEXT_FACET;
    struct Case {
        const char* what;
        std::string bytes;
        std::size_t failAt;
        bool seekable;
        std::int32_t kept;
    };
    const Case cases[] = {
        {"in the kind test", binary, 40, true, 0},
        {"in the facet count", binary, 82, true, 0},
        {"in the third facet", binary, 84 + 2 * 50 + 10, true, 2}, // the two before it stay
        {"in the text, second facet", text, 8 + cTEXT_FACET.size() + 30, true, 1},
        {"in the text of a pipe", text, 8 + cTEXT_FACET.size() + 30, false, 1},
        {"after the text, at its end", text + "endsolid\nmore", text.size() + 12, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const int error : {EIO, ENOMEM}) {
            test::TChunkStream stream(c.bytes, 1, c.seekable);
            stream.FailAt(c.failAt, error);
            TTrimeldConverter conv(u"x.stl");
            if (error == ENOMEM) {
                EXPECT_THROW(conv.LoadFromStream(stream), std::bad_alloc);
                EXPECT_FALSE(conv.LastStop().stopped);
                continue;
            }
            {
                try {
                    conv.LoadFromStream(stream);
                    ADD_FAILURE() << "no failure raised";
                } catch (const TIoError& failure) {
                    EXPECT_EQ(failure.Code(), EIO);
                    EXPECT_TRUE(failure.FromSystem());
                    EXPECT_EQ(failure.Detail().operation, TOperation::Read);
                    EXPECT_EQ(failure.Detail().systemError, EIO);
                }
            }
            EXPECT_EQ(conv.TriangleCount(), c.kept);
            EXPECT_FALSE(conv.LastStop().stopped);
        }
    }
}

TEST(TrimeldConverter, ReadErrorOfARealFileNamesTheFile) {
    // Reading a process's own memory at address 0 fails in the kernel.
    TTrimeldConverter conv(u"/proc/self/mem");
    try {
        conv.Convert();
        ADD_FAILURE() << "no failure raised";
    } catch (const TIoError& failure) {
        EXPECT_EQ(failure.Message(), u"I/O error " + platform::IntToText(EIO));
        EXPECT_EQ(failure.Detail().fileName, u"/proc/self/mem");
        EXPECT_EQ(failure.Detail().operation, TOperation::Read);
    }
}

TEST(TrimeldConverter, TwoNameConstructorSavesThroughItsWriter) {
    test::TTempDir dir;
    test::WriteWholeFile(dir.Path() / "in.stl", StlBytes({Facet({0, 0, 1})}));
    {
        TTrimeldConverter conv(dir.Name("in.stl"), dir.Name("out.raw"));
        EXPECT_EQ(conv.Status(), 0);
        conv.Convert();
        conv.Save();
    }
    EXPECT_EQ(test::ReadWholeFile(dir.Path() / "out.raw"),
              "0.000000 0.000000 0.000000 1.000000 0.000000 0.000000 0.000000 1.000000 "
              "0.000000\r\n");

    TTrimeldConverter bad(dir.Name("in.stl"), dir.Name("no/folder.raw"));
    EXPECT_EQ(bad.Status(), RW_IO_ERROR);
    EXPECT_THAT([&] { TTrimeldConverter tooLong(u"x", std::u16string(260, u'a')); },
                ThrowsMessage<TIoError>(StrEq("Invalid file name - " + std::string(260, 'a'))));
}

TEST(TrimeldConverter, ReadsRealBinaryFiles) {
    if (const auto missing = test::CorpusMissing())
        GTEST_SKIP() << *missing;
    struct Case {
        const char* file;
        std::int32_t count;
        bool stopped;
    };
    const Case cases[] = {
        {"assimp_3DSMaxExport.STL", 2000, false},
        {"assimp_Spider_binary.stl", 1368, false},
        {"cura_longer_235mm_platform.stl", 4104, false},     // header starts with "solid"
        {"openscad_import_bin_solid.stl", 46, false},        // all-text header
        {"numpystl_HalfDonut_bin.stl", 288, false},          // one stray byte after the facets
        {"stlmodels_incorrectFaceCounter.bin.stl", 4, true}, // claims 66
        {"openscad_empty.stl", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TTrimeldConverter conv(platform::FromUtf8((test::CorpusDir() / c.file).string()));
        conv.Convert();
        EXPECT_EQ(conv.LastKind(), TStlKind::Binary);
        EXPECT_EQ(conv.TriangleCount(), c.count);
        EXPECT_EQ(conv.LastStop().stopped, c.stopped);
    }
}

TEST(TrimeldConverter, SpiderFacetsWithOppositeNormalsComeOutReversed) {
    if (const auto missing = test::CorpusMissing())
        GTEST_SKIP() << *missing;
    // Every stored normal of this file points against the v1, v2, v3 winding.
    const std::string bytes = test::ReadWholeFile(test::CorpusDir() / "assimp_Spider_binary.stl");
    const auto read = Read(bytes);
    const TTrimeldConverter& conv = *read;
    ASSERT_EQ(conv.TriangleCount(), 1368);
    TPoint3D v3;
    std::memcpy(&v3, bytes.data() + 84 + 36, 12);
    EXPECT_EQ(std::memcmp(&conv.TrianglesList()[0].a, &v3, 12), 0);
}

} // namespace
} // namespace trimeld
