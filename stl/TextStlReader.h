#pragma once

#include "platform/Files.h"
#include "stl/StlFormat.h"

#include <cstdint>
#include <string_view>

namespace trimeld {

/// Reads text STL, passing each facet to sink once its ENDLOOP line has been
/// seen, from the stream's position to its end, streaming: the
/// text is split in chunks and never held whole. Returns normally when the
/// text ends cleanly (an ENDSOLID line, the end of the lines between facets
/// or right after the SOLID line, a first line that is not SOLID, or no
/// non-blank line at all). Throws TTrimeldError on the first damage,
/// TFloatError for a coordinate beyond the single range and TIoError when a
/// read fails; the facet under way is then not passed on. Lines ending
/// inside a facet give "List index out of bounds (%d)" with the index the
/// next line would have among the non-blank lines. lineNumber holds the
/// 1-based number, counted in the file's line breaks, of the line last
/// examined (0 before the first). Text in the ANSI code page is read as its
/// bytes; text with a UTF-8 or UTF-16 marker is decoded. Returns whether a
/// non-blank line follows the ENDSOLID line that ended the text.
bool ReadTextStl(platform::TStream& aStream, TFacetSink& sink, std::int64_t& lineNumber);

/// Receives the text facets of ReadTextStlDeferred: each point line in
/// reading order (the normal line, then the three vertex lines), then the
/// end of the facet at its ENDLOOP line. The receiver decodes the lines
/// later, in the same order, with DecodePointLine; a line that fails there is
/// where the reading would have stopped.
class TTextFacetSink {
public:
    virtual ~TTextFacetSink() = default;
    /// A point line, trimmed, as bytes of the ANSI code page, valid only
    /// during the call. normal: the facet's normal line, else a vertex line.
    virtual void AddPointLine(std::string_view text, bool normal, std::int64_t line) = 0;
    /// A point the reader decoded itself (a long line, or decoded text).
    virtual void AddPoint(const TPoint3D& point, std::int64_t line) = 0;
    /// The facet whose four points came last is complete; line is its ENDLOOP line.
    virtual void EndFacet(std::int64_t line) = 0;
};

/// ReadTextStl with the point lines left to the receiver: the same lines are
/// read and the same damage of the layout raised at the same line, but a
/// point line that would fail does not stop reading here. Lines longer than
/// cLONG_POINT_LINE bytes are decoded here, so that the receiver never
/// copies a long one, and fail here.
bool ReadTextStlDeferred(platform::TStream& aStream, TTextFacetSink& sink,
                         std::int64_t& lineNumber);

/// Point lines longer than this are decoded by the reader itself.
inline constexpr std::size_t cLONG_POINT_LINE = 160;

/// Decodes a trimmed point line. A normal line splits into exactly five
/// fields, the last three its numbers; a vertex line into exactly four, the
/// first VERTEX in any case of ASCII letters, then its numbers. Throws
/// TTrimeldError "Invalid Normal" or "Invalid Vertex" for other fields, then
/// the failure of ReadCoordinate for the first number that fails (a normal
/// line's fields shown upper-cased).
[[nodiscard]] TPoint3D DecodePointLine(std::string_view text, bool normal);
[[nodiscard]] TPoint3D DecodePointLine(std::u16string_view text, bool normal);

/// A number field of a text line as a coordinate: the decimal parser, then
/// the single store. Throws TTrimeldError "'%s' is not a valid floating point
/// value" with the field as the line showed it (upper-cased in ASCII when
/// upperCased), or TFloatError "Floating point overflow".
[[nodiscard]] float ReadCoordinate(std::string_view field, bool upperCased);
[[nodiscard]] float ReadCoordinate(std::u16string_view field, bool upperCased);

} // namespace trimeld
