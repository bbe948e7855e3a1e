#pragma once

#include "platform/Failures.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

// Arithmetic in the 80-bit extended format, rounded to single only when
// stored. Three conditions raise TFloatError, checked explicitly rather than
// trapped: an invalid operation ("Invalid floating point operation": a
// signalling NaN operand, inf - inf, 0 * inf, 0 / 0, inf / inf, the root of
// a negative number, or an ordered comparison with a NaN), a division by
// zero ("Floating point division by zero") and an overflow when a value is
// stored as a single ("Floating point overflow"). Underflow and inexact
// results never raise.
namespace trimeld {

using TExtended = long double;
static_assert(std::numeric_limits<TExtended>::digits == 64,
              "the numeric model needs the 80-bit extended format");

namespace detail {
// The checks of the operations, for operands of which one at least is not
// finite (or, for a division, a zero divisor): each raises the failure the
// operation would trap on, or returns.
void CheckWiden(float value);
void CheckAdd(TExtended a, TExtended b);
void CheckSub(TExtended a, TExtended b);
void CheckMul(TExtended a, TExtended b);
void CheckDiv(TExtended a, TExtended b);
void CheckSqrt(TExtended a);
void CheckGreater(TExtended a, TExtended b);
/// For a value whose single is not finite: "Floating point overflow" when
/// the value itself is finite.
void CheckStore(TExtended value);
[[noreturn]] void RaiseOverflow();

[[gnu::always_inline]] inline bool IsFiniteSingle(float value) noexcept {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x7F800000u) != 0x7F800000u;
}
} // namespace detail

/// An extended value that knows whether it came from finite singles only,
/// with the checked operations above. Every operation gives the plain
/// instruction's result; it is checked only when an operand may not be
/// finite. The values this type meets are singles and a handful of
/// products, sums and quotients of them, below 2^400 in magnitude and far
/// inside the extended range (2^16384), so that finite operands give a
/// finite result and only a division by zero and the root of a negative
/// number need a test besides. A value with a non-finite single among its
/// sources may itself be finite (1 / inf); it keeps taking the checks,
/// which hold for any operands.
/// Singles and extended constants convert implicitly, so that formulas read
/// as written; a double does not, so that no constant is rounded twice.
class TCheckedExtended {
public:
    /// Widens a single; a signalling NaN is an invalid operation.
    [[gnu::always_inline]] TCheckedExtended(float single)
        : knownFinite(detail::IsFiniteSingle(single)) {
        if (!knownFinite) [[unlikely]]
            detail::CheckWiden(single);
        value = single;
    }
    [[gnu::always_inline]] TCheckedExtended(TExtended extended)
        : value(extended), knownFinite(std::isfinite(extended)) {}

    [[nodiscard]] TExtended Value() const noexcept { return value; }

    [[gnu::always_inline]] friend TCheckedExtended operator+(TCheckedExtended a,
                                                             TCheckedExtended b) {
        const bool plain = a.knownFinite && b.knownFinite;
        if (!plain) [[unlikely]]
            detail::CheckAdd(a.value, b.value);
        return Result(a.value + b.value, plain);
    }
    [[gnu::always_inline]] friend TCheckedExtended operator-(TCheckedExtended a,
                                                             TCheckedExtended b) {
        const bool plain = a.knownFinite && b.knownFinite;
        if (!plain) [[unlikely]]
            detail::CheckSub(a.value, b.value);
        return Result(a.value - b.value, plain);
    }
    [[gnu::always_inline]] friend TCheckedExtended operator*(TCheckedExtended a,
                                                             TCheckedExtended b) {
        const bool plain = a.knownFinite && b.knownFinite;
        if (!plain) [[unlikely]]
            detail::CheckMul(a.value, b.value);
        return Result(a.value * b.value, plain);
    }
    [[gnu::always_inline]] friend TCheckedExtended operator/(TCheckedExtended a,
                                                             TCheckedExtended b) {
        const bool plain = a.knownFinite && b.knownFinite && b.value != 0;
        if (!plain) [[unlikely]]
            detail::CheckDiv(a.value, b.value);
        return Result(a.value / b.value, plain);
    }
    // Spelled __builtin_sqrtl: std::sqrt given a single picks its single
    // overload and rounds the root to single, std::sqrtl is missing from the
    // standard library of g++ 12, and a global sqrtl needs <math.h>. The
    // builtin is the compiler's own extended root, one fsqrt instruction;
    // its library fallback for negative operands (kept for errno) is never
    // reached, as a negative operand fails before it.
    [[gnu::always_inline]] friend TCheckedExtended Sqrt(TCheckedExtended a) {
        const bool plain = a.knownFinite && a.value >= 0;
        if (!plain) [[unlikely]]
            detail::CheckSqrt(a.value);
        return Result(__builtin_sqrtl(a.value), plain);
    }
    /// "Invalid floating point operation" when either is a NaN.
    [[gnu::always_inline]] friend bool operator>(TCheckedExtended a, TCheckedExtended b) {
        if (!(a.knownFinite && b.knownFinite)) [[unlikely]]
            detail::CheckGreater(a.value, b.value);
        return a.value > b.value;
    }
    /// Rounds to single: "Floating point overflow" when a finite value does
    /// not fit; an infinity or a NaN is stored as it is.
    [[gnu::always_inline]] friend float StoreSingle(TCheckedExtended a) {
        const auto single = static_cast<float>(a.value);
        if (!detail::IsFiniteSingle(single)) [[unlikely]] {
            // Tested apart, so that a value known finite need not be kept.
            if (a.knownFinite)
                detail::RaiseOverflow();
            detail::CheckStore(a.value);
        }
        return single;
    }

private:
    [[gnu::always_inline]] TCheckedExtended(TExtended extended, bool known) noexcept
        : value(extended), knownFinite(known) {}
    [[gnu::always_inline]] static TCheckedExtended Result(TExtended result, bool plain) noexcept {
        return {result, plain};
    }

    TExtended value;
    bool knownFinite;
};

namespace detail {
// The same operations on plain extended values, for the orientation rule.
[[nodiscard]] TExtended Add(TExtended a, TExtended b);
[[nodiscard]] TExtended Sub(TExtended a, TExtended b);
[[nodiscard]] TExtended Mul(TExtended a, TExtended b);
[[nodiscard]] TExtended Div(TExtended a, TExtended b);
/// Rounds to single; "Floating point overflow" when the result is not finite
/// but the value was.
[[nodiscard]] float Store(TExtended value);
/// a > b; "Invalid floating point operation" when either is a NaN.
[[nodiscard]] bool Greater(TExtended a, TExtended b);
} // namespace detail

} // namespace trimeld
