// Tests of the adjoint gradient of the reverse-preparation fidelity.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <random>
#include <thread>
#include <vector>

#include "check.hpp"
#include "core/synthesis/adjoint_gradient.hpp"

namespace {

// The pairs of `layers` brick layers on n qubits: even bonds, then odd ones.
std::vector<std::array<int, 2>> brick_pairs(int n, int layers) {
    std::vector<std::array<int, 2>> pairs;
    for (int layer = 0; layer < layers; ++layer)
        for (int start = 0; start < 2; ++start)
            for (int q0 = start; q0 < n - 1; q0 += 2) pairs.push_back({q0, q0 + 1});
    return pairs;
}

// A normalised state of n qubits with normal real and imaginary parts.
std::vector<bvc::synthesis::cplx> random_state(int n, std::mt19937& gen) {
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<bvc::synthesis::cplx> state(std::size_t{1} << n);
    double norm = 0.0;
    for (auto& a : state) {
        a = {normal(gen), normal(gen)};
        norm += std::norm(a);
    }
    for (auto& a : state) a /= std::sqrt(norm);
    return state;
}

}  // namespace

// The adjoint gradient of the fidelity agrees with central differences on a
// random six-qubit brick circuit, zero parameters (an identity row and an
// unrotated qubit) included.
BVC_TEST(adjoint_gradient_matches_central_differences) {
    const int n = 6;
    std::mt19937 gen(5);
    std::normal_distribution<double> normal(0.0, 1.0);
    const std::vector<std::array<int, 2>> pairs = brick_pairs(n, 2);
    const std::vector<bvc::synthesis::cplx> target = random_state(n, gen);

    bvc::synthesis::ReversePreparationFidelity fidelity(target.data(), n, pairs);
    const std::size_t count = fidelity.parameter_count();
    BVC_CHECK(count == 3 * n + 9 * pairs.size());
    std::vector<double> x(count);
    for (double& v : x) v = 0.7 * normal(gen);
    std::fill_n(x.begin() + 3 * 2, 3, 0.0);          // qubit 2 unrotated
    std::fill_n(x.begin() + 3 * n + 9 * 4, 9, 0.0);  // row 4 the identity

    std::vector<double> gradient(count), scratch(count);
    const double value = fidelity.value_and_gradient(x.data(), gradient.data());
    BVC_CHECK(value > 0.0 && value < 1.0);
    double largest = 0.0, error = 0.0;
    const double h = 1e-5;
    for (std::size_t k = 0; k < count; ++k) {
        std::vector<double> plus = x, minus = x;
        plus[k] += h;
        minus[k] -= h;
        const double difference = (fidelity.value_and_gradient(plus.data(), scratch.data()) -
                                   fidelity.value_and_gradient(minus.data(), scratch.data())) /
                                  (2.0 * h);
        largest = std::max(largest, std::abs(gradient[k]));
        error = std::max(error, std::abs(gradient[k] - difference));
    }
    BVC_CHECK(largest > 1e-3);
    BVC_CHECK(error <= 1e-6 * largest);
}

// Swept in two halves, on one thread or on two, the fidelity and its gradient
// agree with the serial sweeps to rounding, and the digits are the same for
// one thread and for two: the sums are formed per half whatever the threads.
BVC_TEST(adjoint_gradient_in_halves_matches_serial_sweeps) {
    const int n = 6;
    std::mt19937 gen(11);
    std::normal_distribution<double> normal(0.0, 1.0);
    const std::vector<std::array<int, 2>> pairs = brick_pairs(n, 3);
    const std::vector<bvc::synthesis::cplx> target = random_state(n, gen);
    bvc::synthesis::ReversePreparationFidelity serial(target.data(), n, pairs);
    std::vector<double> x(serial.parameter_count());
    for (double& v : x) v = 0.7 * normal(gen);

    std::vector<double> expected(x.size()), one(x.size()), two(x.size());
    const double value = serial.value_and_gradient(x.data(), expected.data());
    bvc::synthesis::ReversePreparationFidelity by_one(target.data(), n, pairs, 1, [] {});
    bvc::synthesis::ReversePreparationFidelity by_two(target.data(), n, pairs, 2, [] {});
    const double value_one = by_one.value_and_gradient(x.data(), one.data());
    const double value_two = by_two.value_and_gradient(x.data(), two.data());
    BVC_CHECK(value_one == value_two && one == two);
    BVC_CHECK(std::abs(value_one - value) <= 1e-14);
    double largest = 0.0, error = 0.0;
    for (std::size_t k = 0; k < x.size(); ++k) {
        largest = std::max(largest, std::abs(expected[k]));
        error = std::max(error, std::abs(one[k] - expected[k]));
    }
    BVC_CHECK(largest > 1e-3 && error <= 1e-13 * largest);

    // Many hand-overs to the partner, some after it has gone to sleep.
    bool same = true;
    for (int round = 0; round < 40; ++round) {
        for (double& v : x) v += 0.01 * normal(gen);
        if (round % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        same = same &&
               by_one.value_and_gradient(x.data(), one.data()) == by_two.value_and_gradient(x.data(), two.data()) &&
               one == two;
    }
    BVC_CHECK(same);
}
