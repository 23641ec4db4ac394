// Loading a LAPACK for the C++ tests without SciPy.
#include "test_lapack.hpp"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "core/runtime/lapack.hpp"

#ifndef BVC_TEST_LAPACK_LIBRARIES
#error "BVC_TEST_LAPACK_LIBRARIES must name the LAPACK libraries of the tests"
#endif

namespace bvc::test {

namespace {

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "C++ tests: %s\n", message.c_str());
    std::exit(2);
}

// The first of `names` the loaded libraries export, or null.
void* find(std::initializer_list<std::string> names) {
    for (const std::string& name : names) {
        if (void* symbol = dlsym(RTLD_DEFAULT, name.c_str())) return symbol;
    }
    return nullptr;
}

// A Fortran routine: the wheel's OpenBLAS prefixes its names with "scipy_",
// a system LAPACK does not.
template <class F>
F* routine(const char* name) {
    const std::string fortran = std::string(name) + "_";
    void* symbol = find({"scipy_" + fortran, fortran});
    if (symbol == nullptr) fail(std::string("no LAPACK routine ") + name + " in " + BVC_TEST_LAPACK_LIBRARIES);
    return reinterpret_cast<F*>(symbol);
}

}  // namespace

void load_test_lapack() {
    // The libraries, separated by colons.
    const std::string libraries = BVC_TEST_LAPACK_LIBRARIES;
    for (std::size_t start = 0; start <= libraries.size();) {
        std::size_t end = libraries.find(':', start);
        if (end == std::string::npos) end = libraries.size();
        const std::string path = libraries.substr(start, end - start);
        if (!path.empty() && dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL) == nullptr) fail(dlerror());
        start = end + 1;
    }
    namespace lapack = bvc::lapack;
    lapack::Table loaded;
    loaded.zheevd = routine<lapack::zheevd_fn>("zheevd");
    loaded.zgesdd = routine<lapack::zgesdd_fn>("zgesdd");
    loaded.zgesvd = routine<lapack::zgesvd_fn>("zgesvd");
    loaded.zgeqrf = routine<lapack::zgeqrf_fn>("zgeqrf");
    loaded.zungqr = routine<lapack::zungqr_fn>("zungqr");
    loaded.zgelqf = routine<lapack::zgeqrf_fn>("zgelqf");
    loaded.zunglq = routine<lapack::zungqr_fn>("zunglq");
    loaded.dpotrf = routine<lapack::dpotrf_fn>("dpotrf");
    loaded.dtrtri = routine<lapack::dtrtri_fn>("dtrtri");
    loaded.zgemm = routine<lapack::zgemm_fn>("zgemm");
    loaded.zherk = routine<lapack::zherk_fn>("zherk");
    loaded.set_threads_local = reinterpret_cast<lapack::set_threads_fn*>(find({"openblas_set_num_threads_local"}));
    loaded.set_num_threads = reinterpret_cast<lapack::set_num_threads_fn*>(
        find({"scipy_openblas_set_num_threads", "openblas_set_num_threads"}));
    loaded.get_num_threads = reinterpret_cast<lapack::get_num_threads_fn*>(
        find({"scipy_openblas_get_num_threads", "openblas_get_num_threads"}));
    lapack::table = loaded;
}

}  // namespace bvc::test
