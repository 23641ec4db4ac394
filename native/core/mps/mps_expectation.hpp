// Expectation values of many Pauli strings on one MPS.
//
// Each string is cut at one of its factors, the middle site m: its factors
// left of m form a prefix, those right of m a suffix. The prefixes of all
// strings form a tree grown from the left, the suffixes a tree grown from
// the right; a tree node carries the environment of its string so far, so
// strings that begin (or end) alike share their work. Outside a string's
// support the canonical form makes the environments trivial: diag(schmidt^2)
// on the left, the identity on the right, so identities there cost nothing.
// A string's value is then one inner product at site m.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/mps/mps.hpp"
#include "core/runtime/interrupt.hpp"

namespace bvc::mps {

struct PauliFactor {
    int site;
    std::uint8_t code;  // 1 = X, 2 = Y, 3 = Z
};

// The non-identity factors of one string, by ascending site (sites distinct
// and below the chain length, checked by the caller); empty: the identity.
using PauliString = std::vector<PauliFactor>;

// Environments kept at once for the strings of one pass; beyond it the
// strings are split into passes.
inline constexpr std::size_t kExpectationMemory = std::size_t{256} << 20;

// <psi|P|psi> of every string (the real part: every Pauli string is
// Hermitian), the norm included.
std::vector<double> pauli_expectations(const Mps& state, const std::vector<PauliString>& strings, Interrupt interrupt,
                                       std::size_t memory = kExpectationMemory);

}  // namespace bvc::mps
