#include "driver.hpp"

#include <pybind11/numpy.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bind/annotations.hpp"
#include "bind/arrays.hpp"
#include "bind/conventions.hpp"
#include "core/defaults.hpp"
#include "bond_search.hpp"
#include "dense_state.hpp"
#include "mps_state.hpp"
#include "core/blas_threads.hpp"
#include "core/gates.hpp"
#include "core/task_pool.hpp"
#include "limits.hpp"
#include "metrics_line.hpp"
#include "objective_binding.hpp"
#include "refine.hpp"

namespace bvc::cvd {

namespace py = pybind11;
using namespace bvc::bind;
using namespace pybind11::literals;

namespace {

constexpr const char* kModuleName = "brimvale_chemistry.corvinth";

constexpr const char* kNoHamiltonianWarning =
    "pauli_terms not provided \u2014 circuit energy will not be computed. "
    "Pass pauli_terms=ElectronicStructureResult.pauli_terms to compute <H>.";

constexpr const char* kPowerOfTwo = "psi0 length must be an exact positive power of two";


// ---------------------------------------------------------------------------
// Console output.

void print_line(const std::string& text) { py::print(py::str(text), "flush"_a = true); }

std::string format(py::handle value, const char* pattern) {
    return py::cast<std::string>(py::module_::import("builtins").attr("format")(value, pattern));
}

void print_layer_metrics(const py::int_& layer, double overlap_mod, const std::optional<double>& energy) {
    bvc::corvinth::print_metrics_line("  Layer " + format(layer, "<2") + "              ", overlap_mod, energy);
}

// ---------------------------------------------------------------------------
// Input resolution and validation of cvd_dmrg.

// `layers`, `maxiter`, `restarts`: an int (bool included) or NumPy integer, at least 1.
void require_positive_integer(py::handle value, const char* message) {
    if (!is_integer(value) || py::int_(py::reinterpret_borrow<py::object>(value)) < py::int_(1)) {
        raise(PyExc_ValueError, message);
    }
}

// `layers` and `restarts` also count work done in turn: refused above the
// bound before anything is allocated or run for them.
std::int64_t positive_count(py::handle value, const char* message, const char* name) {
    require_positive_integer(value, message);
    const py::int_ count(py::reinterpret_borrow<py::object>(value));
    if (count > py::int_(bvc::corvinth::kMaxCount)) {
        raise(PyExc_ValueError, std::string(name) + " must be at most " + std::to_string(bvc::corvinth::kMaxCount));
    }
    return to_int64(count, name);
}

// A float argument: numbers go through float(), anything else is refused
// with the argument's name.
double float_argument(py::handle value, const char* name) {
    PyNumberMethods* nb = Py_TYPE(value.ptr())->tp_as_number;
    const bool number = nb != nullptr && (nb->nb_float != nullptr || nb->nb_index != nullptr);
    if (!number) raise_incorrect_type(name, "float", value);
    return to_float(value);
}

// The qubit count for `psi0`: the given one, or log2 of its length rounded.
int resolve_qubit_count(const std::optional<py::int_>& given, const py::object& psi0, std::size_t& length) {
    auto builtins = py::module_::import("builtins");
    length = py::len(psi0);
    py::int_ n = given ? *given
                       : py::int_(builtins.attr("int")(builtins.attr("round")(
                             py::module_::import("numpy").attr("log2")(py::int_(length)))));
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(n.ptr(), &overflow);
    if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow != 0 || value < 1 || value > 62 || (std::uint64_t{1} << value) != length) {
        raise(PyExc_ValueError, kPowerOfTwo);
    }
    return static_cast<int>(value);
}

// psi0 as a normalised, flat complex128 copy.
ComplexArray normalised_state(const py::object& psi0, int n) {
    auto np = py::module_::import("numpy");
    py::object flat = np.attr("asarray")(psi0, "dtype"_a = py::module_::import("builtins").attr("complex"))
                          .attr("reshape")(-1);
    // The length test above reads only the first dimension; a 2 x 2 array
    // would pass it for one qubit while holding four amplitudes.
    if (py::len(flat) != (std::size_t{1} << n)) raise(PyExc_ValueError, kPowerOfTwo);
    // The squares of very large or very small amplitudes leave the double
    // range: such a state is measured scaled to a largest amplitude of 1.
    const double largest = py::cast<double>(py::float_(np.attr("max")(np.attr("abs")(flat))));
    const bool extreme = std::isfinite(largest) && largest > 0.0 && !(largest >= 1e-140 && largest <= 1e140);
    const py::object measured = extreme ? flat.attr("__truediv__")(py::float_(largest)) : flat;
    const double norm =
        (extreme ? largest : 1.0) * py::cast<double>(py::float_(np.attr("linalg").attr("norm")(measured)));
    if (norm <= 0.0) raise(PyExc_ValueError, "psi0 must have nonzero norm");
    if (!std::isfinite(norm)) raise(PyExc_ValueError, "psi0 amplitudes must be finite");
    return as_complex_array(flat.attr("__truediv__")(py::float_(norm)));
}

py::list resolve_renyi_indices(const py::object& given, std::int64_t layers, const py::object& module) {
    py::list indices;
    if (given.is_none()) {
        indices = py::list(module.attr("default_renyi_indices")(py::int_(layers)));
    } else {
        // A length the object reports is judged before a single item is read,
        // and no more than one item past `layers` is ever read: a huge or
        // endless iterable (range(2**64)) is refused without being consumed.
        const auto reported = reported_length(given);
        bool too_many = reported && *reported != static_cast<std::size_t>(layers);
        if (!too_many) {
            for (py::handle v : py::iter(given)) {
                if (static_cast<std::int64_t>(indices.size()) == layers) {
                    too_many = true;
                    break;
                }
                PyObject* f = PyNumber_Float(v.ptr());
                if (f == nullptr) throw py::error_already_set();
                indices.append(py::reinterpret_steal<py::float_>(f));
            }
        }
        if (too_many) raise(PyExc_ValueError, "renyi_indices must have exactly one value per layer");
    }
    if (static_cast<std::int64_t>(indices.size()) != layers) {
        raise(PyExc_ValueError, "renyi_indices must have exactly one value per layer");
    }
    for (py::handle v : indices) {
        const double alpha = py::cast<double>(v);
        if (std::isnan(alpha) || alpha <= 0.0) raise(PyExc_ValueError, "Renyi indices must be positive");
    }
    return indices;
}

// ---------------------------------------------------------------------------
// The run.

struct Settings {
    std::int64_t layers = 0;
    py::list renyi_indices;
    // As the caller gave it, for the header (an int, a bool or a NumPy integer).
    py::object restarts_given;
    py::object pauli_terms;
    bool compact = false;
    bool refine = false;
    SearchSettings search;
    // corvinth itself.
    py::object module;
};

py::int_ cnot_count(const py::object& circuit) {
    return py::int_(circuit.attr("count_ops")().attr("get")("cx", 0));
}

// What every layer's snapshot scored, for the record.
struct LayerHistory {
    py::list overlaps, energies, cnot_counts;

    void record(const py::object& circuit, const py::object& overlap, const py::object& energy) {
        overlaps.append(overlap);
        energies.append(energy);
        cnot_counts.append(cnot_count(circuit));
    }
};

py::object run_cvd(SynthesisState& state, Settings& s) {
    const SearchSettings& search = s.search;
    print_line("[3/4] Classical variational disentanglement\n  Parameters            : layers=" +
               std::to_string(s.layers) + ", Renyi indices=" + py::cast<std::string>(py::repr(s.renyi_indices)) +
               ", maxiter=" + py::cast<std::string>(py::str(search.maxiter)) +
               ", restarts=" + py::cast<std::string>(py::str(s.restarts_given)));

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

    // Nothing ties the exact gradient's rounding to the BLAS library's thread
    // count: its whole run keeps that library single-threaded, leaving the
    // cores to the synthesis' own workers. The default gradient keeps the
    // library's count wherever its digits depend on it (see core/blas_threads).
    std::optional<bvc::lapack::LeanBlas> lean_blas;
    if (search.gradient == GradientMode::kAnalytic) lean_blas.emplace();
    BondSearch bond_search(search, s.module);
    py::object progress_bar = py::module_::import("brimvale_chemistry._progress").attr("progress_bar");
    for (std::int64_t layer_index = 0; layer_index < s.layers; ++layer_index) {
        const double alpha = py::cast<double>(s.renyi_indices[layer_index]);
        // Bonds done of the layer's n - 1, on standard error when it is a terminal.
        py::object bar = progress_bar(py::int_(std::max(search.n - 1, 0)),
                                      py::str("Layer {}/{}").format(layer_index + 1, s.layers), "bond");
        std::size_t bonds_before_group = 0;
        for (int start = 0; start < 2; ++start) {
            std::vector<int> bonds;
            for (int q0 = start; q0 < search.n - 1; q0 += 2) bonds.push_back(q0);
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
                py::tuple row(2 + kEntanglerParams);
                row[0] = py::int_(bonds[b]);
                row[1] = py::int_(bonds[b] + 1);
                for (int k = 0; k < kEntanglerParams; ++k) row[2 + k] = py::float_(chosen[b][k]);
                gate_rows.append(row);
            }
        }
        // The bar clears itself before the layer's line is printed.
        if (!bar.is_none()) bar.attr("close")();
        snapshot(layer_index + 1);
    }
    if (s.refine) {
        const py::tuple refined =
            state.refine(gate_rows, s.pauli_terms, s.compact, py::make_tuple(circuit, overlap, energy));
        circuit = refined[0];
        overlap = refined[1];
        energy = refined[2];
    }

    py::object record = s.module.attr("CvdResult");
    return record("overlap_mod"_a = overlap, "energy"_a = energy.is_none() ? py::float_(0.0) : energy,
                  "circuit_layers"_a = py::int_(s.layers), "renyi_indices"_a = py::list(s.renyi_indices),
                  "circuit_params"_a = py::int_(3 * static_cast<std::int64_t>(search.n) +
                                                9 * static_cast<std::int64_t>(gate_rows.size())),
                  "circuit"_a = circuit, "layer_overlaps"_a = history.overlaps, "layer_energies"_a = history.energies,
                  "cnot_count"_a = cnot_count(circuit),
                  "two_qubit_depth"_a = circuit.attr("depth")("two_qubit_only"_a = true),
                  "layer_cnot_counts"_a = history.cnot_counts,
                  "discarded_weight"_a = py::float_(state.discarded_weight()));
}

// `threads`: None for every core the process may use, else a positive integer.
std::uint64_t resolve_threads(const py::object& given) {
    if (given.is_none()) return bvc::parallel::available_cores();
    py::int_ threads(given);
    if (threads < py::int_(1)) raise(PyExc_ValueError, "threads must be a positive integer or None");
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(threads.ptr(), &overflow);
    if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
    // More threads than tasks are never started, so a huge count is as good as the largest.
    return overflow != 0 ? std::numeric_limits<std::uint64_t>::max() : static_cast<std::uint64_t>(value);
}

GradientMode resolve_gradient(const py::str& given) {
    if (given.equal(py::str("finite-difference"))) return GradientMode::kForwardDifference;
    if (given.equal(py::str("analytic"))) return GradientMode::kAnalytic;
    raise(PyExc_ValueError, "gradient must be 'finite-difference' or 'analytic'");
}

// type(value).__name__, as the circuit library names types in its messages.
std::string short_type_name(py::handle value) {
    return py::cast<std::string>(py::type::handle_of(value).attr("__name__"));
}

// `state`: "dense" (the vector of 2^n amplitudes) or "mps".
bool resolve_mps_state(const py::str& given) {
    if (given.equal(py::str("dense"))) return false;
    if (given.equal(py::str("mps"))) return true;
    raise(PyExc_ValueError, "state must be 'dense' or 'mps'");
}

// `max_bond` and `cutoff` of the MPS path, checked by the circuit library's
// own rules; None keeps every Schmidt value above rounding, up to kMaxBond.
bvc::mps::Truncation resolve_truncation(const py::object& max_bond, const py::object& cutoff) {
    const py::tuple checked = py::module_::import("brimvale.mps").attr("check_truncation")(
        max_bond, cutoff.is_none() ? py::object(py::float_(bvc::defaults::kCvdMpsCutoff)) : cutoff);
    bvc::mps::Truncation truncation;
    // Bonds above the kernels' limit cannot arise; a larger bound is no bound.
    truncation.max_bond = checked[0].is_none() ? bvc::defaults::kCvdMpsMaxBond
                          : bvc::bind::less(py::int_(bvc::mps::kMaxBond), checked[0])
                              ? bvc::mps::kMaxBond
                              : py::cast<int>(checked[0]);
    truncation.cutoff = to_float(checked[1]);
    return truncation;
}

// The specified arguments, a[0] to a[8]; `compact`, `refine`, `threads`,
// `gradient`, `state`, `max_bond` and `cutoff` follow in cvd_dmrg only.
py::object cvd_dmrg(const Arguments& a, const py::object& module, bool reference) {
    const py::object& source = a[0];
    // Declared types first, in parameter order.
    std::optional<py::int_> n_qubits;
    if (!a[1].is_none()) n_qubits = to_int(a[1], "n_qubits");
    Settings s;
    s.module = module;
    SearchSettings& search = s.search;
    s.pauli_terms = a[2];
    if (!s.pauli_terms.is_none() && !PyList_Check(s.pauli_terms.ptr())) {
        raise_incorrect_type("pauli_terms", "list", s.pauli_terms);
    }
    const py::object& layers = a[3];
    const py::object& renyi_indices = a[4];
    search.maxiter = a[5];
    const py::object& restarts = a[6];
    search.init_scale = float_argument(a[7], "init_scale");
    search.seed = to_int(a[8], "seed");
    py::object threads = py::none();
    std::optional<py::str> gradient;
    bool use_mps = false;
    py::object max_bond = py::none(), cutoff = py::none();
    if (!reference) {
        s.compact = truth(a[9]);
        s.refine = truth(a[10]);
        if (!a[11].is_none()) threads = to_int(a[11], "threads");
        gradient = require_str(a[12], "gradient");
        use_mps = resolve_mps_state(require_str(a[13], "state"));
        max_bond = a[14];
        cutoff = a[15];
    }

    const bool is_result = py::isinstance(source, module.attr("DmrgResult"));
    const py::object mps_type = py::module_::import("brimvale").attr("MPS");
    const bool is_mps = py::isinstance(source, mps_type);
    py::object psi0 = use_mps ? (is_result ? py::getattr(source, "mps", py::none()) : source)
                              : (is_result ? py::object(source.attr("psi0")) : source);
    if (s.pauli_terms.is_none()) {
        if (PyErr_WarnEx(PyExc_UserWarning, kNoHamiltonianWarning, 1) != 0) throw py::error_already_set();
    }
    std::unique_ptr<SynthesisState> state;
    if (use_mps) {
        if (!is_result && !is_mps) {
            raise(PyExc_ValueError, "state='mps' synthesises from a DmrgResult with an mps or from a brimvale MPS, "
                                    "got " + short_type_name(source));
        }
        if (psi0.is_none()) raise(PyExc_ValueError, "DmrgResult does not contain mps");
        if (!py::isinstance(psi0, mps_type)) {
            raise(PyExc_TypeError, "DmrgResult.mps must be a brimvale MPS, got " + short_type_name(psi0));
        }
        search.n = py::cast<int>(psi0.attr("n_qubits"));
        if (n_qubits && !n_qubits->equal(py::int_(search.n))) {
            raise(PyExc_ValueError, "n_qubits is " + py::cast<std::string>(py::str(*n_qubits)) + " but the MPS has " +
                                        std::to_string(search.n) + " qubits");
        }
    } else {
        if (is_mps) raise(PyExc_ValueError, "source is a brimvale MPS: pass state='mps' to synthesise from it");
        if (psi0.is_none()) {
            if (is_result && !py::getattr(source, "mps", py::none()).is_none()) {
                raise(PyExc_ValueError,
                      "DmrgResult does not contain psi0, only an mps: pass state='mps' to synthesise from it");
            }
            raise(PyExc_ValueError, "DmrgResult does not contain psi0");
        }
        std::size_t length = 0;
        search.n = resolve_qubit_count(n_qubits, psi0, length);
        state = std::make_unique<DenseSynthesisState>(normalised_state(psi0, search.n), search.n, module);
    }

    py::object layer_count = layers;
    if (layer_count.is_none()) {
        layer_count = module.attr("default_layers")(py::int_(search.n));
    }
    s.layers = positive_count(layer_count, "layers must be a positive integer", "layers");
    s.renyi_indices = resolve_renyi_indices(renyi_indices, s.layers, module);
    require_positive_integer(search.maxiter, "maxiter must be a positive integer");
    search.restarts = positive_count(restarts, "restarts must be a positive integer", "restarts");
    s.restarts_given = restarts;
    // NaN is not nonnegative either; letting it through would only fail later,
    // inside the random sampler, after the header has been printed.
    if (!(search.init_scale >= 0.0)) raise(PyExc_ValueError, "init_scale must be nonnegative");
    // Nor is infinity a spread of starting points: every start would be inf or NaN.
    if (std::isinf(search.init_scale)) raise(PyExc_ValueError, "init_scale must be finite");
    if (reference) {
        search.gradient = GradientMode::kLibraryDifferences;
        search.threads = 1;
    } else {
        search.threads = resolve_threads(threads);
        search.gradient = resolve_gradient(*gradient);
    }
    if (use_mps) {
        state = std::make_unique<MpsSynthesisState>(*native_mps(psi0), resolve_truncation(max_bond, cutoff), module);
    } else if (!max_bond.is_none() || !cutoff.is_none()) {
        raise(PyExc_ValueError, "max_bond and cutoff apply to state='mps' only");
    }

    return run_cvd(*state, s);
}

// ---------------------------------------------------------------------------
// Registration.

py::object make_result_record(const py::module_& m) {
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
    fields.append(
        py::make_tuple("layer_energies", list_type[optional_float], field("default_factory"_a = list_type)));
    fields.append(py::make_tuple("cnot_count", int_type, field("default"_a = 0)));
    fields.append(py::make_tuple("two_qubit_depth", int_type, field("default"_a = 0)));
    fields.append(py::make_tuple("layer_cnot_counts", list_type[int_type], field("default_factory"_a = list_type)));
    fields.append(py::make_tuple("discarded_weight", float_type, field("default"_a = 0.0)));
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
        "disentanglers were applied to the state (0.0 on the dense path).";
    return dataclasses.attr("make_dataclass")("CvdResult", fields, "namespace"_a = namespace_,
                                              "module"_a = kModuleName);
}

}  // namespace

void register_cvd_driver(py::module_& m) {
    register_objective(m);
    m.attr("CvdResult") = make_result_record(m);

    py::object module = m;
    const std::vector<Param> specified = {arg("source"),
                                          kwonly("n_qubits", py::none()),
                                          kwonly("pauli_terms", py::none()),
                                          kwonly("layers", py::none()),
                                          kwonly("renyi_indices", py::none()),
                                          kwonly("maxiter", py::int_(bvc::defaults::kCvdMaxiter)),
                                          kwonly("restarts", py::int_(bvc::defaults::kCvdRestarts)),
                                          kwonly("init_scale", py::float_(bvc::defaults::kCvdInitScale)),
                                          kwonly("seed", py::int_(bvc::defaults::kSeed))};
    std::vector<Param> params = specified;
    params.push_back(kwonly("compact", py::bool_(false)));
    params.push_back(kwonly("refine", py::bool_(false)));
    params.push_back(kwonly("threads", py::none()));
    params.push_back(kwonly("gradient", py::str("finite-difference")));
    params.push_back(kwonly("state", py::str("dense")));
    params.push_back(kwonly("max_bond", py::none()));
    params.push_back(kwonly("cutoff", py::none()));
    def_function(
        m, "cvd_dmrg", params,
        "Build a layered circuit whose reverse prepares the state of `source` by classical variational "
        "disentanglement.\n\n"
        "`source` is a DmrgResult (its psi0 is used) or a state vector of 2**n amplitudes, qubit 0 the least "
        "significant bit. Each layer places nine-parameter two-qubit disentanglers on the even and then the odd "
        "bonds, each chosen by L-BFGS-B over `restarts` seeded random starts (and the identity) to minimise the "
        "Renyi entropy across its bond. After every layer the reverse-preparation circuit is built and executed, "
        "and its overlap with the state and, given `pauli_terms`, its energy are printed. Returns a CvdResult "
        "holding the circuit after the last layer.\n\n"
        "With `compact` the circuits prepare the same states with at most three CNOTs per disentangler (none "
        "for an identity) and one rotation per run of single-qubit gates. With `refine` every parameter of the "
        "final circuit is then optimised jointly (L-BFGS-B on the exact gradient) for its overlap with the "
        "state, one more line \"Refined\" is printed, and the result holds the refined circuit; it is kept "
        "only if it does not lower the overlap.\n"
        "`threads`: worker threads for the independent optimiser runs (None: every core the process may use; "
        "1: everything on the calling thread). The result does not depend on it.\n"
        "`gradient`: 'finite-difference' (SciPy's forward differences, formed natively) or 'analytic' (the "
        "exact gradient of the entropy; faster, and a different optimisation path).\n"
        "`state`: 'dense' (a vector of 2**n amplitudes) or 'mps': the same synthesis on a matrix product state, "
        "never forming the vector; `source` is then a DmrgResult with an mps or a brimvale MPS. Each bond's "
        "objective is read off the canonical MPS, the gates are applied to it and each layer's circuit runs on "
        "the MPS backend. `max_bond` and `cutoff` (state='mps' only) bound its bonds as in brimvale.MPS; by "
        "default only Schmidt values at rounding level are dropped, and at most 1024 are kept.",
        [module](const Arguments& a) { return cvd_dmrg(a, module, false); });
    def_function(m, "_cvd_dmrg_reference", specified,
                 "cvd_dmrg as a single thread on the plain objective, SciPy forming its own finite differences: "
                 "the path every faster one must reproduce bit for bit.",
                 [module](const Arguments& a) { return cvd_dmrg(a, module, true); });

    def_function(m, "_print_layer_metrics", {arg("layer"), arg("overlap_mod"), arg("energy")},
                 "Print the metrics line of one layer: overlap and energy (\"N/A\" when energy is None).",
                 [](const Arguments& a) -> py::object {
                     // The layer is a number of the header's count: an int or
                     // an integer type, never a float truncated to one.
                     if (!PyIndex_Check(a[0].ptr())) raise_incorrect_type("layer", "int", a[0]);
                     py::int_ layer = to_int(a[0], "layer");
                     const double overlap = to_float(a[1]);
                     std::optional<double> energy;
                     if (!a[2].is_none()) energy = to_float(a[2]);
                     print_layer_metrics(layer, overlap, energy);
                     return py::none();
                 });
}

}  // namespace bvc::cvd
