// Largest bond dimension of a fixed-charge state on a chain of spinful
// fermion sites (four local states: empty, up, down, doubly occupied).
#pragma once

#include <cstdint>

#include "core/runtime/big_uint.hpp"
#include "core/runtime/interrupt.hpp"

namespace bvc::sector {

// Every bond splits the chain into a left and a right part; a state with
// n_up spin-up and n_down spin-down electrons decomposes into charge blocks
// (electrons of each spin on the left), and a block carries at most
// min(left states, right states) Schmidt values. Returns the maximum over
// the bonds of the sum over the blocks, and 1 for a chain without bonds.
// Requires n_sites >= 1 and 0 <= n_up, n_down <= n_sites. The work grows like
// n_sites * n_up * n_down products of n_sites-bit numbers; it is reported to
// `interrupt`, which may end it early by throwing.
num::BigUint max_bond_dimension(std::uint32_t n_sites, std::uint32_t n_up, std::uint32_t n_down,
                                Interrupt interrupt = {});

// Whether the binomial tables of max_bond_dimension stay within 1 GiB.
bool bound_fits_memory(std::uint32_t n_sites, std::uint32_t n_up, std::uint32_t n_down);

}  // namespace bvc::sector
