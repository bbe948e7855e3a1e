#include "stl/DecimalParser.h"

#include "platform/Failures.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#if !defined(__x86_64__) && !defined(__i386__)
#include <cfenv>
#endif

namespace trimeld {
namespace {

static_assert(std::numeric_limits<long double>::digits == 64,
              "the decimal parser computes in the 80-bit extended format");

#include "stl/Pow10Tables.inc"

constexpr char16_t cNOT_A_NUMBER_BEGIN[] = u"'";
constexpr char16_t cNOT_A_NUMBER_END[] = u"' is not a valid floating point value";

// The smallest magnitude that rounds beyond the largest finite single:
// halfway between it (2^128 - 2^104) and 2^128, where ties go to the even 2^128.
constexpr long double cSINGLE_OVERFLOW = 0x1.ffffffp+127L;

// Exponent digits stop being read once their value reaches this.
constexpr std::int64_t cEXPONENT_LIMIT = 500;
// Scaling down by 10^5120 or more gives zero outright.
constexpr std::int64_t cZERO_SCALE = 5120;

// A number text taken apart, before any arithmetic. The text is UTF-16 or
// single bytes of the ANSI code page: every character the grammar knows is
// ASCII, and no byte from 0x80 up decodes to one.
template <typename CharT> struct TDecimalText {
    std::basic_string_view<CharT> wholeDigits;
    std::basic_string_view<CharT> fractionDigits;
    std::int64_t exponent = 0;
    bool negative = false;
    // The digits of both parts as one integer, gathered while scanning; valid
    // when there are at most 19 of them, which stay below 2^64.
    std::uint64_t digitValue = 0;
    std::size_t digitCount = 0;
};

// Up to 19 digits, every step v * 10 + d of the parser stays an integer below
// 2^64 and so is exact in extended precision: the integer is the same value.
constexpr std::size_t cEXACT_DIGITS = 19;

template <typename CharT> bool IsDigit(CharT ch) noexcept {
    return ch >= CharT('0') && ch <= CharT('9');
}

// Takes the text apart by the grammar of TryParseDecimal; false when it does not fit.
template <typename CharT>
bool ScanDecimal(std::basic_string_view<CharT> text, CharT separator,
                 TDecimalText<CharT>& number) noexcept {
    std::size_t pos = 0;
    // U+0000 is the end like the end of the text.
    const auto at = [&](std::size_t index) noexcept -> CharT {
        return index < text.size() ? text[index] : CharT(0);
    };
    const auto digitsFrom = [&](std::size_t start) noexcept {
        while (IsDigit(at(pos))) {
            number.digitValue =
                number.digitValue * 10 + static_cast<unsigned>(text[pos] - CharT('0'));
            ++pos;
        }
        number.digitCount += pos - start;
        return text.substr(start, pos - start);
    };
    while (at(pos) == CharT(' '))
        ++pos;
    if (at(pos) == CharT('+') || at(pos) == CharT('-'))
        number.negative = text[pos++] == CharT('-');
    number.wholeDigits = digitsFrom(pos);
    bool separatorSeen = false;
    if (separator != CharT(0) && at(pos) == separator) {
        separatorSeen = true;
        ++pos;
        number.fractionDigits = digitsFrom(pos);
    }
    if (number.wholeDigits.empty() && !separatorSeen)
        return false;
    if (at(pos) == CharT('E') || at(pos) == CharT('e')) {
        ++pos;
        bool negativeExponent = false;
        if (at(pos) == CharT('+') || at(pos) == CharT('-'))
            negativeExponent = text[pos++] == CharT('-');
        std::int64_t n = 0;
        while (n < cEXPONENT_LIMIT && IsDigit(at(pos)))
            n = n * 10 + (text[pos++] - CharT('0'));
        number.exponent = negativeExponent ? -n : n;
    }
    while (at(pos) == CharT(' '))
        ++pos;
    return at(pos) == CharT(0);
}

#if defined(__x86_64__) || defined(__i386__)

// The x87 unit computes long double. Its environment as FNSTENV stores it in
// 32-bit form; only the control and status words are touched here.
struct TX87Environment {
    std::uint16_t controlWord;
    std::uint16_t reserved1;
    std::uint16_t statusWord;
    std::uint16_t reserved2;
    std::uint32_t rest[5];
};
static_assert(sizeof(TX87Environment) == 28);

// Every exception masked, 64-bit precision, round to nearest.
constexpr std::uint16_t cCONTROL_MASK = 0x0F3F;
constexpr std::uint16_t cCONTROL_WANTED = 0x033F;
// The exception flags and the stack fault flag.
constexpr std::uint16_t cSTATUS_FLAGS = 0x007F;

// For its lifetime, the x87 unit rounds to nearest in full precision with
// every exception masked; afterwards its control word is what it was. When
// the caller's modes already are these, nothing is switched and the flags the
// computation raises stay raised, as after any arithmetic (clearing them
// costs more than a whole parse). When the modes had to be switched, the
// flags are put back as well, so that no exception the caller has unmasked
// is left pending. Only the control word and the flags are put back:
// restoring a whole saved environment would also restore the register
// stack's top and tags, which the computation in between has moved.
class TExtendedScope {
public:
    TExtendedScope() noexcept {
        asm volatile("fnstcw %0" : "=m"(savedControl)::"memory");
        if ((savedControl & cCONTROL_MASK) != cCONTROL_WANTED) {
            switched = true;
            asm volatile("fnstsw %0" : "=m"(savedStatus)::"memory");
            const std::uint16_t control =
                static_cast<std::uint16_t>((savedControl & ~cCONTROL_MASK) | cCONTROL_WANTED);
            asm volatile("fldcw %0" ::"m"(control) : "memory");
        }
    }
    ~TExtendedScope() {
        if (!switched)
            return;
        // The flags go back first, so that none is pending when the
        // caller's masks return.
        std::uint16_t status;
        asm volatile("fnstsw %0" : "=m"(status)::"memory");
        if (((status ^ savedStatus) & cSTATUS_FLAGS) != 0) {
            if ((savedStatus & cSTATUS_FLAGS) == 0) {
                asm volatile("fnclex" ::: "memory");
            } else {
                TX87Environment current;
                asm volatile("fnstenv %0" : "=m"(current)::"memory");
                current.statusWord = static_cast<std::uint16_t>(
                    (current.statusWord & ~cSTATUS_FLAGS) | (savedStatus & cSTATUS_FLAGS));
                asm volatile("fldenv %0" ::"m"(current) : "memory");
            }
        }
        asm volatile("fldcw %0" ::"m"(savedControl) : "memory");
    }
    TExtendedScope(const TExtendedScope&) = delete;
    TExtendedScope& operator=(const TExtendedScope&) = delete;

private:
    std::uint16_t savedControl = 0;
    std::uint16_t savedStatus = 0;
    bool switched = false;
};

#else

class TExtendedScope {
public:
    TExtendedScope() noexcept {
        std::feholdexcept(&saved);
        std::fesetround(FE_TONEAREST);
    }
    ~TExtendedScope() { std::fesetenv(&saved); }
    TExtendedScope(const TExtendedScope&) = delete;
    TExtendedScope& operator=(const TExtendedScope&) = delete;

private:
    std::fenv_t saved;
};

#endif

// Makes the compiler take value as read and rewritten at this point. Pinning
// the inputs and the results of the arithmetic inside a TExtendedScope keeps
// every operation between its edges, where the modes are fixed.
template <typename T> void Pin(T& value) noexcept {
    asm volatile("" : "+m"(value));
}

// The arithmetic on a number text taken apart; call it inside a TExtendedScope.
template <typename CharT>
bool Evaluate(const TDecimalText<CharT>& number, long double& value) noexcept {
    // v := v * 10, then v := v + d, each rounded. While v is an integer below
    // 2^64 both steps are exact, so an integer accumulator gives the same
    // value until the first step that could round.
    constexpr std::uint64_t cMAX_WHOLE = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t whole = 0;
    long double v = 0;
    bool exact = true;
    const auto take = [&](CharT ch) noexcept {
        const unsigned digit = static_cast<unsigned>(ch - CharT('0'));
        if (exact) {
            if (whole < cMAX_WHOLE / 10 || whole <= (cMAX_WHOLE - digit) / 10) {
                whole = whole * 10 + digit;
                return;
            }
            exact = false;
            v = static_cast<long double>(whole);
        }
        v = v * 10.0L;
        v = v + static_cast<long double>(digit);
    };
    if (number.digitCount <= cEXACT_DIGITS) {
        v = static_cast<long double>(number.digitValue);
    } else {
        for (const CharT ch : number.wholeDigits)
            take(ch);
        for (const CharT ch : number.fractionDigits)
            take(ch);
        if (exact)
            v = static_cast<long double>(whole);
    }
    if (std::isinf(v))
        return false; // an infinity stays one through every later step

    const std::int64_t scale =
        number.exponent - static_cast<std::int64_t>(number.fractionDigits.size());
    if (scale > 0) {
        const auto e = static_cast<std::uint64_t>(scale);
        v = v * cPOW10_UNITS[e % 32];
        if ((e / 32) % 16 != 0)
            v = v * cPOW10_THIRTYTWOS[(e / 32) % 16];
        if (e / 512 != 0)
            v = v * cPOW10_FIVEHUNDREDTWELVES[e / 512];
        if (std::isinf(v))
            return false;
    } else if (scale <= -cZERO_SCALE) {
        v = 0;
    } else if (scale < 0) {
        const auto e = static_cast<std::uint64_t>(-scale);
        v = v / cPOW10_UNITS[e % 32];
        if ((e / 32) % 16 != 0)
            v = v / cPOW10_THIRTYTWOS[(e / 32) % 16];
        if (e / 512 != 0)
            v = v / cPOW10_FIVEHUNDREDTWELVES[e / 512];
    }
    if (number.negative)
        v = -v;
    value = v;
    return true;
}

// The value and whether the text is a number, without a result record: a
// record written field by field and read back whole stalls the processor.
template <typename CharT>
bool ParseInto(std::basic_string_view<CharT> text, CharT decimalSeparator,
               long double& value) noexcept {
    TDecimalText<CharT> number;
    if (!ScanDecimal(text, decimalSeparator, number))
        return false;
    const TExtendedScope scope;
    Pin(number);
    const bool valid = Evaluate(number, value);
    Pin(value);
    return valid;
}

} // namespace

TDecimalResult TryParseDecimal(std::u16string_view text, char16_t decimalSeparator) noexcept {
    TDecimalResult result;
    result.valid = ParseInto(text, decimalSeparator, result.value);
    return result;
}

TDecimalResult TryParseDecimal(std::string_view text, char decimalSeparator) noexcept {
    TDecimalResult result;
    result.valid = ParseInto(text, decimalSeparator, result.value);
    return result;
}

long double ParseDecimal(std::u16string_view text, char16_t decimalSeparator) {
    long double value = 0;
    if (!ParseInto(text, decimalSeparator, value))
        RaiseNotANumber(text);
    return value;
}

void RaiseNotANumber(std::u16string_view text) {
    throw TTrimeldError(cNOT_A_NUMBER_BEGIN + std::u16string(text) + cNOT_A_NUMBER_END);
}

float StoreSingle(long double value) {
    bool overflow = false;
    float single = 0;
    {
        // Even the comparisons stay inside: a denormal operand may trap under
        // the caller's masks.
        const TExtendedScope scope;
        Pin(value);
        overflow = std::isfinite(value) && std::fabs(value) >= cSINGLE_OVERFLOW;
        if (!overflow)
            single = static_cast<float>(value);
        Pin(overflow);
        Pin(single);
    }
    if (overflow)
        throw TFloatError(TFloatCondition::Overflow);
    return single;
}

} // namespace trimeld
