// Entanglement across one bond of a qubit chain: the Schmidt probabilities
// of a state vector and their Renyi entropies. The optimiser's objective calls
// both once per evaluation, so neither allocates once its workspace is warm.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <stdexcept>
#include <vector>

#include "core/runtime/lapack.hpp"

namespace bvc::synthesis {

using cplx = std::complex<double>;

// A bad value handed to a kernel; the message is the one shown to the user
// (the binding layer reports it as ValueError).
class InvalidValue : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// LAPACK reported that a decomposition did not converge (non-finite input).
class DecompositionFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Scratch memory of schmidt_probabilities, reused between calls.
struct SchmidtWorkspace {
    std::vector<cplx> matrix;
    bvc::lapack::Workspace lapack;
};

// Number of Schmidt values across `bond`: min(2^(n-bond-1), 2^(bond+1)).
std::size_t schmidt_count(int n_qubits, int bond);

// Normalised squared singular values (non-increasing) of the state read as a
// 2^(n-bond-1) x 2^(bond+1) row-major matrix: rows are qubits bond+1..n-1,
// columns qubits 0..bond. `state` holds 2^n_qubits amplitudes (not checked);
// `probabilities` receives schmidt_count(n_qubits, bond) values.
// Throws InvalidValue "bond must be between adjacent qubits" unless
// 0 <= bond < n_qubits - 1, InvalidValue "state must have nonzero norm" for a
// zero state, DecompositionFailed when LAPACK does not converge.
void schmidt_probabilities(const cplx* state, int n_qubits, int bond, double* probabilities, SchmidtWorkspace& ws);

// A Renyi index this close to 1 gives the von Neumann entropy: the general
// formula divides by 1 - alpha and loses its precision near 1. The band is
// NumPy's isclose(alpha, 1) with its default tolerances (1e-08 absolute plus
// 1e-05 relative), so that the entropy and its gradient switch formulas at
// the same index as the Python callers that test for 1.
inline constexpr double kVonNeumannBand = 1e-08 + 1e-05;
inline bool is_von_neumann_index(double alpha) { return std::abs(alpha - 1.0) <= kVonNeumannBand; }

// A Renyi index is a positive number (+inf included, NaN not).
inline bool is_renyi_index(double alpha) { return alpha > 0.0; }
// Throws InvalidValue "Renyi index must be positive" unless is_renyi_index.
void check_renyi_index(double alpha);

// Renyi entropy (nats) of order alpha of a probability vector. Entries not
// above the float64 machine epsilon are dropped before the rest is
// normalised; alpha = +inf is the min-entropy, alpha within 1.001e-5 of 1 the
// von Neumann entropy. Throws InvalidValue with the user-facing messages
// "Renyi index must be positive", "probabilities must be a nonnegative
// one-dimensional array" (a non-finite or negative entry) and
// "probabilities must have positive total weight". Never allocates.
double renyi_entropy(const double* probabilities, std::size_t count, double alpha);

}  // namespace bvc::synthesis
