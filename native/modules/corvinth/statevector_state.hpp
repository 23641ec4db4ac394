// The synthesis on the state vector of 2^n amplitudes: the default path.
#pragma once

#include "bind/arrays.hpp"
#include "synthesis_state.hpp"

namespace bvc::corvinth {

class DenseSynthesisState : public SynthesisState {
public:
    // `psi0`: the normalised state; `module` is corvinth itself. The bonds'
    // objectives leave out Schmidt values at or below `schmidt_cutoff` times
    // the largest (synthesis::DisentanglerObjective).
    DenseSynthesisState(bvc::bind::ComplexArray psi0, int n_qubits, py::object module, double schmidt_cutoff = 0.0);

    ObjectiveFactory objectives() override;
    void apply_group(const std::vector<int>& bonds, const std::vector<EntanglerParams>& params) override;
    py::tuple snapshot(const py::list& gate_rows, const py::object& pauli_terms, bool compact) override;
    py::tuple refine(const py::list& gate_rows, const py::object& pauli_terms, bool compact,
                     const py::tuple& unrefined) override;
    bvc::corvinth::RefineProblem refine_problem(const py::list& gate_rows, const py::object& pauli_terms, bool compact,
                                                unsigned threads, bool long_run) override;
    void restart(const py::list& gate_rows) override;

private:
    bvc::bind::ComplexArray psi0_;
    // psi0 with every accepted disentangler applied; a new array per gate.
    bvc::bind::ComplexArray disentangled_;
    int n_;
    py::object module_;
    double schmidt_cutoff_;
};

}  // namespace bvc::corvinth
