// brimvale_chemistry.molecule.pellisk: the spin-blocked qubit order of the
// package and the Jordan-Wigner transform into it.
//
// OpenFermion numbers the 2n spin orbitals of n spatial orbitals interleaved
// (mode 2p + s); every state and Hamiltonian of the package uses the
// spin-blocked order (qubit p + s*n). OpenFermion's `up_then_down` is the
// single source of truth for that relabelling, so every index goes through it.
// OpenFermion is imported inside each function on every call: the module
// itself loads without it.
//
// Integer arguments are checked, never converted: an exact `int` (or an int
// subclass other than bool) counts, and so does a NumPy integer scalar
// (numpy.integer, not numpy.bool_), because indices taken from NumPy arrays
// are the common case; floats such as 2.0 and booleans are refused.
#include <pybind11/pybind11.h>

#include <optional>
#include <string>

#include "bind/conventions.hpp"

namespace py = pybind11;
using namespace bvc::bind;

namespace {

// The value as an exact int when it counts as an integer here, else nothing.
std::optional<py::int_> strict_integer(py::handle value) {
    PyObject* obj = value.ptr();
    if (PyBool_Check(obj)) return std::nullopt;
    if (PyLong_CheckExact(obj)) return py::reinterpret_borrow<py::int_>(value);
    bool integral = PyLong_Check(obj);
    if (!integral) {
        // A NumPy scalar can only exist once NumPy is loaded; never import it here.
        PyObject* numpy = PyImport_GetModule(py::str("numpy").ptr());
        if (numpy == nullptr) {
            if (PyErr_Occurred()) throw py::error_already_set();
            return std::nullopt;
        }
        py::object np = py::reinterpret_steal<py::object>(numpy);
        integral = py::isinstance(value, np.attr("integer"));
    }
    if (!integral) return std::nullopt;
    PyObject* exact = PyNumber_Index(obj);
    if (exact == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::int_>(exact);
}

py::int_ spin_orbital_count(py::handle n_spatial_orbitals) {
    auto n = strict_integer(n_spatial_orbitals);
    if (!n || *n < py::int_(1)) raise(PyExc_ValueError, "n_spatial_orbitals must be a positive integer");
    return py::reinterpret_steal<py::int_>((*n * py::int_(2)).release());
}

// Whole tables of modes (the map, OpenFermion's relabelling list) are built
// only up to this many spatial orbitals: about 200 MB of Python objects, far
// beyond any active space, and refused before anything is allocated.
constexpr long long kMaxTabulatedOrbitals = 1LL << 20;

void check_tabulated(const py::int_& n_spatial_orbitals, const char* what) {
    if (n_spatial_orbitals > py::int_(kMaxTabulatedOrbitals)) {
        raise(PyExc_ValueError, {py::str("n_spatial_orbitals must be at most " + std::to_string(kMaxTabulatedOrbitals) +
                                         " for " + what + ", got "),
                                 py::str(n_spatial_orbitals)});
    }
}

py::object up_then_down() { return py::module_::import("openfermion.utils").attr("up_then_down"); }

py::int_ exact_int(py::handle value) {
    PyObject* result = PyNumber_Index(value.ptr());
    if (result == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::int_>(result);
}

py::object spin_orbital_count_fn(const Arguments& a) { return spin_orbital_count(a[0]); }

py::object spin_blocked_qubit_index(const Arguments& a) {
    auto spin_orbital = strict_integer(a[0]);
    if (!spin_orbital) raise(PyExc_TypeError, "spin_orbital must be an integer");
    py::int_ count = spin_orbital_count(a[1]);
    if (*spin_orbital < py::int_(0) || *spin_orbital >= count) {
        py::object largest = count - py::int_(1);
        raise(PyExc_ValueError, "spin_orbital " + py::cast<std::string>(py::str(*spin_orbital)) +
                                    " is outside 0:" + py::cast<std::string>(py::str(largest)));
    }
    return exact_int(up_then_down()(*spin_orbital, count));
}

py::object interleaved_to_spin_blocked_map(const Arguments& a) {
    py::int_ count = spin_orbital_count(a[0]);
    check_tabulated(py::int_(count >> py::int_(1)), "the complete map");
    py::object relabel = up_then_down();
    // A count beyond 64 bits could never be tabulated; OverflowError says so.
    const long long modes = PyLong_AsLongLong(count.ptr());
    if (modes == -1 && PyErr_Occurred()) throw py::error_already_set();
    py::dict table;
    for (long long mode = 0; mode < modes; ++mode) {
        py::int_ key(mode);
        table[key] = exact_int(relabel(key, count));
    }
    return table;
}

py::object pellisk(const Arguments& a) {
    py::handle fermion_operator = a[0];
    py::handle n_spatial_orbitals = a[1];
    // A float setting is converted as the call is entered.
    const double abs_tol = to_float(a[2]);

    py::module_ openfermion = py::module_::import("openfermion");
    py::object jordan_wigner = openfermion.attr("jordan_wigner");
    py::object reorder = openfermion.attr("reorder");
    py::object relabel = up_then_down();

    py::object num_modes = py::none();
    if (!n_spatial_orbitals.is_none()) {
        py::int_ count = spin_orbital_count(n_spatial_orbitals);
        check_tabulated(py::int_(count >> py::int_(1)), "the transform");
        num_modes = count;
    }

    py::object reordered = reorder(fermion_operator, relabel, py::arg("num_modes") = num_modes);
    py::object qubit_operator = jordan_wigner(reordered);
    qubit_operator.attr("compress")(py::arg("abs_tol") = abs_tol);
    return qubit_operator;
}

}  // namespace

PYBIND11_MODULE(pellisk, m) {
    m.doc() =
        "OpenFermion-backed spin-blocked Jordan-Wigner helpers.\n"
        "\n"
        "Interleaved spin orbital 2p + s (OpenFermion's order) becomes qubit p + s*n\n"
        "for n spatial orbitals: spin-up qubits first, then spin-down qubits.\n"
        "OpenFermion is imported at call time.";

    def_function(m, "_spin_orbital_count", {arg("n_spatial_orbitals")},
                 "Return 2 * n_spatial_orbitals after checking it is a positive integer.", spin_orbital_count_fn);
    def_function(m, "spin_blocked_qubit_index", {arg("spin_orbital"), arg("n_spatial_orbitals")},
                 "Map an interleaved spin orbital with OpenFermion's ``up_then_down``.", spin_blocked_qubit_index);
    def_function(m, "interleaved_to_spin_blocked_map", {arg("n_spatial_orbitals")},
                 "Return the complete official interleaved-to-spin-blocked mode map.", interleaved_to_spin_blocked_map);
    def_function(
        m, "pellisk",
        {arg("fermion_operator"), kwonly("n_spatial_orbitals", py::none()), kwonly("abs_tol", py::float_(1e-10))},
        "Apply OpenFermion's Jordan-Wigner transform in ``up_then_down`` order.", pellisk);
}
