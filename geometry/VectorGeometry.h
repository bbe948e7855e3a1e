#pragma once

#include "geometry/CommonTypes.h"
#include "platform/Failures.h"

#include <limits>

// The vector routines behind a facet's plane normal. Every product, sum and
// difference is formed in 80-bit extended precision and rounded to single
// only when stored. Three conditions raise TFloatError, checked explicitly
// rather than trapped: an invalid operation ("Invalid floating point
// operation": a signalling NaN operand, inf - inf, 0 * inf, or an ordered
// comparison with a NaN), a division by zero ("Floating point division by
// zero") and an overflow when a value is stored as a single ("Floating point
// overflow"). Underflow and inexact results never raise.
namespace trimeld {

using TExtended = long double;
static_assert(std::numeric_limits<TExtended>::digits == 64,
              "the numeric model needs the 80-bit extended format");

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

namespace detail {
// Checked extended arithmetic, shared with the orientation rule.
[[nodiscard]] TExtended Widen(float value);
[[nodiscard]] TExtended Add(TExtended a, TExtended b);
[[nodiscard]] TExtended Sub(TExtended a, TExtended b);
[[nodiscard]] TExtended Mul(TExtended a, TExtended b);
[[nodiscard]] TExtended Div(TExtended a, TExtended b);
/// Rounds to single; "Floating point overflow" when the result is not finite
/// but the value was.
[[nodiscard]] float Store(TExtended value);
/// a > b; "Invalid floating point operation" when either is a NaN.
[[nodiscard]] bool Greater(TExtended a, TExtended b);
[[noreturn]] void RaiseInvalid();
[[noreturn]] void RaiseOverflow();
} // namespace detail

} // namespace trimeld
