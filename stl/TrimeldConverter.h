#pragma once

#include "geometry/CommonTypes.h"
#include "platform/Failures.h"
#include "platform/Files.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace trimeld {

class TRawWriter;

inline constexpr std::u16string_view cSOLID_LABEL = u"SOLID";
inline constexpr std::u16string_view cFACETNORMAL_LABEL = u"FACET NORMAL ";
inline constexpr std::u16string_view cOUTERLOOP_LABEL = u"OUTER LOOP";
inline constexpr std::u16string_view cVERTEX_LABEL = u"VERTEX";
inline constexpr std::u16string_view cENDLOOP_LABEL = u"ENDLOOP";
inline constexpr std::u16string_view cENDFACET_LABEL = u"ENDFACET";
inline constexpr std::u16string_view cENDSOLID_LABEL = u"ENDSOLID";
inline constexpr std::size_t cFULL_HEADER_LEN = 80;
inline constexpr std::size_t cBINARY_HEADER_LEN = 84; ///< header text and facet count
inline constexpr std::size_t cFACET_RECORD_LEN = 50;  ///< normal, three corners, 2 attribute bytes

/// One facet as a binary STL stores it (decoded; the record is 50 bytes).
struct TSTLFace {
    TPoint3D normal;
    TPoint3D v1;
    TPoint3D v2;
    TPoint3D v3;
};

/// What the kind test decided for the last stream read.
enum class TStlKind { None, Binary, Text };

/// Where and why the last reading stopped before the end of its data.
/// Position is the 1-based facet number for binary input, the 1-based line
/// number for text input.
struct TReadStop {
    bool stopped = false;
    std::u16string reason;
    std::int64_t position = 0;
};

/// What the last reading saw of the file's layout, beyond its triangles: for
/// notes on files that look wrong. Reading does not depend on it.
struct TReadFacts {
    std::int64_t binaryHeaderBytes = 0; ///< of the 84 header bytes, how many the binary file had
    std::int32_t facetCount = 0;        ///< the count a binary header declares
    bool contentAfterEnd = false;       ///< a text has non-blank lines after ENDSOLID
};

/// Receives facets as they are read, in reading order.
class TFacetSink {
public:
    virtual ~TFacetSink() = default;
    virtual void AddFacet(const TSTLFace& face) = 0;
};

class TTextFacetSink;

/// Thrown by a receiver of facets to end reading early without a report,
/// as if the data had ended there. Not a failure.
struct TStopReading {};

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
