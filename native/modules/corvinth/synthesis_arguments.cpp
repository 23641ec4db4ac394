// cvd_dmrg's arguments checked and converted, in the order their errors are reported.
#include "synthesis_arguments.hpp"

#include <cmath>
#include <limits>

#include "bind/conventions.hpp"
#include "core/runtime/defaults.hpp"
#include "core/runtime/task_pool.hpp"
#include "core/synthesis/entanglement.hpp"
#include "limits.hpp"

namespace bvc::corvinth {

using namespace bvc::bind;
using namespace pybind11::literals;

namespace {

constexpr const char* kPowerOfTwo = "psi0 length must be an exact positive power of two";

}  // namespace

// `layers`, `maxiter`, `restarts`: an int (bool included) or NumPy integer, at least 1.
void require_positive_integer(py::handle value, const char* message) {
    if (!is_positive_integer(value)) raise(PyExc_ValueError, message);
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
                       : py::int_(builtins.attr("int")(
                             builtins.attr("round")(py::module_::import("numpy").attr("log2")(py::int_(length)))));
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
    py::object flat =
        np.attr("asarray")(psi0, "dtype"_a = py::module_::import("builtins").attr("complex")).attr("reshape")(-1);
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

// An MPS subclass or a record may report its own sizes; a size that
// disagrees with the native data would steer the synthesis off its chain.
void check_reported_qubits(const py::object& mps, const py::object& result, int n) {
    const py::int_ actual(n);
    const py::object reported = py::getattr(mps, "n_qubits");
    if (!reported.equal(actual)) {
        raise(PyExc_ValueError, "the MPS reports n_qubits = " + py::cast<std::string>(py::repr(reported)) +
                                    " but its data holds " + std::to_string(n) + " qubits");
    }
    if (result.is_none()) return;
    const py::object result_qubits = py::getattr(result, "n_qubits", py::none());
    if (!result_qubits.is_none() && !result_qubits.equal(actual)) {
        raise(PyExc_ValueError, "DmrgResult.n_qubits is " + py::cast<std::string>(py::repr(result_qubits)) +
                                    " but DmrgResult.mps has " + std::to_string(n) + " qubits");
    }
    const py::object psi0 = py::getattr(result, "psi0", py::none());
    if (psi0.is_none()) return;
    // The dense vector of the same state holds 2**n amplitudes.
    const py::object amplitudes = py::module_::import("numpy").attr("size")(psi0);
    if (!amplitudes.equal(py::int_(1).attr("__lshift__")(actual))) {
        raise(PyExc_ValueError, "DmrgResult.psi0 holds " + py::cast<std::string>(py::str(amplitudes)) +
                                    " amplitudes but DmrgResult.mps has " + std::to_string(n) + " qubits");
    }
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
        if (!bvc::synthesis::is_renyi_index(alpha)) raise(PyExc_ValueError, "Renyi indices must be positive");
    }
    return indices;
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

void resolve_quality_goal(const py::object& target_overlap, const py::object& max_cnots,
                          const py::object& refine_seconds, Settings& s) {
    if (!target_overlap.is_none()) {
        const double target = float_argument(target_overlap, "target_overlap");
        if (!(target > 0.0 && target <= 1.0)) raise(PyExc_ValueError, "target_overlap must be in (0, 1]");
        s.target_overlap = target;
    }
    if (!max_cnots.is_none()) {
        s.max_cnots = positive_count(max_cnots, "max_cnots must be a positive integer", "max_cnots");
    }
    if (!refine_seconds.is_none()) {
        const double seconds = float_argument(refine_seconds, "refine_seconds");
        if (!(seconds > 0.0)) raise(PyExc_ValueError, "refine_seconds must be positive");
        if (!s.quality_driven())
            raise(PyExc_ValueError, "refine_seconds applies with target_overlap or max_cnots only");
        s.refine_seconds = seconds;
    }
    if (s.quality_driven()) s.compact = true;
}

// `max_bond` and `cutoff` of the MPS path, checked once by the circuit
// library's Truncation; None keeps every Schmidt value above rounding, up to
// the default cap.
bvc::mps::Truncation resolve_truncation(const py::object& max_bond, const py::object& cutoff) {
    const py::object checked =
        py::module_::import("brimvale.mps")
            .attr("Truncation")(max_bond,
                                cutoff.is_none() ? py::object(py::float_(bvc::defaults::kMpsRoundingCutoff)) : cutoff);
    const py::object bond = checked.attr("max_bond");
    bvc::mps::Truncation truncation;
    // Bonds above the kernels' limit cannot arise; a larger bound is no bound.
    truncation.max_bond = bond.is_none()                                        ? bvc::defaults::kMpsMaxBond
                          : bvc::bind::less(py::int_(bvc::mps::kMaxBond), bond) ? bvc::mps::kMaxBond
                                                                                : py::cast<int>(bond);
    truncation.cutoff = to_float(checked.attr("cutoff"));
    return truncation;
}

}  // namespace bvc::corvinth
