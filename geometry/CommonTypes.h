#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace trimeld {

/// A point of three single-precision coordinates; the same layout as the
/// normal and the corners of a binary STL facet.
struct TPoint3D {
    float x;
    float y;
    float z;
};

/// A triangle: three corners whose order is the winding written to RAW files.
struct TTriangle3D {
    TPoint3D a;
    TPoint3D b;
    TPoint3D c;
};

static_assert(sizeof(float) == 4);
static_assert(sizeof(TPoint3D) == 12 && std::is_trivially_copyable_v<TPoint3D>);
static_assert(sizeof(TTriangle3D) == 36 && std::is_trivially_copyable_v<TTriangle3D>);

/// Non-owning references.
using PPoint3D = TPoint3D*;
using PTriangle3D = TTriangle3D*;
using PCoordinate = float*;

/// The base of every failure the system raises. Message() is the exact text a
/// user may see; what() holds the same text as UTF-8.
class TTrimeldError : public std::runtime_error {
public:
    explicit TTrimeldError(std::u16string message);
    [[nodiscard]] const std::u16string& Message() const noexcept { return message; }

private:
    std::u16string message;
};

/// A trapped floating-point condition: "Invalid floating point operation",
/// "Floating point division by zero" or "Floating point overflow".
class TFloatError : public TTrimeldError {
public:
    using TTrimeldError::TTrimeldError;
};

/// UTF-16 to UTF-8 and back; unpaired surrogates and malformed bytes become
/// U+FFFD. Used for messages and at the system-call boundary.
[[nodiscard]] std::string ToUtf8(std::u16string_view text);
[[nodiscard]] std::u16string FromUtf8(std::string_view bytes);

/// Decimal text of a signed integer, as UTF-16.
[[nodiscard]] std::u16string IntToText(std::int64_t value);

} // namespace trimeld
