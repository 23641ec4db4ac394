// Tests of the state-vector sampler: frequencies, bases and seeds.
#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include "check.hpp"
#include "core/statevector/sampling.hpp"
#include "states.hpp"

namespace {

using bvc::test::cplx;

std::vector<double> dense_counts(const bvc::sampling::Histogram& h, std::size_t size) {
    std::vector<double> counts(size, 0.0);
    for (std::size_t k = 0; k < h.outcomes.size(); ++k) counts[h.outcomes[k]] = static_cast<double>(h.counts[k]);
    return counts;
}

}  // namespace

// Outcome frequencies follow |psi|^2 (the state need not be normalised), an
// outcome of probability zero is never drawn, every shot is counted once,
// and a seed gives the same outcomes again.
BVC_TEST(sampler_frequencies_follow_the_born_rule) {
    auto psi = bvc::test::random_state(4, 8);
    psi[5] = 0.0;
    psi[6] *= 1e-3;  // rare, but drawn
    for (cplx& a : psi) a *= 3.0;
    double norm = 0.0;
    for (const cplx& a : psi) norm += std::norm(a);
    std::vector<double> probabilities;
    for (const cplx& a : psi) probabilities.push_back(std::norm(a) / norm);

    const std::uint64_t shots = 400000;
    const auto histogram = bvc::sampling::sample_outcomes(psi.data(), 4, shots, 2077);
    const auto counts = dense_counts(histogram, psi.size());
    double total = 0.0;
    for (double c : counts) total += c;
    BVC_CHECK(total == static_cast<double>(shots));
    BVC_CHECK(counts[5] == 0.0);
    for (std::size_t k = 0; k < histogram.counts.size(); ++k) BVC_CHECK(histogram.counts[k] > 0);
    for (std::size_t k = 1; k < histogram.outcomes.size(); ++k)
        BVC_CHECK(histogram.outcomes[k - 1] < histogram.outcomes[k]);
    const auto test = bvc::test::chi_square(counts, probabilities, static_cast<double>(shots));
    BVC_CHECK(test.degrees == 14);
    BVC_CHECK(test.plausible());

    const auto again = bvc::sampling::sample_outcomes(psi.data(), 4, shots, 2077);
    BVC_CHECK(again.outcomes == histogram.outcomes && again.counts == histogram.counts);
    const auto other = bvc::sampling::sample_outcomes(psi.data(), 4, shots, 2078);
    BVC_CHECK(other.counts != histogram.counts);
}

// |+> on qubit 0 and |+i> on qubit 1, rotated from the X and the Y basis,
// always read 0; the unrotated qubits read 0 and 1 half the time each.
BVC_TEST(sampler_measures_in_the_x_and_y_bases) {
    const double r = 1.0 / std::sqrt(2.0);
    const std::vector<cplx> plus{r, r}, plus_i{r, cplx(0.0, r)};
    const auto psi = bvc::test::product(plus_i, plus);  // qubit 1: |+i>, qubit 0: |+>
    auto rotated = psi;
    bvc::sampling::rotate_to_pauli_basis(rotated.data(), 2, 0b01, 0b10);
    const auto histogram = bvc::sampling::sample_outcomes(rotated.data(), 2, 1000, 7);
    BVC_CHECK(histogram.outcomes == std::vector<std::uint64_t>{0});

    const std::uint64_t shots = 100000;
    const auto z_basis = bvc::sampling::sample_outcomes(psi.data(), 2, shots, 7);
    const auto test = bvc::test::chi_square(dense_counts(z_basis, 4), {0.25, 0.25, 0.25, 0.25}, shots);
    BVC_CHECK(test.plausible());
}
