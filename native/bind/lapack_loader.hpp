// Loading the LAPACK that SciPy carries into the numeric core, so no LAPACK is linked.
#pragma once

namespace bvc::bind {

// Resolves the core's LAPACK table from SciPy's exported routines. Call from
// the init function of every extension module whose core code uses LAPACK;
// an ImportError from SciPy propagates.
void load_lapack();

}  // namespace bvc::bind
