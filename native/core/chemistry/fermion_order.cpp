// Moving an electron-chain state into the spin-blocked qubit order, signs included.
#include "core/chemistry/fermion_order.hpp"

#include <string>

namespace bvc::fermion {

void check_mapping(int n_sites, const std::vector<int>& mapping) {
    if (n_sites < 1 || n_sites > kMaxSites) {
        throw std::invalid_argument("electron chain must have 1 to " + std::to_string(kMaxSites) + " sites, got " +
                                    std::to_string(n_sites));
    }
    const std::size_t n_modes = 2 * static_cast<std::size_t>(n_sites);
    if (mapping.size() != n_modes) {
        throw std::invalid_argument("mode mapping has " + std::to_string(mapping.size()) + " entries for " +
                                    std::to_string(n_modes) + " modes");
    }
    std::vector<bool> seen(n_modes, false);
    for (int q : mapping) {
        if (q < 0 || static_cast<std::size_t>(q) >= n_modes || seen[q]) {
            throw std::invalid_argument("mode mapping is not a permutation of 0:" + std::to_string(n_modes - 1));
        }
        seen[q] = true;
    }
}

void destinations_and_signs(int n_sites, const std::vector<int>& mapping, std::int64_t* destination,
                            std::int8_t* sign) {
    for_each_amplitude(n_sites, mapping, [&](std::uint64_t src, std::uint64_t dst, bool negative) {
        destination[src] = static_cast<std::int64_t>(dst);
        sign[src] = negative ? -1 : 1;
    });
}

}  // namespace bvc::fermion
