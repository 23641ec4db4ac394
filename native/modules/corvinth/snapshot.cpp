// The circuit of the disentanglers so far, with its overlap and energy
// (_reverse_preparation_snapshot).
#include "snapshot.hpp"
#include "numpy_interop.hpp"

#include <pybind11/numpy.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"
#include "compact_emission.hpp"
#include "core/synthesis/gates.hpp"
#include "emission.hpp"
#include "kernels.hpp"
#include "product_state_functions.hpp"

namespace bvc::corvinth {

using namespace bvc::bind;

namespace {

// |<psi0|state>| clipped to [0, 1]: rounding in the simulator may push a
// perfect overlap just above 1. NaN stays NaN.
double overlap_modulus(py::handle psi0, const ComplexArray& state) {
    const ComplexArray reference = as_complex_array(psi0);
    if (reference.size() != state.size()) {
        numpy_attr("vdot")(reference, state);  // NumPy's own error for unequal sizes
        raise(PyExc_ValueError, "psi0 and the circuit state differ in size");
    }
    const cplx* a = reference.data();
    const cplx* b = state.data();
    cplx sum = 0.0;
    for (py::ssize_t k = 0; k < state.size(); ++k) sum += std::conj(a[k]) * b[k];
    const double modulus = std::abs(sum);
    if (std::isnan(modulus)) return modulus;
    return std::clamp(modulus, 0.0, 1.0);
}

// int() of a qubit column: truncation, errors for NaN and infinity. Any size
// is handed on as it is; the circuit judges the range.
py::int_ qubit_of(double column) {
    PyObject* value = PyLong_FromDouble(column);
    if (value == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::int_>(value);
}

}  // namespace

py::object build_reverse_preparation(py::handle module, const py::int_& n_qubits,
                                     const std::vector<std::array<double, 3>>& rotations, const py::object& rows_object,
                                     bool compact) {
    const RealArray rows = as_real_array(rows_object);

    py::dict name;
    name["name"] = "DMRG reverse preparation";
    py::object circuit = module.attr("Circuit")(n_qubits, **name);

    if (compact) {
        emit_compact_reverse_preparation(circuit, py::cast<int>(n_qubits), rotations, rows);
    } else {
        for (std::size_t q = 0; q < rotations.size(); ++q) {
            auto vector = new_array<double>({3});
            std::copy(rotations[q].begin(), rotations[q].end(), vector.mutable_data());
            emit_axis_rotation(circuit, py::int_(q), vector);
        }
        // Undo the disentanglers newest first, each as its exact inverse.
        const py::ssize_t count = rows.shape(0);
        for (py::ssize_t r = count - 1; r >= 0; --r) {
            const double* row = rows.data() + r * bvc::synthesis::kGateRowWidth;
            const py::object params = rows_object[py::make_tuple(r, py::slice(2, bvc::synthesis::kGateRowWidth, 1))];
            emit_entangler(circuit, qubit_of(row[0]), qubit_of(row[1]), params, true);
        }
    }
    return circuit;
}

py::tuple score_reverse_preparation(py::handle module, py::handle psi0, const py::int_& n_qubits,
                                    const std::vector<std::array<double, 3>>& rotations, const py::object& rows_object,
                                    py::handle pauli_terms, bool compact) {
    py::object circuit = build_reverse_preparation(module, n_qubits, rotations, rows_object, compact);

    py::dict options;
    options["backend"] = "numpy";
    options["dtype"] = numpy_attr("complex128");
    const py::object result = circuit.attr("execute")(**options);
    const ComplexArray state = as_complex_array(result.attr("state"));

    const double overlap = overlap_modulus(psi0, state);
    py::object energy = py::none();
    if (!pauli_terms.is_none()) {
        const py::object value = module.attr("hamiltonian_expectation")(state, pauli_terms, n_qubits);
        energy = py::float_(to_float(value.attr("real")));
    }
    return py::make_tuple(circuit, overlap, energy);
}

py::tuple reverse_preparation_snapshot(py::handle module, py::handle psi0, py::handle disentangled,
                                       const py::int_& n_qubits, py::handle gate_rows, py::handle pauli_terms,
                                       bool compact) {
    const py::object rows = as_real_array(gate_rows).attr("reshape")(-1, bvc::synthesis::kGateRowWidth);

    const py::tuple approximation = product_state_approximation(disentangled, n_qubits);
    std::vector<std::array<double, 3>> rotations;
    for (py::handle factor : approximation[0]) rotations.push_back(product_factor_rotation(factor));

    return score_reverse_preparation(module, psi0, n_qubits, rotations, rows, pauli_terms, compact);
}

void register_snapshot_function(py::module_& m) {
    py::object module = m;
    def_function(m, "_reverse_preparation_snapshot",
                 {arg("psi0"), arg("disentangled"), arg("n_qubits"), arg("gate_rows"), arg("pauli_terms"),
                  kwonly("compact", py::bool_(false))},
                 "Build the reverse-preparation circuit of the disentanglers in ``gate_rows`` (rows of\n"
                 "q0, q1 and nine parameters, in the order applied): rotations preparing the product-state\n"
                 "approximation of ``disentangled``, then every disentangler inverted, newest first.\n"
                 "Execute it and return (circuit, |<psi0|state>| clipped to [0, 1], energy or None).\n"
                 "With ``compact`` true the same state is prepared by fewer gates: at most three CNOTs per\n"
                 "disentangler, none for an identity, and one rotation per run of single-qubit gates.",
                 [module](const Arguments& a) -> py::object {
                     const py::int_ n_qubits = to_int(a[2], "n_qubits");
                     const int compact = PyObject_IsTrue(a[5].ptr());
                     if (compact < 0) throw py::error_already_set();
                     return reverse_preparation_snapshot(module, a[0], a[1], n_qubits, a[3], a[4], compact == 1);
                 });
}

}  // namespace bvc::corvinth
