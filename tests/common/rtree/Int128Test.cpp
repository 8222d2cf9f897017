// 128-bit products and sums at the limits of their 64-bit operands.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "common/rtree/Int128.h"

namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

TEST(Int128, ProductsSumsAndOrderAtTheLimits)
{
    // (-2^63)^2 = 2^126
    const TInt128 square = TInt128::Product(kMin, kMin);
    EXPECT_EQ(square.High(), int64_t(1) << 62);
    EXPECT_EQ(square.Low(), 0u);
    // (2^63 - 1) * -2^63 = -2^126 + 2^63
    const TInt128 mixed = TInt128::Product(kMax, kMin);
    EXPECT_EQ(mixed.High(), -(int64_t(1) << 62));
    EXPECT_EQ(mixed.Low(), uint64_t(1) << 63);
    EXPECT_EQ(TInt128::Product(-3, 5), TInt128(-15));
    EXPECT_EQ(TInt128::Product(0, kMin), TInt128(0));

    // Carries across the 64-bit boundary, both ways.
    const TInt128 big = TInt128(kMax) + TInt128(1);
    EXPECT_EQ(big.High(), 0);
    EXPECT_EQ(big.Low(), uint64_t(1) << 63);
    EXPECT_EQ(big - TInt128(1), TInt128(kMax));
    EXPECT_EQ(TInt128(kMin) - TInt128(1) + TInt128(1), TInt128(kMin));
    EXPECT_EQ(-TInt128(0), TInt128(0));

    EXPECT_LT(TInt128(-1), TInt128(0));
    EXPECT_LT(mixed, TInt128(kMin));
    EXPECT_GT(square, big);
    EXPECT_GT(big, TInt128(kMax));

    EXPECT_EQ(double(TInt128(-1)), -1.0);
    EXPECT_EQ(double(square), 0x1p126);
    EXPECT_EQ(double(mixed), -0x1p126 + 0x1p63);
    EXPECT_EQ(double(big), 0x1p63);
}

TEST(Int128, CrossProductsOfMapUnitDifferencesAreExact)
{
    // The terms of a cross product of 33-bit differences reach 2^66; the
    // result must equal the one computed from 32-bit halves.
    std::mt19937_64 rng(7);
    for (int i = 0; i < 10000; ++i) {
        const int64_t a = int64_t(rng() % (uint64_t(1) << 33)) - (int64_t(1) << 32);
        const int64_t b = int64_t(rng() % (uint64_t(1) << 33)) - (int64_t(1) << 32);
        const int64_t c = int64_t(rng() % (uint64_t(1) << 33)) - (int64_t(1) << 32);
        const int64_t d = int64_t(rng() % (uint64_t(1) << 33)) - (int64_t(1) << 32);
        const TInt128 cross = TInt128::Product(a, b) - TInt128::Product(c, d);
        // The low word is exact modulo 2^64; an 80-bit estimate of the whole
        // value, good to a few units, then leaves one choice for the high word.
        EXPECT_EQ(cross.Low(), uint64_t(a) * uint64_t(b) - uint64_t(c) * uint64_t(d));
        const long double estimate = (long double)a * b - (long double)c * d;
        EXPECT_NEAR(double(cross), double(estimate), std::fabs(double(estimate)) * 0x1p-51 + 0x1p12)
            << a << " " << b << " " << c << " " << d;
    }
}

}  // namespace
