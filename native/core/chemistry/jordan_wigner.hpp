// Jordan-Wigner transform of a fermionic operator into Pauli strings on the
// spin-blocked qubits (qubit p = orbital p spin up, qubit p + n = spin down),
// from the interleaved modes (2p up, 2p + 1 down).
//
// The result equals, bit for bit, what the reference route through the
// general-purpose operator algebra gives (relabel the modes, transform every
// ladder operator into its two Pauli strings, multiply them out term by term,
// add the terms up, compress): the same products in the same order, the same
// running sums, and the same dropping of sums that fall below kSmallSum on
// the way. Every product here is exact (factors of 0.5 and of powers of i),
// so the sums are the only rounding, and they are done in that order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/runtime/interrupt.hpp"

namespace bvc::jw {

// Strings are held as bit masks: at most this many qubits.
constexpr std::size_t kMaxQubits = 64;

// A term's coefficient or a running sum whose magnitude falls below this is
// dropped (the relabelling drops small terms alike).
constexpr double kSmallSum = 1e-8;

// One fermionic term: coefficient times the product of its ladder operators,
// left to right. Operators [begin, end) of the shared arrays.
struct FermionTerms {
    std::vector<std::size_t> offsets;  // n_terms + 1 entries
    std::vector<std::uint32_t> modes;  // interleaved mode of every ladder operator
    std::vector<bool> creation;        // creation (true) or annihilation operator
    std::vector<double> re, im;        // coefficient of every term
};

// Sum of Pauli strings: string k is X on the bits of x only, Z on the bits of
// z only and Y on the bits of both.
struct PauliSum {
    std::vector<std::uint64_t> x, z;
    std::vector<double> re, im;
};

// `terms` on 2 * n_spatial modes (every mode below 2 * n_spatial <= kMaxQubits).
// Parts of a coefficient at or below `abs_tol` are set to zero and strings
// whose coefficient is then at or below it are left out. Each ladder
// operator reports to `interrupt`.
PauliSum spin_blocked_jordan_wigner(std::size_t n_spatial, const FermionTerms& terms, double abs_tol,
                                    Interrupt interrupt = {});

}  // namespace bvc::jw
