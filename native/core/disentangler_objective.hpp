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
// Rounding: the eigenvalues of a Gram matrix carry an absolute error of about
// machine epsilon; slightly negative ones are clamped to zero, and the Renyi
// entropy drops every probability at or below epsilon anyway.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

#include "core/lapack.hpp"

namespace bvc::cvd {

class DisentanglerObjective {
public:
    using cplx = std::complex<double>;

    // `state` holds 2^n_qubits amplitudes (read once, not kept). Throws
    // std::invalid_argument "bond must be between adjacent qubits" unless
    // 0 <= q0 < n_qubits - 1, "state must have finite amplitudes" and
    // "state must have nonzero norm"; std::runtime_error when an SVD fails.
    // `alpha` is the Renyi index, positive or +inf (checked on evaluation).
    DisentanglerObjective(const cplx* state, int n_qubits, int q0, double alpha);

    // The entropy (nats) after the disentangler of the nine parameters.
    // NaN when a parameter is not finite. Does not allocate once warm.
    double operator()(const double* params);

    // Normalised squared Schmidt values across the bond after the gate, in
    // non-increasing order; gram_dimension() values (the rest are zero).
    const std::vector<double>& schmidt_probabilities(const double* params);

    int left_rank() const { return left_rank_; }
    int right_rank() const { return right_rank_; }
    // Dimension of the Hermitian matrix solved per evaluation.
    int gram_dimension() const { return 2 * chi_; }
    std::size_t evaluations() const { return evaluations_; }

private:
    void build_local_form(const cplx* state);
    void build_gram_blocks(const std::vector<cplx>& theta);
    void prepare_solver();
    void spectrum(const double* params);

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
    std::vector<double> k_re_;
    std::vector<double> k_im_;
    std::vector<double> block_re_;
    std::vector<double> block_im_;
    std::vector<cplx> gram_;
    std::vector<double> eigenvalues_;
    std::vector<double> probabilities_;
    // zheevd workspace, sized once for gram_dimension() so that a solve is a
    // single LAPACK call.
    std::vector<cplx> solver_work_;
    std::vector<double> solver_rwork_;
    std::vector<int> solver_iwork_;
    std::size_t evaluations_ = 0;
};

}  // namespace bvc::cvd
