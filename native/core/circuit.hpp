// Gate set of the circuit library and the simulation of a gate list.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "core/interrupt.hpp"

namespace bvc::circuit {

// The codes are part of the binding's contract with the Python `Circuit`.
enum class Gate : std::int32_t { RX = 0, RY, RZ, H, X, Y, Z, S, SDG, CX, CZ, SWAP };

struct Operation {
    Gate gate;
    int q0;
    int q1;        // second qubit of a two-qubit gate (target of CX), else -1
    double angle;  // rotation angle, else 0
};

// Runs `ops` in order on |0...0> of `n_qubits` qubits; `state` has 2^n entries.
// Every gate's pass over the state is reported to `interrupt`.
void simulate(const std::vector<Operation>& ops, int n_qubits, std::complex<double>* state, Interrupt interrupt = {});

}  // namespace bvc::circuit
