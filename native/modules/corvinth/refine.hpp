// Refinement of the final reverse-preparation circuit: every parameter
// (the product-state rotations and the nine of each disentangler) optimised
// jointly for the fidelity with the DMRG state, from the layer-by-layer fit.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "bind/arrays.hpp"
#include "core/optimize/lbfgs.hpp"
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
    // The circuit's metric (core/synthesis/circuit_metric), or null where
    // the circuit is too wide to simulate as a vector.
    std::unique_ptr<bvc::optimize::Preconditioner> metric;
};

// The metric of a circuit of n qubits with the pairs of `rows`, or null
// above kMetricMostQubits. It depends on the circuit alone, so an MPS
// problem within that width measures it on the state vector too.
std::unique_ptr<bvc::optimize::Preconditioner> circuit_metric(int n, const bvc::bind::RealArray& rows);

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

// When a converging refinement stops: once the fidelity gained over the
// last `window` iterations is below `least_gain` per iteration, at the
// deadline, or after `most_iterations`. `history` is the optimiser's memory.
// The window is long because the refinement crosses plateaus: on the H2O
// preset (seven layers) a window of 20 stopped at 3.5 mHa, one of 50 at
// 1.8 mHa in the same time; a smaller gain (3e-7) took three times as long
// for nothing. The last layer's refinement runs longer (window 100, gain
// 1e-7): 0.70 mHa against 1.38 mHa there, for ten more seconds.
//
// A refinement before the last layer stops once it gains less than 1e-4 per
// iteration, which in practice is after the first window: the layers still
// to come are refined with it, and refining it longer made the end result
// worse as well as slower. On the H8 chain at 360 CNOTs the run gave
// 0.994480 in 327 s with 1e-4, 0.993238 in 353 s with 1e-5 and 0.990707 in
// 394 s with 1e-6; on the H2O preset 0.60 mHa with 1e-4 or 1e-5 against
// 0.70 mHa with 1e-6, three seconds sooner.
//
// A preconditioned refinement, when the problem has a metric, runs the
// native L-BFGS of core/optimize with the circuit's metric, measured again
// every 100 iterations, in place of SciPy's L-BFGS-B. Its steps then move
// the state about as far whichever gate they turn. From the same start, the
// last refinement of the H8 chain at 360 CNOTs passed 0.995 after about
// 2,000 iterations against 4,819, and stopped at 0.995418 after about 4,000
// against 0.995593 after 7,263.
struct Convergence {
    int window = 50;
    double least_gain = 1e-4;
    int history = 10;
    int most_iterations = 100000;
    std::optional<std::chrono::steady_clock::time_point> deadline;
    bool preconditioned = false;
};

// A refined circuit: (circuit, overlap_mod, energy or None) as the problem
// scores it, its rotations and gate rows (float64, shape (count, 11)), the
// iterations taken and whether the deadline ended them.
struct RefinedCircuit {
    py::tuple scored;
    Rotations rotations;
    py::array_t<double> rows;
    int iterations = 0;
    bool out_of_time = false;
};

// Every parameter of the problem's circuit optimised jointly until the rule
// says stop; never worse than the start. Prints nothing on standard output.
// Uses up problem.fidelity.
//
// `progress`, when not None, is a progress bar (brimvale_chemistry._progress):
// it counts the iterations and shows the overlap reached.
RefinedCircuit refine_until_converged(py::handle module, RefineProblem& problem, const Convergence& rule,
                                      py::object progress = py::none());

// The problem of refining, on the state vector, the reverse preparation of
// `disentangled` (the product-state rotations of its approximation) with the
// disentanglers of `gate_rows` against the normalised `psi0`; without score.
// With `split_threads` of 0 its gradient takes the serial sweeps; else it is
// swept in halves, on two threads when `split_threads` is two or more.
RefineProblem reverse_preparation_problem(const bvc::bind::ComplexArray& psi0, py::handle disentangled, int n,
                                          const py::list& gate_rows, unsigned split_threads = 0);

// The refinement on the state vector.
py::tuple refine_reverse_preparation(py::handle module, const bvc::bind::ComplexArray& psi0, py::handle disentangled,
                                     const py::int_& n_qubits, const py::list& gate_rows, py::handle pauli_terms,
                                     bool compact, const py::tuple& unrefined);

// The native objective class handed to the optimiser.
void register_refine_objective(py::module_& m);

}  // namespace bvc::corvinth
