#include "geometry/VectorGeometry.h"

#include <cmath>
#include <cstring>

namespace trimeld {
namespace detail {
namespace {

bool IsSignalling(float value) noexcept {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return std::isnan(value) && (bits & 0x00400000u) == 0;
}

} // namespace

void RaiseInvalid() { throw TFloatError(TFloatCondition::InvalidOperation); }
void RaiseOverflow() { throw TFloatError(TFloatCondition::Overflow); }

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
        throw TFloatError(TFloatCondition::DivisionByZero);
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

namespace {

// With finite operands no product, sum or difference of singles can be an
// invalid operation or leave the extended range, so only the store needs a
// check; the checked routines serve every other case.
[[gnu::always_inline]] inline bool Finite(float value) noexcept {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x7F800000u) != 0x7F800000u;
}

[[gnu::always_inline]] inline bool Finite(const TPoint3D& p) noexcept {
    return Finite(p.x) && Finite(p.y) && Finite(p.z);
}

// Store of a finite extended value.
[[gnu::always_inline]] inline float StoreFinite(TExtended value) {
    const auto single = static_cast<float>(value);
    if (!Finite(single)) [[unlikely]]
        RaiseOverflow();
    return single;
}

} // namespace

void VectorSubtract(const TPoint3D& V1, const TPoint3D& V2, TPoint3D& res) {
    if (Finite(V1) && Finite(V2)) [[likely]] {
        res.x = StoreFinite(static_cast<TExtended>(V1.x) - V2.x);
        res.y = StoreFinite(static_cast<TExtended>(V1.y) - V2.y);
        res.z = StoreFinite(static_cast<TExtended>(V1.z) - V2.z);
        return;
    }
    res.x = Store(Sub(Widen(V1.x), Widen(V2.x)));
    res.y = Store(Sub(Widen(V1.y), Widen(V2.y)));
    res.z = Store(Sub(Widen(V1.z), Widen(V2.z)));
}

void VectorCrossProduct(const TPoint3D& V1, const TPoint3D& V2, TPoint3D& vr) {
    if (Finite(V1) && Finite(V2)) [[likely]] {
        const TExtended x1 = V1.x, y1 = V1.y, z1 = V1.z, x2 = V2.x, y2 = V2.y, z2 = V2.z;
        vr.x = StoreFinite(y1 * z2 - z1 * y2);
        vr.y = StoreFinite(z1 * x2 - x1 * z2);
        vr.z = StoreFinite(x1 * y2 - y1 * x2);
        return;
    }
    vr.x = Store(Sub(Mul(Widen(V1.y), Widen(V2.z)), Mul(Widen(V1.z), Widen(V2.y))));
    vr.y = Store(Sub(Mul(Widen(V1.z), Widen(V2.x)), Mul(Widen(V1.x), Widen(V2.z))));
    vr.z = Store(Sub(Mul(Widen(V1.x), Widen(V2.y)), Mul(Widen(V1.y), Widen(V2.x))));
}

float VectorDotProduct(const TPoint3D& V1, const TPoint3D& V2) {
    if (Finite(V1) && Finite(V2)) [[likely]] {
        const TExtended xy = static_cast<TExtended>(V1.x) * V2.x + static_cast<TExtended>(V1.y) * V2.y;
        return StoreFinite(xy + static_cast<TExtended>(V1.z) * V2.z);
    }
    const TExtended xy = Add(Mul(Widen(V1.x), Widen(V2.x)), Mul(Widen(V1.y), Widen(V2.y)));
    return Store(Add(xy, Mul(Widen(V1.z), Widen(V2.z))));
}

float VectorNorm(const TPoint3D& V) {
    if (Finite(V)) [[likely]] {
        const TExtended x = V.x, y = V.y, z = V.z;
        return StoreFinite((x * x + y * y) + z * z);
    }
    const TExtended x = Widen(V.x), y = Widen(V.y), z = Widen(V.z);
    return Store(Add(Add(Mul(x, x), Mul(y, y)), Mul(z, z)));
}

void NormalizeVector(TPoint3D& V) {
    const float vn = VectorNorm(V);
    if (!Greater(vn, 0.0L))
        return;
    if (Finite(V)) [[likely]] {
        // vn is finite and positive here: no check is due before the stores.
        const float invLen = StoreFinite(1.0L / __builtin_sqrtl(vn));
        V.x = StoreFinite(static_cast<TExtended>(V.x) * invLen);
        V.y = StoreFinite(static_cast<TExtended>(V.y) * invLen);
        V.z = StoreFinite(static_cast<TExtended>(V.z) * invLen);
        return;
    }
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
