#include "geometry/Extended.h"

namespace trimeld {
namespace detail {
namespace {

[[noreturn]] void RaiseInvalid() {
    throw TFloatError(TFloatCondition::InvalidOperation);
}

} // namespace

// Loading a signalling NaN into the extended format is itself an invalid
// operation; a quiet NaN or an infinity passes on.
void CheckWiden(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    if (std::isnan(value) && (bits & 0x00400000u) == 0)
        RaiseInvalid();
}

void CheckAdd(TExtended a, TExtended b) {
    if (std::isinf(a) && std::isinf(b) && std::signbit(a) != std::signbit(b))
        RaiseInvalid();
}

void CheckSub(TExtended a, TExtended b) {
    if (std::isinf(a) && std::isinf(b) && std::signbit(a) == std::signbit(b))
        RaiseInvalid();
}

void CheckMul(TExtended a, TExtended b) {
    if ((std::isinf(a) && b == 0) || (std::isinf(b) && a == 0))
        RaiseInvalid();
}

// A NaN operand passes on before the divisor is looked at.
void CheckDiv(TExtended a, TExtended b) {
    if (std::isnan(a) || std::isnan(b))
        return;
    if (b == 0) {
        if (a == 0)
            RaiseInvalid();
        throw TFloatError(TFloatCondition::DivisionByZero);
    }
    if (std::isinf(a) && std::isinf(b))
        RaiseInvalid();
}

// A NaN passes on; -0 is its own root.
void CheckSqrt(TExtended a) {
    if (a < 0)
        RaiseInvalid();
}

void CheckGreater(TExtended a, TExtended b) {
    if (std::isnan(a) || std::isnan(b))
        RaiseInvalid();
}

void RaiseOverflow() {
    throw TFloatError(TFloatCondition::Overflow);
}

void CheckStore(TExtended value) {
    if (std::isfinite(value))
        RaiseOverflow();
}

TExtended Add(TExtended a, TExtended b) {
    CheckAdd(a, b);
    return a + b;
}

TExtended Sub(TExtended a, TExtended b) {
    CheckSub(a, b);
    return a - b;
}

TExtended Mul(TExtended a, TExtended b) {
    CheckMul(a, b);
    return a * b;
}

TExtended Div(TExtended a, TExtended b) {
    CheckDiv(a, b);
    return a / b;
}

float Store(TExtended value) {
    const auto single = static_cast<float>(value);
    if (!IsFiniteSingle(single))
        CheckStore(value);
    return single;
}

bool Greater(TExtended a, TExtended b) {
    CheckGreater(a, b);
    return a > b;
}

} // namespace detail
} // namespace trimeld
