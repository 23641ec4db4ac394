// LAPACK for the numeric core. The routines are the ones SciPy exports
// (Fortran calling convention, 32-bit integers); the binding layer fills the
// table once when an extension module is imported, so the core links no
// LAPACK of its own and uses the same one as NumPy and SciPy.
#pragma once

#include <complex>
#include <vector>

namespace bvc::lapack {

using cplx = std::complex<double>;

using zheevd_fn = void(char* jobz, char* uplo, int* n, cplx* a, int* lda, double* w, cplx* work, int* lwork,
                       double* rwork, int* lrwork, int* iwork, int* liwork, int* info);
using zgesdd_fn = void(char* jobz, int* m, int* n, cplx* a, int* lda, double* s, cplx* u, int* ldu, cplx* vt,
                       int* ldvt, cplx* work, int* lwork, double* rwork, int* iwork, int* info);
using zgesvd_fn = void(char* jobu, char* jobvt, int* m, int* n, cplx* a, int* lda, double* s, cplx* u, int* ldu,
                       cplx* vt, int* ldvt, cplx* work, int* lwork, double* rwork, int* info);
using dsyevd_fn = void(char* jobz, char* uplo, int* n, double* a, int* lda, double* w, double* work, int* lwork,
                       int* iwork, int* liwork, int* info);

struct Table {
    zheevd_fn* zheevd = nullptr;
    zgesdd_fn* zgesdd = nullptr;
    zgesvd_fn* zgesvd = nullptr;
    dsyevd_fn* dsyevd = nullptr;
};

// Filled by the binding layer (bind/lapack_loader) before any core call.
extern Table table;

// Workspaces reused between calls so that a hot loop does not allocate.
struct Workspace {
    std::vector<cplx> cwork;
    std::vector<double> rwork;
    std::vector<int> iwork;
    std::vector<double> dwork;
};

// Eigenvalues (ascending) of the Hermitian n x n matrix `a` (column-major,
// lower triangle read, destroyed). Returns LAPACK's info (0 on success).
int hermitian_eigenvalues(int n, cplx* a, double* w, Workspace& ws);

// Eigen-decomposition: on success `a` holds the eigenvectors as columns.
int hermitian_eigensystem(int n, cplx* a, double* w, Workspace& ws);

// Eigenvalues (ascending) of the real symmetric n x n matrix `a` (destroyed).
int symmetric_eigenvalues(int n, double* a, double* w, Workspace& ws);

// Singular values (descending) of the m x n column-major matrix `a`
// (destroyed); `s` has min(m, n) entries. Falls back to the QR-iteration
// driver when the divide-and-conquer one does not converge.
int singular_values(int m, int n, cplx* a, double* s, Workspace& ws);

// Thin SVD a = u * diag(s) * vt: u is m x k, vt is k x n, k = min(m, n),
// all column-major. `a` is destroyed.
int thin_svd(int m, int n, cplx* a, cplx* u, double* s, cplx* vt, Workspace& ws);

// Singular values by one driver each, without the fallback (and without the
// backup copy it needs): divide and conquer (zgesdd), QR iteration (zgesvd).
// For hot loops whose caller still holds the input and can retry itself.
int singular_values_divide_conquer(int m, int n, cplx* a, double* s, Workspace& ws);
int singular_values_qr_iteration(int m, int n, cplx* a, double* s, Workspace& ws);

}  // namespace bvc::lapack
