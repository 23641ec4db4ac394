// The entanglement measures of the synthesis, bound for callers and tests
// (_schmidt_probabilities, _renyi_entropy, default_renyi_indices).
#include <pybind11/numpy.h>

#include <cmath>
#include <string>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"
#include "core/synthesis/entanglement.hpp"
#include "kernels.hpp"
#include "limits.hpp"
#include "numpy_interop.hpp"

namespace bvc::corvinth {

using namespace bvc::bind;

namespace {

py::object schmidt_probabilities(const Arguments& a) {
    const py::int_ n_qubits = to_int(a[1], "n_qubits");
    const py::int_ bond = to_int(a[2], "bond");
    const py::int_ last_bond = n_qubits - py::int_(1);
    if (less(bond, py::int_(0)) || !less(bond, last_bond))
        raise(PyExc_ValueError, "bond must be between adjacent qubits");
    const ComplexArray psi = as_complex_array(a[0]);
    const long long n = PyLong_AsLongLong(n_qubits.ptr());
    if (n == -1 && PyErr_Occurred()) PyErr_Clear();
    if (n < 2 || n > 62 || psi.size() != (py::ssize_t{1} << n)) {
        const py::int_ rows = power_of_two(n_qubits - bond - py::int_(1));
        const py::int_ cols = power_of_two(bond + py::int_(1));
        raise_reshape_error(psi, py::make_tuple(rows, cols));
    }
    const int b = py::cast<int>(bond);
    auto out = new_array<double>({static_cast<py::ssize_t>(bvc::synthesis::schmidt_count(static_cast<int>(n), b))});
    bvc::synthesis::SchmidtWorkspace workspace;
    bvc::synthesis::schmidt_probabilities(psi.data(), static_cast<int>(n), b, out.mutable_data(), workspace);
    return out;
}

py::object renyi_entropy(const Arguments& a) {
    const double alpha = to_float(a[1]);
    // The index is judged before the vector is even looked at.
    bvc::synthesis::check_renyi_index(alpha);
    const RealArray p = as_real_array(a[0]);
    if (p.ndim() != 1) raise(PyExc_ValueError, "probabilities must be a nonnegative one-dimensional array");
    return py::float_(bvc::synthesis::renyi_entropy(p.data(), static_cast<std::size_t>(p.size()), alpha));
}

py::object default_renyi_indices(const Arguments& a) {
    const py::object& layers = a[0];
    if (!is_positive_integer(layers)) raise(PyExc_ValueError, "layers must be a positive integer");
    if (less(py::int_(kMaxCount), layers)) {
        raise(PyExc_ValueError, "layers must be at most " + std::to_string(kMaxCount));
    }
    const Py_ssize_t count = PyNumber_AsSsize_t(layers.ptr(), PyExc_OverflowError);
    if (count == -1 && PyErr_Occurred()) throw py::error_already_set();
    py::list one = py::list();
    one.append(py::float_(1.0));
    PyObject* repeated = PySequence_Repeat(one.ptr(), count);
    if (repeated == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::list>(repeated);
}

}  // namespace

void register_entanglement_functions(py::module_& m) {
    def_function(m, "_schmidt_probabilities", {arg("state"), arg("n_qubits"), arg("bond")},
                 "Return the normalised squared Schmidt coefficients of ``state`` across the cut between\n"
                 "qubits ``bond`` and ``bond + 1``, largest first.",
                 schmidt_probabilities);
    def_function(m, "_renyi_entropy", {arg("probabilities"), arg("alpha")},
                 "Return the Renyi entropy of order ``alpha`` (natural logarithm) of a probability vector.\n"
                 "Entries not above machine epsilon are dropped and the rest normalised; alpha = inf gives\n"
                 "the min-entropy and alpha close to 1 the von Neumann entropy.",
                 renyi_entropy);
    def_function(m, "default_renyi_indices", {arg("layers")},
                 "Return the default Renyi index of every layer: ``layers`` times 1.0 (von Neumann).",
                 default_renyi_indices);
}

}  // namespace bvc::corvinth
