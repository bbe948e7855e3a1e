#pragma once

#include "geometry/CommonTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The vocabulary of STL reading that the converter and the text reader
// share: the keywords, the facet record, the kind, and what a reading
// reports besides its facets.
namespace trimeld {

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

/// Thrown by a receiver of facets to end reading early without a report,
/// as if the data had ended there. Not a failure.
struct TStopReading {};

} // namespace trimeld
