// Filling the core's LAPACK table from the routines SciPy exports, once per process.
#include "bind/lapack_loader.hpp"

#include <dlfcn.h>
#include <pybind11/pybind11.h>

#include <initializer_list>

#include "core/runtime/lapack.hpp"

namespace bvc::bind {

namespace py = pybind11;

namespace {

template <class F>
F* resolve(const py::dict& capi, const char* name) {
    py::object capsule = capi[name];
    const char* signature = PyCapsule_GetName(capsule.ptr());
    if (signature == nullptr && PyErr_Occurred()) throw py::error_already_set();
    void* pointer = PyCapsule_GetPointer(capsule.ptr(), signature);
    if (pointer == nullptr) throw py::error_already_set();
    return reinterpret_cast<F*>(pointer);
}

// A function of the library that holds `routine` (OpenBLAS, for the thread
// controls), by the first of `names` it exports; null for another BLAS.
template <class F>
F* library_function(void* routine, std::initializer_list<const char*> names) {
    Dl_info info{};
    if (dladdr(routine, &info) == 0 || info.dli_fname == nullptr) return nullptr;
    void* library = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (library == nullptr) return nullptr;
    void* symbol = nullptr;
    for (const char* name : names) {
        if ((symbol = dlsym(library, name)) != nullptr) break;
    }
    dlclose(library);  // the library stays loaded: SciPy holds it
    return reinterpret_cast<F*>(symbol);
}

}  // namespace

void load_lapack() {
    if (lapack::table.zheevd != nullptr) return;
    py::dict capi = py::module_::import("scipy.linalg.cython_lapack").attr("__pyx_capi__");
    lapack::Table loaded;
    loaded.zheevd = resolve<lapack::zheevd_fn>(capi, "zheevd");
    loaded.zgesdd = resolve<lapack::zgesdd_fn>(capi, "zgesdd");
    loaded.zgesvd = resolve<lapack::zgesvd_fn>(capi, "zgesvd");
    loaded.zgeqrf = resolve<lapack::zgeqrf_fn>(capi, "zgeqrf");
    loaded.zungqr = resolve<lapack::zungqr_fn>(capi, "zungqr");
    loaded.zgelqf = resolve<lapack::zgeqrf_fn>(capi, "zgelqf");
    loaded.zunglq = resolve<lapack::zungqr_fn>(capi, "zunglq");
    loaded.dpotrf = resolve<lapack::dpotrf_fn>(capi, "dpotrf");
    loaded.dtrtri = resolve<lapack::dtrtri_fn>(capi, "dtrtri");
    py::dict blas = py::module_::import("scipy.linalg.cython_blas").attr("__pyx_capi__");
    loaded.zgemm = resolve<lapack::zgemm_fn>(blas, "zgemm");
    loaded.zherk = resolve<lapack::zherk_fn>(blas, "zherk");
    void* routine = reinterpret_cast<void*>(loaded.zgemm);
    loaded.set_threads_local = library_function<lapack::set_threads_fn>(routine, {"openblas_set_num_threads_local"});
    // SciPy's OpenBLAS prefixes its own names.
    loaded.set_num_threads = library_function<lapack::set_num_threads_fn>(
        routine, {"scipy_openblas_set_num_threads", "openblas_set_num_threads"});
    loaded.get_num_threads = library_function<lapack::get_num_threads_fn>(
        routine, {"scipy_openblas_get_num_threads", "openblas_get_num_threads"});
    lapack::table = loaded;
}

}  // namespace bvc::bind
