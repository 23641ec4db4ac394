// The circuit library's gate lists run on a matrix product state.
#pragma once

#include <vector>

#include "core/mps/mps.hpp"
#include "core/runtime/interrupt.hpp"
#include "core/statevector/circuit.hpp"

namespace bvc::mps {

// Runs `ops` in order on `initial` (every qubit of `ops` below
// initial.size(), checked by the caller) and returns the canonical form.
//
// As in the state-vector simulator, single-qubit gates wait on their qubit
// and are folded into the next two-qubit gate on it (or applied at the end);
// consecutive two-qubit gates on the same pair are multiplied into one, so
// each pair costs one SVD. A gate on qubits further apart is applied after
// swapping one of them next to the other, and the swaps are undone.
Mps simulate(const std::vector<circuit::Operation>& ops, Mps initial, const Truncation& truncation,
             Interrupt interrupt);

}  // namespace bvc::mps
