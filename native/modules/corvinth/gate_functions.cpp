// The synthesis's gate matrices as arrays, for callers that check a circuit by hand
// (_axis_rotation_matrix, _entangler_matrix, _apply_two_qubit_unitary).
#include <pybind11/numpy.h>

#include <cstring>
#include <string>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"
#include "core/synthesis/gates.hpp"
#include "kernels.hpp"
#include "numpy_interop.hpp"
#include "rotation_vector.hpp"

namespace bvc::corvinth {

using namespace bvc::bind;

namespace {

py::array_t<cplx> matrix_array(const cplx* entries, py::ssize_t side) {
    auto out = new_array<cplx>({side, side});
    std::memcpy(out.mutable_data(), entries, sizeof(cplx) * side * side);
    return out;
}

py::object axis_rotation_matrix(const Arguments& a) {
    const RealArray v = as_real_array(a[0]);
    double components[3] = {0.0, 0.0, 0.0};
    rotation_components(v, components);  // zero components below the floor: the identity
    return matrix_array(bvc::synthesis::axis_rotation_matrix(components).m, 2);
}

py::object entangler_matrix(const Arguments& a) {
    const RealArray p = as_real_array(a[0]);
    if (p.ndim() != 1 || p.shape(0) != bvc::synthesis::kEntanglerParams) {
        raise(PyExc_ValueError,
              "entangler requires " + std::to_string(bvc::synthesis::kEntanglerParams) + " parameters");
    }
    return matrix_array(bvc::synthesis::entangler_matrix(p.data()).m, 4);
}

// The 2^n amplitudes of `state` for n_qubits = n, or NumPy's reshape error
// for n axes of length 2.
ComplexArray state_of_qubits(py::handle state, const py::int_& n_qubits, int& n_out) {
    ComplexArray psi = as_complex_array(state);
    const long long n = PyLong_AsLongLong(n_qubits.ptr());
    const bool overflow = n == -1 && PyErr_Occurred();
    if (overflow) PyErr_Clear();
    if (!overflow && n >= 0 && n <= 62 && psi.size() == (py::ssize_t{1} << n)) {
        n_out = static_cast<int>(n);
        return psi;
    }
    if (overflow || n > 4096) {
        raise(PyExc_ValueError, "maximum supported dimension for an ndarray is currently 64, found " +
                                    py::cast<std::string>(py::str(n_qubits)));
    }
    py::tuple shape(static_cast<std::size_t>(n));
    for (long long k = 0; k < n; ++k) shape[static_cast<std::size_t>(k)] = py::int_(2);
    raise_reshape_error(psi, shape);
}

py::object apply_two_qubit_unitary(const Arguments& a) {
    const py::int_ q0 = to_int(a[2], "q0");
    const py::int_ q1 = to_int(a[3], "q1");
    const py::int_ n_qubits = to_int(a[4], "n_qubits");
    if (less(q0, py::int_(0)) || !less(q0, q1) || !less(q1, n_qubits)) {
        raise(PyExc_ValueError, "two-qubit sites must satisfy 0 <= q0 < q1 < n_qubits");
    }
    const ComplexArray matrix = as_complex_array(a[1]);
    if (matrix.ndim() != 2 || matrix.shape(0) != 4 || matrix.shape(1) != 4) {
        raise(PyExc_ValueError, "two-qubit unitary must have shape (4, 4)");
    }
    int n = 0;
    const ComplexArray psi = state_of_qubits(a[0], n_qubits, n);
    bvc::sv::Mat4 m;
    std::memcpy(m.m, matrix.data(), sizeof(m.m));
    auto out = new_array<cplx>({psi.size()});
    bvc::synthesis::apply_two_qubit_unitary(psi.data(), out.mutable_data(), py::cast<int>(q0), py::cast<int>(q1), n, m);
    return out;
}

}  // namespace

void register_gate_functions(py::module_& m) {
    def_function(m, "_axis_rotation_matrix", {arg("vector")},
                 "Return the 2x2 unitary exp(-i v.sigma / 2) of the rotation vector ``vector``.", axis_rotation_matrix);
    def_function(m, "_entangler_matrix", {arg("params")},
                 "Return the 4x4 disentangler of nine parameters in the |q1 q0> basis: the rotations\n"
                 "params[0:3] on q0 and params[3:6] on q1, then exp(-i a P(x)P) for P = X, Y, Z with\n"
                 "a = params[6], params[7], params[8].",
                 entangler_matrix);
    def_function(m, "_apply_two_qubit_unitary", {arg("state"), arg("matrix"), arg("q0"), arg("q1"), arg("n_qubits")},
                 "Return a new state: ``matrix`` (read in the |q1 q0> basis) applied to qubits q0 < q1\n"
                 "of ``state``, a vector of 2**n_qubits amplitudes with qubit 0 least significant.",
                 apply_two_qubit_unitary);
}

}  // namespace bvc::corvinth
