// Counts that the synthesis refuses before it allocates or loops for them.
#pragma once

#include "core/mps/mps.hpp"
#include "core/runtime/defaults.hpp"

namespace bvc::corvinth {

// Layers and restarts per bond. Every layer rebuilds and simulates the whole
// circuit so far, so even a fraction of this many could never finish; above
// it, the one Renyi index per layer alone would take megabytes to gigabytes.
inline constexpr long long kMaxCount = 1'000'000;

// The MPS path's default truncation: rounding noise only.
inline bvc::mps::Truncation rounding_truncation() {
    return {bvc::defaults::kMpsMaxBond, bvc::defaults::kMpsRoundingCutoff};
}

}  // namespace bvc::corvinth
