#pragma once

#include <string_view>

namespace trimeld {

/// What TryParseDecimal gives: the value, when the text is a number.
struct TDecimalResult {
    long double value = 0;
    bool valid = false;
    explicit operator bool() const noexcept { return valid; }
};

/// Reads a decimal number into an 80-bit extended value, step by step in
/// extended arithmetic, every step rounded on its own to nearest, ties to
/// even. Deliberately not correctly rounded: a long mantissa or a large
/// scale can differ from the nearest extended value in the last bit.
///
///   number   = { " " } [ sign ] digits [ sep digits ] [ exponent ] { " " } end
///   exponent = ( "E" | "e" ) [ sign ] digits
///   digits   = { "0" .. "9" }      sign = "+" | "-"      end = end of text | U+0000
/// with at least one digit or the separator before the exponent. Only U+0020
/// counts as a blank. Exponent digits are read until their value reaches 500.
///   accepted: «1.5»  « 7 »  «+.5»  «5.»  «.» (0)  «-.» (-0)  «1e» (1)  «2.5e+2»  «1e0000000005»
///   refused:  «7\t»  «E5»  «- 1»  «1.2.3»  «0x10»  «INF»  «1,5»  «1e5000» (digits left over)
///             «1e4999» (overflows)
///
/// Computes the same whatever rounding, precision and exception masks its
/// caller has set, and leaves them as it found them. Exception flags it
/// raises stay raised where the caller masks every exception; otherwise
/// the flags are put back too, so no unmasked exception is left pending.
/// Never throws and never allocates.
[[nodiscard]] TDecimalResult TryParseDecimal(std::u16string_view text,
                                             char16_t decimalSeparator) noexcept;

/// The same over single bytes of the ANSI code page, which decodes every
/// character of the grammar to itself and no other byte to one of them: the
/// bytes of a text give exactly the result of its decoded characters.
[[nodiscard]] TDecimalResult TryParseDecimal(std::string_view text, char decimalSeparator) noexcept;

/// TryParseDecimal for a text that must be a number. Throws TTrimeldError
/// "'%s' is not a valid floating point value" with the text in place of %s.
[[nodiscard]] long double ParseDecimal(std::u16string_view text, char16_t decimalSeparator);
/// Throws the failure of ParseDecimal for text.
[[noreturn]] void RaiseNotANumber(std::u16string_view text);

/// The value rounded to the nearest single, ties to even. Throws TFloatError
/// "Floating point overflow" when a finite value rounds beyond the largest
/// finite single (its magnitude is 2^128 - 2^103 or more); values below the
/// normal range become denormals or zero of the same sign, infinities and
/// NaNs pass on.
[[nodiscard]] float StoreSingle(long double value);

} // namespace trimeld
