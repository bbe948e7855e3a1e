#include "raw/NumberText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace trimeld {
namespace {

float FromBits(std::uint32_t bits) {
    return std::bit_cast<float>(bits);
}

struct Case {
    float value;
    unsigned decimals;
    unsigned precision;
    const char* expected;
};

void ExpectTexts(std::span<const Case> cases, char separator = '.') {
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hexfloat << c.value << " D=" << c.decimals << " P=" << c.precision);
        EXPECT_EQ(NumberText(c.value, c.decimals, c.precision, separator), c.expected);
        // The exact route must agree on every row, whichever route FormatNumber took.
        char buffer[cMAX_NUMBER_TEXT];
        char* end = detail::FormatNumberExact(buffer, c.value, c.decimals, c.precision, separator);
        EXPECT_EQ(std::string(buffer, end), c.expected);
    }
}

TEST(NumberText, WritesCoordinatesWithDefaults) {
    const Case cases[] = {
        {0.0f, 6, 11, "0.000000"},
        {-0.0f, 6, 11, "0.000000"},
        {1.0f, 6, 11, "1.000000"},
        {-2.5f, 6, 11, "-2.500000"},
        {0.1f, 6, 11, "0.100000"},
        {-0.1f, 6, 11, "-0.100000"},
        {12345.6789f, 6, 11, "12345.678711"}, // 12345.6787109375
        {1.0078125f, 6, 11, "1.007813"},      // exact; halfway at the seventh decimal
        {-1.0078125f, 6, 11, "-1.007813"},
        {0.0078125f, 6, 11, "0.007813"},
        {99999.99f, 6, 11, "99999.992188"},       // 99999.9921875
        {0x1.fffffep-1f, 6, 11, "1.000000"},      // 0.99999994
        {1234567.89f, 6, 11, "1234567.875000"},   // 1234567.875
        {123456.7f, 6, 11, "123456.703130"},      // 123456.703125: halfway at the 11th digit
        {100000.015625f, 6, 11, "100000.015630"}, // exact
        {1e11f, 6, 11, "99999997952.000000"},     // 99999997952
        {1.1e11f, 6, 11, "1.0999999693E11"},      // 109999996928
        {1e12f, 6, 11, "9.999999959E11"},         // 999999995904
        {3.4e38f, 6, 11, "3.3999999521E38"},      // 3.39999995214436...e38
        {6e-7f, 6, 11, "0.000001"},
        {-6e-7f, 6, 11, "-0.000001"},
        {5e-7f, 6, 11, "0.000000"},  // 4.99999998737...e-7: just below the half
        {-4e-7f, 6, 11, "0.000000"}, // rounds to zero, so no sign
        {-1e-9f, 6, 11, "0.000000"},
    };
    ExpectTexts(cases);
}

TEST(NumberText, FollowsOtherSettings) {
    const Case cases[] = {
        {12345.678f, 2, 4, "1.235E04"},
        {123.456f, 2, 4, "123.50"},
        {2.5f, 0, 11, "3"},
        {0.4f, 0, 11, "0"},
        {-0.6f, 0, 11, "-1"},
        {12345.678f, 0, 4,
         "1.235E4"}, // the separator appears in the scientific layout even with D = 0
        {0.015625f, 4, 11, "0.0156"},
    };
    ExpectTexts(cases);
}

TEST(NumberText, WritesNanAndInfinitiesAlike) {
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {std::numeric_limits<float>::quiet_NaN(), 6, 11, "NAN"},
        {FromBits(0xFFC00000), 6, 11, "NAN"}, // sign bit set
        {FromBits(0xFF800001), 0, 2, "NAN"},  // signalling payload, sign bit set
        {inf, 6, 11, "INF"},
        {-inf, 6, 11, "-INF"},
        {inf, 0, 2, "INF"},
        {-inf, 255, 255, "-INF"},
    };
    ExpectTexts(cases);
}

TEST(NumberText, ZeroTextHasNoSignAndAtMostEighteenZeros) {
    const Case cases[] = {
        {-0.0f, 0, 11, "0"},
        {-0.0f, 1, 11, "0.0"},
        {0.0f, 18, 18, "0.000000000000000000"},
        {-0.0f, 19, 18, "0.000000000000000000"},
        {0.0f, 255, 255, "0.000000000000000000"},
        {-0.4f, 0, 11, "0"},
        {-0.04f, 1, 11, "0.0"},
        {-0x1p-149f, 6, 11, "0.000000"},
        {-0x1p-149f, 44, 18, "0.000000000000000000"}, // p = 0 and 1.4e-45 is below half of 1e-44
    };
    ExpectTexts(cases);
}

TEST(NumberText, RoundsHalfAwayFromZero) {
    const Case cases[] = {
        {0.5f, 0, 11, "1"},
        {-0.5f, 0, 11, "-1"},
        {1.5f, 0, 11, "2"},
        {2.5f, 0, 11, "3"}, // not to even
        {0.125f, 2, 11, "0.13"},
        {-0.125f, 2, 11, "-0.13"},
        {65536.0078125f, 6, 11, "65536.007813"},
        {0x1.01fffep0f, 6, 11, "1.007812"}, // the single below 1.0078125
        {0x1.020002p0f, 6, 11, "1.007813"}, // the single above it
        {0.05f, 1, 11, "0.1"},              // 0.0500000007...: p = 0, at least half of 0.1
        {0.04f, 1, 11, "0.0"},
    };
    ExpectTexts(cases);
}

TEST(NumberText, CarryRaisesExponent) {
    const Case cases[] = {
        {0x1.fffffep-1f, 6, 11, "1.000000"},
        {0x1.fffffep-1f, 0, 11, "1"},
        {0x1.3ffffep3f, 5, 11, "10.00000"}, // 9.99999905
        {999.96f, 2, 4, "1000.00"},         // E = 4 = P' stays fixed
        {9999.6f, 2, 4, "1E04"},            // E = 5 > P' turns scientific
        {9999.6f, 6, 4, "1E4"},
        {0.6f, 0, 11, "1"},
    };
    ExpectTexts(cases);
}

TEST(NumberText, ScientificLayoutDropsTrailingZerosAndPadsExponentForFewDecimals) {
    const Case cases[] = {
        {10000.0f, 0, 2, "1E4"},
        {10000.0f, 1, 2, "1E4"},
        {10000.0f, 2, 2, "1E04"},
        {10000.0f, 3, 2, "1E004"},
        {10000.0f, 4, 2, "1E0004"},
        {10000.0f, 5, 2, "1E4"},
        {10000.0f, 255, 2, "1E4"},
        {0x1p40f, 6, 11, "1.0995116278E12"},
        {0x1p40f, 3, 11, "1.0995116278E012"},
        {-0x1p40f, 6, 11, "-1.0995116278E12"},
        {0x1p59f, 6, 18, "576460752303423488.000000"}, // 18 integer digits: still fixed
        {0x1p60f, 6, 18, "1.15292150460684698E18"},
    };
    ExpectTexts(cases);
}

TEST(NumberText, WritesLargestSingle) {
    const float largest = std::numeric_limits<float>::max(); // 3.4028234663852886e38
    const Case cases[] = {
        {largest, 6, 11, "3.4028234664E38"},
        {-largest, 6, 11, "-3.4028234664E38"},
        {largest, 6, 18, "3.4028234663852886E38"}, // ...8859|8 rounds up, and the 0 is dropped
        {largest, 0, 2, "3.4E38"},
        {largest, 4, 2, "3.4E0038"},
    };
    ExpectTexts(cases);
}

TEST(NumberText, ClampsPrecisionToTwoThroughEighteen) {
    const Case cases[] = {
        {123.456f, 2, 0, "1.2E02"},
        {123.456f, 2, 1, "1.2E02"},
        {123.456f, 2, 2, "1.2E02"},
        {123.456f, 2, 18, "123.46"},
        {123.456f, 2, 19, "123.46"},
        {123.456f, 2, 255, "123.46"},
        {0x1p60f, 6, 19, "1.15292150460684698E18"},
    };
    ExpectTexts(cases);
}

TEST(NumberText, ShowsAtMostEighteenFractionDigits) {
    const Case cases[] = {
        {0.1f, 18, 18, "0.100000001490116119"},
        {0.1f, 19, 18, "0.100000001490116119"},
        {0.1f, 255, 255, "0.100000001490116119"},
        {0.07f, 18, 18, "0.070000000298023224"},
        // Rounded at the 19th decimal, then cut at the 18th: ...2239|8 keeps ...223.
        {0.07f, 19, 18, "0.070000000298023223"},
        {-0.07f, 19, 18, "-0.070000000298023223"},
        // R is 1e-45, not zero, though no shown digit is nonzero; so the sign stays.
        {0x1p-149f, 45, 18, "0.000000000000000000"},
        {-0x1p-149f, 45, 18, "-0.000000000000000000"},
        {-0x1p-149f, 255, 255, "-0.000000000000000000"},
        {-0x1.fffffcp-127f, 6, 11, "0.000000"}, // the largest denormal
        // Six significant digits kept, the rest of the 18 decimals zeros.
        {-0x1.00013cp+1f, 126, 6, "-2.000040000000000000"},
    };
    ExpectTexts(cases);
}

TEST(NumberText, UsesTheSeparatorInBothLayouts) {
    const Case cases[] = {
        {-2.5f, 6, 11, "-2,500000"},
        {0.0f, 2, 11, "0,00"},
        {1.1e11f, 6, 11, "1,0999999693E11"},
        {std::numeric_limits<float>::quiet_NaN(), 6, 11, "NAN"},
    };
    ExpectTexts(cases, ',');
}

TEST(NumberText, ExactDecimalGivesEveryDigit) {
    struct DigitCase {
        float value;
        const char* digits;
        int exponent;
    };
    const DigitCase cases[] = {
        {1.0f, "1", 1},
        {-2.5f, "25", 1},
        {0.1f, "100000001490116119384765625", 0},
        {0x1p24f + 2.0f, "16777218", 8},
        {0x1p-149f,
         "1401298464324817070923729583289916131280261941876515771757068283889791082685860601486638"
         "18836212158203125",
         -44},
        {0x1.fffffcp-127f, // largest denormal: the longest expansion
         "1175494210692441075487029444849287348827052428745893333857174530571588870475618904265502"
         "351336181163787841796875",
         -37},
        {std::numeric_limits<float>::max(), "34028234663852885981170418348451692544", 39},
    };
    for (const DigitCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hexfloat << c.value);
        const detail::TExactDecimal exact = detail::ExactDecimal(c.value);
        EXPECT_EQ(exact.Digits(), c.digits);
        EXPECT_EQ(exact.exponent, c.exponent);
    }
}

struct TSettingsCase {
    unsigned decimals;
    unsigned precision;
};

// Where the fast route decides, it must give the exact route's text. Under the
// defaults it must decide every single. Returns 1 for a mismatch and describes
// the first one in *first.
std::uint64_t CountMismatches(float v, const TSettingsCase& s, std::string* first) {
    char fast[cMAX_NUMBER_TEXT];
    char exact[cMAX_NUMBER_TEXT];
    char* fastEnd = detail::FormatNumberFast(fast, v, s.decimals, s.precision, '.');
    const bool defaults = s.decimals == 6 && s.precision == 11;
    if (fastEnd == nullptr && !defaults)
        return 0;
    char* exactEnd = detail::FormatNumberExact(exact, v, s.decimals, s.precision, '.');
    if (fastEnd != nullptr && fastEnd - fast == exactEnd - exact &&
        std::equal(fast, fastEnd, exact))
        return 0;
    if (first->empty())
        *first = "bits " + std::to_string(std::bit_cast<std::uint32_t>(v)) +
                 " D=" + std::to_string(s.decimals) + " P=" + std::to_string(s.precision) +
                 ": fast " + (fastEnd ? std::string(fast, fastEnd) : "(undecided)") + ", exact " +
                 std::string(exact, exactEnd);
    return 1;
}

const TSettingsCase cSETTINGS[] = {{6, 11}, {2, 4}, {0, 11},  {0, 2},   {3, 18},   {18, 18},
                                   {9, 7},  {1, 0}, {25, 18}, {40, 12}, {255, 255}};

TEST(NumberText, FastRouteAgreesWithExactRoute) {
    std::vector<float> values;
    std::mt19937_64 random(20240611);
    // Uniform bit patterns cover every binary exponent.
    for (int i = 0; i < 150'000; ++i)
        values.push_back(FromBits(static_cast<std::uint32_t>(random())));
    // Dyadic values with few fraction bits land exactly on halves.
    for (int i = 0; i < 150'000; ++i) {
        const auto integer = static_cast<std::int64_t>(random() % (1u << 24)) - (1 << 23);
        values.push_back(std::ldexp(static_cast<float>(integer), -static_cast<int>(random() % 40)));
    }
    // Singles beside each power of ten, where E changes.
    for (int k = -45; k <= 38; ++k) {
        float v = static_cast<float>(std::pow(10.0L, k));
        for (int step = 0; step < 4; ++step)
            v = std::nextafter(v, 0.0f);
        for (int step = 0; step < 9;
             ++step, v = std::nextafter(v, std::numeric_limits<float>::infinity()))
            values.push_back(v);
    }

    for (const TSettingsCase& s : cSETTINGS) {
        SCOPED_TRACE(testing::Message() << "D=" << s.decimals << " P=" << s.precision);
        std::uint64_t mismatches = 0;
        std::string first;
        for (float v : values)
            mismatches += CountMismatches(v, s, &first);
        EXPECT_EQ(mismatches, 0u) << first;
    }
}

#ifdef TRIMELD_EXHAUSTIVE
TEST(NumberText, FastRouteAgreesWithExactRouteForEverySingle) {
    const unsigned threadCount = std::max(1u, std::thread::hardware_concurrency());
    std::atomic<std::uint64_t> mismatches{0};
    std::vector<std::string> firsts(threadCount);
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            std::uint64_t local = 0;
            for (std::uint64_t bits = t; bits <= 0xFFFFFFFF; bits += threadCount)
                local += CountMismatches(FromBits(static_cast<std::uint32_t>(bits)), {6, 11},
                                         &firsts[t]);
            mismatches += local;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::string first;
    for (const std::string& text : firsts)
        if (first.empty())
            first = text;
    EXPECT_EQ(mismatches.load(), 0u) << first;
}
#endif

} // namespace
} // namespace trimeld
