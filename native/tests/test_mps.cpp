// Tests of the MPS kernels against dense states.
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "check.hpp"
#include "core/mps/mps.hpp"
#include "core/mps/mps_circuit.hpp"
#include "core/mps/mps_evolution.hpp"
#include "core/mps/mps_expectation.hpp"
#include "core/mps/mps_sampling.hpp"
#include "core/statevector/circuit.hpp"
#include "core/statevector/sampling.hpp"
#include "core/statevector/statevector.hpp"
#include "core/synthesis/entanglement.hpp"
#include "core/synthesis/gates.hpp"
#include "states.hpp"

namespace {

using bvc::test::cplx;
using bvc::test::distance;
namespace mps = bvc::mps;

constexpr int kQubits = 6;

std::vector<cplx> dense(const mps::Mps& state) {
    std::vector<cplx> out(std::size_t{1} << state.size());
    bvc::Interrupt interrupt;
    mps::to_dense(state, out.data(), interrupt);
    return out;
}

mps::Mps from_dense(const std::vector<cplx>& psi, mps::Truncation truncation = {}) {
    bvc::Interrupt interrupt;
    return mps::from_dense(psi.data(), static_cast<int>(std::log2(psi.size())), truncation, interrupt);
}

// A random state of norm 2.5.
std::vector<cplx> scaled_state(unsigned seed) {
    auto psi = bvc::test::random_state(kQubits, seed);
    for (cplx& a : psi) a *= 2.5;
    return psi;
}

}  // namespace

// A dense state survives the MPS and back; the MPS is right-isometric, its
// Schmidt values are the dense state's, and overlaps are the dense ones.
BVC_TEST(mps_round_trip_schmidt_values_and_overlap) {
    const auto psi = scaled_state(40), phi = scaled_state(41);
    const auto state = from_dense(psi), other = from_dense(phi);
    BVC_CHECK(distance(dense(state), psi) < 1e-13);
    BVC_CHECK(std::abs(state.norm - 2.5) < 1e-13);
    double isometry = 0.0;
    for (const auto& t : state.sites) {
        for (int a = 0; a < t.left; ++a)
            for (int a2 = 0; a2 < t.left; ++a2) {
                cplx sum = 0.0;
                for (int s = 0; s < 2; ++s)
                    for (int b = 0; b < t.right; ++b)
                        sum += t.data[a + t.left * (s + 2 * b)] * std::conj(t.data[a2 + t.left * (s + 2 * b)]);
                isometry = std::max(isometry, std::abs(sum - (a == a2 ? 1.0 : 0.0)));
            }
    }
    BVC_CHECK(isometry < 1e-13);
    bvc::synthesis::SchmidtWorkspace ws;
    double spectrum = 0.0;
    for (int bond = 0; bond + 1 < kQubits; ++bond) {
        std::vector<double> p(bvc::synthesis::schmidt_count(kQubits, bond));
        bvc::synthesis::schmidt_probabilities(psi.data(), kQubits, bond, p.data(), ws);
        const auto& s = state.schmidt[bond + 1];  // MPS bond b is the cut left of qubit b
        BVC_CHECK(s.size() == p.size());
        for (std::size_t k = 0; k < p.size() && k < s.size(); ++k)
            spectrum = std::max(spectrum, std::abs(s[k] * s[k] - p[k]));
    }
    BVC_CHECK(spectrum < 1e-13);
    cplx vdot = 0.0;
    for (std::size_t i = 0; i < psi.size(); ++i) vdot += std::conj(phi[i]) * psi[i];
    bvc::Interrupt interrupt;
    BVC_CHECK(std::abs(mps::overlap(other, state, interrupt) - vdot) < 1e-12);
}

// Truncation keeps the largest values and reports the dropped weight.
BVC_TEST(mps_truncation_keeps_the_largest_values) {
    const double s[4] = {0.8, 0.5, 0.3, 0.1};
    const double total = 0.64 + 0.25 + 0.09 + 0.01;
    const auto kept = mps::kept_values(s, 4, mps::Truncation{2, 0.0});
    BVC_CHECK(kept.count == 2);
    BVC_CHECK(std::abs(kept.discarded_fraction - 0.10 / total) < 1e-15);
    BVC_CHECK(std::abs(kept.scale * kept.scale * (0.64 + 0.25) - total) < 1e-14);
    // The cutoff is relative to the norm of the spectrum, sqrt(0.99).
    BVC_CHECK(mps::kept_values(s, 4, mps::Truncation{0, 0.2}).count == 3);
    BVC_CHECK(mps::kept_values(s, 4, mps::Truncation{0, 0.35}).count == 2);
    const auto state = from_dense(scaled_state(42), mps::Truncation{2, 0.0});
    for (const auto& t : state.sites) BVC_CHECK(t.left <= 2 && t.right <= 2);
    BVC_CHECK(state.discarded_weight > 0.0 && state.discarded_weight < 1.0);
}

// Gate lists on the MPS (neighbouring and distant pairs, every gate of the
// library) give the state vector's amplitudes, and a disentangler applied
// as a TEBD step equals the two-qubit state kernel.
BVC_TEST(mps_gates_match_state_vector_kernels) {
    using bvc::circuit::Gate;
    std::mt19937 gen(43);
    std::uniform_int_distribution<int> qubit(0, kQubits - 1), gate(0, 11);
    std::uniform_real_distribution<double> angle(-3.0, 3.0);
    std::vector<bvc::circuit::Operation> ops;
    for (int k = 0; k < 120; ++k) {
        const auto g = static_cast<Gate>(gate(gen));
        const int q0 = qubit(gen);
        int q1 = -1;
        if (bvc::circuit::is_two_qubit(g)) {
            do q1 = qubit(gen);
            while (q1 == q0);
        }
        ops.push_back({g, q0, q1, angle(gen)});
    }
    std::vector<cplx> expected(std::size_t{1} << kQubits);
    bvc::circuit::simulate(ops, kQubits, expected.data());
    const auto simulated = mps::simulate(ops, mps::product_zero(kQubits), mps::Truncation{}, bvc::Interrupt{});
    BVC_CHECK(distance(dense(simulated), expected) < 1e-12);

    auto psi = scaled_state(44);
    mps::Evolution evolution(from_dense(psi), mps::Truncation{}, bvc::Interrupt{});
    std::normal_distribution<double> normal;
    for (int site : {2, 0, 4, 1}) {
        double p[bvc::synthesis::kEntanglerParams];
        for (double& v : p) v = normal(gen);
        const auto u = bvc::synthesis::entangler_matrix(p);
        bvc::sv::apply_2q(psi.data(), kQubits, site, site + 1, u);
        evolution.apply_pair(site, u, site % 2 == 0);
    }
    BVC_CHECK(distance(dense(evolution.finish()), psi) < 1e-12);
}

// Pauli-string expectations on the MPS equal the state vector's, the norm
// included.
BVC_TEST(mps_pauli_expectations_match_state_vector) {
    const auto psi = scaled_state(45);
    const auto state = from_dense(psi);
    std::mt19937 gen(46);
    std::uniform_int_distribution<int> code(0, 3);
    std::vector<mps::PauliString> strings{{}};
    std::vector<double> expected{6.25};
    for (int k = 0; k < 40; ++k) {
        mps::PauliString string;
        bvc::sv::PauliMask mask;
        for (int site = 0; site < kQubits; ++site) {
            const int c = code(gen);
            if (c == 0) continue;
            string.push_back({site, static_cast<std::uint8_t>(c)});
            if (c != 3) mask.x |= std::uint64_t{1} << site;  // X or Y
            if (c != 1) mask.z |= std::uint64_t{1} << site;  // Y or Z
        }
        strings.push_back(string);
        expected.push_back(bvc::sv::pauli_expectation(psi.data(), kQubits, mask));
    }
    const auto values = mps::pauli_expectations(state, strings, bvc::Interrupt{});
    double worst = 0.0;
    for (std::size_t k = 0; k < values.size(); ++k) worst = std::max(worst, std::abs(values[k] - expected[k]));
    BVC_CHECK(values.size() == expected.size());
    BVC_CHECK(worst < 1e-12);
}

// Outcomes drawn from the MPS in mixed Z, X and Y bases follow the
// probabilities of the state vector rotated into those bases.
BVC_TEST(mps_sampling_follows_the_rotated_probabilities) {
    const auto psi = scaled_state(47);
    const std::vector<mps::Basis> bases{mps::Basis::Z, mps::Basis::X, mps::Basis::Y,
                                        mps::Basis::Z, mps::Basis::Y, mps::Basis::X};
    auto rotated = psi;
    bvc::sampling::rotate_to_pauli_basis(rotated.data(), kQubits, 0b100010, 0b010100);
    std::vector<double> probabilities;
    for (const cplx& a : rotated) probabilities.push_back(std::norm(a) / 6.25);

    const std::uint64_t shots = 200000;
    const auto samples = mps::sample(from_dense(psi), shots, 2077, bases, bvc::Interrupt{});
    BVC_CHECK(samples.words == 1);
    std::vector<double> counts(psi.size(), 0.0);
    double total = 0.0;
    for (std::size_t k = 0; k < samples.counts.size(); ++k) {
        counts[samples.outcomes[k]] += static_cast<double>(samples.counts[k]);
        total += static_cast<double>(samples.counts[k]);
    }
    BVC_CHECK(total == static_cast<double>(shots));
    const auto test = bvc::test::chi_square(counts, probabilities, static_cast<double>(shots));
    BVC_CHECK(test.degrees == 63);
    BVC_CHECK(test.plausible());
}
