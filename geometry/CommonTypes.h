#pragma once

#include <cstdint>
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

} // namespace trimeld
