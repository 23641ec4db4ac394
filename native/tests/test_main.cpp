// The runner of the C++ tests: every registered case, failures counted.
#include <exception>

#include "check.hpp"
#include "test_lapack.hpp"

namespace bvc::test {
std::vector<Case>& registry() {
    static std::vector<Case> cases;
    return cases;
}
int failures = 0;
}  // namespace bvc::test

int main() {
    using namespace bvc::test;
    load_test_lapack();
    int failed_cases = 0;
    for (const auto& c : registry()) {
        const int before = failures;
        try {
            c.body();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: uncaught exception: %s\n", c.name, e.what());
            ++failures;
        }
        const bool ok = failures == before;
        failed_cases += ok ? 0 : 1;
        std::printf("%s %s\n", ok ? "ok  " : "FAIL", c.name);
    }
    std::printf("%zu passed, %d failed\n", registry().size() - failed_cases, failed_cases);
    return failed_cases == 0 ? 0 : 1;
}
