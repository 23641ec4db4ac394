// The defaults and limits of a run, read by the command line, the workflow
// and the stages alike; the stages written in Python read the same values
// from brimvale_chemistry._kernels and brimvale._native, never a copy.
#pragma once

namespace bvc::defaults {

inline constexpr long kSeed = 2077;
inline constexpr long kShots = 10000;

inline constexpr long kDmrgChi0 = 20;
inline constexpr long kDmrgMaxdim = 100;
inline constexpr long kDmrgMaxSweeps = 100;
inline constexpr double kDmrgCutoff = 1e-8;

inline constexpr long kCvdMaxiter = 200;
inline constexpr long kCvdRestarts = 3;
inline constexpr double kCvdInitScale = 0.5;

// The qubit MPS of a run (state="mps"): Schmidt values at most this
// fraction of the norm are rounding noise (their weight is below 1e-28);
// the DMRG stage hands its state on and the synthesis works within it.
inline constexpr double kMpsRoundingCutoff = 1e-14;
// The bond cap of the synthesis and of the measurement when the caller sets
// none, so that every execution of a circuit on the MPS backend ends.
inline constexpr int kMpsMaxBond = 1024;

// A state vector holds 2^n amplitudes: 2^30 of complex128 are 16 GiB, the
// most one machine here holds. The simulator, the MPS's dense view, the DMRG
// stage's dense state and the measurement all refuse wider states.
inline constexpr int kMaxDenseQubits = 30;

}  // namespace bvc::defaults
