// cvd_dmrg: arguments in, a synthesis state and its settings chosen, the run made.
#include "driver.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bind/conventions.hpp"
#include "bind/signals.hpp"
#include "core/runtime/blas_threads.hpp"
#include "core/runtime/defaults.hpp"
#include "cvd_result.hpp"
#include "metrics_line.hpp"
#include "mps_state.hpp"
#include "objective_binding.hpp"
#include "statevector_state.hpp"
#include "synthesis_arguments.hpp"
#include "synthesis_run.hpp"

namespace bvc::corvinth {

namespace py = pybind11;
using namespace bvc::bind;
using bvc::corvinth::print_layer_metrics;

namespace {

constexpr const char* kNoHamiltonianWarning =
    "pauli_terms not provided \u2014 circuit energy will not be computed. "
    "Pass pauli_terms=ElectronicStructureResult.pauli_terms to compute <H>.";

// The specified arguments, a[0] to a[8]; `compact`, `refine`, `threads`,
// `gradient`, `state`, `max_bond`, `cutoff`, `target_overlap`, `max_cnots`
// and `refine_seconds` follow in cvd_dmrg only.
py::object cvd_dmrg(const Arguments& a, const py::object& module, bool reference) {
    // A Ctrl-C at any moment of the call is answered, even where Python
    // drops the KeyboardInterrupt it raised: at the next poll or layer, at
    // the latest before the call returns.
    bvc::bind::SigintLatch sigint_latch;
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
        resolve_quality_goal(a[16], a[17], a[18], s);
    }

    const bool is_result = py::isinstance(source, module.attr("DmrgResult"));
    const py::object mps_type = py::module_::import("brimvale").attr("MPS");
    const bool is_mps = py::isinstance(source, mps_type);
    py::object psi0 = use_mps ? (is_result ? py::getattr(source, "mps", py::none()) : source)
                              : (is_result ? py::object(source.attr("psi0")) : source);
    if (s.pauli_terms.is_none()) {
        if (PyErr_WarnEx(PyExc_UserWarning, kNoHamiltonianWarning, 1) != 0) throw py::error_already_set();
    }
    // Every decomposition from here on, the state's preparation included, on
    // any worker, runs with one BLAS thread: the same digits on every machine
    // and for every `threads` (see core/runtime/blas_threads).
    bvc::lapack::SingleThreadedBlas single_threaded_blas;
    std::unique_ptr<SynthesisState> state;
    if (use_mps) {
        if (!is_result && !is_mps) {
            raise(PyExc_ValueError,
                  "state='mps' synthesises from a DmrgResult with an mps or from a brimvale MPS, "
                  "got " +
                      short_type_name(source));
        }
        if (psi0.is_none()) raise(PyExc_ValueError, "DmrgResult does not contain mps");
        if (!py::isinstance(psi0, mps_type)) {
            raise(PyExc_TypeError, "DmrgResult.mps must be a brimvale MPS, got " + short_type_name(psi0));
        }
        // Every size comes from the native data the synthesis works on; what
        // the objects around it report must agree with it.
        search.n = native_mps(psi0)->size();
        if (n_qubits && !n_qubits->equal(py::int_(search.n))) {
            raise(PyExc_ValueError, "n_qubits is " + py::cast<std::string>(py::str(*n_qubits)) + " but the MPS has " +
                                        std::to_string(search.n) + " qubits");
        }
        check_reported_qubits(psi0, is_result ? source : py::none(), search.n);
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
        ComplexArray normalised = normalised_state(psi0, search.n);
        // A run asked for by quality must not swing with the input's phase or last bits.
        if (s.quality_driven())
            canonicalise_state(normalised.mutable_data(), static_cast<std::size_t>(normalised.size()));
        state = std::make_unique<DenseSynthesisState>(std::move(normalised), search.n, module, s.schmidt_cutoff());
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
        state = std::make_unique<MpsSynthesisState>(*native_mps(psi0), resolve_truncation(max_bond, cutoff), module,
                                                    s.schmidt_cutoff());
    } else if (!max_bond.is_none() || !cutoff.is_none()) {
        raise(PyExc_ValueError, "max_bond and cutoff apply to state='mps' only");
    }

    py::object result = run_cvd(*state, s);
    check_signals();
    return result;
}

}  // namespace

void register_cvd_driver(py::module_& m) {
    register_objective(m);
    m.attr("CvdResult") = make_cvd_result_class(m);

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
    params.push_back(kwonly("target_overlap", py::none()));
    params.push_back(kwonly("max_cnots", py::none()));
    params.push_back(kwonly("refine_seconds", py::none()));
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
        "default only Schmidt values at rounding level are dropped, and at most 1024 are kept.\n"
        "`target_overlap` (in (0, 1]) and `max_cnots` ask for a circuit by its quality: layers, at most `layers`, "
        "are added until the overlap reaches the target, or while the circuit stays within `max_cnots` CNOTs, and "
        "after every layer all parameters of the circuit are optimised jointly until the gain per iteration "
        "becomes negligible, the next layer being fitted to what the refined circuit leaves. Either implies "
        "`compact`; a line \"Stopped\" says why the run ended. `refine_seconds` bounds the time these "
        "refinements may take together: of what is left for the layers that may still come, each gets one share "
        "and the last nine, and once it is spent no further layer is added.",
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

}  // namespace bvc::corvinth
