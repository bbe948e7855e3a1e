#pragma once

#include "geometry/CommonTypes.h"
#include "platform/Failures.h"
#include "platform/Files.h"
#include "stl/StlFormat.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace trimeld {

class TRawWriter;

class TTextFacetSink;

/// Reads one STL stream as LoadFromStream does, without orienting and
/// without a list: binary facets and text facets go to facets as read, or
/// text facets to textFields (numbers unparsed) when it is given. kind and
/// stop say what was read and where and why reading stopped (the 1-based
/// facet number for binary, the line for text); damage raised by a
/// receiver stops reading like damage of the content. Throws TIoError when a
/// read fails, std::bad_alloc, and what a receiver throws that is no
/// TTrimeldError; TStopReading from a receiver just ends reading. Text
/// reading leaves the stream at its end.
void ReadStlStream(platform::TStream& aStream, TFacetSink& facets, TTextFacetSink* textFields,
                   TStlKind& kind, TReadStop& stop, TReadFacts& facts);

/// Moves to the end of the stream: a stream that can seek by seeking, any
/// other by reading what is left. Throws TIoError when a read fails.
void SkipToEnd(platform::TStream& aStream);

/// The orientation rule: the corners of face in stored order when their
/// right-hand normal agrees with the stored one, reversed otherwise. Throws
/// TFloatError.
[[nodiscard]] TTriangle3D OrientFacet(const TSTLFace& face);

/// The triangles read, in reading order. Stored in fixed-size chunks so that
/// growing never copies what was read and never needs twice the memory.
class TTriangleList {
public:
    [[nodiscard]] std::int32_t Count() const noexcept { return count; }
    [[nodiscard]] const TTriangle3D& operator[](std::int32_t index) const noexcept {
        return chunks[static_cast<std::size_t>(index) >> cCHUNK_BITS]
                     [static_cast<std::size_t>(index) & (cCHUNK_SIZE - 1)];
    }
    void Add(const TTriangle3D& triangle);

private:
    static constexpr std::size_t cCHUNK_BITS = 15;
    static constexpr std::size_t cCHUNK_SIZE = std::size_t{1} << cCHUNK_BITS;
    std::vector<std::unique_ptr<TTriangle3D[]>> chunks;
    std::int32_t count = 0;
};

/// Reads one STL file, binary or text, into an owned, ordered triangle list
/// whose corners are ordered to agree with each facet's stored normal.
class TTrimeldConverter {
public:
    /// A converter for one STL file; touches no file.
    explicit TTrimeldConverter(std::u16string strStlFileName);
    /// The same, with a writer on the RAW name for Save. The writer creates
    /// or empties that file at once; a file it cannot create shows as a
    /// non-zero Status. Throws TIoError (code 3) for a RAW name too long.
    TTrimeldConverter(std::u16string strStlFileName, std::u16string strRawFileName);
    ~TTrimeldConverter();
    TTrimeldConverter(const TTrimeldConverter&) = delete;
    TTrimeldConverter& operator=(const TTrimeldConverter&) = delete;

    /// LoadFromFile on the name given at creation.
    void Convert();
    /// Opens the file read-only and reads it with LoadFromStream. Throws
    /// TFileOpenError when the file cannot be opened (a folder included); the
    /// list is then unchanged. A failure of LoadFromStream names the file.
    void LoadFromFile(const std::u16string& fileName);
    /// Appends the triangles found from the stream's position on, reading it
    /// forward only, so that a pipe reads like a file. Damaged content stops
    /// reading silently and what was read before stays. A failing system does
    /// not stop silently: a read the system refuses throws TIoError, and
    /// running out of memory std::bad_alloc, with what was read before kept.
    /// Text reading leaves the stream at its end.
    void LoadFromStream(platform::TStream& aStream);
    /// Appends the current triangle.
    void AddTriangle();
    /// Hands every triangle to the writer of the two-name constructor.
    void Save();

    [[nodiscard]] std::int32_t Status() const noexcept { return fStatus; }
    [[nodiscard]] const TTriangleList& TrianglesList() const noexcept { return trList; }
    [[nodiscard]] std::int32_t TriangleCount() const noexcept { return GetTrCount(); }
    [[nodiscard]] std::int32_t GetTrCount() const noexcept { return trList.Count(); }
    [[nodiscard]] std::int32_t ErrorCount() const noexcept { return convertErrorCount; }

    /// The kind the last reading found, and where and why it stopped early.
    /// Reports only: reading them changes nothing.
    [[nodiscard]] TStlKind LastKind() const noexcept { return lastKind; }
    [[nodiscard]] const TReadStop& LastStop() const noexcept { return lastStop; }
    [[nodiscard]] const TReadFacts& LastFacts() const noexcept { return lastFacts; }

    /// Orders the corners by the stored normal and puts the triangle in the
    /// current triangle. Throws TFloatError.
    void Orient(const TSTLFace& face);

private:
    void InitObj();

    std::unique_ptr<TRawWriter> writer;
    TTriangle3D tr{};
    std::int32_t fStatus = 0;
    bool canWrite = false;
    TTriangleList trList;
    std::int32_t convertErrorCount = 0;
    std::u16string fileName;
    TStlKind lastKind = TStlKind::None;
    TReadStop lastStop;
    TReadFacts lastFacts;
};

namespace detail {
/// The kind test on up to 80 header bytes (missing bytes count as zero).
[[nodiscard]] TStlKind JudgeKind(const unsigned char (&header)[cFULL_HEADER_LEN]) noexcept;
} // namespace detail

} // namespace trimeld
