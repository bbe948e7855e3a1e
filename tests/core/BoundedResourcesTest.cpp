// Hostile sizes: huge claimed counts, floods of blank lines, one endless
// line. Each must finish, keep what was read before, and stay within memory.
// Memory is measured in a forked child (a death test), so that earlier tests
// do not count. The floods and the line are a few tens of MiB, enough to
// stand far above the fixed allowance; the exhaustive build reads a GiB
// flood and a 256 MiB line with the same limits.
#include "stl/TrimeldConverter.h"

#include "TestSupport.h"
#include "app/ConversionPipeline.h"
#include "raw/RawWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <sys/resource.h>

namespace trimeld {
namespace {

constexpr std::int64_t cMIB = 1024 * 1024;

// A stream of head, then size bytes repeating filler, then tail, produced as
// it is read, so that gigabytes cost no memory in the test itself.
class TGeneratedStream final : public platform::TStream {
public:
    TGeneratedStream(std::string first, std::string repeated, std::int64_t repeatedSize,
                     std::string last)
        : head(std::move(first)), filler(std::move(repeated)), fillSize(repeatedSize),
          tail(std::move(last)) {}
    std::ptrdiff_t Read(void* buffer, std::size_t size) override {
        auto* out = static_cast<char*>(buffer);
        std::size_t done = 0;
        const std::int64_t fillEnd = static_cast<std::int64_t>(head.size()) + fillSize;
        while (done < size && pos < Size()) {
            if (pos < static_cast<std::int64_t>(head.size())) {
                out[done++] = head[static_cast<std::size_t>(pos++)];
            } else if (pos < fillEnd) {
                // Whole runs of the filler at once: this is the hot path.
                const auto offset =
                    static_cast<std::size_t>((pos - static_cast<std::int64_t>(head.size())) %
                                             static_cast<std::int64_t>(filler.size()));
                const std::size_t run = std::min<std::size_t>(
                    {filler.size() - offset, size - done, static_cast<std::size_t>(fillEnd - pos)});
                std::memcpy(out + done, filler.data() + offset, run);
                done += run;
                pos += static_cast<std::int64_t>(run);
            } else {
                out[done++] = tail[static_cast<std::size_t>(pos++ - fillEnd)];
            }
        }
        return static_cast<std::ptrdiff_t>(done);
    }
    std::int64_t Position() const override { return pos; }
    bool Seek(std::int64_t position) override {
        pos = position;
        return position >= 0;
    }
    bool CanSeek() const override { return true; }
    std::int64_t Size() const override {
        return static_cast<std::int64_t>(head.size() + tail.size()) + fillSize;
    }

private:
    std::string head, filler;
    std::int64_t fillSize;
    std::string tail;
    std::int64_t pos = 0;
};

const std::string cFACET = "facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"
                           "vertex 0 1 0\nendloop\nendfacet\n";

std::int64_t PeakBytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::int64_t>(usage.ru_maxrss) * 1024;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool cMEASURES_MEMORY = false;
#else
constexpr bool cMEASURES_MEMORY = true;
#endif

// Runs count() in a child process, which exits 0 when it gives the expected
// triangle count and the peak memory stays within the limit. Under the
// address sanitizer memory figures mean nothing, so only the count is checked.
template <typename TCount>
void ExpectCountWithin(TCount count, std::int64_t triangles, std::int64_t limit) {
    EXPECT_EXIT(
        {
            const std::int64_t got = count();
            if (got != triangles) {
                std::fprintf(stderr, "%lld triangles\n", static_cast<long long>(got));
                std::exit(1);
            }
            if (cMEASURES_MEMORY && PeakBytes() > limit) {
                std::fprintf(stderr, "peak %lld MiB\n", static_cast<long long>(PeakBytes() / cMIB));
                std::exit(2);
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

// Reads the stream into a converter's list.
void ExpectReadWithin(TGeneratedStream& stream, std::int32_t triangles, std::int64_t limit) {
    ExpectCountWithin(
        [&]() -> std::int64_t {
            TTrimeldConverter conv(u"generated.stl");
            conv.LoadFromStream(stream);
            return conv.TriangleCount();
        },
        triangles, limit);
}

// The streamed run on the stream with threads, its lines thrown away.
void ExpectStreamedWithin(TGeneratedStream& stream, unsigned threads, std::int64_t triangles,
                          std::int64_t limit) {
    struct TDiscard final : platform::TOutputFile {
        int Write(const char*, std::size_t) override { return 0; }
        int Close() override { return 0; }
        bool IsCharDevice() const override { return false; }
    };
    ExpectCountWithin(
        [&]() -> std::int64_t {
            TRawWriter writer(u"x.raw", 65536, [](std::u16string_view) -> platform::TCreateResult {
                return {std::make_unique<TDiscard>(), 0};
            });
            return StreamConversion(stream, writer, threads).triangleCount;
        },
        triangles, limit);
}

// Facets cost 72 bytes each at most, plus a fixed allowance, whatever the
// text. The program and the reader's buffers take about 4 MiB; the allowance
// is well below the floods of tens of MiB, so that a reader holding one fails.
constexpr std::int64_t cTEXT_BASE = 16 * cMIB;

#if defined(TRIMELD_EXHAUSTIVE)
constexpr std::int64_t cFLOOD = 1024 * cMIB;
constexpr std::int64_t cLINE = 256 * cMIB;
#else
constexpr std::int64_t cFLOOD = 64 * cMIB;
constexpr std::int64_t cLINE = 32 * cMIB;
#endif

TEST(BoundedResources, HugeClaimedFacetCountOnAShortFile) {
    std::string bytes = test::StlBytes({{{0, 0, 1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}}}, 0x7FFFFFFF);
    TGeneratedStream stream(bytes, " ", 0, "");
    ExpectReadWithin(stream, 1, 16 * cMIB + 40);
}

TEST(BoundedResources, MillionBlankLines) {
    TGeneratedStream stream("solid x\n" + cFACET, "\n", 1'000'000, cFACET + "endsolid x\n");
    ExpectReadWithin(stream, 2, cTEXT_BASE + 2 * 72);
}

TEST(BoundedResources, FloodOfBlankLinesBetweenTwoFacets) {
    const std::string blanks = std::string(62, ' ') + "\r\n";
    TGeneratedStream stream("solid x\n" + cFACET, blanks, cFLOOD, cFACET);
    ExpectReadWithin(stream, 2, cTEXT_BASE + 2 * 72);
}

TEST(BoundedResources, DamageAfterBlankFloodKeepsEarlierFacets) {
    TGeneratedStream stream("solid x\n" + cFACET, "\t \n", 30 * cMIB, "facet normal 0 0\n");
    ExpectReadWithin(stream, 1, cTEXT_BASE + 72);
}

TEST(BoundedResources, EndlessLineCostsASmallMultipleOfItsLength) {
    TGeneratedStream stream("solid x\n" + cFACET, "vertex 1 2 3 ", cLINE, "");
    // Decoded to UTF-16 the line takes twice its bytes; allow for growth.
    ExpectReadWithin(stream, 1, 5 * cLINE + cTEXT_BASE);
}

// Streamed, memory does not grow with the count of facets: a few
// megabytes for the ring of batches, whatever the file.
TEST(BoundedResources, StreamedRunStaysWithinAFixedWindow) {
    const TSTLFace face{{0, 0, 1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    constexpr std::int64_t cFACETS = 1'000'000; // a list of them would take 36 MB
    const std::string record = test::StlBytes({face}).substr(84);
    const std::string header = test::StlBytes({}, static_cast<std::int32_t>(cFACETS));
    for (const unsigned threads : {1u, 2u, 8u}) {
        SCOPED_TRACE(threads);
        TGeneratedStream binary(header, record, cFACETS * 50, "");
        ExpectStreamedWithin(binary, threads, cFACETS, 32 * cMIB);
        TGeneratedStream text("solid x\n", cFACET,
                              1'000'000 * static_cast<std::int64_t>(cFACET.size()), "endsolid x\n");
        ExpectStreamedWithin(text, threads, 1'000'000, 32 * cMIB);
    }
}

TEST(BoundedResources, StreamedEndlessLineCostsAboutTwiceItsLength) {
    for (const unsigned threads : {1u, 2u}) {
        TGeneratedStream stream("solid x\n" + cFACET + "facet normal", " 1", cLINE, "\nendsolid\n");
        ExpectStreamedWithin(stream, threads, 1, cLINE * 11 / 5 + cTEXT_BASE);
    }
}

} // namespace
} // namespace trimeld
