// Tests of the fermionic reordering against a direct count of signs.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <stdexcept>
#include <vector>

#include "check.hpp"
#include "core/chemistry/fermion_order.hpp"

namespace {

// The destination and the sign of basis state `source`, counted directly:
// the occupied positions in chain order, their qubits, and the parity of the
// pairs whose order the mapping reverses.
std::pair<std::uint64_t, int> reference(std::uint64_t source, int n_sites, const std::vector<int>& mapping) {
    std::vector<int> qubits;
    for (int site = 0; site < n_sites; ++site) {
        const auto local = (source >> (2 * (n_sites - 1 - site))) & 3;  // site 0 most significant
        if (local & 1) qubits.push_back(mapping[2 * site]);             // spin up
        if (local & 2) qubits.push_back(mapping[2 * site + 1]);         // spin down
    }
    std::uint64_t destination = 0;
    int inversions = 0;
    for (std::size_t i = 0; i < qubits.size(); ++i) {
        destination |= std::uint64_t{1} << qubits[i];
        for (std::size_t j = i + 1; j < qubits.size(); ++j) inversions += qubits[i] > qubits[j];
    }
    return {destination, inversions % 2 ? -1 : 1};
}

}  // namespace

// Every amplitude's destination and sign, for the spin-blocked order of
// three orbitals and for a random order of four, against the direct count.
BVC_TEST(fermionic_reordering_signs_match_direct_count) {
    std::mt19937 gen(11);
    std::vector<int> shuffled(8);
    std::iota(shuffled.begin(), shuffled.end(), 0);
    std::shuffle(shuffled.begin(), shuffled.end(), gen);
    const std::vector<std::pair<int, std::vector<int>>> cases = {{3, {0, 3, 1, 4, 2, 5}}, {4, shuffled}};
    for (const auto& [n_sites, mapping] : cases) {
        const std::size_t size = std::size_t{1} << (2 * n_sites);
        std::vector<std::int64_t> destination(size);
        std::vector<std::int8_t> sign(size);
        bvc::fermion::destinations_and_signs(n_sites, mapping, destination.data(), sign.data());
        int mismatches = 0, negative = 0;
        std::vector<bool> hit(size, false);
        for (std::uint64_t s = 0; s < size; ++s) {
            const auto [d, g] = reference(s, n_sites, mapping);
            mismatches += destination[s] != static_cast<std::int64_t>(d) || sign[s] != g;
            negative += sign[s] < 0;
            hit[destination[s]] = true;
        }
        BVC_CHECK(mismatches == 0);
        BVC_CHECK(negative > 0);
        BVC_CHECK(std::all_of(hit.begin(), hit.end(), [](bool h) { return h; }));
    }
}

// The reordered array negates exactly where the sign is -1, also for the
// smallest integer (which wraps to itself) and half floats.
BVC_TEST(fermionic_reordering_negates_every_element_type) {
    const std::vector<int> mapping{0, 2, 1, 3};  // two orbitals, spin-blocked
    std::vector<std::int64_t> destination(16);
    std::vector<std::int8_t> sign(16);
    bvc::fermion::destinations_and_signs(2, mapping, destination.data(), sign.data());
    std::vector<std::int32_t> in(16), out(16);
    std::iota(in.begin(), in.end(), 1);
    in[15] = std::numeric_limits<std::int32_t>::min();
    bvc::fermion::reorder_to_qubits(in.data(), out.data(), 2, mapping);
    std::vector<bvc::fermion::Half> half_in(16, bvc::fermion::Half{0x3c00}), half_out(16);
    bvc::fermion::reorder_to_qubits(half_in.data(), half_out.data(), 2, mapping);
    for (int s = 0; s < 16; ++s) {
        const std::int32_t expected = s == 15 ? in[15] : sign[s] * in[s];
        BVC_CHECK(out[destination[s]] == expected);
        BVC_CHECK(half_out[destination[s]].bits == (sign[s] < 0 ? 0xbc00 : 0x3c00));
    }
    bool refused = false;
    try {
        bvc::fermion::check_mapping(2, {0, 1, 1, 3});
    } catch (const std::invalid_argument&) {
        refused = true;
    }
    BVC_CHECK(refused);
}
