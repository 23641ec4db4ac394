// Refinement of the final reverse-preparation circuit: every parameter
// (the product-state rotations and the nine of each disentangler) optimised
// jointly for the fidelity with the DMRG state, from the layer-by-layer fit.
#pragma once

#include <pybind11/pybind11.h>

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "bind/arrays.hpp"
#include "core/synthesis/adjoint_gradient.hpp"

namespace bvc::corvinth {

namespace py = pybind11;

using Rotations = std::vector<std::array<double, 3>>;

// What the refinement works on: the layer-by-layer circuit (its rotations
// and gate rows, a float64 array of shape (count, 11)), the fidelity of
// such circuits with the state, how many L-BFGS-B iterations it may take,
// and how a circuit of refined parameters is built and scored
// ((circuit, overlap_mod, energy or None), as the snapshot scores).
struct RefineProblem {
    Rotations rotations;
    bvc::bind::RealArray rows;
    std::unique_ptr<bvc::synthesis::CircuitFidelity> fidelity;
    int iterations = 0;
    std::function<py::tuple(const Rotations& rotations, const py::object& rows)> score;
};

// The pairs (q0, q1) of the gate rows.
std::vector<std::array<int, 2>> row_pairs(const bvc::bind::RealArray& rows);

// The iteration budget of a circuit of `rows` gate rows whose simulation
// updates about `amplitudes` amplitudes per gate.
int refine_iterations(double amplitudes, std::size_t rows);

// Runs the refinement after the last layer and prints its "Refined" metrics
// line. `unrefined` is the last layer's (circuit, overlap_mod, energy or
// None); the result has the same form and is the refined circuit, or the
// unrefined one if refining did not raise the overlap.
py::tuple refine_circuit(py::handle module, RefineProblem& problem, const py::tuple& unrefined);

// The refinement on the state vector.
py::tuple refine_reverse_preparation(py::handle module, const bvc::bind::ComplexArray& psi0, py::handle disentangled,
                                     const py::int_& n_qubits, const py::list& gate_rows, py::handle pauli_terms,
                                     bool compact, const py::tuple& unrefined);

// The native objective class handed to the optimiser.
void register_refine_objective(py::module_& m);

}  // namespace bvc::corvinth
