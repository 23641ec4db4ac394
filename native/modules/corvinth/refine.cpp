// The whole-circuit refinement: every parameter optimised on the exact fidelity gradient.
#include "refine.hpp"
#include "metrics_line.hpp"

#include <pybind11/numpy.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "bind/conventions.hpp"
#include "bind/signals.hpp"
#include "core/synthesis/adjoint_gradient.hpp"
#include "core/synthesis/gates.hpp"
#include "core/synthesis/mps_adjoint_gradient.hpp"
#include "limits.hpp"
#include "mps_state.hpp"
#include "product_state_functions.hpp"
#include "snapshot.hpp"

namespace bvc::corvinth {

using namespace bvc::bind;
using namespace pybind11::literals;
using bvc::synthesis::kEntanglerParams;
using bvc::synthesis::kGateRowWidth;

namespace {

// Stopping of L-BFGS-B. One evaluation costs about (gate rows) x 2^n
// amplitude updates, so the iteration limit is a budget of such updates:
// 450 iterations for 91 rows on 14 qubits (the H2O demo, a few seconds),
// more for smaller circuits up to 5000, and at least 20. The objective is the
// infidelity 1 - F, which the relative test of ftol compares with 1, so ftol
// is the smallest change of the fidelity per iteration worth going on for;
// gtol is below anything reached except at an exact state (where the
// refinement ends at once), so the budget and ftol decide.
constexpr double kRefineBudget = 450.0 * 91.0 * 16384.0;
constexpr double kRefineMostIterations = 5000.0;
constexpr double kRefineLeastIterations = 20.0;
constexpr double kRefineFtol = 1e-15;
constexpr double kRefineGtol = 1e-12;

// 1 - F and its gradient in one call, for scipy.optimize.minimize(jac=True).
class CircuitInfidelity {
public:
    explicit CircuitInfidelity(std::unique_ptr<bvc::synthesis::CircuitFidelity> fidelity)
        : fidelity_(std::move(fidelity)) {}

    py::tuple evaluate(const RealArray& x) {
        const std::size_t count = fidelity_->parameter_count();
        if (x.ndim() != 1 || static_cast<std::size_t>(x.shape(0)) != count) {
            raise(PyExc_ValueError, "expected " + std::to_string(count) + " circuit parameters");
        }
        auto gradient = new_array<double>({static_cast<py::ssize_t>(count)});
        double* g = gradient.mutable_data();
        double value;
        {
            py::gil_scoped_release release;
            value = 1.0 - fidelity_->value_and_gradient(x.data(), g);
            for (std::size_t k = 0; k < count; ++k) g[k] = -g[k];
        }
        return py::make_tuple(value, std::move(gradient));
    }

private:
    std::unique_ptr<bvc::synthesis::CircuitFidelity> fidelity_;
};

std::optional<double> optional_energy(py::handle energy) {
    return energy.is_none() ? std::nullopt : std::optional<double>(to_float(energy));
}

}  // namespace

int refine_iterations(double amplitudes, std::size_t rows) {
    const double per_evaluation = amplitudes * static_cast<double>(std::max<std::size_t>(rows, 1));
    return static_cast<int>(
        std::clamp(std::floor(kRefineBudget / per_evaluation), kRefineLeastIterations, kRefineMostIterations));
}

std::vector<std::array<int, 2>> row_pairs(const RealArray& rows) {
    std::vector<std::array<int, 2>> pairs;
    for (py::ssize_t k = 0; k < rows.shape(0); ++k) {
        const double* row = rows.data() + k * synthesis::kGateRowWidth;
        pairs.push_back({static_cast<int>(row[0]), static_cast<int>(row[1])});
    }
    return pairs;
}

py::tuple refine_circuit(py::handle module, RefineProblem& problem, const py::tuple& unrefined) {
    const int n = static_cast<int>(problem.rotations.size());
    const RealArray& rows = problem.rows;
    const std::size_t count = static_cast<std::size_t>(rows.shape(0));

    // Start from the layer-by-layer circuit: its rotations, then its rows.
    auto start = new_array<double>({static_cast<py::ssize_t>(3 * n + synthesis::kEntanglerParams * count)});
    double* x = start.mutable_data();
    for (const std::array<double, 3>& v : problem.rotations) x = std::copy(v.begin(), v.end(), x);
    for (std::size_t k = 0; k < count; ++k) {
        const double* row = rows.data() + k * synthesis::kGateRowWidth;
        x = std::copy(row + 2, row + synthesis::kGateRowWidth, x);
    }

    py::object objective = py::cast(std::make_unique<CircuitInfidelity>(std::move(problem.fidelity)));
    py::dict options("maxiter"_a = problem.iterations, "ftol"_a = kRefineFtol, "gtol"_a = kRefineGtol);
    const py::object result =
        module.attr("minimize")(objective, start, "jac"_a = true, "method"_a = "L-BFGS-B", "options"_a = options);
    const RealArray best = as_real_array(result.attr("x"));

    Rotations rotations(n);
    for (int q = 0; q < n; ++q) std::copy(best.data() + 3 * q, best.data() + 3 * q + 3, rotations[q].begin());
    auto refined_rows =
        new_array<double>({static_cast<py::ssize_t>(count), static_cast<py::ssize_t>(synthesis::kGateRowWidth)});
    for (std::size_t k = 0; k < count; ++k) {
        double* row = refined_rows.mutable_data() + k * synthesis::kGateRowWidth;
        row[0] = rows.data()[k * synthesis::kGateRowWidth];
        row[1] = rows.data()[k * synthesis::kGateRowWidth + 1];
        std::copy_n(best.data() + 3 * n + synthesis::kEntanglerParams * k, synthesis::kEntanglerParams, row + 2);
    }
    py::tuple refined = problem.score(rotations, refined_rows);
    // Never worse than the layer-by-layer circuit (a NaN overlap counts as worse).
    if (!(to_float(refined[1]) >= to_float(unrefined[1]))) refined = unrefined;
    print_metrics_line("  Refined               ", to_float(refined[1]), optional_energy(refined[2]));
    return refined;
}

py::tuple refine_reverse_preparation(py::handle module, const ComplexArray& psi0, py::handle disentangled,
                                     const py::int_& n_qubits, const py::list& gate_rows, py::handle pauli_terms,
                                     bool compact, const py::tuple& unrefined) {
    const int n = py::cast<int>(n_qubits);
    const py::tuple approximation = product_state_approximation(disentangled, n_qubits);
    RefineProblem problem;
    for (py::handle factor : approximation[0]) problem.rotations.push_back(product_factor_rotation(factor));
    problem.rows = as_real_array(as_real_array(gate_rows).attr("reshape")(-1, synthesis::kGateRowWidth));
    problem.fidelity =
        std::make_unique<bvc::synthesis::ReversePreparationFidelity>(psi0.data(), n, row_pairs(problem.rows));
    problem.iterations = refine_iterations(std::ldexp(1.0, n), static_cast<std::size_t>(problem.rows.shape(0)));
    problem.score = [&](const Rotations& rotations, const py::object& rows) {
        return score_reverse_preparation(module, psi0, n_qubits, rotations, rows, pauli_terms, compact);
    };
    return refine_circuit(module, problem, unrefined);
}

void register_refine_objective(py::module_& m) {
    auto cls = py::class_<CircuitInfidelity, std::unique_ptr<CircuitInfidelity>>(
        m, "_CircuitInfidelity",
        "1 - |<psi0|psi(x)>|^2 of the reverse-preparation circuit and its gradient, for the joint refinement.\n"
        "Call it with the parameters (rotation vectors of the qubits, then nine per gate row); it returns\n"
        "(value, gradient).");
    def_method(
        cls, "__call__", {arg("self"), arg("x")}, "(1 - fidelity, its gradient) at the parameters `x`.",
        [](const Arguments& a) -> py::object { return a[0].cast<CircuitInfidelity&>().evaluate(as_real_array(a[1])); });

    def_function(m, "_circuit_infidelity", {arg("psi0"), arg("n_qubits"), arg("pairs")},
                 "The refinement objective for the normalised state `psi0` and the qubit pairs (q0, q1) of the gate\n"
                 "rows in the order applied: a callable taking 3 n + 9 len(pairs) parameters. `psi0` is a vector\n"
                 "of 2**n_qubits amplitudes or a brimvale MPS (its norm ignored; pairs of neighbours only).",
                 [](const Arguments& a) -> py::object {
                     const std::int64_t n = to_int64(a[1], "n_qubits");
                     const bool is_mps = py::isinstance(a[0], py::module_::import("brimvale").attr("MPS"));
                     // The size of the native data, never what the object reports.
                     if (is_mps && bvc::corvinth::native_mps(a[0])->size() != n) {
                         raise(PyExc_ValueError, "psi0 must have n_qubits qubits");
                     }
                     const ComplexArray psi0 = is_mps ? ComplexArray() : as_complex_array(a[0]);
                     if (!is_mps && (n < 1 || n > bvc::defaults::kMaxDenseQubits || psi0.ndim() != 1 ||
                                     psi0.size() != (py::ssize_t{1} << n))) {
                         raise(PyExc_ValueError, "psi0 must hold exactly 2**n_qubits amplitudes");
                     }
                     std::vector<std::array<int, 2>> pairs;
                     for (py::handle pair : py::iter(a[2])) {
                         const py::tuple qubits(py::reinterpret_borrow<py::object>(pair));
                         const std::int64_t q0 = to_int64(qubits[0], "q0"), q1 = to_int64(qubits[1], "q1");
                         if (qubits.size() != 2 || q0 < 0 || q0 >= q1 || q1 >= n) {
                             raise(PyExc_ValueError, "two-qubit sites must satisfy 0 <= q0 < q1 < n_qubits");
                         }
                         pairs.push_back({static_cast<int>(q0), static_cast<int>(q1)});
                     }
                     std::unique_ptr<bvc::synthesis::CircuitFidelity> fidelity;
                     if (is_mps) {
                         bvc::mps::Mps target = *bvc::corvinth::native_mps(a[0]);
                         target.norm = 1.0;
                         fidelity = std::make_unique<bvc::synthesis::MpsReversePreparationFidelity>(
                             std::move(target), std::move(pairs), rounding_truncation(), signal_interrupt());
                     } else {
                         fidelity = std::make_unique<bvc::synthesis::ReversePreparationFidelity>(
                             psi0.data(), static_cast<int>(n), std::move(pairs));
                     }
                     return py::cast(std::make_unique<CircuitInfidelity>(std::move(fidelity)));
                 });
}

}  // namespace bvc::corvinth
