// The reverse-preparation circuit in few gates: every disentangler with at
// most three CNOTs, and each run of single-qubit gates on a wire merged into
// one rotation. The gates prepare exactly the state of the plain emission
// (product-state rotations, then each disentangler inverted, newest first),
// global phase included.
#pragma once

#include <cstddef>
#include <vector>

#include "core/statevector/circuit.hpp"

namespace bvc::synthesis {

// The CNOTs that exp(-i (a XX + b YY + c ZZ)) takes in this construction.
// Each angle is reduced modulo pi/2 (the multiples are local Pauli
// products); then no nonzero remainder needs none, a single remainder of
// exactly +-pi/4 needs one, one or two nonzero remainders need two, and
// three need three.
int pauli_core_cnots(double a, double b, double c);

// `rotations` holds one rotation vector (3 values) per qubit; `rows` holds
// `row_count` gate rows (q0, q1 and nine parameters, kGateRowWidth values
// each) in the order the disentanglers were applied, with integral qubits
// 0 <= q0 < q1 < n_qubits (checked by the caller). The result uses only
// RZ, RY and CX.
std::vector<bvc::circuit::Operation> compact_reverse_preparation(int n_qubits, const double* rotations,
                                                                 const double* rows, std::size_t row_count);

}  // namespace bvc::synthesis
