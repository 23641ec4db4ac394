// Tests of the synthesis gate matrices and their derivatives.
#include <cmath>
#include <complex>
#include <random>

#include "check.hpp"
#include "core/synthesis/gates.hpp"

namespace {

using bvc::sv::Mat4;

// Largest entry of |du_k - (U(p + h e_k) - U(p - h e_k)) / 2h| over all k.
double central_difference_error(const double p[bvc::synthesis::kEntanglerParams]) {
    Mat4 u, du[bvc::synthesis::kEntanglerParams];
    bvc::synthesis::entangler_matrix_derivatives(p, u, du);
    const Mat4 reference = bvc::synthesis::entangler_matrix(p);
    double error = 0.0;
    for (int e = 0; e < 16; ++e) error = std::max(error, std::abs(u.m[e] - reference.m[e]));
    const double h = 1e-6;
    for (int k = 0; k < bvc::synthesis::kEntanglerParams; ++k) {
        double plus[bvc::synthesis::kEntanglerParams], minus[bvc::synthesis::kEntanglerParams];
        for (int i = 0; i < bvc::synthesis::kEntanglerParams; ++i) plus[i] = minus[i] = p[i];
        plus[k] += h;
        minus[k] -= h;
        const Mat4 up = bvc::synthesis::entangler_matrix(plus), down = bvc::synthesis::entangler_matrix(minus);
        for (int e = 0; e < 16; ++e) {
            error = std::max(error, std::abs(du[k].m[e] - (up.m[e] - down.m[e]) / (2.0 * h)));
        }
    }
    return error;
}

}  // namespace

// The closed-form derivatives agree with central differences at random
// parameters, and at rotation vectors small enough for the series branch.
// (Exactly zero vectors are checked against the limit -i sigma_j / 2, since
// the matrix is flat inside the identity floor.)
BVC_TEST(entangler_derivatives_match_central_differences) {
    std::mt19937 gen(7);
    std::normal_distribution<double> normal;
    for (int trial = 0; trial < 20; ++trial) {
        double p[bvc::synthesis::kEntanglerParams];
        const double scale = trial < 10 ? 1.0 : 4e-4;  // second half: |v| mostly in the series range
        for (int i = 0; i < 6; ++i) p[i] = scale * normal(gen);
        for (int i = 6; i < 9; ++i) p[i] = normal(gen);
        BVC_CHECK(central_difference_error(p) < 1e-9);
    }

    const double zero[3] = {0.0, 0.0, 0.0};
    bvc::sv::Mat2 d[3];
    bvc::synthesis::axis_rotation_derivatives(zero, d);
    const std::complex<double> i(0.0, 1.0);
    const bvc::sv::Mat2 half_pauli[3] = {
        {{0.0, -0.5 * i, -0.5 * i, 0.0}}, {{0.0, -0.5, 0.5, 0.0}}, {{-0.5 * i, 0.0, 0.0, 0.5 * i}}};
    for (int j = 0; j < 3; ++j) {
        for (int e = 0; e < 4; ++e) BVC_CHECK(std::abs(d[j].m[e] - half_pauli[j].m[e]) < 1e-15);
    }
}
