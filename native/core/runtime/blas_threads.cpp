// Holding the BLAS libraries of the process to one thread each during a synthesis.
#include "core/runtime/blas_threads.hpp"

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/runtime/lapack.hpp"

namespace bvc::lapack {

namespace {

// One OpenBLAS of the process and the thread count it had before the first scope.
struct Library {
    get_num_threads_fn* get;
    set_num_threads_fn* set;
    int restored;
};

struct Control {
    std::mutex mutex;
    int scopes = 0;
    std::vector<Library> libraries;
};

Control& control() {
    static Control c;
    return c;
}

// Every OpenBLAS loaded into the process: SciPy's LAPACK (the table's) and
// NumPy's own, which is another copy with another thread pool and another
// prefix. Found by name among the loaded objects; a library loaded later is
// found by the next scope.
std::vector<Library> loaded_libraries() {
    std::vector<std::string> paths;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            if (info->dlpi_name != nullptr && std::strstr(info->dlpi_name, "openblas") != nullptr)
                static_cast<std::vector<std::string>*>(data)->push_back(info->dlpi_name);
            return 0;
        },
        &paths);
    static const char* const kPrefixes[] = {"scipy_openblas_", "openblas_"};
    static const char* const kSuffixes[] = {"64_", ""};
    std::vector<Library> found;
    auto add = [&found](get_num_threads_fn* get, set_num_threads_fn* set) {
        if (get == nullptr || set == nullptr) return;
        for (const Library& known : found)
            if (known.set == set) return;
        found.push_back({get, set, 1});
    };
    add(table.get_num_threads, table.set_num_threads);
    for (const std::string& path : paths) {
        void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
        if (handle == nullptr) continue;
        for (const char* prefix : kPrefixes) {
            for (const char* suffix : kSuffixes) {
                const std::string get = std::string(prefix) + "get_num_threads" + suffix;
                const std::string set = std::string(prefix) + "set_num_threads" + suffix;
                add(reinterpret_cast<get_num_threads_fn*>(dlsym(handle, get.c_str())),
                    reinterpret_cast<set_num_threads_fn*>(dlsym(handle, set.c_str())));
            }
        }
        dlclose(handle);  // only drops the reference dlopen added; the library stays loaded
    }
    return found;
}

}  // namespace

SingleThreadedBlas::SingleThreadedBlas() {
    Control& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.scopes++ > 0) return;
    c.libraries = loaded_libraries();
    for (Library& library : c.libraries) {
        library.restored = library.get();
        if (library.restored != 1) library.set(1);
    }
}

SingleThreadedBlas::~SingleThreadedBlas() {
    Control& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (--c.scopes > 0) return;
    for (const Library& library : c.libraries) {
        if (library.restored != 1) library.set(library.restored);
    }
}

}  // namespace bvc::lapack
