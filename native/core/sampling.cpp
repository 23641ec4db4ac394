#include "core/sampling.hpp"

#include <cmath>
#include <stdexcept>

namespace bvc::sampling {

namespace {

std::uint64_t splitmix64(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// |z|^2 without the hypot that std::norm goes through when fast-math is off.
inline double probability(const cplx& z) { return z.real() * z.real() + z.imag() * z.imag(); }

inline std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

}  // namespace

Xoshiro256::Xoshiro256(std::uint64_t seed) {
    for (auto& word : s_) word = splitmix64(seed);
}

std::uint64_t Xoshiro256::next() {
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
}

double Xoshiro256::uniform_open() {
    // 52 random bits centred in their cell: (k + 1/2) / 2^52, strictly inside (0, 1).
    return (static_cast<double>(next() >> 12) + 0.5) * 0x1.0p-52;
}

void rotate_to_pauli_basis(cplx* psi, int n_qubits, std::uint64_t x_mask, std::uint64_t y_mask) {
    const double r = 1.0 / std::sqrt(2.0);
    const sv::Mat2 hadamard{{{r, 0}, {r, 0}, {r, 0}, {-r, 0}}};
    // H * S^dagger = [[1, -i], [1, i]] / sqrt(2)
    const sv::Mat2 y_to_z{{{r, 0}, {0, -r}, {r, 0}, {0, r}}};
    for (int q = 0; q < n_qubits; ++q) {
        if ((x_mask >> q) & 1) sv::apply_1q(psi, n_qubits, q, hadamard);
        else if ((y_mask >> q) & 1) sv::apply_1q(psi, n_qubits, q, y_to_z);
    }
}

Histogram sample_outcomes(const cplx* psi, int n_qubits, std::uint64_t shots, std::uint64_t seed) {
    const std::uint64_t size = std::uint64_t{1} << n_qubits;
    double total = 0.0;
    std::uint64_t last_nonzero = 0;
    for (std::uint64_t i = 0; i < size; ++i) {
        const double p = probability(psi[i]);
        total += p;
        if (p > 0.0) last_nonzero = i;
    }
    if (!(total > 0.0) || !std::isfinite(total)) {
        throw std::invalid_argument("the state has zero or non-finite norm; nothing can be sampled");
    }

    Histogram histogram;
    if (shots == 0) return histogram;

    // The k-th of `shots` sorted uniforms is S_k / S_{shots+1}, S_k the sum of
    // k independent exponential variates, so no sort is needed. The stream is
    // run twice (once for S_{shots+1}, once for the partial sums) to keep the
    // memory independent of `shots`; both runs add in the same order.
    const auto exponential = [](Xoshiro256& rng) { return -std::log(rng.uniform_open()); };
    Xoshiro256 rng(seed);
    double grand_sum = 0.0;
    for (std::uint64_t k = 0; k <= shots; ++k) grand_sum += exponential(rng);
    const double scale = total / grand_sum;

    rng = Xoshiro256(seed);
    double partial = 0.0, cumulative = probability(psi[0]);
    std::uint64_t index = 0;
    for (std::uint64_t k = 0; k < shots; ++k) {
        partial += exponential(rng);
        const double target = partial * scale;
        // Strict comparison: an index of probability zero leaves the
        // cumulative sum unchanged and is stepped over. The bound absorbs a
        // target rounded a hair above the total.
        while (cumulative < target && index < last_nonzero) cumulative += probability(psi[++index]);
        if (!histogram.outcomes.empty() && histogram.outcomes.back() == index) {
            ++histogram.counts.back();
        } else {
            histogram.outcomes.push_back(index);
            histogram.counts.push_back(1);
        }
    }
    return histogram;
}

}  // namespace bvc::sampling
