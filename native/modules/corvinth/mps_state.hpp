// The synthesis on a matrix product state (state="mps"): no vector of 2^n
// amplitudes is ever formed. Each bond's objective is built from its local
// form read off the canonical MPS, a brick group's gates are applied as
// two-site updates, the product-state approximation runs on the MPS, and each
// snapshot runs its circuit on the circuit library's MPS backend.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "core/mps/mps.hpp"
#include "refine.hpp"
#include "synthesis_state.hpp"

namespace bvc::corvinth {

// The native state behind a brimvale.MPS.
std::shared_ptr<const bvc::mps::Mps> native_mps(py::handle brimvale_mps);

class MpsSynthesisState : public SynthesisState {
public:
    // `psi0`: the target state (any norm, it is normalised here); every gate
    // application and circuit simulation is truncated as `truncation` says.
    // `module` is corvinth itself. The bonds' objectives leave out Schmidt
    // values at or below `schmidt_cutoff` times the largest (bvc::mps::local_form).
    MpsSynthesisState(const bvc::mps::Mps& psi0, const bvc::mps::Truncation& truncation, py::object module,
                      double schmidt_cutoff = 0.0);

    ObjectiveFactory objectives() override;
    void apply_group(const std::vector<int>& bonds, const std::vector<EntanglerParams>& params) override;
    py::tuple snapshot(const py::list& gate_rows, const py::object& pauli_terms, bool compact) override;
    py::tuple refine(const py::list& gate_rows, const py::object& pauli_terms, bool compact,
                     const py::tuple& unrefined) override;
    // A long run on a chain of at most kVectorRefineMostQubits qubits
    // works on psi0's vector of amplitudes.
    bvc::corvinth::RefineProblem refine_problem(const py::list& gate_rows, const py::object& pauli_terms, bool compact,
                                                unsigned threads, bool long_run) override;
    void restart(const py::list& gate_rows) override;
    // What the gates applied to the state have dropped so far.
    double discarded_weight() const override { return current_.discarded_weight; }
    // "max_bond=..., cutoff=..." when the bounds can drop more than rounding:
    // a max_bond below the largest bond a chain of n qubits can have,
    // 2^(n/2), or a cutoff above the default, which only drops rounding noise.
    std::string overlap_estimate_bounds() const override;

private:
    // The rotations preparing the product-state approximation of the current state.
    bvc::corvinth::Rotations product_rotations() const;
    // The refinement of `gate_rows` against psi0, without an iteration budget;
    // with `vector_threads` above 0, on psi0's vector with that many threads.
    bvc::corvinth::RefineProblem problem_for(const py::list& gate_rows, const py::object& pauli_terms, bool compact,
                                             unsigned vector_threads = 0);
    // The fidelity with psi0's vector of 2^n amplitudes, swept in halves on `threads` threads.
    std::unique_ptr<synthesis::CircuitFidelity> vector_fidelity(std::vector<std::array<int, 2>> pairs,
                                                                unsigned threads) const;
    // (circuit, overlap_mod with psi0, energy or None) of a circuit run on the MPS backend.
    py::tuple score(const py::object& circuit, const py::object& pauli_terms) const;

    bvc::mps::Mps psi0_;
    // psi0 with every accepted disentangler applied, in canonical form.
    bvc::mps::Mps current_;
    bvc::mps::Truncation truncation_;
    py::object module_;
    double schmidt_cutoff_;
};

}  // namespace bvc::corvinth
