// The whole-circuit refinement: every parameter optimised on the exact fidelity gradient.
#include "refine.hpp"
#include "metrics_line.hpp"

#include <pybind11/numpy.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "bind/conventions.hpp"
#include "bind/signals.hpp"
#include "core/optimize/lbfgs.hpp"
#include "core/synthesis/adjoint_gradient.hpp"
#include "core/synthesis/circuit_metric.hpp"
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
// The metric's shift relative to its mean diagonal (circuit_metric.hpp), and
// how many iterations it serves before it is measured again. Measuring it
// every 500 iterations did no better than none; every 80 or 100 and a
// shift of 1e-1 or 1e-2 gave about the same speed, and where each run ends
// swings with the path (H8 chain: 0.994717 to 0.995418).
constexpr double kMetricShift = 1e-2;
constexpr int kMetricEvery = 100;
// The widest circuit whose metric is measured, by simulating it as a
// vector of 2^20 amplitudes: 2.5 s for the 190 gates of h10 at 570 CNOTs,
// where an iteration of its last refinement takes about half a second, so
// measured every 100 iterations it costs about 5 per cent. Wider MPS runs
// keep SciPy's L-BFGS-B.
constexpr int kMetricMostQubits = 20;

// 1 - F at x, its gradient written to `gradient`: what every refinement minimises.
double infidelity_and_gradient(bvc::synthesis::CircuitFidelity& fidelity, const double* x, double* gradient) {
    const double value = 1.0 - fidelity.value_and_gradient(x, gradient);
    const std::size_t count = fidelity.parameter_count();
    for (std::size_t k = 0; k < count; ++k) gradient[k] = -gradient[k];
    return value;
}

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
            value = infidelity_and_gradient(*fidelity_, x.data(), g);
        }
        return py::make_tuple(value, std::move(gradient));
    }

private:
    std::unique_ptr<bvc::synthesis::CircuitFidelity> fidelity_;
};

std::optional<double> optional_energy(py::handle energy) {
    return energy.is_none() ? std::nullopt : std::optional<double>(to_float(energy));
}

// The parameter vector of the layer-by-layer circuit: its rotations, then its rows.
py::array_t<double> start_point(const RefineProblem& problem) {
    const std::size_t n = problem.rotations.size(), count = static_cast<std::size_t>(problem.rows.shape(0));
    auto start = new_array<double>({static_cast<py::ssize_t>(3 * n + synthesis::kEntanglerParams * count)});
    double* x = start.mutable_data();
    for (const std::array<double, 3>& v : problem.rotations) x = std::copy(v.begin(), v.end(), x);
    for (std::size_t k = 0; k < count; ++k) {
        const double* row = problem.rows.data() + k * synthesis::kGateRowWidth;
        x = std::copy(row + 2, row + synthesis::kGateRowWidth, x);
    }
    return start;
}

// The rotations (to `rotations`) and gate rows of the parameters `x`, on the
// qubit pairs of the problem's rows.
py::array_t<double> parameters_to_circuit(const RefineProblem& problem, const double* x, Rotations& rotations) {
    const int n = static_cast<int>(problem.rotations.size());
    const RealArray& rows = problem.rows;
    const std::size_t count = static_cast<std::size_t>(rows.shape(0));
    rotations.assign(n, {});
    for (int q = 0; q < n; ++q) std::copy(x + 3 * q, x + 3 * q + 3, rotations[q].begin());
    auto refined_rows =
        new_array<double>({static_cast<py::ssize_t>(count), static_cast<py::ssize_t>(synthesis::kGateRowWidth)});
    for (std::size_t k = 0; k < count; ++k) {
        double* row = refined_rows.mutable_data() + k * synthesis::kGateRowWidth;
        row[0] = rows.data()[k * synthesis::kGateRowWidth];
        row[1] = rows.data()[k * synthesis::kGateRowWidth + 1];
        std::copy_n(x + 3 * n + synthesis::kEntanglerParams * k, synthesis::kEntanglerParams, row + 2);
    }
    return refined_rows;
}

// Called by the optimiser after every iteration with its intermediate
// result: ends the refinement (StopIteration) once the fidelity gained over
// the last iterations is too small to be worth going on for, or the time is up.
class ConvergenceWatch {
public:
    ConvergenceWatch(const Convergence& rule, py::object progress) : rule_(rule), progress_(std::move(progress)) {}

    void observe(py::handle intermediate_result) {
        if (!keep_going(to_float(intermediate_result.attr("fun")))) {
            raise(PyExc_StopIteration, out_of_time_ ? "time budget spent" : "converged");
        }
    }

    // Records the infidelity of one more iteration; false once the rule says stop.
    bool keep_going(double infidelity) {
        history_.push_back(infidelity);
        const std::size_t k = history_.size();
        if (!progress_.is_none()) {
            // The bar redraws itself at most ten times a second.
            progress_.attr("set_postfix_str")(
                py::str("overlap {:.6f}").format(std::sqrt(std::max(0.0, 1.0 - infidelity))), "refresh"_a = false);
            progress_.attr("update")(1);
        }
        if (rule_.deadline && std::chrono::steady_clock::now() >= *rule_.deadline) {
            out_of_time_ = true;
            return false;
        }
        const std::size_t window = static_cast<std::size_t>(rule_.window);
        // A NaN gain stops too.
        return !(k > window &&
                 !(history_[k - 1 - window] - infidelity >= rule_.least_gain * static_cast<double>(window)));
    }

    std::size_t iterations() const { return history_.size(); }
    bool out_of_time() const { return out_of_time_; }

private:
    Convergence rule_;
    py::object progress_;
    std::vector<double> history_;
    bool out_of_time_ = false;
};

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
    const py::array_t<double> start = start_point(problem);
    py::object objective = py::cast(std::make_unique<CircuitInfidelity>(std::move(problem.fidelity)));
    py::dict options("maxiter"_a = problem.iterations, "ftol"_a = kRefineFtol, "gtol"_a = kRefineGtol);
    const py::object result =
        module.attr("minimize")(objective, start, "jac"_a = true, "method"_a = "L-BFGS-B", "options"_a = options);
    const RealArray best = as_real_array(result.attr("x"));

    Rotations rotations;
    const py::array_t<double> refined_rows = parameters_to_circuit(problem, best.data(), rotations);
    py::tuple refined = problem.score(rotations, refined_rows);
    // Never worse than the layer-by-layer circuit (a NaN overlap counts as worse).
    if (!(to_float(refined[1]) >= to_float(unrefined[1]))) refined = unrefined;
    print_metrics_line("  Refined               ", to_float(refined[1]), optional_energy(refined[2]));
    return refined;
}

namespace {

// The refinement on the native preconditioned L-BFGS; the watch decides
// when it stops. Returns the parameters reached and 1 - F there.
std::pair<std::vector<double>, double> preconditioned_refinement(RefineProblem& problem,
                                                                 const py::array_t<double>& start,
                                                                 ConvergenceWatch& watch, const Convergence& rule) {
    bvc::synthesis::CircuitFidelity& fidelity = *problem.fidelity;
    const bvc::optimize::Objective infidelity = [&fidelity](const double* x, double* gradient) {
        return infidelity_and_gradient(fidelity, x, gradient);
    };
    const bvc::optimize::Observer observe = [&watch](int, const double*, double value) {
        py::gil_scoped_acquire acquire;
        check_signals();
        return watch.keep_going(value);
    };
    bvc::optimize::LbfgsSettings settings;
    settings.memory = rule.history;
    settings.update_every = kMetricEvery;
    settings.most_iterations = rule.most_iterations;
    std::vector<double> x(start.data(), start.data() + start.size());
    bvc::optimize::LbfgsResult result;
    {
        py::gil_scoped_release release;
        result = bvc::optimize::minimize_lbfgs(infidelity, std::move(x), problem.metric.get(), observe, settings);
    }
    return {std::move(result.x), result.value};
}

}  // namespace

RefinedCircuit refine_until_converged(py::handle module, RefineProblem& problem, const Convergence& rule,
                                      py::object progress) {
    const py::array_t<double> start = start_point(problem);
    const std::size_t count = static_cast<std::size_t>(start.size());
    std::vector<double> gradient(count);
    double start_fidelity;
    {
        py::gil_scoped_release release;
        start_fidelity = problem.fidelity->value_and_gradient(start.data(), gradient.data());
    }
    py::object watch = py::cast(std::make_unique<ConvergenceWatch>(rule, progress));
    ConvergenceWatch& w = watch.cast<ConvergenceWatch&>();
    std::vector<double> reached;
    double infidelity;
    if (rule.preconditioned && problem.metric) {
        std::tie(reached, infidelity) = preconditioned_refinement(problem, start, w, rule);
    } else {
        py::object objective = py::cast(std::make_unique<CircuitInfidelity>(std::move(problem.fidelity)));
        py::dict options("maxiter"_a = rule.most_iterations, "maxcor"_a = rule.history, "ftol"_a = 0.0,
                         "gtol"_a = kRefineGtol);
        const py::object result = module.attr("minimize")(objective, start, "jac"_a = true, "method"_a = "L-BFGS-B",
                                                          "callback"_a = watch.attr("observe"), "options"_a = options);
        const RealArray x = as_real_array(result.attr("x"));
        reached.assign(x.data(), x.data() + count);
        infidelity = to_float(result.attr("fun"));
    }
    RefinedCircuit refined;
    refined.iterations = static_cast<int>(w.iterations());
    refined.out_of_time = w.out_of_time();
    // Never worse than where it started (a NaN counts as worse).
    if (!(1.0 - infidelity >= start_fidelity)) reached.assign(start.data(), start.data() + count);
    refined.rows = parameters_to_circuit(problem, reached.data(), refined.rotations);
    refined.scored = problem.score(refined.rotations, refined.rows);
    return refined;
}

std::unique_ptr<bvc::optimize::Preconditioner> circuit_metric(int n, const RealArray& rows) {
    if (n > kMetricMostQubits) return nullptr;
    return std::make_unique<bvc::synthesis::CircuitMetric>(n, row_pairs(rows), kMetricShift, signal_interrupt());
}

RefineProblem reverse_preparation_problem(const ComplexArray& psi0, py::handle disentangled, int n,
                                          const py::list& gate_rows, unsigned split_threads) {
    const py::tuple approximation = product_state_approximation(disentangled, py::int_(n));
    RefineProblem problem;
    for (py::handle factor : approximation[0]) problem.rotations.push_back(product_factor_rotation(factor));
    problem.rows = as_real_array(as_real_array(gate_rows).attr("reshape")(-1, synthesis::kGateRowWidth));
    if (split_threads > 0) {
        problem.fidelity = std::make_unique<bvc::synthesis::ReversePreparationFidelity>(
            psi0.data(), n, row_pairs(problem.rows), split_threads, [] { check_signals(); });
    } else {
        problem.fidelity =
            std::make_unique<bvc::synthesis::ReversePreparationFidelity>(psi0.data(), n, row_pairs(problem.rows));
    }
    problem.iterations = refine_iterations(std::ldexp(1.0, n), static_cast<std::size_t>(problem.rows.shape(0)));
    problem.metric = circuit_metric(n, problem.rows);
    return problem;
}

py::tuple refine_reverse_preparation(py::handle module, const ComplexArray& psi0, py::handle disentangled,
                                     const py::int_& n_qubits, const py::list& gate_rows, py::handle pauli_terms,
                                     bool compact, const py::tuple& unrefined) {
    RefineProblem problem = reverse_preparation_problem(psi0, disentangled, py::cast<int>(n_qubits), gate_rows);
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

    auto watch = py::class_<ConvergenceWatch, std::unique_ptr<ConvergenceWatch>>(
        m, "_RefineWatch", "Ends a converging refinement: called by the optimiser after each iteration.");
    def_method(watch, "observe", {arg("self"), arg("intermediate_result")},
               "Raises StopIteration once the gain per iteration is too small or the time is up.",
               [](const Arguments& a) -> py::object {
                   a[0].cast<ConvergenceWatch&>().observe(a[1]);
                   return py::none();
               });

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
