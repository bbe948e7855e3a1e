#include "stl/DecimalParser.h"

#include "TestSupport.h"
#include "geometry/CommonTypes.h"

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <fpu_control.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace trimeld {
namespace {

using test::Bits;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// The 80-bit pattern of an extended value, so that -0 differs from 0.
std::string ExtendedBits(long double value) {
    unsigned char bytes[10];
    std::memcpy(bytes, &value, sizeof bytes);
    char text[32];
    std::snprintf(text, sizeof text, "%02X%02X:%02X%02X%02X%02X%02X%02X%02X%02X", bytes[9],
                  bytes[8], bytes[7], bytes[6], bytes[5], bytes[4], bytes[3], bytes[2], bytes[1],
                  bytes[0]);
    return text;
}

void ExpectParses(std::u16string_view text, long double expected) {
    const TDecimalResult result = TryParseDecimal(text, u'.');
    ASSERT_TRUE(result) << "refused";
    EXPECT_EQ(ExtendedBits(result.value), ExtendedBits(expected));
}

struct TParseCase {
    std::u16string_view text;
    long double expected;
};

TEST(DecimalParser, AcceptsEveryFormOfTheGrammar) {
    const TParseCase cases[] = {
        {u"1.5", 1.5L},
        {u" 7 ", 7.0L},
        {u"+.5", 0.5L},
        {u"5.", 5.0L},
        {u".", 0.0L},
        {u"-.", -0.0L},
        {u"-0", -0.0L},
        {u"-0.0", -0.0L},
        {u"007", 7.0L},
        {u".e5", 0.0L},
        {u"  -2  ", -2.0L},
        {u"1e", 1.0L},
        {u"1E+", 1.0L},
        {u"1e-", 1.0L},
        {u"2.5e+2", 250.0L},
        {u"-1.25E-3", -0xA3D70A3D70A3D70Ap-73L},
        {u"0.1", 0xCCCCCCCCCCCCCCCDp-67L},
        {u"1e0000000005", 100000.0L}, // leading zeros keep the exponent below 500
        {u"1e499", 0xC7C265EA160544ACp+1594L},
        {u"1e500", 0xF9B2FF649B8695D7p+1597L},
        {std::u16string_view(u"1.5\0x", 5), 1.5L}, // U+0000 ends the text
    };
    for (const TParseCase& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.text));
        ExpectParses(c.text, c.expected);
    }
}

TEST(DecimalParser, ReachesBothEndsOfTheExtendedRange) {
    const std::u16string manyNines(4932, u'9');
    const std::u16string tinyFraction = u"0." + std::u16string(6000, u'0') + u"1";
    const TParseCase cases[] = {
        {u"1e4932", 0xD72CB2A95C7EF6CDp+16320L},
        {u"1.18e4932", 0xFDE7F18A68067524p+16320L},
        {manyNines, 0xD72CB2A95C7EF6CDp+16320L},
        {u"3.6e-4951", 0x1p-16445L}, // the smallest denormal
        {u"1e-4951", 0.0L},          // below half of it
        {u"1e-4999", 0.0L},
        {tinyFraction, 0.0L}, // scaled by 10^-6001: zero outright
    };
    for (const TParseCase& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.text.substr(0, 20)));
        ExpectParses(c.text, c.expected);
    }
}

TEST(DecimalParser, RoundsEachStepOnItsOwn) {
    const TParseCase cases[] = {
        {u"18446744073709551615", 0xFFFFFFFFFFFFFFFFp+0L}, // 2^64 - 1: every step exact
        {u"18446744073709551616", 0x8000000000000000p+1L},
        {u"18446744073709551617", 0x8000000000000000p+1L}, // 2^64 + 1: tie, to even
        {u"18446744073709551619", 0x8000000000000002p+1L}, // 2^64 + 3: tie, to even
        {u"36893488147419103231", 0x8000000000000000p+2L},
        // Each of these is one unit in the last place away from the nearest extended value.
        {u"1e300", 0xBF21E44003ACDD2Cp+933L},                                // nearest ends in 2D
        {u"1e-300", 0xAB70FE17C79AC6CBp-1060L},                              // nearest ends in CA
        {u"3.14159265358979323846264338327950288", 0xC90FDAA22168C236p-62L}, // nearest: 35
        {u"123456789012345678901234567890", 0xC77487FB61B9F076p+33L},        // nearest: 77
    };
    for (const TParseCase& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.text));
        ExpectParses(c.text, c.expected);
    }
}

TEST(DecimalParser, RefusesWhatIsNotANumber) {
    const std::u16string overflowingDigits = std::u16string(5000, u'9') + u"e-5200";
    const std::u16string_view cases[] = {
        u"",
        u" ",
        u"+",
        u"-",
        u"e",
        u"E5",
        u"7\t",
        u"\t7",
        u"- 1",
        u"+-1",
        u"--1",
        u"1.2.3",
        u"1,5",
        u"1 2",
        u"0x10",
        u"INF",
        u"NAN",
        u"1e5x",
        u"1.5\u00A0",
        u"\u0661",         // an Arabic-Indic digit
        u"1e5000",         // the exponent stops at 500, one digit is left over
        u"1e5001",         //
        u"1e4999",         // beyond the extended range
        u"1.19e4932",      //
        overflowingDigits, // overflows while the digits are read; the scale cannot undo it
    };
    for (const std::u16string_view text : cases) {
        SCOPED_TRACE(platform::ToUtf8(text.substr(0, 20)));
        EXPECT_FALSE(TryParseDecimal(text, u'.'));
        const std::string message =
            platform::ToUtf8(text).insert(0, 1, '\'') + "' is not a valid floating point value";
        EXPECT_THAT([&] { (void)ParseDecimal(text, u'.'); },
                    ThrowsMessage<TTrimeldError>(StrEq(message)));
    }
}

TEST(DecimalParser, NamesTheFieldInItsFailure) {
    EXPECT_THAT([] { (void)ParseDecimal(u"1.2.3", u'.'); },
                ThrowsMessage<TTrimeldError>(StrEq("'1.2.3' is not a valid floating point value")));
}

struct TStoreCase {
    std::u16string_view text;
    std::uint32_t bits;
};

TEST(DecimalParser, StoreSingleRoundsToNearestEven) {
    const TStoreCase cases[] = {
        {u"1.5", 0x3FC00000},          {u"0.1", 0x3DCCCCCD},
        {u"-0", 0x80000000},           {u"16777217", 0x4B800000}, // tie: down to the even 2^24
        {u"16777219", 0x4B800002},                                // tie: up to the even neighbour
        {u"3.4028235e38", 0x7F7FFFFF}, {u"1.17549435e-38", 0x00800000}, // the smallest normal
        {u"1e-45", 0x00000001},                                         // the smallest denormal
        {u"1e-46", 0x00000000},        {u"-1e-46", 0x80000000},
        {u"1e-300", 0x00000000},
    };
    for (const TStoreCase& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.text));
        EXPECT_EQ(Bits(StoreSingle(ParseDecimal(c.text, u'.'))), c.bits);
    }
}

TEST(DecimalParser, StoreSingleFailsBeyondTheLargestSingle) {
    const long double threshold = 0x1.ffffffp+127L; // 2^128 - 2^103
    const long double below = std::nextafter(threshold, 0.0L);
    EXPECT_EQ(Bits(StoreSingle(below)), 0x7F7FFFFFu);
    EXPECT_EQ(Bits(StoreSingle(-below)), 0xFF7FFFFFu);
    const long double overflowing[] = {
        threshold,
        -threshold,
        ParseDecimal(u"3.4028236e38", u'.'),
        ParseDecimal(u"1e39", u'.'),
        ParseDecimal(u"-1e39", u'.'),
        ParseDecimal(u"1e500", u'.'),
    };
    for (const long double value : overflowing) {
        SCOPED_TRACE(ExtendedBits(value));
        EXPECT_THAT([&] { (void)StoreSingle(value); },
                    ThrowsMessage<TFloatError>(StrEq("Floating point overflow")));
    }
    // Infinities are not rounded, so they do not overflow.
    EXPECT_TRUE(std::isinf(StoreSingle(std::numeric_limits<long double>::infinity())));
}

// Puts the given x87 control word in place, with no flag pending that an
// unmasked exception would trap on, and the default environment back afterwards.
class TFloatModes {
public:
    explicit TFloatModes(fpu_control_t control) {
        std::feclearexcept(FE_ALL_EXCEPT);
        _FPU_SETCW(control);
    }
    ~TFloatModes() { std::fesetenv(FE_DFL_ENV); }
    TFloatModes(const TFloatModes&) = delete;
    TFloatModes& operator=(const TFloatModes&) = delete;
};

TEST(DecimalParser, ComputesTheSameUnderAnyCallerModes) {
    const std::u16string_view texts[] = {
        u"0.1", u"1e38", u"1e-300", u"3.6e-4951", u"123456789012345678901234567890", u"16777219"};
    struct TExpected {
        std::string extended;
        std::uint32_t single;
    };
    std::vector<TExpected> expected;
    for (const std::u16string_view text : texts) {
        const long double value = ParseDecimal(text, u'.');
        expected.push_back({ExtendedBits(value), Bits(StoreSingle(value))});
    }

    constexpr fpu_control_t cDefault = _FPU_DEFAULT;
    const fpu_control_t modes[] = {
        (cDefault & ~_FPU_EXTENDED) | _FPU_DOUBLE, // precision cut to 53 bits
        (cDefault & ~_FPU_EXTENDED) | _FPU_SINGLE, // precision cut to 24 bits
        (cDefault & ~_FPU_RC_ZERO) | _FPU_RC_UP,   // rounding upwards
        (cDefault & ~_FPU_RC_ZERO) | _FPU_RC_ZERO, // rounding towards zero
        cDefault & ~(_FPU_MASK_OM | _FPU_MASK_UM | _FPU_MASK_PM | _FPU_MASK_IM), // traps on
    };
    for (const fpu_control_t control : modes) {
        SCOPED_TRACE(control);
        std::vector<TExpected> got;
        bool overflowRefused = false;
        fpu_control_t after = 0;
        {
            const TFloatModes scope(control);
            for (const std::u16string_view text : texts) {
                const TDecimalResult result = TryParseDecimal(text, u'.');
                got.push_back({ExtendedBits(result.value), Bits(StoreSingle(result.value))});
            }
            // With the overflow trap on, overflowing is still only a refusal.
            overflowRefused = !TryParseDecimal(u"1e4999", u'.');
            _FPU_GETCW(after);
        }
        EXPECT_EQ(after, control);
        EXPECT_TRUE(overflowRefused);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE(platform::ToUtf8(texts[i]));
            EXPECT_EQ(got[i].extended, expected[i].extended);
            EXPECT_EQ(got[i].single, expected[i].single);
        }
    }
}

TEST(DecimalParser, LeavesNoExceptionPendingWhereTheCallerTraps) {
    // A flag left raised under an unmasked exception would fire at the
    // caller's next x87 instruction.
    const TFloatModes scope(_FPU_DEFAULT & ~(_FPU_MASK_IM | _FPU_MASK_DM | _FPU_MASK_ZM |
                                             _FPU_MASK_OM | _FPU_MASK_UM | _FPU_MASK_PM));
    (void)TryParseDecimal(u"0.1", u'.');       // inexact
    (void)TryParseDecimal(u"1e4999", u'.');    // overflow
    (void)TryParseDecimal(u"3.6e-4951", u'.'); // underflow
    (void)StoreSingle(1e-300L);
    EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
}

TEST(DecimalParser, KeepsTheFlagsTheCallerRaised) {
    const TFloatModes scope(_FPU_DEFAULT);
    std::feraiseexcept(FE_DIVBYZERO);
    (void)TryParseDecimal(u"0.1", u'.');
    (void)StoreSingle(0.1L);
    EXPECT_TRUE(std::fetestexcept(FE_DIVBYZERO));
}

} // namespace
} // namespace trimeld
