// Prints the exact bits of adjoint fidelities and gradients on fixed random
// circuits. Built once as the package builds it and once without the AVX-512
// copies of the sweeps; the two outputs must be identical.
#include <array>
#include <complex>
#include <cstdio>
#include <random>
#include <vector>

#include "../states.hpp"
#include "core/synthesis/adjoint_gradient.hpp"

namespace {

using bvc::test::cplx;

void print_bits(const char* label, double value, const std::vector<double>& gradient) {
    std::printf("%s %a", label, value);
    for (double g : gradient) std::printf(" %a", g);
    std::printf("\n");
}

}  // namespace

int main() {
    std::mt19937 gen(11);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (int n : {5, 9, 12}) {
        // Brick layers with neighbours, and wide pairs that reach the low
        // qubits, so that both kinds of run of the sweeps are taken.
        std::vector<std::array<int, 2>> pairs;
        for (int layer = 0; layer < 3; ++layer)
            for (int start = 0; start < 2; ++start)
                for (int q0 = start; q0 + 1 < n; q0 += 2) pairs.push_back({q0, q0 + 1});
        pairs.push_back({0, n - 1});
        pairs.push_back({1, 3});
        pairs.push_back({2, n - 2});

        const std::vector<cplx> target = bvc::test::random_state(n, static_cast<unsigned>(n));

        bvc::synthesis::ReversePreparationFidelity serial(target.data(), n, pairs);
        bvc::synthesis::ReversePreparationFidelity halves(target.data(), n, pairs, 2u, [] {});
        std::vector<double> x(serial.parameter_count()), gradient(x.size());
        for (double& v : x) v = 0.6 * normal(gen);
        print_bits("serial", serial.value_and_gradient(x.data(), gradient.data()), gradient);
        print_bits("halves", halves.value_and_gradient(x.data(), gradient.data()), gradient);
    }
#if defined(__x86_64__) && defined(__GNUC__)
    std::fprintf(stderr, "AVX-512 %s on this processor\n", __builtin_cpu_supports("avx512f") ? "available" : "absent");
#endif
    return 0;
}
