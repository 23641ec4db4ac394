// Drawing measurement outcomes from a state vector, seeded and reproducible.
#include "core/statevector/sampling.hpp"

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

// Amplitudes per block of the sampling sweep: small enough that walking into
// a block is cheap, large enough that the block table stays small.
constexpr std::uint64_t kBlock = 32;

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
    // Written out on real and imaginary parts: both matrices have entries
    // +-1, +-i over sqrt(2), and the general complex product would be far
    // slower. H: (a + b, a - b); H * S^dagger: (a - i b, a + i b).
    const double r = 1.0 / std::sqrt(2.0);
    const std::uint64_t size = std::uint64_t{1} << n_qubits;
    for (int q = 0; q < n_qubits; ++q) {
        const bool x = (x_mask >> q) & 1, y = (y_mask >> q) & 1;
        if (!x && !y) continue;
        const std::uint64_t step = std::uint64_t{1} << q;
        for (std::uint64_t base = 0; base < size; base += 2 * step) {
            for (std::uint64_t i0 = base; i0 < base + step; ++i0) {
                const double ar = psi[i0].real(), ai = psi[i0].imag();
                double br = psi[i0 + step].real(), bi = psi[i0 + step].imag();
                if (y) {  // b <- -i b
                    const double t = br;
                    br = bi;
                    bi = -t;
                }
                psi[i0] = cplx(r * (ar + br), r * (ai + bi));
                psi[i0 + step] = cplx(r * (ar - br), r * (ai - bi));
            }
        }
    }
}

Histogram sample_outcomes(const cplx* psi, int n_qubits, std::uint64_t shots, std::uint64_t seed, Interrupt interrupt) {
    const std::uint64_t size = std::uint64_t{1} << n_qubits;
    // Probability mass is summed per block of amplitudes, with independent
    // partial sums so the adds need not wait for one another. The sweep below
    // then skips whole blocks and walks amplitude by amplitude only inside
    // the blocks that a draw falls into.
    const std::uint64_t block = size < kBlock ? size : kBlock;
    const std::uint64_t n_blocks = size / block;
    std::vector<double> block_end(n_blocks);  // cumulative probability up to the end of each block
    double total = 0.0;
    std::uint64_t last_block = 0;  // the last block of positive mass
    // Probabilities are squares of amplitudes times `amplitude_scale`: 1 unless they
    // would overflow or turn subnormal, then the power of two that brings the
    // largest amplitude to order one (exact, and the draws do not depend on
    // the norm).
    double amplitude_scale = 1.0;
    const auto weight = [&](std::uint64_t i) {
        return amplitude_scale == 1.0 ? probability(psi[i]) : probability(psi[i] * amplitude_scale);
    };
    const auto sum_blocks = [&] {
        total = 0.0;
        for (std::uint64_t b = 0; b < n_blocks; ++b) {
            const cplx* amplitudes = psi + b * block;
            double partial[4] = {0.0, 0.0, 0.0, 0.0};
            if (amplitude_scale == 1.0) {
                for (std::uint64_t i = 0; i < block; ++i) partial[i & 3] += probability(amplitudes[i]);
            } else {
                for (std::uint64_t i = 0; i < block; ++i)
                    partial[i & 3] += probability(amplitudes[i] * amplitude_scale);
            }
            const double before = total;
            total += (partial[0] + partial[1]) + (partial[2] + partial[3]);
            block_end[b] = total;
            if (total > before) last_block = b;
        }
    };
    sum_blocks();
    if (!(total >= 1e-280 && total <= 1e280)) {
        amplitude_scale = sv::unit_scale(sv::largest_component(psi, size));
        if (amplitude_scale != 1.0) sum_blocks();
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
    for (std::uint64_t k = 0; k <= shots; ++k) {
        grand_sum += exponential(rng);
        interrupt.progress();
    }
    const double scale = total / grand_sum;

    rng = Xoshiro256(seed);
    double partial = 0.0;
    std::uint64_t b = 0, index = 0;
    double cumulative = weight(0);  // up to and including `index`
    for (std::uint64_t k = 0; k < shots; ++k) {
        interrupt.progress();
        partial += exponential(rng);
        const double target = partial * scale;
        if (block_end[b] < target && b < last_block) {
            do ++b;
            while (block_end[b] < target && b < last_block);
            index = b * block;
            cumulative = block_end[b - 1] + weight(index);
        }
        // Strict comparison: an amplitude of probability zero leaves the
        // cumulative sum unchanged and is stepped over.
        const std::uint64_t block_last = (b + 1) * block - 1;
        while (cumulative < target && index < block_last) cumulative += weight(++index);
        // Only when rounding leaves the in-block sum a hair short of the
        // block's total can the walk stop on a zero; the block has mass, so
        // step back to its last reachable outcome.
        std::uint64_t outcome = index;
        while (weight(outcome) == 0.0 && outcome > b * block) --outcome;
        if (!histogram.outcomes.empty() && histogram.outcomes.back() == outcome) {
            ++histogram.counts.back();
        } else {
            histogram.outcomes.push_back(outcome);
            histogram.counts.push_back(1);
        }
    }
    return histogram;
}

}  // namespace bvc::sampling
