// The BLAS library's own worker threads during a synthesis.
//
// OpenBLAS splits larger operations over its threads, and the split changes
// how their sums are rounded: a result computed with its threads depends on
// how many it has, so on the machine's core count and on
// OPENBLAS_NUM_THREADS. The decompositions of a synthesis are small
// (Hermitian eigenproblems of at most 2χ x 2χ, SVDs of local forms); the
// library's threads buy little on them and compete with the synthesis' own
// workers for the cores. So while a synthesis runs the library is
// single-threaded: its digits are those of one thread on every machine,
// whatever `threads` and the environment say. That holds for every OpenBLAS
// of the process: SciPy's, whose LAPACK the kernels call, and NumPy's, which
// the state's preparation may touch.
//
// Process-wide and counted: scopes may nest and overlap across threads; the
// last one out restores the counts the libraries had when the first came in.
// A library without a thread-count control is left as it is.
#pragma once

namespace bvc::lapack {

class SingleThreadedBlas {
public:
    SingleThreadedBlas();
    ~SingleThreadedBlas();
    SingleThreadedBlas(const SingleThreadedBlas&) = delete;
    SingleThreadedBlas& operator=(const SingleThreadedBlas&) = delete;
};

}  // namespace bvc::lapack
