// The geometry of the reverse-preparation circuit's parameters: how far the
// circuit's state moves when the parameters of one gate move. The
// refinement preconditions its steps with it, so that a step of one length
// moves the state about equally far whichever gate it turns.
#pragma once

#include <array>
#include <cstddef>
#include <utility>
#include <vector>

#include "core/optimize/lbfgs.hpp"
#include "core/runtime/interrupt.hpp"

namespace bvc::synthesis {

// The parameters of the circuit of core/synthesis/adjoint_gradient (x = rotation
// vectors of the n qubits, then nine per gate row) fall into blocks: three
// per qubit, then nine per row. For each block, the real part of the
// quantum geometric tensor of psi(x) restricted to that block,
//   g_ij = Re <d_i psi|d_j psi> - Re <d_i psi|psi><psi|d_j psi>,
// row-major: 9 n values for the qubits, then 81 per row. It depends on the
// circuit only, not on any target. The state is simulated as a vector of
// 2^n_qubits amplitudes; each pair has 0 <= q0 < q1 < n_qubits (not checked).
// Each gate reports its amplitudes to `interrupt`, which may throw.
std::vector<double> circuit_metric_blocks(int n_qubits, const std::vector<std::array<int, 2>>& pairs, const double* x,
                                          Interrupt interrupt = {});

// The inverse Cholesky factors of the blocks, shifted: block g becomes
// L^-1 with L L^T = g + shift I, shift = relative_shift * trace(g) / size,
// so that directions the state does not feel (a rotation of |0> about z)
// keep a finite scale. A block with zero trace, or one LAPACK cannot factor,
// becomes the identity. Row-major lower triangles, in the layout of
// circuit_metric_blocks.
std::vector<double> inverse_metric_factors(int n_qubits, std::size_t rows, std::vector<double> blocks,
                                           double relative_shift);

// The circuit's metric as the optimiser's preconditioner: M^-1 v = L^-T L^-1 v
// block by block, with the shifted factors above. Measuring it takes
// seconds on 20 qubits; `interrupt` may end it.
class CircuitMetric : public bvc::optimize::Preconditioner {
public:
    CircuitMetric(int n_qubits, std::vector<std::array<int, 2>> pairs, double relative_shift, Interrupt interrupt = {})
        : n_qubits_(n_qubits),
          pairs_(std::move(pairs)),
          relative_shift_(relative_shift),
          interrupt_(std::move(interrupt)) {}
    void update(const double* x) override;
    void apply(const double* v, double* out) const override;

private:
    int n_qubits_;
    std::vector<std::array<int, 2>> pairs_;
    double relative_shift_;
    Interrupt interrupt_;
    std::vector<double> factors_;
};

}  // namespace bvc::synthesis
