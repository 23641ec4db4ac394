// Counts that the synthesis refuses before it allocates or loops for them.
#pragma once

#include "core/mps.hpp"

namespace bvc::corvinth {

// Layers and restarts per bond. Every layer rebuilds and simulates the whole
// circuit so far, so even a fraction of this many could never finish; above
// it, the one Renyi index per layer alone would take megabytes to gigabytes.
inline constexpr long long kMaxCount = 1'000'000;

// The MPS path's defaults: Schmidt values at most this fraction of the norm
// are rounding noise (their weight is below 1e-28), and no bond grows past
// kDefaultMaxBond.
inline constexpr double kRoundingCutoff = 1e-14;
inline constexpr int kDefaultMaxBond = 1024;

inline bvc::mps::Truncation rounding_truncation() { return {kDefaultMaxBond, kRoundingCutoff}; }

}  // namespace bvc::corvinth
