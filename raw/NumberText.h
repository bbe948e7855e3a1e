#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace trimeld {

/// The longest number text FormatNumber can produce, with room to spare.
inline constexpr std::size_t cMAX_NUMBER_TEXT = 64;

/// Writes the number text of the single v into out (at least
/// cMAX_NUMBER_TEXT bytes) and returns the end of the text. decimals is the
/// count of digits after the separator (D), precision the most significant
/// digits kept (P, limited to 2..18). Exact: halves go away from zero, decided
/// on the exact value of v. ASCII apart from the separator byte.
char* FormatNumber(char* out, float v, unsigned decimals, unsigned precision,
                   char separator) noexcept;

/// The same as a string, for tests and convenience.
[[nodiscard]] std::string NumberText(float v, unsigned decimals = 6, unsigned precision = 11,
                                     char separator = '.');

namespace detail {

/// The exact decimal value of a finite, nonzero single's magnitude:
/// |v| = 0.d1 d2 ... dn × 10^exponent, with d1 nonzero and dn the last nonzero
/// digit. A single has at most 112 significant decimal digits (the largest
/// denormal).
struct TExactDecimal {
    std::array<char, 128> digits;
    int count;
    int exponent;

    [[nodiscard]] std::string_view Digits() const noexcept {
        return {digits.data(), static_cast<std::size_t>(count)};
    }
};

/// The exact decimal expansion of v; v must be finite and nonzero.
[[nodiscard]] TExactDecimal ExactDecimal(float v) noexcept;

/// FormatNumber by 64/128-bit integer arithmetic on the significand and the
/// binary exponent. Returns nullptr, writing nothing, where that arithmetic
/// cannot decide the digits; it decides every single under D = 6, P = 11.
char* FormatNumberFast(char* out, float v, unsigned decimals, unsigned precision,
                       char separator) noexcept;

/// FormatNumber by the exact decimal expansion, rounded on its digit string.
/// Slow; decides every single under every setting.
char* FormatNumberExact(char* out, float v, unsigned decimals, unsigned precision,
                        char separator) noexcept;

} // namespace detail

} // namespace trimeld
