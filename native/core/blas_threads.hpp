// The BLAS library's own worker threads during a synthesis.
//
// OpenBLAS splits larger operations over its threads, and the split changes
// how their sums are rounded: the digits a default synthesis prints depend on
// the library's thread count for its larger decompositions. On the small
// matrices of the optimiser (and in SciPy's L-BFGS-B, whose tiny triangular
// solves go through the threaded path) the threads only cost wake-ups, and
// beside the synthesis' own workers they compete for the same cores.
//
// So while a synthesis runs lean, the library is single-threaded, except
// inside configured sections, which restore the count the library had when
// the synthesis started. Results stay what they are with the library's own
// setting as long as every computation whose rounding depends on the count
// runs inside such a section. All of this is process-wide and counted, so
// scopes may nest and overlap across threads; the last one out restores the
// library's count. Without a thread-count control in the library it does
// nothing.
#pragma once

namespace bvc::lapack {

class LeanBlas {
public:
    LeanBlas();
    ~LeanBlas();
    LeanBlas(const LeanBlas&) = delete;
    LeanBlas& operator=(const LeanBlas&) = delete;
};

class ConfiguredBlas {
public:
    // An inactive section changes nothing, for call sites that need one only sometimes.
    explicit ConfiguredBlas(bool active = true);
    ~ConfiguredBlas();
    ConfiguredBlas(const ConfiguredBlas&) = delete;
    ConfiguredBlas& operator=(const ConfiguredBlas&) = delete;

private:
    bool active_;
};

// Whether the eigenvalues of an n x n Hermitian matrix come out with other
// bits with the library's configured thread count than single-threaded. The
// library decides how to split by size alone, so one probe on a fixed matrix
// per size answers for every matrix of that size; the answer is kept. False
// outside a lean synthesis and when the configured count is 1.
bool eigenvalues_depend_on_threads(int n);

}  // namespace bvc::lapack
