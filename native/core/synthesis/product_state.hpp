// Product-state approximation of a state vector by a sequential rank-1
// decomposition, and the single-qubit rotation that prepares one factor.
#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <vector>

#include "core/runtime/lapack.hpp"

namespace bvc::synthesis {

using cplx = std::complex<double>;

struct ProductState {
    // factors[k] belongs to qubit k; every factor has unit norm. For a state
    // of 2^n amplitudes each factor has two entries (the factor of qubit 0
    // takes whatever is left when the length is larger).
    std::vector<std::vector<cplx>> factors;
    // factors[n-1] (x) ... (x) factors[0], normalised.
    std::vector<cplx> product;
};

// Peels off qubits n-1 down to 1, each as the dominant left singular vector
// of the remainder read as a 2-row matrix. Requires `size` to be a positive
// multiple of 2^(n_qubits-1) when n_qubits > 1 (the caller checks);
// throws InvalidValue "state must have nonzero norm" for a zero state and
// DecompositionFailed when LAPACK does not converge.
ProductState product_state_approximation(const cplx* state, std::size_t size, int n_qubits, bvc::lapack::Workspace& ws);

// Rotation vector (vx, vy, 0) whose rotation takes |0> to (a, b)/|(a, b)| up to
// a global phase. Throws InvalidValue "product factor must be a nonzero
// two-component vector" for a zero factor.
std::array<double, 3> product_factor_rotation(cplx a, cplx b);

}  // namespace bvc::synthesis
