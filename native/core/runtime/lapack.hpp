// LAPACK for the numeric core. The routines are the ones SciPy exports
// (Fortran calling convention, 32-bit integers); the binding layer fills the
// table once when an extension module is imported, so the core links no
// LAPACK of its own and uses the same one as NumPy and SciPy.
#pragma once

#include <complex>
#include <vector>

#include "core/runtime/aligned_vector.hpp"

namespace bvc::lapack {

using cplx = std::complex<double>;

using zheevd_fn = void(char* jobz, char* uplo, int* n, cplx* a, int* lda, double* w, cplx* work, int* lwork,
                       double* rwork, int* lrwork, int* iwork, int* liwork, int* info);
using zgesdd_fn = void(char* jobz, int* m, int* n, cplx* a, int* lda, double* s, cplx* u, int* ldu, cplx* vt, int* ldvt,
                       cplx* work, int* lwork, double* rwork, int* iwork, int* info);
using zgesvd_fn = void(char* jobu, char* jobvt, int* m, int* n, cplx* a, int* lda, double* s, cplx* u, int* ldu,
                       cplx* vt, int* ldvt, cplx* work, int* lwork, double* rwork, int* info);

using zgeqrf_fn = void(int* m, int* n, cplx* a, int* lda, cplx* tau, cplx* work, int* lwork, int* info);
using zungqr_fn = void(int* m, int* n, int* k, cplx* a, int* lda, cplx* tau, cplx* work, int* lwork, int* info);
using dpotrf_fn = void(char* uplo, int* n, double* a, int* lda, int* info);
using dtrtri_fn = void(char* uplo, char* diag, int* n, double* a, int* lda, int* info);
// BLAS, from the same library.
using zgemm_fn = void(char* transa, char* transb, int* m, int* n, int* k, cplx* alpha, cplx* a, int* lda, cplx* b,
                      int* ldb, cplx* beta, cplx* c, int* ldc);
using zherk_fn = void(char* uplo, char* trans, int* n, int* k, double* alpha, cplx* a, int* lda, double* beta, cplx* c,
                      int* ldc);

// OpenBLAS's per-thread thread count (returns the previous one).
using set_threads_fn = int(int);
// The library's own, process-wide thread count (OpenBLAS's
// openblas_set_num_threads and openblas_get_num_threads).
using set_num_threads_fn = void(int);
using get_num_threads_fn = int();

struct Table {
    zheevd_fn* zheevd = nullptr;
    zgesdd_fn* zgesdd = nullptr;
    zgesvd_fn* zgesvd = nullptr;
    zgeqrf_fn* zgeqrf = nullptr;
    zungqr_fn* zungqr = nullptr;
    zgeqrf_fn* zgelqf = nullptr;  // same argument list as zgeqrf
    zungqr_fn* zunglq = nullptr;  // same argument list as zungqr
    dpotrf_fn* dpotrf = nullptr;
    dtrtri_fn* dtrtri = nullptr;
    zgemm_fn* zgemm = nullptr;
    zherk_fn* zherk = nullptr;
    // Found only when the library is OpenBLAS; null otherwise.
    set_threads_fn* set_threads_local = nullptr;
    set_num_threads_fn* set_num_threads = nullptr;
    get_num_threads_fn* get_num_threads = nullptr;
};

// Filled by the binding layer (bind/lapack_loader) before any core call.
extern Table table;

// Workspaces reused between calls so that a hot loop does not allocate.
struct Workspace {
    AlignedVector<cplx> cwork;
    AlignedVector<double> rwork;
    AlignedVector<int> iwork;
    AlignedVector<cplx> tau;  // Householder scalars of the QR and LQ factorisations
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

// a = q * r for the m x n column-major `a`, k = min(m, n): `a` is replaced by
// q (m x k, orthonormal columns, leading dimension m) and `r` (k x n,
// upper trapezoidal, leading dimension k) is written.
int qr(int m, int n, cplx* a, cplx* r, Workspace& ws);

// a = l * q for the m x n column-major `a`, k = min(m, n): `q` (k x n,
// orthonormal rows, leading dimension k) and `l` (m x k, lower trapezoidal,
// leading dimension m) are written; `a` is destroyed.
int lq(int m, int n, cplx* a, cplx* l, cplx* q, Workspace& ws);

// For the symmetric positive definite n x n matrix `a` (column-major, lower
// triangle read) = L L^T: its lower triangle is replaced by L^-1; the strict
// upper triangle is left as it was. Returns LAPACK's info (0 on success,
// positive when `a` is not positive definite).
int inverse_cholesky_factor(int n, double* a);

// Keeps the calling thread's BLAS single-threaded while it lives, when the
// work ahead (multiply-adds) is small. Waking helper threads for products of
// up to some ten million multiply-adds saves little, and on a
// busy machine the helpers' spinning costs far more; large products keep the
// library's threads. Results do not depend on the thread count.
class SmallWork {
public:
    explicit SmallWork(double work);
    ~SmallWork();
    SmallWork(const SmallWork&) = delete;
    SmallWork& operator=(const SmallWork&) = delete;

    static constexpr double kThreadedWork = 1 << 27;

private:
    int previous_ = -1;
};

// c = alpha * op(a) * op(b) + beta * c, op one of 'N', 'T', 'C' (BLAS zgemm,
// column-major). Empty products only scale c.
void gemm(char transa, char transb, int m, int n, int k, cplx alpha, const cplx* a, int lda, const cplx* b, int ldb,
          cplx beta, cplx* c, int ldc);

}  // namespace bvc::lapack
