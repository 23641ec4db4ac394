// The objective of one disentangler: the Renyi entropy across the bond
// (q0, q0 + 1) of a fixed state after a candidate two-qubit gate on that pair.
//
// How it is evaluated. A gate on (q0, q1) changes nothing outside the two
// qubits, so the entanglement across the bond after the gate depends only on
// the local form of the state around the pair,
//
//     theta[alpha, b0, b1, beta],
//
// alpha running over the nonzero Schmidt vectors of the cut just left of q0
// (qubits 0..q0-1 against the rest) and beta over those of the cut just right
// of q1 (qubits q1+1..n-1 against the rest). It is computed once per bond by
// two thin SVDs, the second one on the already compressed tensor, dropping
// Schmidt values that are zero to rounding (at or below max(rows, cols) times
// machine epsilon times the largest one, the usual numerical-rank bound). From theta we keep the Gram
// matrix K of the smaller side (chi = min(chi_left, chi_right)), which is the
// reduced density matrix of that side plus the pair, written in the Schmidt
// basis of the side: a 4 x 4 grid of chi x chi blocks K[j][j'] (j, j' local
// indices of the pair). One evaluation then forms
//
//     G[a, a'] = sum_{j, j'} W[a, a'][j, j'] K[j][j'],
//     W[a, a'][j, j'] = sum_t U[(a, t), j] conj(U[(a', t), j']),
//
// the reduced density matrix of the side plus the kept qubit after the gate
// (t is the traced qubit of the pair), and takes its eigenvalues: one
// Hermitian solve of dimension 2 chi <= 2 min(chi_left, chi_right), whatever
// n is. Its nonzero eigenvalues are the squared Schmidt values across the
// bond, so the entropy equals the one of the full state to rounding.
//
// Why this choice: DMRG states have small Schmidt ranks, and then chi is tiny
// and an evaluation costs microseconds instead of a pass over 2^n amplitudes
// and an SVD of a 2^(q0+1) x 2^(n-q0-1) matrix. For a state of full rank the
// compression keeps everything and G is exactly the reduced density matrix of
// the smaller side of the bond, so the cost is one eigenvalue solve of the
// smallest possible dimension plus about 32 chi^2 complex multiply-adds to
// form its lower triangle; no pass over the state is needed per evaluation in
// either case.
//
// Threads. The objective holds only the local form and is never changed
// after construction, so any number of threads may evaluate it at once, each
// with its own ObjectiveScratch. An evaluation gives the same bits whichever
// thread or scratch runs it.
//
// Rounding: the eigenvalues of a Gram matrix carry an absolute error of about
// machine epsilon; slightly negative ones are clamped to zero, and the Renyi
// entropy drops every probability at or below epsilon anyway.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

#include "core/runtime/aligned_vector.hpp"
#include "core/runtime/lapack.hpp"
#include "core/synthesis/gates.hpp"

namespace bvc::synthesis {

// Buffers of one thread's evaluations. They fit any objective: each
// evaluation resizes them for its own Gram dimension, so one scratch per
// thread serves every bond that thread works on. Does not allocate once warm.
struct ObjectiveScratch {
    AlignedVector<double> block_re;
    AlignedVector<double> block_im;
    AlignedVector<cplx> gram;
    AlignedVector<double> eigenvalues;
    std::vector<double> probabilities;
    // Gradient only: the spectral weights, the weighted eigenvectors, the
    // weight matrix F and its traces against the blocks of K.
    std::vector<double> weights;
    AlignedVector<cplx> weighted_vectors;
    AlignedVector<cplx> weight_matrix;
    AlignedVector<double> f_re;
    AlignedVector<double> f_im;
    // zheevd workspace, sized on the first solve of each dimension so that a
    // solve is a single LAPACK call.
    bvc::lapack::Workspace solver;
};

// The local form of a state around the pair (q0, q0 + 1), read off elsewhere
// (a matrix product state): theta[(alpha, j), beta] at
// alpha + chi_left * (j + 4 * beta), alpha over orthonormal states of the
// qubits left of q0, beta over orthonormal states of those right of q0 + 1,
// j the local index 2 b(q0 + 1) + b(q0).
struct LocalForm {
    int chi_left = 1;
    int chi_right = 1;
    AlignedVector<std::complex<double>> theta;
};

class DisentanglerObjective {
public:
    using cplx = std::complex<double>;

    // `state` holds 2^n_qubits amplitudes (read once, not kept). Throws
    // std::invalid_argument "bond must be between adjacent qubits" unless
    // 0 <= q0 < n_qubits - 1, "state must have finite amplitudes" and
    // "state must have nonzero norm"; std::runtime_error when an SVD fails.
    // `alpha` is the Renyi index, positive or +inf (checked on evaluation).
    // Schmidt values of the two cuts beside the pair at or below
    // `schmidt_cutoff` times the largest are dropped as well as those at
    // rounding level (0: only those).
    DisentanglerObjective(const cplx* state, int n_qubits, int q0, double alpha, double schmidt_cutoff = 0.0);

    // The same objective from a local form: its Gram blocks are built as the
    // state constructor builds them from the theta it computes. Throws
    // InvalidValue "bond must be between adjacent qubits", "state must have
    // finite amplitudes" and "state must have nonzero norm" alike.
    DisentanglerObjective(const LocalForm& form, int n_qubits, int q0, double alpha);

    // The entropy (nats) after the disentangler of the nine parameters.
    // NaN when a parameter is not finite.
    double value(const double* params, ObjectiveScratch& scratch) const;

    // The entropy and its exact gradient with respect to the nine parameters,
    // from one eigendecomposition (the formulas are at the definition). The
    // value agrees with value() to rounding; NaN everywhere when a parameter
    // is not finite.
    double value_and_gradient(const double* params, double* gradient, ObjectiveScratch& scratch) const;

    // Normalised squared Schmidt values across the bond after the gate, in
    // non-increasing order, into scratch.probabilities: gram_dimension()
    // values (the rest are zero), NaN when a parameter is not finite.
    void schmidt_probabilities(const double* params, ObjectiveScratch& scratch) const;

    int left_rank() const { return left_rank_; }
    int right_rank() const { return right_rank_; }
    // Dimension of the Hermitian matrix solved per evaluation.
    int gram_dimension() const { return 2 * chi_; }
    double alpha() const { return alpha_; }

private:
    void build_local_form(const cplx* state, double schmidt_cutoff);
    void build_gram_blocks(const AlignedVector<cplx>& theta);
    // Lower triangle of G for the gate `u` into scratch.gram (sized here).
    void assemble_gram(const bvc::sv::Mat4& u, ObjectiveScratch& scratch) const;
    // Probabilities from the ascending eigenvalues in scratch.
    void normalise_spectrum(ObjectiveScratch& scratch) const;
    // sum over a, a', j, j' of dW[a, a'][j, j'] C[a, a'][j, j'] for each of the
    // nine dW, C being the traces of the weight matrix against K's blocks.
    void contract_derivatives(const bvc::sv::Mat4& u, const bvc::sv::Mat4* du, ObjectiveScratch& scratch,
                              double* traces) const;

    int n_qubits_;
    int q0_;
    double alpha_;
    int left_rank_ = 1;
    int right_rank_ = 1;
    int chi_ = 1;
    // True when the Gram matrix lives on the low side (qubits 0..q0), so the
    // traced qubit of the pair is q1.
    bool low_side_ = true;

    // K[j][j'] blocks, chi x chi each, column-major, real and imaginary parts
    // apart so that the weighted sums vectorise.
    AlignedVector<double> k_re_;
    AlignedVector<double> k_im_;
};

}  // namespace bvc::synthesis
