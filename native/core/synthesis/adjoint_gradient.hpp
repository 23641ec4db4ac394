// The fidelity of a reverse-preparation circuit with a target state and its
// exact gradient with respect to every circuit parameter, by one forward and
// one backward sweep of the state vector (the adjoint method): the cost is
// about three circuit simulations whatever the number of parameters.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "core/runtime/partner_thread.hpp"
#include "core/synthesis/gates.hpp"

namespace bvc::synthesis {

// The circuit prepares psi(x) = U_0 U_1 ... U_{m-1} (R(v_{n-1}) (x) ... (x) R(v_0)) |0...0>
// with U_k = E(p_k)^dagger on the pair of row k (rows in the order the
// disentanglers were applied, so the newest is undone first) and R the
// rotation of a rotation vector. The parameters are
// x = (v_0, ..., v_{n-1}, p_0, ..., p_{m-1}): 3 n + 9 m values. Implemented
// here on state vectors, in core/synthesis/mps_adjoint_gradient on matrix product states.
class CircuitFidelity {
public:
    virtual ~CircuitFidelity() = default;
    virtual std::size_t parameter_count() const = 0;
    // |<target|psi(x)>|^2; its gradient goes to `gradient` (parameter_count() values).
    virtual double value_and_gradient(const double* x, double* gradient) = 0;
};

class ReversePreparationFidelity : public CircuitFidelity {
public:
    // `target` holds 2^n_qubits amplitudes (copied); each pair has
    // 0 <= q0 < q1 < n_qubits (not checked).
    ReversePreparationFidelity(const cplx* target, int n_qubits, std::vector<std::array<int, 2>> pairs);
    // The same fidelity with the sweeps split in two: the state is split in
    // two halves by its top qubit, each half swept through every gate that
    // leaves that qubit alone; gates on it run on the whole state in
    // between. With `threads` of two or more the halves are swept at once,
    // one by the calling thread and one by a partner thread of the
    // fidelity's own. `poll` is called on the calling thread between
    // halves, at most every 50 ms. The sums are formed per half and then
    // added, so the digits do not depend on `threads`, but they differ from
    // those of the serial sweeps at rounding level.
    ReversePreparationFidelity(const cplx* target, int n_qubits, std::vector<std::array<int, 2>> pairs,
                               unsigned threads, std::function<void()> poll);
    ~ReversePreparationFidelity() override;

    std::size_t parameter_count() const override { return 3 * static_cast<std::size_t>(n_qubits_) + 9 * pairs_.size(); }

    double value_and_gradient(const double* x, double* gradient) override;

private:
    double halves_value_and_gradient(const double* x, double* gradient);

    struct SplitState;
    int n_qubits_;
    std::vector<std::array<int, 2>> pairs_;
    std::unique_ptr<SplitState> target_, ket_, bra_;
    // Per row: E(p_k) and its nine derivatives.
    std::vector<bvc::sv::Mat4> gates_, derivatives_;
    bool split_ = false;
    std::unique_ptr<bvc::parallel::PartnerThread> partner_;
    std::function<void()> poll_;
};

}  // namespace bvc::synthesis
