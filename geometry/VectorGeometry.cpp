#include "geometry/VectorGeometry.h"

#include <cmath>
#include <cstring>

namespace trimeld {
namespace detail {
namespace {

constexpr char16_t cINVALID_OP[] = u"Invalid floating point operation";
constexpr char16_t cZERO_DIVIDE[] = u"Floating point division by zero";
constexpr char16_t cOVERFLOW[] = u"Floating point overflow";

bool IsSignalling(float value) noexcept {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return std::isnan(value) && (bits & 0x00400000u) == 0;
}

} // namespace

void RaiseInvalid() { throw TFloatError(cINVALID_OP); }
void RaiseOverflow() { throw TFloatError(cOVERFLOW); }

// Loading a signalling NaN into the extended format is itself an invalid
// operation; a quiet NaN or an infinity passes on.
TExtended Widen(float value) {
    if (IsSignalling(value))
        RaiseInvalid();
    return value;
}

TExtended Add(TExtended a, TExtended b) {
    if (std::isinf(a) && std::isinf(b) && std::signbit(a) != std::signbit(b))
        RaiseInvalid();
    return a + b;
}

TExtended Sub(TExtended a, TExtended b) {
    if (std::isinf(a) && std::isinf(b) && std::signbit(a) == std::signbit(b))
        RaiseInvalid();
    return a - b;
}

TExtended Mul(TExtended a, TExtended b) {
    if ((std::isinf(a) && b == 0) || (std::isinf(b) && a == 0))
        RaiseInvalid();
    return a * b;
}

TExtended Div(TExtended a, TExtended b) {
    if (std::isnan(a) || std::isnan(b))
        return a / b;
    if (b == 0) {
        if (a == 0)
            RaiseInvalid();
        throw TFloatError(cZERO_DIVIDE);
    }
    if (std::isinf(a) && std::isinf(b))
        RaiseInvalid();
    return a / b;
}

float Store(TExtended value) {
    const auto single = static_cast<float>(value);
    if (std::isinf(single) && std::isfinite(value))
        RaiseOverflow();
    return single;
}

bool Greater(TExtended a, TExtended b) {
    if (std::isnan(a) || std::isnan(b))
        RaiseInvalid();
    return a > b;
}

} // namespace detail

using namespace detail;

void VectorSubtract(const TPoint3D& V1, const TPoint3D& V2, TPoint3D& res) {
    res.x = Store(Sub(Widen(V1.x), Widen(V2.x)));
    res.y = Store(Sub(Widen(V1.y), Widen(V2.y)));
    res.z = Store(Sub(Widen(V1.z), Widen(V2.z)));
}

void VectorCrossProduct(const TPoint3D& V1, const TPoint3D& V2, TPoint3D& vr) {
    vr.x = Store(Sub(Mul(Widen(V1.y), Widen(V2.z)), Mul(Widen(V1.z), Widen(V2.y))));
    vr.y = Store(Sub(Mul(Widen(V1.z), Widen(V2.x)), Mul(Widen(V1.x), Widen(V2.z))));
    vr.z = Store(Sub(Mul(Widen(V1.x), Widen(V2.y)), Mul(Widen(V1.y), Widen(V2.x))));
}

float VectorDotProduct(const TPoint3D& V1, const TPoint3D& V2) {
    const TExtended xy = Add(Mul(Widen(V1.x), Widen(V2.x)), Mul(Widen(V1.y), Widen(V2.y)));
    return Store(Add(xy, Mul(Widen(V1.z), Widen(V2.z))));
}

float VectorNorm(const TPoint3D& V) {
    const TExtended x = Widen(V.x), y = Widen(V.y), z = Widen(V.z);
    return Store(Add(Add(Mul(x, x), Mul(y, y)), Mul(z, z)));
}

void NormalizeVector(TPoint3D& V) {
    const float vn = VectorNorm(V);
    if (!Greater(vn, 0.0L))
        return;
    const float invLen = Store(Div(1.0L, std::sqrt(static_cast<TExtended>(vn))));
    V.x = Store(Mul(Widen(V.x), invLen));
    V.y = Store(Mul(Widen(V.y), invLen));
    V.z = Store(Mul(Widen(V.z), invLen));
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
