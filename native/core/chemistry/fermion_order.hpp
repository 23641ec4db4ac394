// Reordering of an electron-chain state into the qubit order of the
// package, with the fermionic sign of the reordering.
//
// Input: 4^L amplitudes, row-major over L sites (site 0 most significant),
// local state s = n_up + 2 n_down. Mode order of the chain: site by site,
// spin up before spin down ("interleaved" position 2k + spin). `mapping`
// sends every interleaved position to its qubit. A basis state goes to the
// index with bit mapping[p] set for every occupied position p, and picks up
// (-1)^(number of occupied pairs whose order the mapping reverses): the sign
// of reordering its creation operators.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace bvc::fermion {

// Largest chain the whole-array conversion accepts (2L qubits <= 62 so that
// indices fit a signed 64-bit array index).
inline constexpr int kMaxSites = 31;

// Throws std::invalid_argument unless `mapping` is a permutation of
// 0 ... 2 n_sites - 1 and n_sites is within 1 ... kMaxSites.
void check_mapping(int n_sites, const std::vector<int>& mapping);

// Calls visit(source, destination, negative) for every amplitude, source in
// ascending order. Work per amplitude is O(1) amortised: prefix occupations
// are carried down a depth-first walk over the sites.
template <class Visit>
void for_each_amplitude(int n_sites, const std::vector<int>& mapping, Visit&& visit) {
    check_mapping(n_sites, mapping);
    struct Frame {
        std::uint64_t destination;  // qubit bits of the occupied modes so far
        bool negative;              // sign parity so far
    };
    // Adding mode p (qubit q) after the modes already placed: every earlier
    // mode with a higher qubit is one reversed pair.
    auto add_mode = [](Frame f, int q) {
        const std::uint64_t above = f.destination >> (q + 1);
        f.negative ^= (__builtin_popcountll(above) & 1) != 0;
        f.destination |= std::uint64_t{1} << q;
        return f;
    };
    std::uint64_t source = 0;
    auto walk = [&](auto&& self, int site, Frame f) -> void {
        const int q_up = mapping[2 * site];
        const int q_down = mapping[2 * site + 1];
        const Frame f1 = add_mode(f, q_up);
        const Frame frames[4] = {f, f1, add_mode(f, q_down), add_mode(f1, q_down)};
        if (site + 1 == n_sites) {
            for (const Frame& g : frames) visit(source++, g.destination, g.negative);
            return;
        }
        for (const Frame& g : frames) self(self, site + 1, g);
    };
    walk(walk, 0, Frame{0, false});
}

// -x for every element type of the reordering. Integers wrap in two's
// complement, so the minimum, which has no negative, stays itself without
// undefined behaviour; other types are plainly negated.
template <class T>
inline T negated(T x) {
    if constexpr (std::is_integral_v<T>) {
        using U = std::make_unsigned_t<T>;
        return static_cast<T>(static_cast<U>(0) - static_cast<U>(x));
    } else {
        return -x;
    }
}

// IEEE binary16 stored as its bits; negation flips the sign bit.
struct Half {
    std::uint16_t bits;
};
inline Half negated(Half x) { return Half{static_cast<std::uint16_t>(x.bits ^ 0x8000u)}; }

// out[destination] = +-in[source] for every amplitude. `in` holds 4^n_sites
// elements, `out` 2^(2 n_sites); they must not overlap.
template <class T>
void reorder_to_qubits(const T* in, T* out, int n_sites, const std::vector<int>& mapping) {
    for_each_amplitude(n_sites, mapping, [&](std::uint64_t src, std::uint64_t dst, bool negative) {
        out[dst] = negative ? negated(in[src]) : in[src];
    });
}

// The destination index and the sign (+1 / -1) of every source amplitude.
void destinations_and_signs(int n_sites, const std::vector<int>& mapping, std::int64_t* destination, std::int8_t* sign);

}  // namespace bvc::fermion
