// Measurement sampling: draw computational-basis outcomes from a state vector,
// optionally after rotating chosen qubits from the X or Y basis into Z.
//
// The generator is xoshiro256** seeded through splitmix64, with uniforms built
// from its raw bits, so a seed gives the same outcomes on every platform and
// compiler (the standard library's distributions are implementation-defined).
#pragma once

#include <cstdint>
#include <vector>

#include "core/runtime/interrupt.hpp"
#include "core/statevector/statevector.hpp"

namespace bvc::sampling {

using sv::cplx;

class Xoshiro256 {
public:
    explicit Xoshiro256(std::uint64_t seed);
    std::uint64_t next();
    // Uniform in the open interval (0, 1): never exactly 0 or 1.
    double uniform_open();

private:
    std::uint64_t s_[4];
};

// Turns every qubit of `x_mask` from the X basis and every qubit of `y_mask`
// from the Y basis into the Z basis (H, resp. S-dagger then H), in place, so
// that a Z measurement of those qubits measures X, resp. Y.
void rotate_to_pauli_basis(cplx* psi, int n_qubits, std::uint64_t x_mask, std::uint64_t y_mask);

// Outcomes with how often each was drawn, ascending by outcome, no zero counts.
struct Histogram {
    std::vector<std::uint64_t> outcomes;
    std::vector<std::uint64_t> counts;
};

// Draws `shots` basis indices with probability |psi[i]|^2 / sum |psi|^2.
// O(2^n + shots): the sorted uniforms are generated directly as normalised
// partial sums of exponential spacings and matched against the running
// cumulative probability in one sweep; an index of probability zero is never
// drawn. Throws std::invalid_argument for a state of zero (or non-finite) norm.
// Every draw is reported to `interrupt`, so any number of shots can be stopped.
Histogram sample_outcomes(const cplx* psi, int n_qubits, std::uint64_t shots, std::uint64_t seed,
                          Interrupt interrupt = {});

}  // namespace bvc::sampling
