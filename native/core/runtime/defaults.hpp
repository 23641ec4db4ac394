// The defaults of a run, read by the command line, the workflow and the
// stages alike; python/brimvale_chemistry/_defaults.py holds the same values
// for the stages written in Python.
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

// The synthesis on an MPS (state="mps"): Schmidt values at most this
// fraction of the norm are rounding noise (their weight is below 1e-28), and
// no bond grows past kCvdMpsMaxBond.
inline constexpr double kCvdMpsCutoff = 1e-14;
inline constexpr int kCvdMpsMaxBond = 1024;

}  // namespace bvc::defaults
