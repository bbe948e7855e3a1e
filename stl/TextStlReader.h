#pragma once

#include "platform/Files.h"
#include "stl/TrimeldConverter.h"

#include <cstdint>

namespace trimeld {

/// Receives each text facet once its ENDLOOP line has been seen.
class TFacetSink {
public:
    virtual ~TFacetSink() = default;
    virtual void AddFacet(const TSTLFace& face) = 0;
};

/// Reads text STL from the stream's position to its end, streaming: the
/// text is decoded and split in chunks and never held whole. Returns
/// normally when the text ends cleanly (an ENDSOLID line, the end of the
/// lines between facets or right after the SOLID line, a first line that is
/// not SOLID, or no non-blank line at all). Throws TTrimeldError on the
/// first damage, TFloatError for a coordinate beyond the single range and
/// TIoError when a read fails; the facet under way is then not passed on.
/// Lines ending inside a facet give "List index out of bounds (%d)" with the
/// index the next line would have among the non-blank lines. lineNumber
/// holds the 1-based number, counted in the file's line breaks, of the line
/// last examined (0 before the first). Returns whether a non-blank line
/// follows the ENDSOLID line that ended the text.
bool ReadTextStl(platform::TStream& aStream, TFacetSink& sink, std::int64_t& lineNumber);

} // namespace trimeld
