// Exact signed 128-bit sums of 64-bit products, for cross products and ring
// areas whose terms can exceed 64 bits. Portable, so that 32-bit builds
// compute the same results without a native 128-bit type.
#pragma once

#include <compare>
#include <cstdint>

class TInt128 {
public:
    constexpr TInt128(int64_t value = 0) : m_hi(value < 0 ? -1 : 0), m_lo(uint64_t(value)) {}

    static constexpr TInt128 Product(int64_t a, int64_t b)
    {
        const uint64_t ua = a < 0 ? 0 - uint64_t(a) : uint64_t(a);
        const uint64_t ub = b < 0 ? 0 - uint64_t(b) : uint64_t(b);
        const uint64_t a0 = ua & 0xFFFFFFFFu, a1 = ua >> 32, b0 = ub & 0xFFFFFFFFu, b1 = ub >> 32;
        const uint64_t low = a0 * b0, mid1 = a1 * b0, mid2 = a0 * b1;
        const uint64_t carry = ((low >> 32) + (mid1 & 0xFFFFFFFFu) + (mid2 & 0xFFFFFFFFu)) >> 32;
        TInt128 magnitude;
        magnitude.m_lo = ua * ub;
        magnitude.m_hi = int64_t(a1 * b1 + (mid1 >> 32) + (mid2 >> 32) + carry);
        return (a < 0) != (b < 0) ? -magnitude : magnitude;
    }

    friend constexpr TInt128 operator+(TInt128 a, TInt128 b)
    {
        TInt128 sum;
        sum.m_lo = a.m_lo + b.m_lo;
        sum.m_hi = int64_t(uint64_t(a.m_hi) + uint64_t(b.m_hi) + (sum.m_lo < a.m_lo));
        return sum;
    }
    constexpr TInt128 operator-() const
    {
        TInt128 negated;
        negated.m_lo = 0 - m_lo;
        negated.m_hi = int64_t(~uint64_t(m_hi) + (m_lo == 0));
        return negated;
    }
    friend constexpr TInt128 operator-(TInt128 a, TInt128 b) { return a + -b; }
    TInt128& operator+=(TInt128 b) { return *this = *this + b; }

    // The high word first, so that member-wise order is numeric order.
    friend constexpr auto operator<=>(const TInt128&, const TInt128&) = default;

    explicit constexpr operator double() const
    {
        if (m_hi < 0)
            return -double(-*this);
        return double(uint64_t(m_hi)) * 18446744073709551616.0 + double(m_lo);
    }

    constexpr int64_t High() const { return m_hi; }
    constexpr uint64_t Low() const { return m_lo; }

private:
    int64_t m_hi;
    uint64_t m_lo;
};
