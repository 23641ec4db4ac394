// Matrix product states of qubits: the canonical form every operation
// returns, its constructions, and the contractions that read it.
//
// Site k is qubit k. A site tensor of shape (left, 2, right) is stored
// column-major with the left index fastest: element (a, s, b) sits at
// a + left * (s + 2 * b). The same memory is then the left x (2 right)
// matrix "a | s b" and the (2 left) x right matrix "a s | b", and the slice
// of one s is a left x right matrix with leading dimension 2 left, so every
// contraction below is a BLAS call on the stored data.
#pragma once

#include <algorithm>
#include <complex>
#include <cstdint>
#include <vector>

#include "core/runtime/defaults.hpp"
#include "core/runtime/interrupt.hpp"
#include "core/runtime/lapack.hpp"

namespace bvc::mps {

using cplx = std::complex<double>;

// Chains longer than this are refused; every size derived from a site index
// then fits an int.
inline constexpr int kMaxSites = 1 << 16;
// Bonds larger than this are refused: a two-site block of (2 bond)^2
// amplitudes must stay within LAPACK's 32-bit sizes.
inline constexpr int kMaxBond = 1 << 14;
// to_dense writes 2^n amplitudes.
inline constexpr int kMaxDenseQubits = bvc::defaults::kMaxDenseQubits;
// How far a stored state may stray from the canonical form before it is
// refused: rounding leaves about 1e-16 times the bond dimension (at most
// 1e-12 at kMaxBond), while any real damage is many orders larger.
inline constexpr double kCanonicalTolerance = 1e-9;

struct Tensor {
    int left = 1;
    int right = 1;
    std::vector<cplx> data;  // left * 2 * right entries

    Tensor() = default;
    Tensor(int left_dim, int right_dim)
        : left(left_dim), right(right_dim), data(static_cast<std::size_t>(left_dim) * 2 * right_dim) {}

    // The left x right matrix of one physical value, leading dimension 2 left.
    cplx* slice(int s) { return data.data() + static_cast<std::size_t>(left) * s; }
    const cplx* slice(int s) const { return data.data() + static_cast<std::size_t>(left) * s; }
};

// How much of a Schmidt spectrum a decomposition keeps. A value is dropped
// when it is at most `cutoff` times the norm of the whole spectrum (so
// cutoff 0 drops exact zeros only) or when it is not among the `max_bond`
// largest (max_bond 0: no limit). At least one value is always kept, and the
// kept values are rescaled so that the state keeps its norm.
struct Truncation {
    int max_bond = 0;
    double cutoff = 0.0;
};

// The canonical form. Every site tensor is right-isometric
// (sum_s B[s] B[s]^dagger = 1) and the right basis of every bond is its
// Schmidt basis, so the state is norm * B_0 B_1 ... B_{n-1} and the reduced
// density matrix of the qubits left of bond b, in the basis of that bond, is
// norm^2 diag(schmidt[b]^2).
struct Mps {
    std::vector<Tensor> sites;
    // Bond b is the cut left of qubit b, b = 0 ... n; bonds 0 and n are the
    // trivial ends ({1}). Values descending, unit sum of squares.
    std::vector<std::vector<double>> schmidt;
    double norm = 1.0;
    // 1 - prod_i (1 - f_i) over every truncation i in the state's history,
    // f_i the fraction of the squared norm it discarded: a fraction in
    // [0, 1]. For the truncations of one canonicalising sweep the projections
    // nest, and it is 1 - |<truncated|exact>|^2 (both normalised) exactly;
    // cuts in two sweeps or between gates make it an estimate of that.
    double discarded_weight = 0.0;

    int size() const { return static_cast<int>(sites.size()); }
};

// The discarded weight of a state that had lost `discarded` and then loses
// the fraction `fraction` of what was left: 1 - (1 - d)(1 - f), written
// d + f (1 - d) so that weights at rounding level come out as their plain
// sum, to the last bit.
inline double compose_discarded(double discarded, double fraction) {
    return std::min(1.0, discarded + fraction * (1.0 - discarded));
}

// |0...0> on n qubits, 1 <= n <= kMaxSites (std::invalid_argument otherwise).
Mps product_zero(int n);

// The MPS of the 2^n amplitudes `psi` (qubit 0 the least significant bit),
// by successive SVDs; amplitudes of any finite size (their norm within the
// double range). std::invalid_argument for a non-finite amplitude, before
// any LAPACK call, or a zero norm.
Mps from_dense(const cplx* psi, int n, const Truncation& truncation, Interrupt& interrupt);

// The canonical form of the product of arbitrary tensors (neighbouring
// bonds must match, the ends be 1 and every entry finite;
// std::invalid_argument otherwise, before any LAPACK call). Entries of any
// finite size are accepted: the factors are kept near 1 by powers of two.
// Tensors left of `centre` must be left-isometric; with centre 0 nothing is
// assumed. `discarded` is the weight already discarded by the caller.
Mps canonicalize(std::vector<Tensor> tensors, int centre, const Truncation& truncation, double discarded,
                 Interrupt& interrupt);

// std::invalid_argument unless `state` is in the canonical form above: chain
// sizes that match, finite entries, every site right-isometric within
// kCanonicalTolerance, the Schmidt values of every bond as many as its
// dimension, finite, non-negative, descending and of unit sum of squares
// (within kCanonicalTolerance), the norm finite and positive and the
// discarded weight in [0, 1]. For states read from outside (a pickle).
void check_canonical(const Mps& state, Interrupt& interrupt);

// `state` brought within `truncation` (one canonicalising sweep, its
// discarded weight added), or an unchanged copy where every bond already is.
Mps truncated(const Mps& state, const Truncation& truncation, Interrupt& interrupt);

// The 2^n amplitudes of the state into `out` (n <= kMaxDenseQubits, checked
// by the caller).
void to_dense(const Mps& state, cplx* out, Interrupt& interrupt);

// <bra|ket>; both on the same number of qubits (checked by the caller).
cplx overlap(const Mps& bra, const Mps& ket, Interrupt& interrupt);

// The Schmidt values kept of the descending spectrum s[0 .. count), with the
// fraction of the squared weight dropped.
struct Kept {
    int count;
    double discarded_fraction;
    double scale;  // factor that restores the norm of the kept values
};
Kept kept_values(const double* s, int count, const Truncation& truncation);

// Helpers shared by the MPS kernels.
namespace detail {

// Throws std::runtime_error naming the routine when LAPACK reports failure.
void check_info(int info, const char* routine);

// Thin SVD a = u diag(s) vt of the rows x cols matrix `a` (destroyed), k =
// min(rows, cols) values; std::runtime_error when LAPACK fails.
void svd(int rows, int cols, cplx* a, cplx* u, double* s, cplx* vt, lapack::Workspace& ws);

// The orthogonality centre moves one site: right by a QR of tensors[c]
// (which becomes left-isometric), left by an LQ (right-isometric).
void move_centre_right(std::vector<Tensor>& tensors, int c, lapack::Workspace& ws);
void move_centre_left(std::vector<Tensor>& tensors, int c, lapack::Workspace& ws);

}  // namespace detail

}  // namespace bvc::mps
