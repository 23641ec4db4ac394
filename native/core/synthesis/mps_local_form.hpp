// What the disentangler search reads off a matrix product state: the local
// form around a pair of qubits, and the product-state approximation.
#pragma once

#include <array>
#include <complex>
#include <vector>

#include "core/mps/mps.hpp"
#include "core/runtime/lapack.hpp"
#include "core/synthesis/disentangler_objective.hpp"

namespace bvc::mps {

// theta[alpha, j, beta] of the pair (q0, q0 + 1), in the canonical form
// diag(schmidt[q0]) B_q0 B_q0+1: alpha over the left Schmidt vectors of the
// cut left of q0, beta over the right ones of the cut right of q0 + 1. The
// norm is left out. Schmidt vectors are kept as the decompositions of the
// state vector keep them (synthesis::DisentanglerObjective): values above
// max(rows, cols) machine epsilons of the largest, for the shapes the two
// dense matrices would have (capped at those of kMaxDenseQubits qubits), so
// that both paths solve the same eigenvalue problems; values at or below
// `schmidt_cutoff` times the largest are dropped too. 0 <= q0 < n - 1, not
// checked.
synthesis::LocalForm local_form(const Mps& state, int q0, double schmidt_cutoff = 0.0);

// The sequential rank-1 approximation of the state, qubits n - 1 down to 1
// and then qubit 0, as the sweep over the state vector takes it
// (synthesis::product_state_approximation): each step keeps the dominant left
// singular vector of the qubit against the rest of the state so far, which
// in the canonical form is the 2 x chi matrix of that qubit's tensor
// against its left Schmidt values. factors[k] belongs to qubit k, unit
// norm; each equals the state vector's factor up to a phase. Throws
// std::runtime_error when LAPACK fails.
std::vector<std::array<cplx, 2>> product_factors(const Mps& state, lapack::Workspace& ws);

}  // namespace bvc::mps
