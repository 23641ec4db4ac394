// DMRG settings check and the fermionic Hamiltonian as TeNPy local terms.
#include <pybind11/pybind11.h>

#include <string>

#include "bind/conventions.hpp"
#include "mallorek.hpp"

namespace bvc::mallorek {

using namespace bvc::bind;

namespace {

py::object validate_dmrg_parameters(const Arguments& a) {
    const py::object& chi0 = a[0];
    const py::object& maxdim = a[1];
    const py::object& max_sweeps = a[2];
    if (!is_positive_integer(chi0)) raise(PyExc_ValueError, "chi0 must be a positive integer");
    if (!is_positive_integer(maxdim)) raise(PyExc_ValueError, "maxdim must be a positive integer");
    if (less(py::int_(maxdim), py::int_(chi0))) {
        raise(PyExc_ValueError, "maxdim must be greater than or equal to chi0");
    }
    if (!is_positive_integer(max_sweeps)) raise(PyExc_ValueError, "max_sweeps must be a positive integer");
    return py::none();
}

// Operator names of the spin-1/2 fermion site, indexed [spin][action].
const char* const kOperatorName[2][2] = {{"Cu", "Cdu"}, {"Cd", "Cdd"}};

// First request of the term iterator: the chain needs whole orbitals.
py::object begin_local_terms(py::handle n_qubits) {
    py::int_ count = to_int(n_qubits, "n_qubits");
    if (!equal(count & py::int_(1), py::int_(0))) {
        raise(PyExc_ValueError, "fermionic DMRG requires an even qubit count");
    }
    return count;
}

// One element (coeff, ops) of the fermion term list as (coeff, term).
py::object local_term(py::handle item, py::handle n_qubits) {
    auto pair = unpack_exact(item, 2);
    const py::object& coeff = pair[0];
    const py::object& ops = pair[1];
    py::list term;
    if (!truth(ops)) {
        term.append(py::make_tuple("Id", py::list(py::make_tuple(0, 0))));
        return py::make_tuple(coeff, term);
    }
    for (py::handle op : ops) {
        auto mode_action = unpack_exact(op, 2);
        const py::object& mode = mode_action[0];
        const py::object& action = mode_action[1];
        if (!is_integer_not_bool(mode)) {
            raise(PyExc_TypeError, {py::str("fermion mode must be an integer, got "), py::repr(mode)});
        }
        if (less(mode, py::int_(0)) || !less(mode, n_qubits)) {
            py::object last = py::reinterpret_borrow<py::object>(n_qubits) - py::int_(1);
            raise(PyExc_ValueError,
                  {py::str("fermion mode "), py::str(mode), py::str(" is outside 0:"), py::str(last)});
        }
        if (!equal(action, py::int_(1)) && !equal(action, py::int_(0))) {
            raise(PyExc_ValueError, {py::str("fermion action must be 0 or 1, got "), py::repr(action)});
        }
        // The operator is chosen by int(action), so a value that merely
        // compares equal to 0 or 1 but has no integer value (1+0j) is refused.
        const bool is_creation = equal(py::int_(action), py::int_(1));
        // Python integers throughout: n_qubits is unbounded, so a valid mode
        // need not fit a machine word.
        py::int_ index(mode);
        py::object orbital = index >> py::int_(1);
        const int spin = equal(index & py::int_(1), py::int_(1)) ? 1 : 0;
        term.append(py::make_tuple(kOperatorName[spin][is_creation ? 1 : 0], py::list(py::make_tuple(orbital, 0))));
    }
    return py::make_tuple(coeff, term);
}

// The iterator is a genuine generator: the interpreter then supplies the
// generator protocol (lazy start, errors raised by the consuming next(), the
// iteration ended for good after an error, close()), while every check and
// conversion of an element runs in C++ through the two callables.
const char* const kGeneratorSource = R"(
def _fermion_to_local_terms(fermion_terms, n_qubits):
    n_qubits = _begin_local_terms(n_qubits)
    for item in fermion_terms:
        yield _local_term(item, n_qubits)
)";

py::object make_generator_function(const py::module_& m) {
    py::dict scope;
    scope["__name__"] = m.attr("__name__");
    scope["__builtins__"] = py::module_::import("builtins");
    scope["_begin_local_terms"] = py::cpp_function(&begin_local_terms);
    scope["_local_term"] = py::cpp_function(&local_term);
    py::module_ builtins = py::module_::import("builtins");
    py::object code = builtins.attr("compile")(kGeneratorSource, "<mallorek>", "exec");
    builtins.attr("exec")(code, scope);
    return scope["_fermion_to_local_terms"];
}

}  // namespace

void register_parameters(py::module_& m) {
    def_function(m, "_validate_dmrg_parameters", {arg("chi0"), arg("maxdim"), arg("max_sweeps")},
                 "Check the integer DMRG settings; raise ValueError on the first bad one.", validate_dmrg_parameters);

    py::object generator_function = make_generator_function(m);
    def_function(m, "_fermion_to_local_terms", {arg("fermion_terms"), arg("n_qubits")},
                 "Yield (coefficient, [(operator name, [orbital, 0]), ...]) for each fermion term, lazily.",
                 [generator_function](const Arguments& a) -> py::object { return generator_function(a[0], a[1]); });
}

}  // namespace bvc::mallorek
