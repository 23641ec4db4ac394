// Tests of the disentangler objective against entropies computed without decomposition.
#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <vector>

#include "check.hpp"
#include "core/mps/mps.hpp"
#include "core/runtime/interrupt.hpp"
#include "core/statevector/statevector.hpp"
#include "core/synthesis/disentangler_objective.hpp"
#include "core/synthesis/entanglement.hpp"
#include "core/synthesis/gates.hpp"
#include "core/synthesis/mps_local_form.hpp"
#include "states.hpp"

namespace {

using bvc::test::cplx;
using bvc::test::random_state;

constexpr int kQubits = 6;

// The Renyi-2 entropy across the cut after qubit `bond`, from the purity of
// the reduced density matrix of qubits 0..bond: -log tr rho^2, with no
// decomposition at all.
double renyi2_across(const std::vector<cplx>& psi, int bond) {
    const std::size_t low = std::size_t{1} << (bond + 1), high = psi.size() / low;
    double norm = 0.0, purity = 0.0;
    for (const cplx& a : psi) norm += std::norm(a);
    for (std::size_t i = 0; i < low; ++i)
        for (std::size_t j = 0; j < low; ++j) {
            cplx rho = 0.0;
            for (std::size_t h = 0; h < high; ++h) rho += psi[h * low + i] * std::conj(psi[h * low + j]);
            purity += std::norm(rho);
        }
    return -std::log(purity / (norm * norm));
}

// The state after the disentangler of `p` on (q0, q0 + 1), by the
// state-vector kernel.
std::vector<cplx> gated(std::vector<cplx> psi, int q0, const double* p) {
    bvc::sv::apply_2q(psi.data(), kQubits, q0, q0 + 1, bvc::synthesis::entangler_matrix(p));
    return psi;
}

std::vector<double> random_parameters(unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> p(bvc::synthesis::kEntanglerParams);
    for (double& v : p) v = normal(gen);
    return p;
}

// A state of full Schmidt rank and one of rank one across the middle cut
// (so the local form of the bonds next to it is compressed).
std::vector<std::vector<cplx>> test_states() {
    return {random_state(kQubits, 3), bvc::test::product(random_state(3, 4), random_state(3, 5))};
}

}  // namespace

// The entropy after a random disentangler on every bond agrees with the
// dense state's: Renyi-2 against the purity, von Neumann against the SVD
// of the gated state.
BVC_TEST(disentangler_objective_matches_dense_entropies) {
    bvc::synthesis::ObjectiveScratch scratch;
    bvc::synthesis::SchmidtWorkspace ws;
    std::vector<double> probabilities(std::size_t{1} << (kQubits / 2));
    double worst = 0.0;
    for (const auto& psi : test_states()) {
        for (int q0 = 0; q0 < kQubits - 1; ++q0) {
            const auto p = random_parameters(10 + q0);
            const auto after = gated(psi, q0, p.data());
            const bvc::synthesis::DisentanglerObjective renyi2(psi.data(), kQubits, q0, 2.0);
            worst = std::max(worst, std::abs(renyi2.value(p.data(), scratch) - renyi2_across(after, q0)));
            const bvc::synthesis::DisentanglerObjective von_neumann(psi.data(), kQubits, q0, 1.0);
            bvc::synthesis::schmidt_probabilities(after.data(), kQubits, q0, probabilities.data(), ws);
            const double reference =
                bvc::synthesis::renyi_entropy(probabilities.data(), bvc::synthesis::schmidt_count(kQubits, q0), 1.0);
            worst = std::max(worst, std::abs(von_neumann.value(p.data(), scratch) - reference));
        }
    }
    BVC_CHECK(worst < 1e-12);
}

// The exact gradient agrees with central differences of the value, for the
// von Neumann and a Renyi index, on both kinds of state.
BVC_TEST(disentangler_gradient_matches_central_differences) {
    bvc::synthesis::ObjectiveScratch scratch;
    double worst = 0.0, largest = 0.0;
    for (const auto& psi : test_states()) {
        for (double alpha : {1.0, 2.0}) {
            const int q0 = 2;
            const bvc::synthesis::DisentanglerObjective objective(psi.data(), kQubits, q0, alpha);
            auto p = random_parameters(20);
            double gradient[bvc::synthesis::kEntanglerParams];
            const double value = objective.value_and_gradient(p.data(), gradient, scratch);
            BVC_CHECK(std::abs(value - objective.value(p.data(), scratch)) < 1e-13);
            const double h = 1e-5;
            for (int k = 0; k < bvc::synthesis::kEntanglerParams; ++k) {
                const double saved = p[k];
                p[k] = saved + h;
                const double up = objective.value(p.data(), scratch);
                p[k] = saved - h;
                const double down = objective.value(p.data(), scratch);
                p[k] = saved;
                worst = std::max(worst, std::abs(gradient[k] - (up - down) / (2.0 * h)));
                largest = std::max(largest, std::abs(gradient[k]));
            }
        }
    }
    BVC_CHECK(largest > 1e-2);  // the comparison is not between zeros
    BVC_CHECK(worst < 1e-8);
}

// States of norm 1e-160 and 1e200 give the spectrum and the entropy of the
// unit state: their squares would underflow or overflow unscaled.
BVC_TEST(schmidt_spectrum_and_objective_at_extreme_norms) {
    const auto psi = random_state(kQubits, 6);
    const auto p = random_parameters(30);
    const int bond = 2;
    const std::size_t count = bvc::synthesis::schmidt_count(kQubits, bond);
    bvc::synthesis::SchmidtWorkspace ws;
    bvc::synthesis::ObjectiveScratch scratch;
    std::vector<double> unit(count), scaled(count);
    bvc::synthesis::schmidt_probabilities(psi.data(), kQubits, bond, unit.data(), ws);
    const double unit_value =
        bvc::synthesis::DisentanglerObjective(psi.data(), kQubits, bond, 2.0).value(p.data(), scratch);
    for (double norm : {1e-160, 1e200}) {
        std::vector<cplx> far = psi;
        for (cplx& a : far) a *= norm;
        bvc::synthesis::schmidt_probabilities(far.data(), kQubits, bond, scaled.data(), ws);
        double error = 0.0;
        for (std::size_t k = 0; k < count; ++k) error = std::max(error, std::abs(scaled[k] - unit[k]));
        BVC_CHECK(error < 1e-14);
        const double value =
            bvc::synthesis::DisentanglerObjective(far.data(), kQubits, bond, 2.0).value(p.data(), scratch);
        BVC_CHECK(std::abs(value - unit_value) < 1e-12);
    }
    BVC_CHECK(unit[0] > unit[count - 1] && unit[count - 1] > 0.0);
}

// A Schmidt cutoff drops the faint tail of the cuts beside the pair, on the
// state vector and on a matrix product state alike: a product across the
// cut left of qubit 2 plus 1e-6 of a random state keeps one Schmidt vector
// there instead of four, and the entropy moves by no more than the tail's
// weight can move it.
BVC_TEST(schmidt_cutoff_drops_the_faint_tail_of_both_cuts) {
    const int q0 = 2;
    auto psi = bvc::test::product(random_state(kQubits - q0, 7), random_state(q0, 8));
    const auto faint = random_state(kQubits, 9);
    for (std::size_t i = 0; i < psi.size(); ++i) psi[i] += 1e-6 * faint[i];
    const bvc::synthesis::DisentanglerObjective exact(psi.data(), kQubits, q0, 1.0);
    const bvc::synthesis::DisentanglerObjective cut(psi.data(), kQubits, q0, 1.0, 1e-4);
    BVC_CHECK(exact.left_rank() == 4);
    BVC_CHECK(cut.left_rank() == 1);
    BVC_CHECK(cut.gram_dimension() < exact.gram_dimension());
    bvc::synthesis::ObjectiveScratch scratch;
    const auto p = random_parameters(40);
    BVC_CHECK(std::abs(cut.value(p.data(), scratch) - exact.value(p.data(), scratch)) < 1e-9);

    bvc::Interrupt never;
    const bvc::mps::Mps mps = bvc::mps::from_dense(psi.data(), kQubits, bvc::mps::Truncation{}, never);
    const bvc::synthesis::LocalForm form = bvc::mps::local_form(mps, q0, 1e-4);
    BVC_CHECK(form.chi_left == cut.left_rank() && form.chi_right == cut.right_rank());
    const bvc::synthesis::DisentanglerObjective from_mps(form, kQubits, q0, 1.0);
    BVC_CHECK(std::abs(from_mps.value(p.data(), scratch) - cut.value(p.data(), scratch)) < 1e-10);
}
