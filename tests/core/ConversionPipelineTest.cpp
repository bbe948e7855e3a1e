// The streamed run against the order it replaces: read the whole STL into a
// converter's list, then hand every triangle to the writer. Both run over
// the same bytes onto a recording disk; blocks, stop reports and failures
// must be the same for every thread count and batch size.
#include "app/ConversionPipeline.h"

#include "TestSupport.h"
#include "raw/RawWriter.h"
#include "stl/TrimeldConverter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace trimeld {
namespace {

using test::StlBytes;

// A disk that records each block it receives and can refuse the Nth write.
struct TDisk {
    std::vector<std::string> blocks;
    std::optional<std::size_t> failAt;
    int failError = ENOSPC;
    bool charDevice = false;
    std::size_t writes = 0;

    platform::TOutputOpener Opener() {
        return [this](std::u16string_view) -> platform::TCreateResult {
            return {std::make_unique<TFile>(*this), 0};
        };
    }

private:
    struct TFile final : platform::TOutputFile {
        explicit TFile(TDisk& owner) : disk(owner) {}
        int Write(const char* bytes, std::size_t size) override {
            if (disk.failAt && disk.writes++ == *disk.failAt)
                return disk.failError;
            disk.blocks.emplace_back(bytes, size);
            return 0;
        }
        int Close() override { return 0; }
        bool IsCharDevice() const override { return disk.charDevice; }
        TDisk& disk;
    };
};

bool IsReadFailure(const std::string& failure) {
    return failure == "bad_alloc" || failure.find(" op 3 ") != std::string::npos;
}

struct TOutcome {
    std::vector<std::string> blocks;
    std::int64_t triangles = 0;
    TStlKind kind = TStlKind::None;
    TReadStop stop;
    std::string failure; // empty when the run ended normally

    void ExpectSameAs(const TOutcome& expected) const {
        EXPECT_EQ(failure, expected.failure);
        // A failed read ends the list's run before anything is written; the
        // streamed run has written what came before it. Every other run
        // leaves the same blocks.
        if (!IsReadFailure(expected.failure)) {
            EXPECT_EQ(blocks, expected.blocks);
        }
        if (!failure.empty())
            return; // a failed run reports nothing else
        EXPECT_EQ(triangles, expected.triangles);
        EXPECT_EQ(kind, expected.kind);
        EXPECT_EQ(stop.stopped, expected.stop.stopped);
        EXPECT_EQ(platform::ToUtf8(stop.reason), platform::ToUtf8(expected.stop.reason));
        EXPECT_EQ(stop.position, expected.stop.position);
    }
};

// The failure as one text: its kind, its message and what it concerns.
std::string Describe(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const TIoError& io) {
        return "TIoError " + std::string(io.what()) + " op " +
               std::to_string(static_cast<int>(io.Detail().operation)) + " errno " +
               std::to_string(io.Detail().systemError);
    } catch (const std::bad_alloc&) {
        return "bad_alloc";
    } catch (const std::exception& other) {
        return std::string("other ") + other.what();
    }
}

struct TInput {
    std::string bytes;
    std::size_t readSize = 1 << 16;
    bool seekable = true;
    std::optional<std::size_t> readFailsAt; // the read passing this offset fails
    int readError = EIO;

    std::unique_ptr<test::TChunkStream> Stream() const {
        auto stream = std::make_unique<test::TChunkStream>(bytes, readSize, seekable);
        if (readFailsAt)
            stream->FailAt(*readFailsAt, readError);
        return stream;
    }
};

// Read everything into the list, then write the list.
TOutcome ByList(const TInput& input, TDisk disk, std::size_t blockSize) {
    TOutcome outcome;
    {
        TRawWriter writer(u"x.raw", blockSize, disk.Opener());
        try {
            TTrimeldConverter conv(u"x.stl");
            const auto stream = input.Stream();
            conv.LoadFromStream(*stream);
            outcome.kind = conv.LastKind();
            outcome.stop = conv.LastStop();
            for (std::int32_t i = 0; i < conv.TriangleCount(); ++i)
                writer.Add(conv.TrianglesList()[i]);
            outcome.triangles = conv.TriangleCount();
        } catch (...) {
            outcome.failure = Describe(std::current_exception());
        }
    }
    outcome.blocks = disk.blocks;
    return outcome;
}

TOutcome Streamed(const TInput& input, TDisk disk, std::size_t blockSize, unsigned threads,
                  std::size_t batchFacets) {
    TOutcome outcome;
    {
        TRawWriter writer(u"x.raw", blockSize, disk.Opener());
        try {
            const auto stream = input.Stream();
            const TStreamReport report =
                detail::StreamConversion(*stream, writer, threads, batchFacets);
            outcome.triangles = report.triangleCount;
            outcome.kind = report.kind;
            outcome.stop = report.stop;
        } catch (...) {
            outcome.failure = Describe(std::current_exception());
        }
    }
    outcome.blocks = disk.blocks;
    return outcome;
}

struct TSetting {
    unsigned threads;
    std::size_t batchFacets;
};
const TSetting cSETTINGS[] = {{1, 8192}, {1, 3}, {2, 8192}, {2, 1}, {2, 4}, {8, 3}, {8, 8192}};

// Large files: the real batch size, and one small enough to cross many.
const TSetting cLARGE_SETTINGS[] = {{1, 8192}, {2, 8192}, {8, 8192}, {2, 100}};

template <std::size_t N>
void ExpectStreamedAsListed(const TInput& input, const TDisk& disk, std::size_t blockSize,
                            const TSetting (&settings)[N]) {
    const TOutcome expected = ByList(input, disk, blockSize);
    for (const TSetting& setting : settings) {
        SCOPED_TRACE(std::to_string(setting.threads) + " threads, batches of " +
                     std::to_string(setting.batchFacets));
        Streamed(input, disk, blockSize, setting.threads, setting.batchFacets)
            .ExpectSameAs(expected);
    }
}

void ExpectStreamedAsListed(const TInput& input, const TDisk& disk = {},
                            std::size_t blockSize = cOUT_BUFFER_SIZE) {
    ExpectStreamedAsListed(input, disk, blockSize, cSETTINGS);
}

constexpr float cNAN = std::numeric_limits<float>::quiet_NaN();

TSTLFace Facet(float normalZ, float shift) {
    return {{0, 0, normalZ}, {shift, 0, 0}, {shift + 1, 0, 0}, {shift, 1.5f, 0}};
}

std::string TextFacet(const std::string& normal, const std::string& v1,
                      const std::string& v2 = "1 0 0", const std::string& v3 = "0 1 0") {
    return "facet normal " + normal + "\n outer loop\n  vertex " + v1 + "\n  vertex " + v2 +
           "\n  vertex " + v3 + "\n endloop\nendfacet\n";
}

TEST(ConversionPipeline, SameBytesAndStopsAsTheListOverTheCorpus) {
    if (!std::filesystem::is_directory(test::CorpusDir()))
        GTEST_SKIP() << "no corpus at " << test::CorpusDir();
    for (const auto& entry : std::filesystem::directory_iterator(test::CorpusDir())) {
        if (entry.path().extension() == ".md")
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        TInput input;
        input.bytes = test::ReadWholeFile(entry.path());
        ExpectStreamedAsListed(input, {}, 65536, cLARGE_SETTINGS);
    }
}

// Random damage on a binary and a text file of a few dozen facets: NaN and
// huge coordinates (orientation fails), cuts, false counts, stray bytes.
TEST(ConversionPipeline, SameBytesAndStopsAsTheListOnDamagedFiles) {
    std::vector<TSTLFace> faces;
    for (int i = 0; i < 40; ++i)
        faces.push_back(Facet(i % 3 == 0 ? -1.0f : 1.0f, static_cast<float>(i)));
    const std::string binary = StlBytes(faces);
    std::string text = "solid part\n";
    for (int i = 0; i < 40; ++i)
        text += TextFacet(i % 2 ? "0 0 1" : "0 0 -1", std::to_string(i) + " 0 0");
    text += "endsolid part\n";

    const std::string textInserts[] = {"1e39",
                                       "x",
                                       "nan",
                                       ",",
                                       "\"",
                                       "3e38 3e38 3e38",
                                       "E5",
                                       std::string(100, '1'),
                                       "1." + std::string(90, '0') + "q",
                                       "facet normal 0 0 1",
                                       "endloop",
                                       "\r",
                                       std::string(1, '\0')};
    std::mt19937 random(424242);
    const auto pick = [&](std::size_t n) {
        return static_cast<std::size_t>(random() % static_cast<std::uint32_t>(n));
    };
    for (int round = 0; round < 60; ++round) {
        TInput input;
        input.readSize = round % 3 == 0 ? 7 : 1 << 16;
        input.seekable = round % 4 != 1;
        if (round % 2 == 0) {
            input.bytes = binary;
            for (std::size_t e = 0, edits = 1 + pick(3); e < edits; ++e) {
                const std::size_t facet = pick(faces.size());
                const std::size_t at = 84 + facet * 50 + 4 * pick(12);
                const float values[] = {cNAN, 3e38f, -3e38f, 0.0f};
                std::memcpy(input.bytes.data() + at, &values[pick(4)], 4);
            }
            if (pick(3) == 0)
                input.bytes.resize(84 + pick(input.bytes.size() - 84));
            if (pick(4) == 0)
                input.bytes[80] = static_cast<char>(pick(60)); // a count short of the facets
        } else {
            input.bytes = text;
            for (std::size_t e = 0, edits = 1 + pick(3); e < edits; ++e) {
                const std::size_t at = pick(input.bytes.size());
                input.bytes.insert(at, textInserts[pick(std::size(textInserts))]);
            }
            if (pick(4) == 0)
                input.bytes.resize(pick(input.bytes.size()));
        }
        SCOPED_TRACE("round " + std::to_string(round));
        ExpectStreamedAsListed(input);
    }
}

TEST(ConversionPipeline, NumbersThatFailShowAsTheLineHadThem) {
    struct Case {
        const char* what;
        std::string text;
    };
    const Case cases[] = {
        {"a normal line, shown upper-cased", "solid s\n" + TextFacet("0 0 1", "0 0 0") +
                                                 TextFacet("0 0 1e", "0 0 0") +
                                                 TextFacet("0 0 abc", "0 0 0")},
        {"a vertex line, shown as it stands", "solid s\n" + TextFacet("0 0 1", "1 2 abc")},
        {"a long line, decoded by the reader",
         "solid s\n" + TextFacet("0 0 1", "0 0 0") +
             TextFacet("0 0 1", "1 2 " + std::string(300, '7') + "x")},
        {"a long line with too many fields",
         "solid s\n" + TextFacet("0 0 1", "0 0 0") +
             TextFacet("0 0 1", "1 2 3 " + std::string(300, '7'))},
        {"too many fields, then a bad number later",
         "solid s\n" + TextFacet("0 0 1", "0 0 0 0") + TextFacet("0 0 1", "1 2 x")},
        {"no VERTEX word", "solid s\n" + TextFacet("0 0 1", "0 0 0") +
                               "facet normal 0 0 1\nouter loop\nvortex 1 2 3\n"},
        {"a bad number before damage later in its facet",
         "solid s\n" + TextFacet("0 0 1", "0 0 0") +
             "facet normal 0 0 q\nouter loop\nvertex 1 2 3\nbroken\n"},
        {"a bad number in a facet cut short",
         "solid s\nfacet normal 0 0 1\nouter loop\nvertex 1 zz 3\n"},
        {"orientation overflows",
         "solid s\n" + TextFacet("1 1 1", "3e38 3e38 3e38", "-3e38 -3e38 0")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TInput input;
        input.bytes = c.text;
        ExpectStreamedAsListed(input);
        const TOutcome listed = ByList(input, {}, cOUT_BUFFER_SIZE);
        EXPECT_TRUE(listed.stop.stopped); // each case is one that stops
    }
}

// The writer refuses the Nth block: the same blocks reach the disk and the
// same failure is raised as when the list was written.
TEST(ConversionPipeline, WriteFailureAtTheNthBlockLeavesTheSameBytes) {
    std::vector<TSTLFace> faces;
    for (int i = 0; i < 200; ++i)
        faces.push_back(Facet(1.0f, static_cast<float>(i)));
    TInput binary;
    binary.bytes = StlBytes(faces);
    TInput damaged = binary; // reading stops at facet 151
    const float nan = cNAN;
    std::memcpy(damaged.bytes.data() + 84 + 150 * 50 + 12, &nan, 4);
    TInput text;
    text.bytes = "solid s\n";
    for (int i = 0; i < 60; ++i)
        text.bytes += TextFacet("0 0 1", std::to_string(i) + ".25 0 0");

    for (const TInput* input : {&binary, &damaged, &text}) {
        for (const std::size_t failAt : {0, 1, 7, 40, 139}) {
            for (const bool device : {false, true}) {
                SCOPED_TRACE("block " + std::to_string(failAt) + (device ? ", device" : ""));
                TDisk disk;
                disk.failAt = failAt;
                disk.charDevice = device;
                ExpectStreamedAsListed(*input, disk);
            }
        }
    }
}

// A failed read and running out of memory are raised once, on the caller's
// thread, also when a write failed before them; a stop of binary reading
// before them means they were never met.
TEST(ConversionPipeline, ReadAndWriteFailuresSurfaceOnceAndInReadingOrder) {
    // More facets than the binary reader takes in one read, so that reading
    // ahead of the list's order reaches a failure the list never meets.
    std::vector<TSTLFace> faces;
    for (int i = 0; i < 3000; ++i)
        faces.push_back(Facet(1.0f, static_cast<float>(i)));
    const std::string binary = StlBytes(faces);
    std::string stoppedEarly = binary;
    const float nan = cNAN;
    std::memcpy(stoppedEarly.data() + 84 + 10 * 50 + 12, &nan, 4);
    std::string text = "solid s\n";
    for (int i = 0; i < 100; ++i)
        text += TextFacet("0 0 1", std::to_string(i) + " 0 0");
    std::string textStopped = text;
    textStopped.insert(textStopped.find("vertex 5 0 0") + 7, "x");

    struct Case {
        const char* what;
        const std::string* bytes;
        std::size_t readFailsAt;
        std::optional<std::size_t> writeFailsAt;
        bool pipe;
        const char* failed;      // what a failed read raises, or empty for none
        const char* outOfMemory; // the same when memory runs out in that read
    };
    const char* const cREAD = "TIoError I/O error 5 op 3 errno 5";
    const char* const cWRITE = "TIoError I/O error 28 op 4 errno 28";
    const Case cases[] = {
        {"binary read fails", &binary, 84 + 250 * 50 + 3, std::nullopt, false, cREAD, "bad_alloc"},
        {"binary read fails after a failed write", &binary, 84 + 250 * 50 + 3, 2, true, cREAD,
         "bad_alloc"},
        // Facets that arrived before a failed read are read; memory running
        // out in the read loses the whole piece, damage included.
        {"binary read fails after damage", &stoppedEarly, 84 + 250 * 50 + 3, std::nullopt, false,
         "", "bad_alloc"},
        {"binary read fails a read after the damage", &stoppedEarly, binary.size() - 3,
         std::nullopt, true, "", ""},
        {"binary write fails, no damage", &binary, binary.size() + 1, 2, false, cWRITE, cWRITE},
        {"text read fails", &text, text.size() - 10, std::nullopt, false, cREAD, "bad_alloc"},
        // After damage a text file is skipped to its end, a pipe read to it.
        {"text file read fails after damage", &textStopped, text.size() - 10, std::nullopt, false,
         "", ""},
        {"text pipe read fails after damage", &textStopped, text.size() - 10, std::nullopt, true,
         cREAD, "bad_alloc"},
        {"text read fails after a failed write", &text, text.size() - 10, 1, true, cREAD,
         "bad_alloc"},
    };
    for (const Case& c : cases) {
        for (const int error : {EIO, ENOMEM}) {
            SCOPED_TRACE(std::string(c.what) + (error == ENOMEM ? ", out of memory" : ""));
            TInput input;
            input.bytes = *c.bytes;
            input.readSize = 97;
            input.seekable = !c.pipe;
            input.readFailsAt = c.readFailsAt;
            input.readError = error;
            TDisk disk;
            disk.failAt = c.writeFailsAt;
            ExpectStreamedAsListed(input, disk);
            for (const TSetting& setting : cSETTINGS)
                EXPECT_EQ(
                    Streamed(input, disk, cOUT_BUFFER_SIZE, setting.threads, setting.batchFacets)
                        .failure,
                    error == ENOMEM ? c.outOfMemory : c.failed);
        }
    }
}

TEST(ConversionPipeline, ThreadCountComesFromTheEnvironmentWithinLimits) {
    struct Case {
        const char* value;
        unsigned threads; // 0: the processors available
    };
    const Case cases[] = {{"1", 1},   {"8", 8},  {"64", 64}, {"0", 0}, {"65", 0},
                          {"two", 0}, {"3x", 0}, {"", 0},    {"-1", 0}};
    const unsigned available = [] {
        ::unsetenv("TRIMELD_THREADS");
        return ConversionThreads();
    }();
    EXPECT_GE(available, 1u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        ::setenv("TRIMELD_THREADS", c.value, 1);
        EXPECT_EQ(ConversionThreads(), c.threads == 0 ? available : c.threads);
    }
    ::unsetenv("TRIMELD_THREADS");
}

} // namespace
} // namespace trimeld
