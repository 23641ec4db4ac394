#include "bind/lapack_loader.hpp"

#include <pybind11/pybind11.h>

#ifdef __unix__
#include <dlfcn.h>
#endif

#include "core/lapack.hpp"

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

// The thread-count functions of the library behind SciPy's LAPACK, looked up
// among the dependencies of the module that exports `routine`: OpenBLAS under
// SciPy's prefixed names or its own. Null where there is none.
template <class F>
F* library_function(void* routine, const char* prefixed, const char* plain) {
#ifdef __unix__
    Dl_info info;
    if (dladdr(routine, &info) == 0 || info.dli_fname == nullptr) return nullptr;
    void* module = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (module == nullptr) return nullptr;
    void* symbol = dlsym(module, prefixed);
    if (symbol == nullptr) symbol = dlsym(module, plain);
    // The module stays loaded by SciPy; this only drops our extra reference.
    dlclose(module);
    return reinterpret_cast<F*>(symbol);
#else
    (void)routine, (void)prefixed, (void)plain;
    return nullptr;
#endif
}

}  // namespace

void load_lapack() {
    if (lapack::table.zheevd != nullptr) return;
    py::dict capi = py::module_::import("scipy.linalg.cython_lapack").attr("__pyx_capi__");
    lapack::Table loaded;
    loaded.zheevd = resolve<lapack::zheevd_fn>(capi, "zheevd");
    loaded.zgesdd = resolve<lapack::zgesdd_fn>(capi, "zgesdd");
    loaded.zgesvd = resolve<lapack::zgesvd_fn>(capi, "zgesvd");
    py::dict blas = py::module_::import("scipy.linalg.cython_blas").attr("__pyx_capi__");
    loaded.zherk = resolve<lapack::zherk_fn>(blas, "zherk");
    void* routine = reinterpret_cast<void*>(loaded.zheevd);
    loaded.set_threads =
        library_function<lapack::set_threads_fn>(routine, "scipy_openblas_set_num_threads", "openblas_set_num_threads");
    loaded.get_threads =
        library_function<lapack::get_threads_fn>(routine, "scipy_openblas_get_num_threads", "openblas_get_num_threads");
    lapack::table = loaded;
}

}  // namespace bvc::bind
