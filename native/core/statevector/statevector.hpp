// State-vector kernels. A state of n qubits is 2^n amplitudes, qubit q the
// bit q of the basis index (qubit 0 least significant). The caller owns the
// memory; every kernel works in place.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/runtime/interrupt.hpp"
#include "core/statevector/small_matrix.hpp"

namespace bvc::sv {

void apply_1q(cplx* psi, int n_qubits, int qubit, const Mat2& u);
// Any 4x4 matrix on qubits q0 != q1 (either order; the matrix is read in the
// basis |q1 q0> with q1 the high bit of the local index).
//
// Each row's four terms are added pairwise, ((t0 + t1) + (t2 + t3)), or left
// to right, (((t0 + t1) + t2) + t3) as std::complex sums them. The circuit
// simulator adds pairwise and the synthesis left to right: each keeps the
// order its results were first made with, to the last bit.
enum class Summation { pairwise, left_to_right };
void apply_2q(cplx* psi, int n_qubits, int q0, int q1, const Mat4& u, Summation order = Summation::pairwise);
void apply_cx(cplx* psi, int n_qubits, int control, int target);
void apply_cz(cplx* psi, int n_qubits, int a, int b);
void apply_swap(cplx* psi, int n_qubits, int a, int b);

// The largest |real| or |imaginary| part among n amplitudes (NaN ignored).
double largest_component(const cplx* v, std::size_t n);

// The power of two that brings `largest` into [0.5, 1): multiplying by it is
// exact, so kernels that square amplitudes of any finite size scale them by
// it first and neither overflow nor lose digits to subnormal squares. 1 for
// zero or a non-finite value.
double unit_scale(double largest);

// One Pauli string as bit masks: `x` marks the qubits acted on by X or Y,
// `z` those acted on by Z or Y.
struct PauliMask {
    std::uint64_t x = 0;
    std::uint64_t z = 0;
};

// <psi| P |psi> for the Pauli string P of `mask` (no coefficient); real,
// since every Pauli string is Hermitian.
double pauli_expectation(const cplx* psi, int n_qubits, const PauliMask& mask);

// sum_k coeffs[k] * <psi| P_k |psi>; each term's pass over the state is
// reported to `interrupt`.
cplx hamiltonian_expectation(const cplx* psi, int n_qubits, const std::vector<PauliMask>& masks,
                             const std::vector<cplx>& coeffs, Interrupt interrupt = {});

}  // namespace bvc::sv
