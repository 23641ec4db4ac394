// MPO of an electronic Hamiltonian, built directly from its integrals.
//
//   H = sum_{pq,s} h[p,q] a+_{ps} a_{qs}
//     + 1/2 sum_{pqrs,st} (pq|rs) a+_{ps} a+_{rt} a_{st} a_{qs}
//
// on a chain with one site per spatial orbital p, holding the modes 2p (spin
// up) and 2p+1 (spin down); the Jordan-Wigner order is the mode order.
//
// Every operator string of H crosses each bond of the chain in one MPO state.
// Before its first operator it is in the shared "start" state, after its
// last in the shared "done" state. In between it is labelled by the operators
// on the side of the bond that holds fewer of them: its left part while fewer
// than half of its operators lie left of the bond, its right part once more
// than half do, and with exactly half its left part up to the middle bond of
// the chain and its right part beyond. Strings with the same label share the
// state, and a string's coefficient sits on the one transition where its
// label switches from a left part to a right part. A bond thus carries the
// single creation and annihilation operators of both sides and the operator
// pairs of the shorter side: a number of states quadratic in the orbital
// count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/runtime/interrupt.hpp"

namespace bvc::qc_mpo {

// Factor of one mode in a site operator.
enum Factor : std::uint8_t { kIdentity = 0, kAnnihilate = 1, kCreate = 2, kNumber = 3 };

// One term of a site tensor: value * (up factor . down factor [. parity]).
// `op` = up factor + 4 * down factor; the down-spin operators carry the
// up-spin parity of their site, as fermion operators of one site must. With
// `parity` the site's (-1)^(n_up + n_down) acts first (it is the right
// factor): the Jordan-Wigner string of the operators still to come.
struct Entry {
    std::int32_t left;
    std::int32_t right;
    std::uint8_t op;
    bool parity;
    double value;
};

// Charge of an MPO state: electrons and 2 Sz added by its left operators.
struct Charge {
    std::int32_t n;
    std::int32_t twice_sz;
};

struct IntegralMpo {
    // For each of the n_sites + 1 bonds, the charges of its states, which
    // are ordered by charge (electrons, then 2 Sz).
    std::vector<std::vector<Charge>> bond_charges;
    // For each bond, the index of the start and of the done state, -1 where
    // the bond has none.
    std::vector<std::int32_t> start_state;
    std::vector<std::int32_t> done_state;
    // For each site, its tensor's nonzero terms, sorted by (left, right, op).
    std::vector<std::vector<Entry>> site_entries;
};

// Chains longer than this are refused (state labels hold mode numbers in 28 bits).
constexpr std::size_t kMaxSites = std::size_t{1} << 26;

// `h`: n_sites x n_sites, `eri`: n_sites^4, both row-major; `eri` holds the
// chemists' (pq|rs). Terms whose accumulated coefficient has magnitude at or
// below `drop` are left out, and states left without a path from the start
// of the chain to its end are removed. Each operator string reports the sites
// it spans to `interrupt`, whose hook may throw to stop the build.
IntegralMpo build(std::size_t n_sites, const double* h, const double* eri, double drop, Interrupt interrupt = {});

}  // namespace bvc::qc_mpo
