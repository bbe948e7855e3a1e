#include "raw/NumberText.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>

// The number rule, for a single v with D decimals and P significant digits:
//
// 1. P' := P limited to 2..18.
// 2. NaN gives "NAN" whatever its sign bit; +inf gives "INF", -inf "-INF".
// 3. Zero of either sign gives the zero text (step 8).
// 4. E := the decimal exponent of v: 10^(E-1) <= |v| < 10^E.
// 5. p := min(E + D, P'), the significant digits kept.
// 6. R := |v| rounded to a multiple of 10^(E-p), halves away from zero, decided
//    on the exact value; R = 0 when p < 0. R = 0 gives the zero text, unsigned.
//    A carry to R = 10^E makes E := E + 1.
// 7. E <= P': fixed layout. "-" if v < 0, the integer part of R ("0" below 1),
//    and if D > 0 the separator and the first min(D, 18) fraction digits.
//    E > P': scientific layout. "-" if v < 0, the first digit of R, the
//    separator and the further digits up to the last nonzero one (if any),
//    "E" and E - 1 unsigned, zero-padded to D digits when D <= 4.
// 8. The zero text: "0", and if D > 0 the separator and min(D, 18) zeros.
//
// Two routes compute R. The fast one scales the significand by a power of ten
// and a power of two in 64/128-bit integers, so the bits shifted out decide
// the halfway case exactly; the exact one expands the single into all of its
// decimal digits and rounds that digit string. Both hand R as a digit string
// with its exponent to one layout step.

namespace trimeld {

namespace {

// GCC and Clang on 64-bit targets.
__extension__ typedef unsigned __int128 TUint128;

inline constexpr int cMAX_PRECISION = 18;
// Every D from here on gives the same text (p is capped by P' for all
// singles, at most 18 fraction digits are shown, no exponent padding); the
// cap keeps E + D far from overflow for any unsigned argument.
inline constexpr unsigned cMAX_DECIMALS = 255;

constexpr std::array<TUint128, 39> MakePowers10() {
    std::array<TUint128, 39> powers{};
    TUint128 p = 1;
    for (auto& entry : powers) {
        entry = p;
        p *= 10;
    }
    return powers;
}

// 10^0 .. 10^38; 10^38 < 2^127.
constexpr std::array<TUint128, 39> cPOW10 = MakePowers10();

constexpr std::array<std::uint64_t, 20> MakePowers10x64() {
    std::array<std::uint64_t, 20> powers{};
    for (std::size_t i = 0; i < powers.size(); ++i)
        powers[i] = static_cast<std::uint64_t>(cPOW10[i]);
    return powers;
}

// 10^0 .. 10^19 in 64 bits.
constexpr std::array<std::uint64_t, 20> cPOW10_64 = MakePowers10x64();

constexpr char cDIGIT_PAIRS[] = "00010203040506070809"
                                "10111213141516171819"
                                "20212223242526272829"
                                "30313233343536373839"
                                "40414243444546474849"
                                "50515253545556575859"
                                "60616263646566676869"
                                "70717273747576777879"
                                "80818283848586878889"
                                "90919293949596979899";

struct TSettings {
    int decimals;  // D, at most cMAX_DECIMALS
    int precision; // P'
    char separator;
};

TSettings MakeSettings(unsigned decimals, unsigned precision, char separator) noexcept {
    return {static_cast<int>(std::min(decimals, cMAX_DECIMALS)),
            static_cast<int>(std::clamp(precision, 2u, static_cast<unsigned>(cMAX_PRECISION))),
            separator};
}

// |v| = significand × 2^exponent.
struct TSingleParts {
    bool negative;
    std::uint32_t significand;
    int exponent;
};

TSingleParts Decompose(float v) noexcept {
    const auto bits = std::bit_cast<std::uint32_t>(v);
    const auto biased = static_cast<int>((bits >> 23) & 0xFF);
    const std::uint32_t fraction = bits & 0x7FFFFF;
    if (biased == 0)
        return {(bits >> 31) != 0, fraction, -149};
    return {(bits >> 31) != 0, fraction | 0x800000, biased - 150};
}

char* WriteText(char* out, std::string_view text) noexcept {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

char* WriteZeroText(char* out, const TSettings& s) noexcept {
    *out++ = '0';
    if (s.decimals > 0) {
        *out++ = s.separator;
        const int count = std::min(s.decimals, cMAX_PRECISION);
        std::memset(out, '0', static_cast<std::size_t>(count));
        out += count;
    }
    return out;
}

// NaN, infinities and zeros, which both routes treat alike; nullptr for every
// other value.
char* WriteSpecial(char* out, float v, const TSettings& s) noexcept {
    const auto bits = std::bit_cast<std::uint32_t>(v);
    if ((bits & 0x7F800000) == 0x7F800000) {
        if ((bits & 0x7FFFFF) != 0)
            return WriteText(out, "NAN"); // never signed
        return WriteText(out, (bits >> 31) != 0 ? "-INF" : "INF");
    }
    if ((bits & 0x7FFFFFFF) == 0)
        return WriteZeroText(out, s);
    return nullptr;
}

// R's significant digits inside a field of '0's, so that every digit position
// of the fixed layout can be read without bounds checks: the digits start at
// Digits(), with cMAX_PRECISION zeros before them and enough after them for
// fixed-size copies of cMAX_PRECISION bytes.
struct TDigitBuffer {
    std::array<char, 64> bytes;

    TDigitBuffer() noexcept { bytes.fill('0'); }
    char* Digits() noexcept { return bytes.data() + cMAX_PRECISION; }
};

// Lays out R = 0.d1 d2 ... × 10^exponent, with the digits (first one nonzero,
// at most cMAX_PRECISION + 1) in buffer and count of them significant.
// Inlined by force, as is BelowPow10: GCC keeps both out of line otherwise,
// which costs the fast route about a tenth of its time.
[[gnu::always_inline]] inline char* WriteLayout(char* out, bool negative, TDigitBuffer& buffer,
                                                int count, int exponent,
                                                const TSettings& s) noexcept {
    const char* digits = buffer.Digits();
    *out = '-';
    out += negative ? 1 : 0;
    if (exponent <= s.precision) {
        // Copies are always cMAX_PRECISION bytes long and the pointer moves on
        // by the real length: both the output (cMAX_NUMBER_TEXT) and the buffer
        // have room, and fixed-size copies avoid calls and branches.
        if (exponent <= 0) {
            *out++ = '0';
        } else {
            std::memcpy(out, digits, cMAX_PRECISION); // zeros beyond count
            out += exponent;
        }
        if (s.decimals > 0) {
            *out++ = s.separator;
            // Fraction digit i (from 0) is digit exponent + i of R; below
            // exponent -cMAX_PRECISION all shown fraction digits are zero.
            std::memcpy(out, digits + std::max(exponent, -cMAX_PRECISION), cMAX_PRECISION);
            out += std::min(s.decimals, cMAX_PRECISION);
        }
        return out;
    }
    *out++ = digits[0];
    int significant = count;
    while (significant > 1 && digits[significant - 1] == '0')
        --significant;
    if (significant > 1) {
        *out++ = s.separator;
        std::memcpy(out, digits + 1, static_cast<std::size_t>(significant - 1));
        out += significant - 1;
    }
    *out++ = 'E';
    // exponent > P' >= 2, so the printed exponent is positive and below 100.
    const int printed = exponent - 1;
    const int width = std::max(s.decimals <= 4 ? s.decimals : 0, printed >= 10 ? 2 : 1);
    for (int i = width; i > 2; --i)
        *out++ = '0';
    if (width >= 2)
        *out++ = static_cast<char>('0' + printed / 10);
    *out++ = static_cast<char>('0' + printed % 10);
    return out;
}

// ---- Fast route ---------------------------------------------------------

// Whether significand × 2^exponent < 10^k; nullopt where 128 bits do not
// suffice to tell.
[[gnu::always_inline]] inline std::optional<bool> BelowPow10(std::uint32_t significand,
                                                             int exponent, int k) noexcept {
    if (k >= 39)
        return true; // every single is below 2^128 < 10^39
    if (k >= 0) {
        if (exponent >= 0)
            return (TUint128{significand} << exponent) < cPOW10[k];
        // For an integer bound, x < 10^k exactly when floor(x) < 10^k.
        const std::uint32_t whole = exponent <= -24 ? 0 : significand >> -exponent;
        return whole < cPOW10[k];
    }
    if (exponent >= 0)
        return false; // |v| >= 1
    const int t = -k;
    if (t >= 45)
        return false; // every nonzero single is at least 2^-149 > 10^-45
    if (t > 30)
        return std::nullopt;
    // |v| < 10^-t  <=>  significand × 10^t < 2^-exponent; the product is below 2^124.
    const TUint128 scaled = TUint128{significand} * cPOW10[t];
    const int shift = -exponent;
    return shift >= 124 || scaled < (TUint128{1} << shift);
}

std::optional<int> DecimalExponent(std::uint32_t significand, int exponent) noexcept {
    // 2^(b-1) <= |v| < 2^b, so E is e0 or e0 + 1 with 10^(e0-1) <= 2^(b-1).
    const int b = static_cast<int>(std::bit_width(significand)) + exponent;
    const int e0 = (((b - 1) * 78913) >> 18) + 1; // floor((b-1) log10 2) + 1
    const auto below = BelowPow10(significand, exponent, e0);
    if (!below)
        return std::nullopt;
    return *below ? e0 : e0 + 1;
}

// significand × 2^exponent / 10^scale rounded half up, for a result known to
// stay at or below 10^18; nullopt where 128 bits do not suffice.
std::optional<std::uint64_t> RoundScaled(std::uint32_t significand, int exponent,
                                         int scale) noexcept {
    if (scale <= 0) {
        const int k = -scale;
        // An integer times a power of ten: nothing to round. (|v| >= 2^23
        // here, so k <= 11.)
        if (exponent >= 0)
            return static_cast<std::uint64_t>((TUint128{significand} * cPOW10[k]) << exponent);
        const int shift = -exponent;
        if (k <= 11) {
            // The common case in 64 bits: the product stays below 2^61.
            const std::uint64_t x = std::uint64_t{significand} * cPOW10_64[k];
            if (shift >= 62)
                return 0;
            // The last bit shifted out is the half: adding it rounds half up.
            return ((x >> (shift - 1)) + 1) >> 1;
        }
        if (k > 30)
            return std::nullopt;
        const TUint128 x = TUint128{significand} * cPOW10[k]; // below 2^124
        if (shift >= 125)
            return 0;
        return static_cast<std::uint64_t>(((x >> (shift - 1)) + 1) >> 1);
    }
    if (exponent >= 0) {
        const TUint128 x = TUint128{significand} << exponent;
        const TUint128 divisor = cPOW10[scale];
        const TUint128 quotient = x / divisor;
        const TUint128 remainder = x - quotient * divisor;
        return static_cast<std::uint64_t>(quotient + (remainder >= divisor - remainder ? 1 : 0));
    }
    // Here 10^scale <= |v| < 2^24, so scale <= 7 and -exponent <= 23.
    const int shift = -exponent;
    const std::uint64_t divisor = cPOW10_64[scale] << shift;
    const std::uint64_t quotient = significand / divisor;
    const std::uint64_t remainder = significand - quotient * divisor;
    return quotient + (remainder >= divisor - remainder ? 1 : 0);
}

// The count of decimal digits of n, 0 < n < 10^19.
int DigitCount(std::uint64_t n) noexcept {
    // bit_width × log10(2) undershoots the count by at most one.
    const int guess = (static_cast<int>(std::bit_width(n)) * 1233) >> 12;
    return guess + (n >= cPOW10_64[guess] ? 1 : 0);
}

// Writes the four digits of x < 10^4, leading zeros included.
void WriteFour(char* out, std::uint32_t x) noexcept {
    std::memcpy(out, cDIGIT_PAIRS + 2 * (x / 100), 2);
    std::memcpy(out + 2, cDIGIT_PAIRS + 2 * (x % 100), 2);
}

// Writes the decimal digits of n (0 < n < 10^19) into buffer; returns the count.
int WriteDigits(char* buffer, std::uint64_t n) noexcept {
    const int count = DigitCount(n);
    char* end = buffer + count;
    // Eight digits at a time in 32-bit halves that do not depend on each other.
    while (n >= 100'000'000) {
        const auto low = static_cast<std::uint32_t>(n % 100'000'000);
        n /= 100'000'000;
        end -= 8;
        WriteFour(end, low / 10'000);
        WriteFour(end + 4, low % 10'000);
    }
    auto rest = static_cast<std::uint32_t>(n);
    while (rest >= 100) {
        end -= 2;
        std::memcpy(end, cDIGIT_PAIRS + 2 * (rest % 100), 2);
        rest /= 100;
    }
    if (rest >= 10) {
        end -= 2;
        std::memcpy(end, cDIGIT_PAIRS + 2 * rest, 2);
    } else {
        *--end = static_cast<char>('0' + rest);
    }
    return count;
}

inline constexpr int cDEFAULT_DECIMALS = 6;

// The fixed layout of R millionths: the integer part without leading zeros
// ("0" below one), the separator, six digits. The divisors are constants, so
// no division instruction is needed.
char* WriteMillionths(char* out, bool negative, std::uint64_t units, char separator) noexcept {
    *out = '-';
    out += negative ? 1 : 0;
    const std::uint64_t whole = units / 1'000'000;
    auto fraction = static_cast<std::uint32_t>(units - whole * 1'000'000);
    if (whole == 0)
        *out++ = '0';
    else
        out += WriteDigits(out, whole);
    *out++ = separator;
    std::memcpy(out, cDIGIT_PAIRS + 2 * (fraction / 10'000), 2);
    fraction %= 10'000;
    std::memcpy(out + 2, cDIGIT_PAIRS + 2 * (fraction / 100), 2);
    std::memcpy(out + 4, cDIGIT_PAIRS + 2 * (fraction % 100), 2);
    return out + 6;
}

// ---- Exact route --------------------------------------------------------

// A nonnegative integer in base 10^9, least significant limb first; large
// enough for 2^24 × 5^149 (112 digits) and for 2^128.
class TBigDecimal {
public:
    explicit TBigDecimal(std::uint32_t value) noexcept { limbs[0] = value; } // value < 10^9

    // factor < 10^9, so each carry fits in one limb.
    void Multiply(std::uint32_t factor) noexcept {
        std::uint64_t carry = 0;
        for (int i = 0; i < used; ++i) {
            const std::uint64_t product = std::uint64_t{limbs[i]} * factor + carry;
            limbs[i] = static_cast<std::uint32_t>(product % cBASE);
            carry = product / cBASE;
        }
        if (carry != 0)
            limbs[used++] = static_cast<std::uint32_t>(carry);
    }

    // Writes all digits without leading zeros; returns the count.
    int Write(char* out) const noexcept {
        char head[10];
        const int headCount = WriteDigits(head, limbs[used - 1]);
        std::memcpy(out, head, static_cast<std::size_t>(headCount));
        int count = headCount;
        for (int i = used - 2; i >= 0; --i) {
            std::uint32_t limb = limbs[i];
            for (int j = 8; j >= 0; --j) {
                out[count + j] = static_cast<char>('0' + limb % 10);
                limb /= 10;
            }
            count += 9;
        }
        return count;
    }

private:
    static constexpr std::uint64_t cBASE = 1'000'000'000;
    std::array<std::uint32_t, 14> limbs{};
    int used = 1;
};

} // namespace

namespace detail {

TExactDecimal ExactDecimal(float v) noexcept {
    const TSingleParts parts = Decompose(v);
    TBigDecimal value(parts.significand);
    int pointShift = 0; // |v| = value / 10^pointShift
    if (parts.exponent >= 0) {
        for (int left = parts.exponent; left > 0; left -= 29)
            value.Multiply(std::uint32_t{1} << std::min(left, 29));
    } else {
        // 2^-k = 5^k / 10^k
        pointShift = -parts.exponent;
        for (int left = pointShift; left > 0; left -= 12) {
            std::uint32_t factor = 1;
            for (int i = std::min(left, 12); i > 0; --i)
                factor *= 5;
            value.Multiply(factor);
        }
    }
    TExactDecimal result{};
    const int written = value.Write(result.digits.data());
    result.exponent = written - pointShift;
    result.count = written;
    while (result.digits[result.count - 1] == '0')
        --result.count;
    return result;
}

char* FormatNumberFast(char* out, float v, unsigned decimals, unsigned precision,
                       char separator) noexcept {
    const TSettings s = MakeSettings(decimals, precision, separator);
    if (char* end = WriteSpecial(out, v, s))
        return end;
    const TSingleParts parts = Decompose(v);

    // p = min(E + D, P') makes the rounding unit 10^max(-D, E - P'): E itself
    // is needed only where the P' limit is the one that binds.
    const auto fixedUnit = BelowPow10(parts.significand, parts.exponent, s.precision - s.decimals);
    if (!fixedUnit)
        return nullptr;
    if (*fixedUnit && s.decimals == cDEFAULT_DECIMALS) {
        // The writer's own setting, and with it every |v| < 10^(P' - 6): R
        // counts millionths, and the fixed layout shows exactly its digits.
        const auto n = RoundScaled(parts.significand, parts.exponent, -cDEFAULT_DECIMALS);
        if (!n)
            return nullptr;
        if (*n == 0)
            return WriteZeroText(out, s);
        return WriteMillionths(out, parts.negative, *n, s.separator);
    }
    int scale = -s.decimals;
    if (!*fixedUnit) {
        const auto exponent = DecimalExponent(parts.significand, parts.exponent);
        if (!exponent)
            return nullptr;
        scale = *exponent - s.precision;
    }
    const auto n = RoundScaled(parts.significand, parts.exponent, scale);
    if (!n)
        return nullptr;
    if (*n == 0)
        return WriteZeroText(out, s);
    TDigitBuffer digits;
    const int count = WriteDigits(digits.Digits(), *n);
    // A carry shows here as one more digit, raising E by itself.
    return WriteLayout(out, parts.negative, digits, count, count + scale, s);
}

char* FormatNumberExact(char* out, float v, unsigned decimals, unsigned precision,
                        char separator) noexcept {
    const TSettings s = MakeSettings(decimals, precision, separator);
    if (char* end = WriteSpecial(out, v, s))
        return end;
    const TExactDecimal exact = ExactDecimal(v);
    int exponent = exact.exponent;
    const int kept = std::min(exponent + s.decimals, s.precision);
    if (kept < 0)
        return WriteZeroText(out, s);

    TDigitBuffer buffer;
    char* digits = buffer.Digits();
    std::memcpy(digits, exact.digits.data(), static_cast<std::size_t>(std::min(kept, exact.count)));
    int count = kept;
    // The first dropped digit alone decides: 5 or more is at least half, and
    // exactly half goes up as well.
    if (kept < exact.count && exact.digits[kept] >= '5') {
        int i = kept - 1;
        while (i >= 0 && digits[i] == '9')
            digits[i--] = '0';
        if (i >= 0) {
            ++digits[i];
        } else { // all nines, or nothing kept: R = 10^E
            digits[0] = '1';
            count = 1;
            ++exponent;
        }
    } else if (kept == 0) {
        return WriteZeroText(out, s);
    }
    return WriteLayout(out, Decompose(v).negative, buffer, count, exponent, s);
}

} // namespace detail

char* FormatNumber(char* out, float v, unsigned decimals, unsigned precision,
                   char separator) noexcept {
    if (char* end = detail::FormatNumberFast(out, v, decimals, precision, separator))
        return end;
    return detail::FormatNumberExact(out, v, decimals, precision, separator);
}

std::string NumberText(float v, unsigned decimals, unsigned precision, char separator) {
    char buffer[cMAX_NUMBER_TEXT];
    return {buffer, FormatNumber(buffer, v, decimals, precision, separator)};
}

} // namespace trimeld
