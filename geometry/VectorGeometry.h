#pragma once

#include "geometry/CommonTypes.h"
#include "geometry/Extended.h"

// The vector routines behind a facet's plane normal. Every product, sum and
// difference is formed in 80-bit extended precision and rounded to single
// only when stored, with the checks of geometry/Extended.h: each routine
// raises TFloatError on an invalid operation or on an overflow when storing.
namespace trimeld {

/// res := V1 - V2, component by component.
void VectorSubtract(const TPoint3D& V1, const TPoint3D& V2, TPoint3D& res);
/// The right-handed cross product; vr must be distinct from V1 and V2.
void VectorCrossProduct(const TPoint3D& V1, const TPoint3D& V2, TPoint3D& vr);
/// (V1.x*V2.x + V1.y*V2.y) + V1.z*V2.z.
[[nodiscard]] float VectorDotProduct(const TPoint3D& V1, const TPoint3D& V2);
/// The squared length (V.x^2 + V.y^2) + V.z^2.
[[nodiscard]] float VectorNorm(const TPoint3D& V);
/// Scales V to unit length; a vector whose squared length is zero in
/// single precision stays as it is.
void NormalizeVector(TPoint3D& V);
/// The unit normal of the plane p1 -> p2 -> p3 by the right-hand rule; zero
/// for a degenerate triangle.
[[nodiscard]] TPoint3D CalcPlaneNormal(const TPoint3D& p1, const TPoint3D& p2, const TPoint3D& p3);

} // namespace trimeld
