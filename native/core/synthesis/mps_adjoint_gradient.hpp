// The fidelity of a reverse-preparation circuit with a target matrix product
// state and its gradient, by the adjoint method on matrix product states.
//
// The rows fall into groups of gates on disjoint pairs (the brick groups of
// the synthesis), G_0 applied first to the product state |P>:
// <T|psi> = <T| G_{h-1} ... G_0 |P>. The forward sweep applies every group
// to |P>; the backward sweep takes the groups from the last, undoing each on
// the ket (phi_g = G_g^dagger phi_{g+1}) and on the target
// (lambda_{g-1} = G_g^dagger lambda_g). Between the two, the overlap
// <lambda_g| G_g |phi_g> is contracted once from the right and once from the
// left, the group's gates inside; at each gate the environments on both
// sides give its 4 x 4 transition matrix, whose products with the gate's
// nine derivatives are the derivatives of the overlap. The rotations follow
// from <lambda_{-1}|P> in the same way.
//
// Cost per evaluation, for bond dimensions chi: three applications of the
// circuit (one two-site SVD of a 2 chi x 2 chi matrix per gate each) and one
// pair of environment sweeps per group (a few chi^3 products per site), so
// O(rows chi^3) like simulating the circuit three times, and the memory of
// four states. Every gate application is truncated as asked; the gradient is
// then exact for the truncated states.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "core/mps/mps.hpp"
#include "core/runtime/interrupt.hpp"
#include "core/synthesis/adjoint_gradient.hpp"

namespace bvc::synthesis {

class MpsReversePreparationFidelity : public CircuitFidelity {
public:
    // `target` on n qubits, its norm as it is (pass it normalised); each pair
    // (q, q + 1) with 0 <= q < n - 1 (std::invalid_argument otherwise).
    MpsReversePreparationFidelity(mps::Mps target, std::vector<std::array<int, 2>> pairs,
                                  const mps::Truncation& truncation, Interrupt interrupt);

    std::size_t parameter_count() const override {
        return 3 * static_cast<std::size_t>(target_.size()) + 9 * pairs_.size();
    }

    double value_and_gradient(const double* x, double* gradient) override;

private:
    mps::Mps target_;
    std::vector<std::array<int, 2>> pairs_;
    // Row indices of each group, groups in the order applied to |P>, rows
    // within a group by ascending qubit.
    std::vector<std::vector<std::size_t>> groups_;
    mps::Truncation truncation_;
    Interrupt interrupt_;
    std::vector<bvc::sv::Mat4> gates_, derivatives_;
};

}  // namespace bvc::synthesis
