// Random states and distances shared by the C++ tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <random>
#include <vector>

namespace bvc::test {

using cplx = std::complex<double>;

// Normal complex amplitudes, normalised: 2^n_qubits of them.
inline std::vector<cplx> random_state(int n_qubits, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> normal;
    std::vector<cplx> psi(std::size_t{1} << n_qubits);
    double norm = 0;
    for (auto& a : psi) {
        a = {normal(gen), normal(gen)};
        norm += std::norm(a);
    }
    for (auto& a : psi) a /= std::sqrt(norm);
    return psi;
}

// |high> (x) |low>: `low` on the low qubits, `high` on the ones above them.
inline std::vector<cplx> product(const std::vector<cplx>& high, const std::vector<cplx>& low) {
    std::vector<cplx> psi(high.size() * low.size());
    for (std::size_t h = 0; h < high.size(); ++h)
        for (std::size_t l = 0; l < low.size(); ++l) psi[h * low.size() + l] = high[h] * low[l];
    return psi;
}

// Largest entrywise distance.
inline double distance(const std::vector<cplx>& a, const std::vector<cplx>& b) {
    double d = 0;
    for (std::size_t i = 0; i < a.size(); ++i) d = std::max(d, std::abs(a[i] - b[i]));
    return d;
}

// Pearson's statistic of `counts` drawn from `probabilities` in `shots`
// draws, and whether it lies within what a fair sampler gives but once in
// about a million runs (a bound well beyond the 1e-6 quantile for every
// number of degrees of freedom used here).
struct ChiSquare {
    double statistic = 0.0;
    int degrees = -1;
    bool plausible() const { return statistic < degrees + 7.0 * std::sqrt(2.0 * degrees) + 12.0; }
};

inline ChiSquare chi_square(const std::vector<double>& counts, const std::vector<double>& probabilities, double shots) {
    ChiSquare test;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        if (probabilities[i] == 0.0) continue;
        const double expected = shots * probabilities[i];
        test.statistic += (counts[i] - expected) * (counts[i] - expected) / expected;
        ++test.degrees;
    }
    return test;
}

}  // namespace bvc::test
