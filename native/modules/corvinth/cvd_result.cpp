// The CvdResult dataclass, built once when the module is imported.
#include "cvd_result.hpp"

#include "bind/annotations.hpp"

namespace bvc::corvinth {

namespace py = pybind11;
using namespace bvc::bind;
using namespace pybind11::literals;

namespace {

constexpr const char* kModuleName = "brimvale_chemistry.corvinth";

}  // namespace

py::object make_cvd_result_class(const py::module_& m) {
    auto dataclasses = py::module_::import("dataclasses");
    auto builtins = py::module_::import("builtins");
    py::object field = dataclasses.attr("field");
    py::object float_type = builtins.attr("float");
    py::object int_type = builtins.attr("int");
    py::object list_type = builtins.attr("list");
    py::object circuit_type = m.attr("Circuit");
    py::object optional_circuit = optional_annotation(circuit_type);

    py::list fields;
    fields.append(py::make_tuple("overlap_mod", float_type, field("default"_a = 0.0)));
    fields.append(py::make_tuple("energy", float_type, field("default"_a = 0.0)));
    fields.append(py::make_tuple("circuit_layers", int_type, field("default"_a = 0)));
    fields.append(py::make_tuple("renyi_indices", list_type[float_type], field("default_factory"_a = list_type)));
    fields.append(py::make_tuple("circuit_params", int_type, field("default"_a = 0)));
    fields.append(py::make_tuple("circuit", optional_circuit, field("default"_a = py::none())));
    // The run's history, appended after the fields above.
    py::object optional_float = py::reinterpret_steal<py::object>(PyNumber_Or(float_type.ptr(), Py_None));
    if (!optional_float) throw py::error_already_set();
    fields.append(py::make_tuple("layer_overlaps", list_type[float_type], field("default_factory"_a = list_type)));
    fields.append(py::make_tuple("layer_energies", list_type[optional_float], field("default_factory"_a = list_type)));
    fields.append(py::make_tuple("cnot_count", int_type, field("default"_a = 0)));
    fields.append(py::make_tuple("two_qubit_depth", int_type, field("default"_a = 0)));
    fields.append(py::make_tuple("layer_cnot_counts", list_type[int_type], field("default_factory"_a = list_type)));
    fields.append(py::make_tuple("discarded_weight", float_type, field("default"_a = 0.0)));
    fields.append(py::make_tuple("overlap_is_estimate", builtins.attr("bool"), field("default"_a = false)));
    py::object optional_str = py::reinterpret_steal<py::object>(PyNumber_Or(builtins.attr("str").ptr(), Py_None));
    if (!optional_str) throw py::error_already_set();
    fields.append(py::make_tuple("stop_reason", optional_str, field("default"_a = py::none())));
    py::dict namespace_;
    namespace_["__doc__"] =
        "Result of the circuit synthesis.\n\n"
        "overlap_mod: |<psi0|state of circuit>| after the last layer, in [0, 1].\n"
        "energy: energy of the circuit's state in Hartree (0.0 without pauli_terms).\n"
        "circuit_layers: number of layers run.\n"
        "renyi_indices: the Renyi index used by each layer.\n"
        "circuit_params: number of real circuit parameters, 3 n + 9 per disentangler.\n"
        "circuit: the final reverse-preparation Circuit.\n"
        "layer_overlaps, layer_energies: overlap and energy of every layer's circuit, layer 0 first (the energies "
        "None without pauli_terms).\n"
        "cnot_count, two_qubit_depth: CNOTs and depth in two-qubit gates of the returned circuit.\n"
        "layer_cnot_counts: CNOTs of every layer's circuit, layer 0 first.\n"
        "discarded_weight: with state='mps', the fraction of the squared norm that truncation dropped while the "
        "disentanglers were applied to the state (0.0 on the dense path).\n"
        "overlap_is_estimate: True when overlap_mod and layer_overlaps were taken on an MPS simulation whose "
        "max_bond or cutoff can drop more than rounding (state='mps' only): estimates of the circuit's exact "
        "overlap, which they may exceed.\n"
        "stop_reason: why a run with target_overlap or max_cnots stopped adding layers (None for other runs).";
    return dataclasses.attr("make_dataclass")("CvdResult", fields, "namespace"_a = namespace_,
                                              "module"_a = kModuleName);
}

}  // namespace bvc::corvinth
