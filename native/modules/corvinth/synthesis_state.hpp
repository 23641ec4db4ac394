// Where the synthesis keeps the state it disentangles: a vector of 2^n
// amplitudes (the default) or a matrix product state (state="mps"). The
// driver's loop over layers and brick groups is the same for both; only what
// reads and changes the state differs.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "bond_search.hpp"
#include "refine.hpp"

namespace bvc::corvinth {

namespace py = pybind11;

class SynthesisState {
public:
    virtual ~SynthesisState() = default;

    // The objectives of the bonds of the next brick group, all read off the
    // current state; valid until apply_group.
    virtual ObjectiveFactory objectives() = 0;

    // The chosen gates of a group on (q0, q0 + 1) for each q0 of `bonds`
    // (disjoint pairs), applied to the state.
    virtual void apply_group(const std::vector<int>& bonds, const std::vector<EntanglerParams>& params) = 0;

    // (circuit, overlap_mod, energy or None) of the reverse preparation of
    // the current state with the disentanglers of `gate_rows`.
    virtual py::tuple snapshot(const py::list& gate_rows, const py::object& pauli_terms, bool compact) = 0;

    // The joint refinement of the last snapshot `unrefined`; prints its line.
    virtual py::tuple refine(const py::list& gate_rows, const py::object& pauli_terms, bool compact,
                             const py::tuple& unrefined) = 0;

    // What a refinement of the reverse preparation of the current state with
    // the disentanglers of `gate_rows` works on: its start, its fidelity and
    // how its circuits are scored. Holds what it needs by value. Its gradient
    // may use up to `threads` threads. A `long_run` (the last refinement,
    // which runs for thousands of iterations) may take a costlier start for
    // cheaper iterations.
    virtual bvc::corvinth::RefineProblem refine_problem(const py::list& gate_rows, const py::object& pauli_terms,
                                                        bool compact, unsigned threads, bool long_run) = 0;

    // The state made psi0 again with the disentanglers of `gate_rows`
    // applied, in order: the remainder the next layer is fitted to after the
    // circuit has been refined.
    virtual void restart(const py::list& gate_rows) = 0;

    // Fraction of the squared norm dropped by truncations so far.
    virtual double discarded_weight() const { return 0.0; }

    // Empty when the snapshots' overlaps are exact (to rounding); else what
    // bounded the simulation they were taken on, for the Parameters line.
    virtual std::string overlap_estimate_bounds() const { return {}; }
};

}  // namespace bvc::corvinth
