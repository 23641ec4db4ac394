#include "bind/lapack_loader.hpp"

#include <pybind11/pybind11.h>

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
    lapack::table = loaded;
}

}  // namespace bvc::bind
