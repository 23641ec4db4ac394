// The synthesis on a matrix product state: local objectives, gates applied in place.
#include "mps_state.hpp"

#include <pybind11/numpy.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"
#include "bind/signals.hpp"
#include "core/mps/mps_evolution.hpp"
#include "core/runtime/defaults.hpp"
#include "core/synthesis/adjoint_gradient.hpp"
#include "core/synthesis/gates.hpp"
#include "core/synthesis/mps_adjoint_gradient.hpp"
#include "core/synthesis/mps_local_form.hpp"
#include "core/synthesis/product_state.hpp"
#include "snapshot.hpp"

namespace bvc::corvinth {

using namespace bvc::bind;
using namespace pybind11::literals;

namespace {

// The widest chain whose long refinements run on the vector of psi0's
// amplitudes (16 MiB at 20 qubits): there the split gradient on two
// threads is cheaper than the MPS one once the circuit is deep, as the
// bonds of its intermediate states grow. The last refinement of h10 at 570
// CNOTs took 240 iterations in 110 s on the vector, 96 on the MPS.
constexpr int kVectorRefineMostQubits = 20;

}  // namespace

std::shared_ptr<const bvc::mps::Mps> native_mps(py::handle brimvale_mps) {
    return brimvale_mps.attr("_data").cast<std::shared_ptr<bvc::mps::Mps>>();
}

MpsSynthesisState::MpsSynthesisState(const bvc::mps::Mps& psi0, const bvc::mps::Truncation& truncation,
                                     py::object module, double schmidt_cutoff)
    : psi0_(psi0), truncation_(truncation), module_(std::move(module)), schmidt_cutoff_(schmidt_cutoff) {
    // The canonical form keeps the norm apart: dropping it normalises.
    psi0_.norm = 1.0;
    psi0_.discarded_weight = 0.0;
    // Snapshots are scored against psi0 itself; the disentanglers work on a
    // copy within the bounds, so that a small max_bond makes even the first
    // layer's objectives small.
    py::gil_scoped_release release;
    bvc::Interrupt interrupt = signal_interrupt();
    current_ = bvc::mps::truncated(psi0_, truncation_, interrupt);
}

std::string MpsSynthesisState::overlap_estimate_bounds() const {
    const int half = psi0_.size() / 2;
    // The largest bond a chain of n qubits can have is 2^(n/2); the shift is
    // bounded only so that it stays defined on the longest chains.
    const bool cap_binds = truncation_.max_bond > 0 && truncation_.max_bond < (std::int64_t{1} << std::min(half, 62));
    if (!cap_binds && !(truncation_.cutoff > bvc::defaults::kMpsRoundingCutoff)) return {};
    return "max_bond=" + std::to_string(truncation_.max_bond) +
           ", cutoff=" + py::cast<std::string>(py::repr(py::float_(truncation_.cutoff)));
}

ObjectiveFactory MpsSynthesisState::objectives() {
    return [state = &current_, cutoff = schmidt_cutoff_](int q0, double alpha) {
        return std::make_shared<const synthesis::DisentanglerObjective>(bvc::mps::local_form(*state, q0, cutoff),
                                                                        state->size(), q0, alpha);
    };
}

void MpsSynthesisState::apply_group(const std::vector<int>& bonds, const std::vector<EntanglerParams>& params) {
    py::gil_scoped_release release;
    bvc::mps::Evolution evolution(std::move(current_), truncation_, signal_interrupt());
    for (std::size_t b = 0; b < bonds.size(); ++b) {
        evolution.apply_pair(bonds[b], synthesis::entangler_matrix(params[b].data()), true);
    }
    current_ = evolution.finish();
}

bvc::corvinth::Rotations MpsSynthesisState::product_rotations() const {
    std::vector<std::array<cplx, 2>> factors;
    {
        py::gil_scoped_release release;
        bvc::lapack::Workspace workspace;
        factors = bvc::mps::product_factors(current_, workspace);
    }
    bvc::corvinth::Rotations rotations;
    for (const auto& f : factors) rotations.push_back(synthesis::product_factor_rotation(f[0], f[1]));
    return rotations;
}

py::tuple MpsSynthesisState::snapshot(const py::list& gate_rows, const py::object& pauli_terms, bool compact) {
    const py::object rows = as_real_array(gate_rows).attr("reshape")(-1, synthesis::kGateRowWidth);
    const py::object circuit = bvc::corvinth::build_reverse_preparation(module_, py::int_(current_.size()),
                                                                        product_rotations(), rows, compact);
    return score(circuit, pauli_terms);
}

py::tuple MpsSynthesisState::score(const py::object& circuit, const py::object& pauli_terms) const {
    const py::object max_bond = truncation_.max_bond > 0 ? py::object(py::int_(truncation_.max_bond)) : py::none();
    const py::object result =
        circuit.attr("execute")("backend"_a = "mps", "max_bond"_a = max_bond, "cutoff"_a = truncation_.cutoff);
    const py::object prepared = result.attr("mps");
    const std::shared_ptr<const bvc::mps::Mps> state = native_mps(prepared);
    // The overlap kernel reads both chains site by site.
    if (state->size() != psi0_.size()) {
        raise(PyExc_ValueError, "the circuit's state has " + std::to_string(state->size()) + " qubits, psi0 " +
                                    std::to_string(psi0_.size()));
    }
    cplx value;
    {
        py::gil_scoped_release release;
        bvc::Interrupt interrupt = signal_interrupt();
        value = bvc::mps::overlap(psi0_, *state, interrupt);
    }
    // Rounding in the simulator may push a perfect overlap just above 1; NaN stays NaN.
    double overlap = std::abs(value);
    if (!std::isnan(overlap)) overlap = std::clamp(overlap, 0.0, 1.0);
    py::object energy = py::none();
    if (!pauli_terms.is_none()) energy = py::float_(to_float(prepared.attr("expectation")(pauli_terms).attr("real")));
    return py::make_tuple(circuit, overlap, energy);
}

py::tuple MpsSynthesisState::refine(const py::list& gate_rows, const py::object& pauli_terms, bool compact,
                                    const py::tuple& unrefined) {
    bvc::corvinth::RefineProblem problem = problem_for(gate_rows, pauli_terms, compact);
    // The dense path's budget of work, a gate costing what one on 2^n
    // amplitudes would take as long for: measured, about 4 chi^3 for the
    // largest bond chi of the state, and no less than 8192 (the fixed costs
    // of the small decompositions).
    double bond = 1.0;
    for (const bvc::mps::Tensor& t : psi0_.sites) bond = std::max(bond, static_cast<double>(t.right));
    problem.iterations = bvc::corvinth::refine_iterations(std::max(4.0 * bond * bond * bond, 8192.0),
                                                          static_cast<std::size_t>(problem.rows.shape(0)));
    return bvc::corvinth::refine_circuit(module_, problem, unrefined);
}

bvc::corvinth::RefineProblem MpsSynthesisState::refine_problem(const py::list& gate_rows, const py::object& pauli_terms,
                                                               bool compact, unsigned threads, bool long_run) {
    const bool on_vector = long_run && psi0_.size() <= kVectorRefineMostQubits;
    return problem_for(gate_rows, pauli_terms, compact, on_vector ? std::max(threads, 1u) : 0);
}

std::unique_ptr<synthesis::CircuitFidelity> MpsSynthesisState::vector_fidelity(std::vector<std::array<int, 2>> pairs,
                                                                               unsigned threads) const {
    const int n = psi0_.size();
    std::vector<cplx> amplitudes(std::size_t{1} << n);
    {
        py::gil_scoped_release release;
        bvc::Interrupt interrupt = signal_interrupt();
        bvc::mps::to_dense(psi0_, amplitudes.data(), interrupt);
    }
    double norm = 0.0;
    for (const cplx& a : amplitudes) norm += std::norm(a);
    const double scale = 1.0 / std::sqrt(norm);
    for (cplx& a : amplitudes) a *= scale;
    return std::make_unique<synthesis::ReversePreparationFidelity>(amplitudes.data(), n, std::move(pairs), threads,
                                                                   [] { check_signals(); });
}

bvc::corvinth::RefineProblem MpsSynthesisState::problem_for(const py::list& gate_rows, const py::object& pauli_terms,
                                                            bool compact, unsigned vector_threads) {
    const int n = current_.size();
    bvc::corvinth::RefineProblem problem;
    problem.rotations = product_rotations();
    problem.rows = as_real_array(as_real_array(gate_rows).attr("reshape")(-1, synthesis::kGateRowWidth));
    if (vector_threads > 0) {
        problem.fidelity = vector_fidelity(bvc::corvinth::row_pairs(problem.rows), vector_threads);
    } else {
        problem.fidelity = std::make_unique<synthesis::MpsReversePreparationFidelity>(
            psi0_, bvc::corvinth::row_pairs(problem.rows), truncation_, signal_interrupt());
    }
    problem.metric = bvc::corvinth::circuit_metric(n, problem.rows);
    problem.score = [this, n, pauli_terms, compact](const bvc::corvinth::Rotations& rotations, const py::object& rows) {
        return score(bvc::corvinth::build_reverse_preparation(module_, py::int_(n), rotations, rows, compact),
                     pauli_terms);
    };
    return problem;
}

void MpsSynthesisState::restart(const py::list& gate_rows) {
    const RealArray rows = as_real_array(as_real_array(gate_rows).attr("reshape")(-1, synthesis::kGateRowWidth));
    py::gil_scoped_release release;
    bvc::Interrupt interrupt = signal_interrupt();
    bvc::mps::Evolution evolution(bvc::mps::truncated(psi0_, truncation_, interrupt), truncation_, signal_interrupt());
    for (py::ssize_t k = 0; k < rows.shape(0); ++k) {
        const double* row = rows.data() + k * synthesis::kGateRowWidth;
        evolution.apply_pair(static_cast<int>(row[0]), synthesis::entangler_matrix(row + 2), true);
    }
    current_ = evolution.finish();
}

}  // namespace bvc::corvinth
