// The quality-driven run: layers are added until the circuit is good enough
// or its CNOT budget is spent, and after every layer the whole circuit is
// refined, the next layer being fitted to what the refined circuit leaves
// undone. A layer fitted by entropy alone gains little once the state is far
// from a product (the first layer on the H8 chain gains nothing); refining as
// the circuit grows hands every later layer a better remainder.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <optional>
#include <string>

#include "bind/conventions.hpp"
#include "bind/signals.hpp"
#include "metrics_line.hpp"
#include "synthesis_run.hpp"

namespace bvc::corvinth {

using namespace bvc::bind;
using namespace pybind11::literals;
using bvc::corvinth::print_layer_metrics;
using bvc::corvinth::print_line;

namespace {

// The compact emission spends at most this many CNOTs on a disentangler: a
// budget is kept by counting every gate at its worst, since the refinement
// may turn a gate emitted with fewer into one that needs all three.
constexpr std::int64_t kCnotsPerGate = 3;

// Under a time budget the last refinement counts as this many shares of
// what is left, each earlier one as one: it is the refinement that gains
// most, and earlier ones cut short cost it less than they give it. On h10
// (capped at 64, 200 s) the last layer ended at 0.970891 and 0.972678 with
// one share, 0.975432 with 4, 0.976879 with 9 and 0.973270 with 21.
constexpr std::int64_t kLastRefinementShares = 9;

std::string shortest(double value) { return py::cast<std::string>(py::repr(py::float_(value))); }

std::optional<double> optional_energy(const py::object& energy) {
    return energy.is_none() ? std::nullopt : std::optional<double>(to_float(energy));
}

py::list as_row_list(const py::array_t<double>& rows) {
    py::list list;
    for (py::handle row : rows.attr("tolist")()) list.append(py::tuple(py::reinterpret_borrow<py::object>(row)));
    return list;
}

}  // namespace

void canonicalise_state(std::complex<double>* amplitudes, std::size_t size) {
    std::complex<double> weight = 0.0;
    for (std::size_t i = 0; i < size; ++i) weight += amplitudes[i] * std::norm(amplitudes[i]);
    const double modulus = std::abs(weight);
    if (!(modulus > 0.0) || !std::isfinite(modulus)) return;
    const std::complex<double> turn = std::conj(weight) / modulus;
    constexpr double kGrid = 0x1p-36;
    double norm = 0.0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::complex<double> v = amplitudes[i] * turn;
        // Adding +0.0 turns a -0.0 into +0.0: most amplitudes of a state of
        // fixed particle number are zero, and the sign of those zeros, set by
        // the phase they were multiplied with, reaches atan2 and the
        // decompositions downstream and steered the run.
        amplitudes[i] = {std::nearbyint(v.real() / kGrid) * kGrid + 0.0,
                         std::nearbyint(v.imag() / kGrid) * kGrid + 0.0};
        norm += std::norm(amplitudes[i]);
    }
    const double scale = 1.0 / std::sqrt(norm);
    for (std::size_t i = 0; i < size; ++i) amplitudes[i] *= scale;
}

py::object run_quality_cvd(SynthesisState& state, Settings& s) {
    using Clock = std::chrono::steady_clock;
    const SearchSettings& search = s.search;
    const std::string estimate_bounds = print_header(state, s);
    const std::size_t layer_bonds = static_cast<std::size_t>(std::max(search.n - 1, 0));

    bvc::corvinth::Convergence rule, final_rule;
    final_rule.window = 100;
    final_rule.least_gain = 1e-7;
    // The last refinement runs longest: preconditioned, it gets as far in
    // about half the iterations.
    final_rule.preconditioned = true;
    std::optional<Clock::duration> budget;
    if (s.refine_seconds) {
        budget = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*s.refine_seconds));
    }
    Clock::duration spent{};

    py::list gate_rows;
    LayerHistory history;
    py::tuple scored = state.snapshot(gate_rows, s.pauli_terms, true);
    auto report = [&](std::int64_t layer) {
        print_layer_metrics(py::int_(layer), to_float(scored[1]), optional_energy(scored[2]));
        history.record(scored[0], scored[1], scored[2]);
    };
    report(0);
    auto reached = [&] { return s.target_overlap && to_float(scored[1]) >= *s.target_overlap; };

    BondSearch bond_search(search, s.module);
    const py::object progress_bar = py::module_::import("brimvale_chemistry._progress").attr("progress_bar");
    // The refinement's gradient is split in two halves at most.
    const auto refine_threads = static_cast<unsigned>(std::min<std::uint64_t>(search.threads, 2));
    std::int64_t layers_run = 0;
    std::string stop;
    while (!reached()) {
        std::size_t bonds = layer_bonds;
        if (s.max_cnots) {
            const std::int64_t room = *s.max_cnots / kCnotsPerGate - static_cast<std::int64_t>(gate_rows.size());
            if (room <= 0) {
                stop = "CNOT budget " + std::to_string(*s.max_cnots) + " spent";
                break;
            }
            bonds = std::min(bonds, static_cast<std::size_t>(room));
        }
        if (layers_run == s.layers) {
            stop = "layer bound " + std::to_string(s.layers) + " reached";
            break;
        }
        if (budget && spent >= *budget) {
            stop = "refinement time " + shortest(*s.refine_seconds) + " s spent";
            break;
        }
        // The layers that may still come, this one included: each
        // refinement gets its share of the time left for them, so that the
        // last (which adds most) is not starved by the first.
        std::int64_t layers_left = s.layers - layers_run;
        if (s.max_cnots && layer_bonds > 0) {
            const std::int64_t rows_left = *s.max_cnots / kCnotsPerGate - static_cast<std::int64_t>(gate_rows.size());
            const auto per_layer = static_cast<std::int64_t>(layer_bonds);
            layers_left = std::min(layers_left, (rows_left + per_layer - 1) / per_layer);
        }
        fit_layer(state, bond_search, s, layers_run, bonds, gate_rows);
        ++layers_run;

        const Clock::time_point begin = Clock::now();
        // The last layer's refinement leaves nothing to a later one: it
        // goes on while it gains ten times less.
        rule = layers_left == 1 ? final_rule : bvc::corvinth::Convergence{};
        if (budget) {
            const std::int64_t shares = layers_left <= 1 ? 1 : layers_left - 1 + kLastRefinementShares;
            rule.deadline = begin + (*budget - spent) / shares;
        }
        bvc::corvinth::RefineProblem problem =
            state.refine_problem(gate_rows, s.pauli_terms, true, refine_threads, rule.preconditioned);
        // A refinement may run for minutes: its iterations and overlap, on
        // standard error when it is a terminal.
        const py::object bar = progress_bar(py::none(), py::str("Refining {}/{}").format(layers_run, s.layers), "it");
        const bvc::corvinth::RefinedCircuit refined =
            bvc::corvinth::refine_until_converged(s.module, problem, rule, bar);
        if (!bar.is_none()) bar.attr("close")();
        spent += Clock::now() - begin;
        check_signals();
        gate_rows = as_row_list(refined.rows);
        state.restart(gate_rows);
        scored = refined.scored;
        report(layers_run);
    }
    if (stop.empty()) stop = "target overlap " + shortest(*s.target_overlap) + " reached";
    if (s.target_overlap && !reached()) stop += ", overlap below the target " + shortest(*s.target_overlap);
    const py::object circuit = scored[0];
    print_line("  Stopped               : " + stop + "; " + py::cast<std::string>(py::str(cnot_count(circuit))) +
               " CNOTs, two-qubit depth " +
               py::cast<std::string>(py::str(circuit.attr("depth")("two_qubit_only"_a = true))));

    return cvd_result(state, s, layers_run, gate_rows, scored[0], scored[1], scored[2], history, estimate_bounds,
                      py::dict("stop_reason"_a = stop));
}

}  // namespace bvc::corvinth
