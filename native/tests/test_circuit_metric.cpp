// Tests of the per-gate metric blocks of the reverse-preparation circuit.
#include <array>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "check.hpp"
#include "core/statevector/small_matrix.hpp"
#include "core/synthesis/circuit_metric.hpp"
#include "core/synthesis/gates.hpp"

namespace {

using bvc::synthesis::cplx;

// psi(x) simulated plainly: the rotated product state, then the rows undone newest first.
std::vector<cplx> circuit_state(int n, const std::vector<std::array<int, 2>>& pairs, const std::vector<double>& x) {
    std::vector<cplx> psi(std::size_t{1} << n);
    for (std::size_t i = 0; i < psi.size(); ++i) {
        cplx amplitude = 1.0;
        for (int q = 0; q < n; ++q) amplitude *= bvc::synthesis::axis_rotation_matrix(&x[3 * q]).m[2 * ((i >> q) & 1)];
        psi[i] = amplitude;
    }
    std::vector<cplx> next(psi.size());
    for (std::size_t k = pairs.size(); k-- > 0;) {
        const bvc::sv::Mat4 u = adjoint(bvc::synthesis::entangler_matrix(&x[3 * n + 9 * k]));
        bvc::synthesis::apply_two_qubit_unitary(psi.data(), next.data(), pairs[k][0], pairs[k][1], n, u);
        psi.swap(next);
    }
    return psi;
}

}  // namespace

// Each block equals the geometric tensor of central-difference derivatives
// of the simulated state, and its shifted inverse factor whitens it: for a
// random circuit with an identity row and an unrotated qubit, and for a
// block the state does not feel at all.
BVC_TEST(metric_blocks_match_differences_of_the_state) {
    const int n = 4;
    const std::vector<std::array<int, 2>> pairs = {{0, 1}, {2, 3}, {1, 2}, {0, 1}, {0, 3}};
    std::mt19937 gen(11);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> x(3 * n + 9 * pairs.size());
    for (double& v : x) v = 0.8 * normal(gen);
    std::fill_n(x.begin() + 3, 3, 0.0);              // qubit 1 unrotated
    std::fill_n(x.begin() + 3 * n + 9 * 2, 9, 0.0);  // row 2 the identity

    const std::vector<double> blocks = bvc::synthesis::circuit_metric_blocks(n, pairs, x.data());
    BVC_CHECK(blocks.size() == 9 * n + 81 * pairs.size());
    const std::vector<cplx> psi = circuit_state(n, pairs, x);
    const double h = 1e-5;
    std::size_t offset = 0, start = 0;
    double error = 0.0;
    for (std::size_t b = 0; b < n + pairs.size(); ++b) {
        const int size = b < n ? 3 : 9;
        std::vector<std::vector<cplx>> d(size);
        for (int i = 0; i < size; ++i) {
            std::vector<double> up = x, down = x;
            up[start + i] += h;
            down[start + i] -= h;
            const std::vector<cplx> a = circuit_state(n, pairs, up), c = circuit_state(n, pairs, down);
            for (std::size_t k = 0; k < psi.size(); ++k) d[i].push_back((a[k] - c[k]) / (2 * h));
        }
        for (int i = 0; i < size; ++i) {
            for (int j = 0; j < size; ++j) {
                cplx dd = 0.0, di = 0.0, dj = 0.0;
                for (std::size_t k = 0; k < psi.size(); ++k) {
                    dd += std::conj(d[i][k]) * d[j][k];
                    di += std::conj(d[i][k]) * psi[k];
                    dj += std::conj(psi[k]) * d[j][k];
                }
                const double expected = std::real(dd) - std::real(di * dj);
                error = std::max(error, std::abs(blocks[offset + size * i + j] - expected));
            }
        }
        offset += size * size;
        start += size;
    }
    BVC_CHECK(error < 1e-8);

    // The shifted factors: L^-1 (g + s I) L^-T is the identity.
    const double shift = 1e-2;
    std::vector<double> with_blind = blocks;
    std::fill_n(with_blind.begin() + 9 * n, 81, 0.0);  // a row the state does not feel
    const std::vector<double> factors = bvc::synthesis::inverse_metric_factors(n, pairs.size(), with_blind, shift);
    offset = 0;
    double whitened = 0.0;
    for (std::size_t b = 0; b < n + pairs.size(); ++b) {
        const int size = b < n ? 3 : 9;
        const double* g = with_blind.data() + offset;
        const double* l = factors.data() + offset;
        double trace = 0.0;
        for (int i = 0; i < size; ++i) trace += g[size * i + i];
        for (int i = 0; i < size; ++i) {
            for (int j = 0; j < size; ++j) {
                double sum = 0.0;
                for (int r = 0; r < size; ++r)
                    for (int c = 0; c < size; ++c)
                        sum += l[size * i + r] * (g[size * r + c] + (r == c ? shift * trace / size : 0.0)) *
                               l[size * j + c];
                if (b == n) sum = l[size * i + j];  // the blind row: the identity
                whitened = std::max(whitened, std::abs(sum - (i == j ? 1.0 : 0.0)));
            }
        }
        offset += size * size;
    }
    BVC_CHECK(whitened < 1e-10);

    // A measurement that passes more amplitudes than one poll covers answers
    // a stop request: 16 qubits and 80 rows make five polls.
    struct Stop {};
    const int wide = 16;
    const std::vector<std::array<int, 2>> rows(80, std::array<int, 2>{3, 4});
    const std::vector<double> zero(3 * wide + 9 * rows.size(), 0.0);
    bool stopped = false;
    try {
        bvc::synthesis::circuit_metric_blocks(wide, rows, zero.data(), bvc::Interrupt([] { throw Stop{}; }));
    } catch (const Stop&) {
        stopped = true;
    }
    BVC_CHECK(stopped);
}
