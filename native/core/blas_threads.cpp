#include "core/blas_threads.hpp"

#include <complex>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>

#include "core/aligned_vector.hpp"
#include "core/lapack.hpp"

namespace bvc::lapack {

namespace {

struct Control {
    std::mutex mutex;
    std::condition_variable sections_closed;
    int lean_scopes = 0;
    int sections = 0;
    int configured = 1;
    int current = 1;
    // Probe answers for the current configuration, by matrix size.
    std::map<int, bool> depends;
};

Control& control() {
    static Control c;
    return c;
}

bool controllable() { return table.set_num_threads != nullptr && table.get_num_threads != nullptr; }

// Caller holds the mutex.
void apply(Control& c) {
    const int wanted = c.lean_scopes > 0 && c.sections == 0 ? 1 : c.configured;
    if (wanted != c.current) {
        table.set_num_threads(wanted);
        c.current = wanted;
    }
}

// Eigenvalues of a fixed Hermitian matrix of size n with the library at `threads`.
AlignedVector<double> probe_eigenvalues(int n, int threads) {
    table.set_num_threads(threads);
    AlignedVector<cplx> a(static_cast<std::size_t>(n) * n);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state >> 11) * 0x1.0p-53 - 0.5;
    };
    for (int c = 0; c < n; ++c) {
        for (int r = c; r < n; ++r) a[r + static_cast<std::size_t>(c) * n] = cplx(next(), r == c ? 0.0 : next());
    }
    AlignedVector<double> w(n);
    Workspace ws;
    if (hermitian_eigenvalues(n, a.data(), w.data(), ws) != 0) w.assign(n, 0.0);
    return w;
}

}  // namespace

LeanBlas::LeanBlas() {
    if (!controllable()) return;
    Control& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.lean_scopes++ == 0) {
        const int configured = table.get_num_threads();
        if (configured != c.configured) c.depends.clear();
        c.configured = c.current = configured;
    }
    apply(c);
}

LeanBlas::~LeanBlas() {
    if (!controllable()) return;
    Control& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    --c.lean_scopes;
    apply(c);
}

ConfiguredBlas::ConfiguredBlas(bool active) : active_(active && controllable()) {
    if (!active_) return;
    Control& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    ++c.sections;
    apply(c);
}

ConfiguredBlas::~ConfiguredBlas() {
    if (!active_) return;
    Control& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (--c.sections == 0) c.sections_closed.notify_all();
    apply(c);
}

bool eigenvalues_depend_on_threads(int n) {
    if (!controllable() || n <= 2) return false;
    Control& c = control();
    std::unique_lock<std::mutex> lock(c.mutex);
    if (c.lean_scopes == 0 || c.configured == 1) return false;
    if (auto known = c.depends.find(n); known != c.depends.end()) return known->second;
    // Switching the count back and forth must not hit a computation that
    // needs the configured one; the lock keeps new sections out meanwhile.
    // Computations outside sections do not depend on the count.
    c.sections_closed.wait(lock, [&] { return c.sections == 0; });
    const AlignedVector<double> single = probe_eigenvalues(n, 1);
    const AlignedVector<double> split = probe_eigenvalues(n, c.configured);
    table.set_num_threads(c.current);
    const bool depends = std::memcmp(single.data(), split.data(), sizeof(double) * n) != 0;
    c.depends.emplace(n, depends);
    return depends;
}

}  // namespace bvc::lapack
