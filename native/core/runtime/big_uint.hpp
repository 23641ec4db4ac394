// Arbitrary-size unsigned integer for exact counting (dimensions of charge
// sectors grow like binomial coefficients and leave 64 bits behind at a few
// dozen sites). Only what counting needs: +, *, multiplication and exact
// division by a small factor, comparison and the little-endian bytes.
#pragma once

#include <compare>
#include <cstdint>
#include <vector>

namespace bvc::num {

class BigUint {
public:
    BigUint() = default;
    explicit BigUint(std::uint64_t value);

    bool is_zero() const { return limbs_.empty(); }

    BigUint& operator+=(const BigUint& other);
    BigUint operator*(const BigUint& other) const;
    BigUint& mul_small(std::uint32_t factor);
    // Exact division by a non-zero factor that divides the value.
    BigUint& div_small_exact(std::uint32_t divisor);

    std::strong_ordering operator<=>(const BigUint& other) const;
    bool operator==(const BigUint& other) const = default;

    // Little-endian bytes without leading zero bytes (empty for zero).
    std::vector<std::uint8_t> to_bytes_le() const;

private:
    void trim();
    std::vector<std::uint32_t> limbs_;  // little-endian, no zero top limb
};

inline const BigUint& min(const BigUint& a, const BigUint& b) { return b < a ? b : a; }

// The row binom(n, 0), ..., binom(n, k_max) of Pascal's triangle, exactly.
std::vector<BigUint> binomial_row(std::uint32_t n, std::uint32_t k_max);

}  // namespace bvc::num
