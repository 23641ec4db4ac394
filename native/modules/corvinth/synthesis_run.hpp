// The layer loop of the synthesis: the header, each layer's brick groups of
// bond searches, the gates applied to the state, the snapshot printed after
// every layer, the optional refinement and the CvdResult.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>

#include "bond_search.hpp"
#include "synthesis_state.hpp"

namespace bvc::corvinth {

namespace py = pybind11;

struct Settings {
    std::int64_t layers = 0;
    py::list renyi_indices;
    // As the caller gave it, for the header (an int, a bool or a NumPy integer).
    py::object restarts_given;
    py::object pauli_terms;
    bool compact = false;
    bool refine = false;
    SearchSettings search;
    // corvinth itself.
    py::object module;
};

py::object run_cvd(SynthesisState& state, Settings& s);

}  // namespace bvc::corvinth
