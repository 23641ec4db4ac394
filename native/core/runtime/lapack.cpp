// The LAPACK wrappers of the numeric core, with workspaces reused between calls.
#include "core/runtime/lapack.hpp"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace bvc::lapack {

Table table;

namespace {

template <class F>
F* require(F* fn, const char* name) {
    if (fn == nullptr) throw std::runtime_error(std::string("LAPACK routine not loaded: ") + name);
    return fn;
}

template <class Vector>
void ensure_size(Vector& v, std::size_t n) {
    if (v.size() < n) v.resize(n);
}

int zheevd_call(char jobz, int n, cplx* a, double* w, Workspace& ws) {
    auto* fn = require(table.zheevd, "zheevd");
    if (n == 0) return 0;
    char uplo = 'L';
    int lda = std::max(1, n), info = 0;
    if (ws.eigen_job != jobz || ws.eigen_n != n) {
        int lwork = -1, lrwork = -1, liwork = -1, iq = 0;
        cplx wq;
        double rq = 0.0;
        fn(&jobz, &uplo, &n, a, &lda, w, &wq, &lwork, &rq, &lrwork, &iq, &liwork, &info);
        if (info != 0) return info;
        ws.eigen_job = jobz;
        ws.eigen_n = n;
        ws.eigen_lwork = std::max(1, static_cast<int>(wq.real()));
        ws.eigen_lrwork = std::max(1, static_cast<int>(rq));
        ws.eigen_liwork = std::max(1, iq);
    }
    ensure_size(ws.cwork, ws.eigen_lwork);
    ensure_size(ws.rwork, ws.eigen_lrwork);
    ensure_size(ws.iwork, ws.eigen_liwork);
    int lwork = static_cast<int>(ws.cwork.size());
    int lrwork = static_cast<int>(ws.rwork.size());
    int liwork = static_cast<int>(ws.iwork.size());
    fn(&jobz, &uplo, &n, a, &lda, w, ws.cwork.data(), &lwork, ws.rwork.data(), &lrwork, ws.iwork.data(), &liwork,
       &info);
    return info;
}

int zgesvd_call(char job, int m, int n, cplx* a, double* s, cplx* u, cplx* vt, Workspace& ws) {
    auto* fn = require(table.zgesvd, "zgesvd");
    int k = std::min(m, n);
    int lda = std::max(1, m), ldu = std::max(1, m), ldvt = std::max(1, k), info = 0, lwork = -1;
    cplx wq;
    cplx dummy;
    if (job == 'N') {
        u = vt = &dummy;
        ldu = ldvt = 1;
    }
    ensure_size(ws.rwork, std::max<std::size_t>(1, 5 * static_cast<std::size_t>(k)));
    fn(&job, &job, &m, &n, a, &lda, s, u, &ldu, vt, &ldvt, &wq, &lwork, ws.rwork.data(), &info);
    if (info != 0) return info;
    lwork = std::max(1, static_cast<int>(wq.real()));
    ensure_size(ws.cwork, lwork);
    lwork = static_cast<int>(ws.cwork.size());
    fn(&job, &job, &m, &n, a, &lda, s, u, &ldu, vt, &ldvt, ws.cwork.data(), &lwork, ws.rwork.data(), &info);
    return info;
}

int zgesdd_call(char jobz, int m, int n, cplx* a, double* s, cplx* u, cplx* vt, Workspace& ws) {
    auto* fn = require(table.zgesdd, "zgesdd");
    int k = std::min(m, n), mx = std::max(m, n);
    if (k == 0) return 0;
    int lda = std::max(1, m), ldu = std::max(1, m), ldvt = std::max(1, k), info = 0, lwork = -1;
    cplx wq;
    cplx dummy;
    if (jobz == 'N') {
        u = vt = &dummy;
        ldu = ldvt = 1;
    }
    std::size_t lrwork = jobz == 'N' ? 7 * static_cast<std::size_t>(k)
                                     : static_cast<std::size_t>(k) * std::max(5 * k + 7, 2 * mx + 2 * k + 1);
    ensure_size(ws.rwork, std::max<std::size_t>(1, lrwork));
    ensure_size(ws.iwork, std::max<std::size_t>(1, 8 * static_cast<std::size_t>(k)));
    fn(&jobz, &m, &n, a, &lda, s, u, &ldu, vt, &ldvt, &wq, &lwork, ws.rwork.data(), ws.iwork.data(), &info);
    if (info != 0) return info;
    lwork = std::max(1, static_cast<int>(wq.real()));
    ensure_size(ws.cwork, lwork);
    lwork = static_cast<int>(ws.cwork.size());
    fn(&jobz, &m, &n, a, &lda, s, u, &ldu, vt, &ldvt, ws.cwork.data(), &lwork, ws.rwork.data(), ws.iwork.data(), &info);
    return info;
}

}  // namespace

int inverse_cholesky_factor(int n, double* a) {
    auto* potrf = require(table.dpotrf, "dpotrf");
    auto* trtri = require(table.dtrtri, "dtrtri");
    if (n == 0) return 0;
    char uplo = 'L', diag = 'N';
    int lda = n, info = 0;
    potrf(&uplo, &n, a, &lda, &info);
    if (info == 0) trtri(&uplo, &diag, &n, a, &lda, &info);
    return info;
}

int hermitian_eigenvalues(int n, cplx* a, double* w, Workspace& ws) { return zheevd_call('N', n, a, w, ws); }

int hermitian_eigensystem(int n, cplx* a, double* w, Workspace& ws) { return zheevd_call('V', n, a, w, ws); }

void hermitian_outer_product(int n, int k, const cplx* a, int lda, cplx* c, int ldc) {
    auto* fn = require(table.zherk, "zherk");
    if (n == 0) return;
    char uplo = 'L', trans = 'N';
    double one = 1.0, zero = 0.0;
    // BLAS takes every argument by pointer; zherk only reads `a`.
    fn(&uplo, &trans, &n, &k, &one, const_cast<cplx*>(a), &lda, &zero, c, &ldc);
}

int thin_svd(int m, int n, cplx* a, cplx* u, double* s, cplx* vt, Workspace& ws) {
    AlignedVector<cplx> backup;
    if (table.zgesvd != nullptr) backup.assign(a, a + static_cast<std::size_t>(m) * n);
    int info = zgesdd_call('S', m, n, a, s, u, vt, ws);
    if (info > 0 && table.zgesvd != nullptr) info = zgesvd_call('S', m, n, backup.data(), s, u, vt, ws);
    return info;
}

namespace {

// A Householder factorisation (zgeqrf / zgelqf) of the m x n matrix `a`,
// then `take_triangle()` reads the triangular factor out of `a` before the
// orthonormal factor, form_rows x form_cols, is formed in place (zungqr /
// zunglq). One workspace serves both calls.
template <class TakeTriangle>
int householder(zgeqrf_fn* factor, zungqr_fn* form, int m, int n, int form_rows, int form_cols, cplx* a, Workspace& ws,
                TakeTriangle take_triangle) {
    int k = std::min(m, n);
    int lda = std::max(1, m), info = 0, lwork = -1, form_lwork = -1;
    cplx query, form_query;
    ensure_size(ws.tau, k);
    factor(&m, &n, a, &lda, ws.tau.data(), &query, &lwork, &info);
    if (info != 0) return info;
    form(&form_rows, &form_cols, &k, a, &lda, ws.tau.data(), &form_query, &form_lwork, &info);
    if (info != 0) return info;
    ensure_size(ws.cwork, std::max({1, static_cast<int>(query.real()), static_cast<int>(form_query.real())}));
    lwork = static_cast<int>(ws.cwork.size());
    factor(&m, &n, a, &lda, ws.tau.data(), ws.cwork.data(), &lwork, &info);
    if (info != 0) return info;
    take_triangle();
    form(&form_rows, &form_cols, &k, a, &lda, ws.tau.data(), ws.cwork.data(), &lwork, &info);
    return info;
}

}  // namespace

int qr(int m, int n, cplx* a, cplx* r, Workspace& ws) {
    const int k = std::min(m, n);
    if (k == 0) return 0;
    return householder(require(table.zgeqrf, "zgeqrf"), require(table.zungqr, "zungqr"), m, n, m, k, a, ws, [&] {
        for (int c = 0; c < n; ++c) {
            for (int row = 0; row < k; ++row) {
                r[row + static_cast<std::size_t>(k) * c] =
                    row <= c ? a[row + static_cast<std::size_t>(m) * c] : cplx(0.0);
            }
        }
    });
}

int lq(int m, int n, cplx* a, cplx* l, cplx* q, Workspace& ws) {
    const int k = std::min(m, n);
    if (k == 0) return 0;
    const int info =
        householder(require(table.zgelqf, "zgelqf"), require(table.zunglq, "zunglq"), m, n, k, n, a, ws, [&] {
            for (int c = 0; c < k; ++c) {
                for (int row = 0; row < m; ++row) {
                    l[row + static_cast<std::size_t>(m) * c] =
                        row >= c ? a[row + static_cast<std::size_t>(m) * c] : cplx(0.0);
                }
            }
        });
    if (info != 0) return info;
    for (int c = 0; c < n; ++c)
        std::copy_n(a + static_cast<std::size_t>(m) * c, k, q + static_cast<std::size_t>(k) * c);
    return 0;
}

SmallWork::SmallWork(double work) {
    if (work < kThreadedWork && table.set_threads_local != nullptr) previous_ = table.set_threads_local(1);
}

SmallWork::~SmallWork() {
    if (previous_ >= 0) table.set_threads_local(previous_);
}

void gemm(char transa, char transb, int m, int n, int k, cplx alpha, const cplx* a, int lda, const cplx* b, int ldb,
          cplx beta, cplx* c, int ldc) {
    auto* fn = require(table.zgemm, "zgemm");
    if (m == 0 || n == 0) return;
    lda = std::max(1, lda);
    ldb = std::max(1, ldb);
    const SmallWork threads(static_cast<double>(m) * n * k);
    // BLAS takes every argument by pointer; zgemm only reads `a` and `b`.
    fn(&transa, &transb, &m, &n, &k, &alpha, const_cast<cplx*>(a), &lda, const_cast<cplx*>(b), &ldb, &beta, c, &ldc);
}

int singular_values(int m, int n, const cplx* source, cplx* scratch, double* s, Workspace& ws) {
    if (std::min(m, n) == 0) return 0;
    const std::size_t size = static_cast<std::size_t>(m) * n;
    std::copy(source, source + size, scratch);
    int info = zgesdd_call('N', m, n, scratch, s, nullptr, nullptr, ws);
    if (info > 0 && table.zgesvd != nullptr) {
        std::copy(source, source + size, scratch);
        info = zgesvd_call('N', m, n, scratch, s, nullptr, nullptr, ws);
    }
    return info;
}

}  // namespace bvc::lapack
