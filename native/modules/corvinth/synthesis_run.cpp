// The layer loop: brick groups searched, gates applied, a snapshot printed per layer.
#include "synthesis_run.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "bind/conventions.hpp"
#include "bind/signals.hpp"
#include "core/synthesis/gates.hpp"
#include "metrics_line.hpp"

namespace bvc::corvinth {

using namespace bvc::bind;
using namespace pybind11::literals;
using bvc::corvinth::print_layer_metrics;
using bvc::corvinth::print_line;

py::int_ cnot_count(const py::object& circuit) { return py::int_(circuit.attr("count_ops")().attr("get")("cx", 0)); }

void LayerHistory::record(const py::object& circuit, const py::object& overlap, const py::object& energy) {
    overlaps.append(overlap);
    energies.append(energy);
    cnot_counts.append(cnot_count(circuit));
}

py::object cvd_result(const SynthesisState& state, const Settings& s, std::int64_t layers_run,
                      const py::list& gate_rows, const py::object& circuit, const py::object& overlap,
                      const py::object& energy, const LayerHistory& history, const std::string& estimate_bounds,
                      const py::dict& appended) {
    const SearchSettings& search = s.search;
    py::object record = s.module.attr("CvdResult");
    return record(
        "overlap_mod"_a = overlap, "energy"_a = energy.is_none() ? py::float_(0.0) : energy,
        "circuit_layers"_a = py::int_(layers_run),
        "renyi_indices"_a = py::list(s.renyi_indices[py::slice(0, layers_run, 1)]),
        "circuit_params"_a =
            py::int_(3 * static_cast<std::int64_t>(search.n) + 9 * static_cast<std::int64_t>(gate_rows.size())),
        "circuit"_a = circuit, "layer_overlaps"_a = history.overlaps, "layer_energies"_a = history.energies,
        "cnot_count"_a = cnot_count(circuit), "two_qubit_depth"_a = circuit.attr("depth")("two_qubit_only"_a = true),
        "layer_cnot_counts"_a = history.cnot_counts, "discarded_weight"_a = py::float_(state.discarded_weight()),
        "overlap_is_estimate"_a = py::bool_(!estimate_bounds.empty()), **appended);
}

void fit_layer(SynthesisState& state, BondSearch& bond_search, const Settings& s, std::int64_t layer_index,
               std::size_t most_bonds, py::list& gate_rows) {
    const SearchSettings& search = s.search;
    bvc::bind::check_signals();
    const double alpha = py::cast<double>(s.renyi_indices[layer_index]);
    const std::size_t bond_count =
        std::min<std::size_t>(most_bonds, static_cast<std::size_t>(std::max(search.n - 1, 0)));
    py::object progress_bar = py::module_::import("brimvale_chemistry._progress").attr("progress_bar");
    // Bonds done of the layer's, on standard error when it is a terminal.
    py::object bar =
        progress_bar(py::int_(bond_count), py::str("Layer {}/{}").format(layer_index + 1, s.layers), "bond");
    std::size_t bonds_before_group = 0;
    for (int start = 0; start < 2; ++start) {
        std::vector<int> bonds;
        for (int q0 = start; q0 < search.n - 1 && bonds_before_group + bonds.size() < bond_count; q0 += 2) {
            bonds.push_back(q0);
        }
        BondSearch::Progress progress;
        if (!bar.is_none()) {
            progress = [&bar, bonds_before_group](std::size_t finished) {
                bar.attr("update")(bonds_before_group + finished - py::cast<std::size_t>(bar.attr("n")));
            };
        }
        // Every bond of the group is scored against the same input.
        const std::vector<EntanglerParams> chosen =
            bond_search.optimise_group(state.objectives(), bonds, alpha, layer_index, progress);
        bonds_before_group += bonds.size();
        // The bonds of a group are disjoint, so the order of these gates is immaterial.
        state.apply_group(bonds, chosen);
        for (std::size_t b = 0; b < bonds.size(); ++b) {
            py::tuple row(2 + synthesis::kEntanglerParams);
            row[0] = py::int_(bonds[b]);
            row[1] = py::int_(bonds[b] + 1);
            for (int k = 0; k < synthesis::kEntanglerParams; ++k) row[2 + k] = py::float_(chosen[b][k]);
            gate_rows.append(row);
        }
    }
    // The bar clears itself before the layer's line is printed.
    if (!bar.is_none()) bar.attr("close")();
}

std::string print_header(const SynthesisState& state, const Settings& s) {
    const SearchSettings& search = s.search;
    // Overlaps taken on a simulation that may truncate are estimates of the
    // circuit's exact overlap (and may exceed it): the Parameters line says
    // so once, and the layer lines keep their format.
    std::string estimate_bounds = state.overlap_estimate_bounds();
    print_line("[3/4] Classical variational disentanglement\n  Parameters            : layers=" +
               std::to_string(s.layers) + ", Renyi indices=" + py::cast<std::string>(py::repr(s.renyi_indices)) +
               ", maxiter=" + py::cast<std::string>(py::str(search.maxiter)) +
               ", restarts=" + py::cast<std::string>(py::str(s.restarts_given)) +
               (estimate_bounds.empty() ? "" : "; overlaps are estimates on an MPS within " + estimate_bounds));
    return estimate_bounds;
}

py::object run_cvd(SynthesisState& state, Settings& s) {
    if (s.quality_driven()) return run_quality_cvd(state, s);
    const SearchSettings& search = s.search;
    const std::string estimate_bounds = print_header(state, s);

    py::list gate_rows;
    py::object circuit = py::none(), overlap = py::none(), energy = py::none();
    LayerHistory history;
    auto snapshot = [&](std::int64_t layer) {
        py::tuple result = state.snapshot(gate_rows, s.pauli_terms, s.compact);
        circuit = result[0];
        overlap = result[1];
        energy = result[2];
        print_layer_metrics(py::int_(layer), to_float(overlap),
                            energy.is_none() ? std::nullopt : std::optional<double>(to_float(energy)));
        history.record(circuit, overlap, energy);
    };
    snapshot(0);

    BondSearch bond_search(search, s.module);
    for (std::int64_t layer_index = 0; layer_index < s.layers; ++layer_index) {
        fit_layer(state, bond_search, s, layer_index, static_cast<std::size_t>(std::max(search.n - 1, 0)), gate_rows);
        snapshot(layer_index + 1);
    }
    if (s.refine) {
        const py::tuple refined =
            state.refine(gate_rows, s.pauli_terms, s.compact, py::make_tuple(circuit, overlap, energy));
        circuit = refined[0];
        overlap = refined[1];
        energy = refined[2];
    }

    return cvd_result(state, s, s.layers, gate_rows, circuit, overlap, energy, history, estimate_bounds);
}

}  // namespace bvc::corvinth
