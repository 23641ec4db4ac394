// LAPACK for the numeric core. The routines are the ones SciPy exports
// (Fortran calling convention, 32-bit integers); the binding layer fills the
// table once when an extension module is imported, so the core links no
// LAPACK of its own and uses the same one as NumPy and SciPy.
#pragma once

#include <complex>
#include <vector>

#include "core/aligned_vector.hpp"

namespace bvc::lapack {

using cplx = std::complex<double>;

using zheevd_fn = void(char* jobz, char* uplo, int* n, cplx* a, int* lda, double* w, cplx* work, int* lwork,
                       double* rwork, int* lrwork, int* iwork, int* liwork, int* info);
using zgesdd_fn = void(char* jobz, int* m, int* n, cplx* a, int* lda, double* s, cplx* u, int* ldu, cplx* vt, int* ldvt,
                       cplx* work, int* lwork, double* rwork, int* iwork, int* info);
using zgesvd_fn = void(char* jobu, char* jobvt, int* m, int* n, cplx* a, int* lda, double* s, cplx* u, int* ldu,
                       cplx* vt, int* ldvt, cplx* work, int* lwork, double* rwork, int* info);
// BLAS, from the same library.
using zherk_fn = void(char* uplo, char* trans, int* n, int* k, double* alpha, cplx* a, int* lda, double* beta, cplx* c,
                      int* ldc);

// The library's own thread count (OpenBLAS's openblas_{set,get}_num_threads).
using set_threads_fn = void(int);
using get_threads_fn = int();

struct Table {
    zheevd_fn* zheevd = nullptr;
    zgesdd_fn* zgesdd = nullptr;
    zgesvd_fn* zgesvd = nullptr;
    zherk_fn* zherk = nullptr;
    // Null when the library offers no such control.
    set_threads_fn* set_threads = nullptr;
    get_threads_fn* get_threads = nullptr;
};

// Filled by the binding layer (bind/lapack_loader) before any core call.
extern Table table;

// Workspaces reused between calls so that a hot loop does not allocate.
struct Workspace {
    AlignedVector<cplx> cwork;
    AlignedVector<double> rwork;
    AlignedVector<int> iwork;
    // The Hermitian solver's workspace query is remembered for the last
    // (job, n), so repeated solves of one size make a single LAPACK call each.
    char eigen_job = 0;
    int eigen_n = -1;
    int eigen_lwork = 0, eigen_lrwork = 0, eigen_liwork = 0;
};

// Eigenvalues (ascending) of the Hermitian n x n matrix `a` (column-major,
// lower triangle read, destroyed). Returns LAPACK's info (0 on success).
int hermitian_eigenvalues(int n, cplx* a, double* w, Workspace& ws);

// Eigenvalues (ascending) and orthonormal eigenvectors of the Hermitian n x n
// matrix `a` (column-major, lower triangle read): column i of `a` is replaced
// by the eigenvector of w[i]. Returns LAPACK's info.
int hermitian_eigensystem(int n, cplx* a, double* w, Workspace& ws);

// The lower triangle of c = a a^H, for the n x k column-major matrix `a`
// (leading dimension lda) and the n x n matrix `c` (leading dimension ldc).
void hermitian_outer_product(int n, int k, const cplx* a, int lda, cplx* c, int ldc);

// Thin SVD a = u * diag(s) * vt: u is m x k, vt is k x n, k = min(m, n),
// all column-major. `a` is destroyed.
int thin_svd(int m, int n, cplx* a, cplx* u, double* s, cplx* vt, Workspace& ws);

// Singular values (descending) of the m x n column-major matrix `source`,
// which stays untouched: it is copied into `scratch` (m * n entries, reused
// by the caller so a hot loop does not allocate) and decomposed there,
// retried with the QR-iteration driver when divide and conquer does not
// converge. `s` has min(m, n) entries.
int singular_values(int m, int n, const cplx* source, cplx* scratch, double* s, Workspace& ws);

}  // namespace bvc::lapack
