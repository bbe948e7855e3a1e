#include "geometry/VectorGeometry.h"

namespace trimeld {
namespace {

// Each operand is widened where the formula uses it, so that a failure in a
// later component leaves the earlier ones stored, and the failure raised is
// the first in the order of the formulas.
[[gnu::always_inline]] inline TCheckedExtended Ext(float value) {
    return value;
}

} // namespace

void VectorSubtract(const TPoint3D& V1, const TPoint3D& V2, TPoint3D& res) {
    res.x = StoreSingle(Ext(V1.x) - V2.x);
    res.y = StoreSingle(Ext(V1.y) - V2.y);
    res.z = StoreSingle(Ext(V1.z) - V2.z);
}

void VectorCrossProduct(const TPoint3D& V1, const TPoint3D& V2, TPoint3D& vr) {
    const float x1 = V1.x, y1 = V1.y, z1 = V1.z, x2 = V2.x, y2 = V2.y, z2 = V2.z;
    vr.x = StoreSingle(Ext(y1) * z2 - Ext(z1) * y2);
    vr.y = StoreSingle(Ext(z1) * x2 - Ext(x1) * z2);
    vr.z = StoreSingle(Ext(x1) * y2 - Ext(y1) * x2);
}

float VectorDotProduct(const TPoint3D& V1, const TPoint3D& V2) {
    const TCheckedExtended xy = Ext(V1.x) * V2.x + Ext(V1.y) * V2.y;
    return StoreSingle(xy + Ext(V1.z) * V2.z);
}

float VectorNorm(const TPoint3D& V) {
    const TCheckedExtended x = V.x, y = V.y, z = V.z;
    return StoreSingle((x * x + y * y) + z * z);
}

void NormalizeVector(TPoint3D& V) {
    const float vn = VectorNorm(V);
    if (!(Ext(vn) > 0.0L))
        return;
    // The factor is rounded to single before it scales the components.
    const float invLen = StoreSingle(1.0L / Sqrt(Ext(vn)));
    V.x = StoreSingle(Ext(V.x) * invLen);
    V.y = StoreSingle(Ext(V.y) * invLen);
    V.z = StoreSingle(Ext(V.z) * invLen);
}

TPoint3D CalcPlaneNormal(const TPoint3D& p1, const TPoint3D& p2, const TPoint3D& p3) {
    TPoint3D V1, V2, result;
    VectorSubtract(p2, p1, V1);
    VectorSubtract(p3, p1, V2);
    VectorCrossProduct(V1, V2, result);
    NormalizeVector(result);
    return result;
}

} // namespace trimeld
