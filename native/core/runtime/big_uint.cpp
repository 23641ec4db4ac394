// Exact unsigned arithmetic beyond 64 bits, for counting sector dimensions.
#include "core/runtime/big_uint.hpp"

#include <algorithm>
#include <stdexcept>

namespace bvc::num {

BigUint::BigUint(std::uint64_t value) {
    while (value != 0) {
        limbs_.push_back(static_cast<std::uint32_t>(value));
        value >>= 32;
    }
}

void BigUint::trim() {
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
}

BigUint& BigUint::operator+=(const BigUint& other) {
    if (limbs_.size() < other.limbs_.size()) limbs_.resize(other.limbs_.size(), 0);
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
        std::uint64_t sum = carry + limbs_[i] + (i < other.limbs_.size() ? other.limbs_[i] : 0u);
        limbs_[i] = static_cast<std::uint32_t>(sum);
        carry = sum >> 32;
        if (carry == 0 && i >= other.limbs_.size()) break;
    }
    if (carry != 0) limbs_.push_back(static_cast<std::uint32_t>(carry));
    return *this;
}

BigUint BigUint::operator*(const BigUint& other) const {
    BigUint out;
    if (is_zero() || other.is_zero()) return out;
    out.limbs_.assign(limbs_.size() + other.limbs_.size(), 0);
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
        std::uint64_t carry = 0;
        const std::uint64_t a = limbs_[i];
        for (std::size_t j = 0; j < other.limbs_.size(); ++j) {
            std::uint64_t cur = out.limbs_[i + j] + a * other.limbs_[j] + carry;
            out.limbs_[i + j] = static_cast<std::uint32_t>(cur);
            carry = cur >> 32;
        }
        std::size_t k = i + other.limbs_.size();
        while (carry != 0) {
            std::uint64_t cur = out.limbs_[k] + carry;
            out.limbs_[k] = static_cast<std::uint32_t>(cur);
            carry = cur >> 32;
            ++k;
        }
    }
    out.trim();
    return out;
}

BigUint& BigUint::mul_small(std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (auto& limb : limbs_) {
        std::uint64_t cur = static_cast<std::uint64_t>(limb) * factor + carry;
        limb = static_cast<std::uint32_t>(cur);
        carry = cur >> 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<std::uint32_t>(carry));
    trim();
    return *this;
}

BigUint& BigUint::div_small_exact(std::uint32_t divisor) {
    if (divisor == 0) throw std::invalid_argument("division by zero");
    std::uint64_t rem = 0;
    for (std::size_t i = limbs_.size(); i-- > 0;) {
        std::uint64_t cur = (rem << 32) | limbs_[i];
        limbs_[i] = static_cast<std::uint32_t>(cur / divisor);
        rem = cur % divisor;
    }
    if (rem != 0) throw std::logic_error("inexact division of a big integer");
    trim();
    return *this;
}

std::strong_ordering BigUint::operator<=>(const BigUint& other) const {
    if (limbs_.size() != other.limbs_.size()) return limbs_.size() <=> other.limbs_.size();
    for (std::size_t i = limbs_.size(); i-- > 0;) {
        if (limbs_[i] != other.limbs_[i]) return limbs_[i] <=> other.limbs_[i];
    }
    return std::strong_ordering::equal;
}

std::vector<std::uint8_t> BigUint::to_bytes_le() const {
    std::vector<std::uint8_t> out;
    out.reserve(limbs_.size() * 4);
    for (auto limb : limbs_) {
        for (int b = 0; b < 4; ++b) out.push_back(static_cast<std::uint8_t>(limb >> (8 * b)));
    }
    while (!out.empty() && out.back() == 0) out.pop_back();
    return out;
}

std::vector<BigUint> binomial_row(std::uint32_t n, std::uint32_t k_max) {
    k_max = std::min(k_max, n);
    std::vector<BigUint> row;
    row.reserve(k_max + 1);
    BigUint value(1);
    row.push_back(value);
    // binom(n, k+1) = binom(n, k) * (n - k) / (k + 1); the division is exact.
    for (std::uint32_t k = 0; k < k_max; ++k) {
        value.mul_small(n - k);
        value.div_small_exact(k + 1);
        row.push_back(value);
    }
    return row;
}

}  // namespace bvc::num
