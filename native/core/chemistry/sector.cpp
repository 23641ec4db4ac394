// Counting the states of a charge sector on a chain to bound its bond dimension.
#include "core/chemistry/sector.hpp"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace bvc::sector {

using num::BigUint;

bool bound_fits_memory(std::uint32_t n_sites, std::uint32_t n_up, std::uint32_t n_down) {
    // Two rows of up to min(n_sites, max(n_up, n_down)) + 1 binomials, each
    // below 2^n_sites: a vector header and n_sites / 32 + 1 limbs apiece.
    const std::uint64_t entries = std::uint64_t{std::min(n_sites, std::max(n_up, n_down))} + 1;
    const std::uint64_t bytes_each = sizeof(BigUint) + 4 * (std::uint64_t{n_sites} / 32 + 1);
    return 2 * entries * bytes_each <= (std::uint64_t{1} << 30);
}

BigUint max_bond_dimension(std::uint32_t n_sites, std::uint32_t n_up, std::uint32_t n_down, Interrupt interrupt) {
    if (n_sites < 1 || n_up > n_sites || n_down > n_sites) {
        throw std::invalid_argument("charge outside the chain's Hilbert space");
    }
    const std::uint32_t n_max = std::max(n_up, n_down);
    BigUint max_rank(1);
    for (std::uint32_t left_sites = 1; left_sites < n_sites; ++left_sites) {
        const std::uint32_t right_sites = n_sites - left_sites;
        interrupt.progress(n_sites);
        const auto left_binom = num::binomial_row(left_sites, n_max);
        const auto right_binom = num::binomial_row(right_sites, n_max);
        BigUint rank;
        const std::uint32_t up_lo = n_up > right_sites ? n_up - right_sites : 0;
        const std::uint32_t up_hi = std::min(left_sites, n_up);
        const std::uint32_t down_lo = n_down > right_sites ? n_down - right_sites : 0;
        const std::uint32_t down_hi = std::min(left_sites, n_down);
        for (std::uint32_t left_up = up_lo; left_up <= up_hi; ++left_up) {
            const BigUint& left_up_dim = left_binom[left_up];
            const BigUint& right_up_dim = right_binom[n_up - left_up];
            for (std::uint32_t left_down = down_lo; left_down <= down_hi; ++left_down) {
                const BigUint left_dim = left_up_dim * left_binom[left_down];
                const BigUint right_dim = right_up_dim * right_binom[n_down - left_down];
                rank += num::min(left_dim, right_dim);
                interrupt.progress(n_sites);
            }
        }
        if (rank > max_rank) max_rank = rank;
    }
    return max_rank;
}

}  // namespace bvc::sector
