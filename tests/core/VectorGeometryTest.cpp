#include "geometry/VectorGeometry.h"

#include "TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

namespace trimeld {
namespace {

using test::Bits;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

constexpr float cQNAN = std::numeric_limits<float>::quiet_NaN();
constexpr float cSNAN = std::numeric_limits<float>::signaling_NaN();
constexpr float cINF = std::numeric_limits<float>::infinity();

void ExpectPoint(const TPoint3D& p, float x, float y, float z) {
    // Bit patterns, so that -0 and 0 are told apart.
    EXPECT_EQ(Bits(p.x), Bits(x));
    EXPECT_EQ(Bits(p.y), Bits(y));
    EXPECT_EQ(Bits(p.z), Bits(z));
}

TEST(VectorGeometry, PlaneNormalFollowsRightHandRule) {
    ExpectPoint(CalcPlaneNormal({0, 0, 0}, {1, 0, 0}, {0, 1, 0}), 0, 0, 1);
    ExpectPoint(CalcPlaneNormal({0, 0, 0}, {0, 1, 0}, {1, 0, 0}), 0, 0, -1);
    ExpectPoint(CalcPlaneNormal({2, 2, 2}, {2, 2, 2}, {2, 2, 2}), 0, 0, 0);
    ExpectPoint(CalcPlaneNormal({0, 0, 0}, {1, 1, 1}, {2, 2, 2}), 0, 0, 0);
}

TEST(VectorGeometry, NormIsTheSquaredLength) {
    EXPECT_EQ(VectorNorm({3, 4, 0}), 25.0f);
    EXPECT_EQ(VectorDotProduct({1, 2, 3}, {4, -5, 6}), 12.0f);
    TPoint3D v{3, 4, 0};
    NormalizeVector(v);
    ExpectPoint(v, 0.6f, 0.8f, 0.0f);
    TPoint3D zero{0, 0, 0};
    NormalizeVector(zero);
    ExpectPoint(zero, 0, 0, 0);
}

TEST(VectorGeometry, ProductsAreRoundedOnceOnStore) {
    // In single arithmetic each product would round first: (1+2^-12)^2 -
    // (1+2^-11) = 2^-24 is lost there and kept in extended precision.
    const float a = 1.0f + 0x1p-12f;
    TPoint3D vr;
    VectorCrossProduct({0, a, 1}, {0, 1.0f + 0x1p-11f, a}, vr);
    EXPECT_EQ(vr.x, 0x1p-24f);
}

TEST(VectorGeometry, TinyEdgesUnderflowWithoutFailure) {
    // Cross product near 1e-30: its squared length is zero as a single, so
    // the normal stays unscaled.
    const TPoint3D n = CalcPlaneNormal({0, 0, 0}, {1e-15f, 0, 0}, {0, 1e-15f, 0});
    EXPECT_GT(n.z, 0.0f);
    EXPECT_LT(n.z, 1e-20f);
    // Cross product of 1e-23 edges underflows to zero itself.
    ExpectPoint(CalcPlaneNormal({0, 0, 0}, {1e-23f, 0, 0}, {0, 1e-23f, 0}), 0, 0, 0);
}

TEST(VectorGeometry, TrappedConditionsRaiseTheirTexts) {
    struct Case {
        const char* what;
        TPoint3D p1, p2, p3;
        const char* message;
    };
    const Case cases[] = {
        {"quiet NaN meets the length test",
         {0, 0, 0},
         {cQNAN, 0, 0},
         {0, 1, 0},
         "Invalid floating point operation"},
        {"signalling NaN operand",
         {0, 0, 0},
         {cSNAN, 0, 0},
         {0, 1, 0},
         "Invalid floating point operation"},
        {"inf - inf", {cINF, 0, 0}, {cINF, 0, 0}, {0, 1, 0}, "Invalid floating point operation"},
        {"edges near 1e20 overflow the cross product",
         {0, 0, 0},
         {1e20f, 0, 0},
         {0, 1e20f, 0},
         "Floating point overflow"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_THAT([&] { (void)CalcPlaneNormal(c.p1, c.p2, c.p3); },
                    ThrowsMessage<TFloatError>(StrEq(c.message)));
    }
}

TEST(VectorGeometry, CheckedArithmeticMatchesTheTrappedConditions) {
    using namespace detail;
    EXPECT_THROW((void)Mul(0.0L, HUGE_VALL), TFloatError);
    EXPECT_THROW((void)Add(HUGE_VALL, -HUGE_VALL), TFloatError);
    EXPECT_THAT([] { (void)Div(1.0L, 0.0L); },
                ThrowsMessage<TFloatError>(StrEq("Floating point division by zero")));
    EXPECT_THROW((void)Greater(0.0L, std::nanl("")), TFloatError);
    EXPECT_THROW((void)Store(4e38L), TFloatError);
    // Infinity from the input itself passes on; a quiet NaN does until compared.
    EXPECT_EQ(Store(HUGE_VALL), cINF);
    EXPECT_TRUE(std::isnan(Store(Add(std::nanl(""), 1.0L))));
    // Underflow is quiet: a denormal or a zero of the same sign.
    EXPECT_EQ(Bits(Store(-1e-50L)), 0x80000000u);
    EXPECT_EQ(Store(0x1p-149L), 0x1p-149f);
}

// What an operation did: the failure it raised, or the bits of its value.
struct TOutcome {
    int condition = -1;
    std::uint64_t mantissa = 0;
    std::uint16_t exponent = 0;
    bool operator==(const TOutcome&) const = default;
};

template <typename F> TOutcome Outcome(F operation) {
    TOutcome out;
    try {
        const TExtended value = operation();
        std::memcpy(&out.mantissa, &value, sizeof out.mantissa);
        std::memcpy(&out.exponent, reinterpret_cast<const char*>(&value) + 8, sizeof out.exponent);
    } catch (const TFloatError& failure) {
        out.condition = static_cast<int>(failure.Condition());
    }
    return out;
}

const TOutcome cINVALID{static_cast<int>(TFloatCondition::InvalidOperation)};

TEST(VectorGeometry, CheckedExtendedTakesThePlainRouteOnlyWhenItIsSafe) {
    // Every pair of these through the value type's operators and through the
    // checked operations on plain values: the same value or the same failure.
    const float operands[] = {0.0f, -0.0f, 1.0f,  -2.0f, 0x1p-149f, 0x1.fffffep127f,
                              cINF, -cINF, cQNAN, cSNAN};
    for (const float a : operands) {
        for (const float b : operands) {
            SCOPED_TRACE(::testing::Message() << std::hexfloat << a << " and " << b);
            const bool signalling = Bits(a) == Bits(cSNAN) || Bits(b) == Bits(cSNAN);
            const auto expected = [&](auto checked) {
                return signalling ? cINVALID : Outcome([&] { return checked(a, b); });
            };
            EXPECT_EQ(Outcome([&] { return (TCheckedExtended(a) + b).Value(); }),
                      expected(detail::Add));
            EXPECT_EQ(Outcome([&] { return (TCheckedExtended(a) - b).Value(); }),
                      expected(detail::Sub));
            EXPECT_EQ(Outcome([&] { return (TCheckedExtended(a) * b).Value(); }),
                      expected(detail::Mul));
            EXPECT_EQ(Outcome([&] { return (TCheckedExtended(a) / b).Value(); }),
                      expected(detail::Div));
            EXPECT_EQ(Outcome([&] { return TExtended(TCheckedExtended(a) > b); }),
                      expected([](TExtended l, TExtended r) {
                          return TExtended(detail::Greater(l, r));
                      }));
        }
    }
}

TEST(VectorGeometry, CheckedExtendedRootsAndChains) {
    const auto invalid = static_cast<int>(TFloatCondition::InvalidOperation);
    const auto overflow = static_cast<int>(TFloatCondition::Overflow);
    struct Case {
        const char* what;
        std::function<TExtended()> operation;
        int condition; // -1: no failure
    };
    const Case cases[] = {
        {"root of a negative", [] { return Sqrt(TCheckedExtended(-1.0f)).Value(); }, invalid},
        {"root of -inf", [] { return Sqrt(TCheckedExtended(-cINF)).Value(); }, invalid},
        {"root of -0", [] { return Sqrt(TCheckedExtended(-0.0f)).Value(); }, -1},
        {"root of a quiet NaN", [] { return Sqrt(TCheckedExtended(cQNAN)).Value(); }, -1},
        {"root of inf", [] { return Sqrt(TCheckedExtended(cINF)).Value(); }, -1},
        // An infinite result stays checked in the next operation.
        {"(inf - 1) - inf", [] { return ((TCheckedExtended(cINF) - 1.0f) - cINF).Value(); },
         invalid},
        {"(inf + 1) * 0", [] { return ((TCheckedExtended(cINF) + 1.0f) * 0.0f).Value(); }, invalid},
        // A finite value from an infinite operand still overflows on store.
        {"1e30 * 1e30 + 1 / inf stored",
         [] {
             return TExtended(
                 StoreSingle(TCheckedExtended(1e30f) * 1e30f + 1.0L / TCheckedExtended(cINF)));
         },
         overflow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Outcome(c.operation).condition, c.condition);
    }
    EXPECT_EQ(Bits(StoreSingle(Sqrt(TCheckedExtended(-0.0f)))), 0x80000000u);
    EXPECT_TRUE(std::isnan(Sqrt(TCheckedExtended(cQNAN)).Value()));
    EXPECT_EQ(Sqrt(TCheckedExtended(cINF)).Value(), HUGE_VALL);
}

} // namespace
} // namespace trimeld
