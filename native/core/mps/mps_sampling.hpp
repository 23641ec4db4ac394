// Exact sampling of computational-basis outcomes from an MPS.
//
// The canonical form is right-isometric, so the probability of the next
// qubit given the qubits already drawn is the squared norm of the prefix
// vector times that qubit's tensor: qubits are drawn one after another from
// qubit 0. Shots that have drawn the same prefix are carried together as one
// group with one vector, and the vectors of all groups are advanced by one
// matrix product per qubit.
#pragma once

#include <cstdint>
#include <vector>

#include "core/mps/mps.hpp"
#include "core/runtime/interrupt.hpp"

namespace bvc::mps {

// Qubit bases, per qubit.
enum class Basis : std::uint8_t { Z = 0, X = 1, Y = 2 };

struct Samples {
    int words = 1;                        // 64-bit words per outcome; qubit q is bit q % 64 of word q / 64
    std::vector<std::uint64_t> outcomes;  // `words` words per distinct outcome, ascending
    std::vector<std::uint64_t> counts;    // how often each was drawn (none zero)
};

// Group vectors kept at once; more shots than fit are drawn in chunks.
inline constexpr std::size_t kSamplingMemory = std::size_t{64} << 20;

// Draws `shots` outcomes. A qubit in the X (Y) basis is turned into the Z
// basis first by H (S-dagger, then H). The generator is the one of the
// state-vector sampler (xoshiro256** seeded through splitmix64, core/statevector/sampling).
Samples sample(const Mps& state, std::uint64_t shots, std::uint64_t seed, const std::vector<Basis>& bases,
               Interrupt interrupt);

}  // namespace bvc::mps
