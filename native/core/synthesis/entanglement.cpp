// Schmidt probabilities across one bond and their Renyi entropies.
#include "core/synthesis/entanglement.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/statevector/statevector.hpp"

namespace bvc::synthesis {

std::size_t schmidt_count(int n_qubits, int bond) {
    const std::size_t rows = std::size_t{1} << (n_qubits - bond - 1);
    const std::size_t cols = std::size_t{1} << (bond + 1);
    return std::min(rows, cols);
}

void schmidt_probabilities(const cplx* state, int n_qubits, int bond, double* probabilities, SchmidtWorkspace& ws) {
    if (bond < 0 || bond >= n_qubits - 1) throw InvalidValue("bond must be between adjacent qubits");
    const int rows = 1 << (n_qubits - bond - 1);
    const int cols = 1 << (bond + 1);
    const std::size_t size = static_cast<std::size_t>(rows) * cols;
    const std::size_t count = schmidt_count(n_qubits, bond);

    // The row-major rows x cols matrix is, read column-major, its transpose:
    // same singular values, and LAPACK can take the amplitudes as they are.
    if (ws.matrix.size() < size) ws.matrix.resize(size);
    const int info = bvc::lapack::singular_values(cols, rows, state, ws.matrix.data(), probabilities, ws.lapack);
    if (info != 0) throw DecompositionFailed("SVD did not converge");

    // Squares of singular values beyond about 1e154 overflow and below about
    // 1e-154 lose digits as subnormals: such a spectrum is squared after
    // scaling its largest value to order one (by a power of two, exactly).
    const double largest = probabilities[0];
    const double scale = largest > 1e-140 && largest < 1e140 ? 1.0 : bvc::sv::unit_scale(largest);
    double total = 0.0;
    for (std::size_t k = 0; k < count; ++k) {
        const double s = probabilities[k];
        if (!std::isfinite(s)) throw DecompositionFailed("SVD did not converge");
        probabilities[k] = (s * scale) * (s * scale);
        total += probabilities[k];
    }
    if (total <= 0.0) throw InvalidValue("state must have nonzero norm");
    for (std::size_t k = 0; k < count; ++k) probabilities[k] /= total;
}

void check_renyi_index(double alpha) {
    if (!is_renyi_index(alpha)) throw InvalidValue("Renyi index must be positive");
}

double renyi_entropy(const double* probabilities, std::size_t count, double alpha) {
    check_renyi_index(alpha);
    for (std::size_t k = 0; k < count; ++k) {
        if (!std::isfinite(probabilities[k]) || probabilities[k] < 0.0) {
            throw InvalidValue("probabilities must be a nonnegative one-dimensional array");
        }
    }
    // Entries at rounding level carry no weight and would only add log(0)
    // terms; they are dropped before the rest is normalised.
    constexpr double eps = std::numeric_limits<double>::epsilon();
    double total = 0.0;
    for (std::size_t k = 0; k < count; ++k) {
        if (probabilities[k] > eps) total += probabilities[k];
    }
    if (!(total > 0.0)) throw InvalidValue("probabilities must have positive total weight");

    if (std::isinf(alpha)) {
        double largest = 0.0;
        for (std::size_t k = 0; k < count; ++k) {
            if (probabilities[k] > eps) largest = std::max(largest, probabilities[k] / total);
        }
        return -std::log(largest);
    }
    if (is_von_neumann_index(alpha)) {
        double entropy = 0.0;
        for (std::size_t k = 0; k < count; ++k) {
            if (probabilities[k] > eps) {
                const double p = probabilities[k] / total;
                entropy -= p * std::log(p);
            }
        }
        return entropy;
    }
    double moment = 0.0;
    for (std::size_t k = 0; k < count; ++k) {
        if (probabilities[k] > eps) moment += std::pow(probabilities[k] / total, alpha);
    }
    return std::log(moment) / (1.0 - alpha);
}

}  // namespace bvc::synthesis
