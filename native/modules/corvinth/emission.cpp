// Gates written onto a caller's circuit: rotations and the nine-parameter entangler
// (_axis_rotation, _pauli_rotation, _append_entangler).
#include "emission.hpp"

#include <pybind11/numpy.h>

#include <cmath>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"
#include "core/synthesis/gates.hpp"
#include "kernels.hpp"
#include "rotation_vector.hpp"

namespace bvc::corvinth {

using namespace bvc::bind;

namespace {

constexpr double kHalfPi = 1.5707963267948966;  // math.pi / 2

void gate(py::handle circuit, const char* name, py::handle qubit) { circuit.attr(name)(qubit); }

void rotation(py::handle circuit, const char* name, double angle, py::handle qubit) {
    circuit.attr(name)(py::float_(angle), qubit);
}

bool equals(py::handle value, const char* text) {
    const int result = PyObject_RichCompareBool(value.ptr(), py::str(text).ptr(), Py_EQ);
    if (result < 0) throw py::error_already_set();
    return result == 1;
}

py::object negated(py::handle value) {
    PyObject* out = PyNumber_Negative(value.ptr());
    if (out == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(out);
}

}  // namespace

void emit_axis_rotation(py::handle circuit, py::handle qubit, py::handle vector) {
    double v[3];
    if (!rotation_components(as_real_array(vector), v)) return;
    const auto angles = bvc::synthesis::zyz_angles(v);
    rotation(circuit, "rz", angles.first_z, qubit);
    rotation(circuit, "ry", angles.y, qubit);
    rotation(circuit, "rz", angles.last_z, qubit);
}

void emit_pauli_rotation(py::handle circuit, py::handle q0, py::handle q1, py::handle axis, py::handle angle) {
    const bool x = equals(axis, "X");
    const bool y = !x && equals(axis, "Y");
    // Checked before any gate is appended: anything else is no axis at all,
    // and taking it for Z would emit a wrong gate without a word.
    if (!x && !y && !equals(axis, "Z")) {
        raise(PyExc_ValueError, {py::str("Pauli rotation axis must be 'X', 'Y' or 'Z', got "), py::repr(axis)});
    }
    if (x) {
        gate(circuit, "h", q0);
        gate(circuit, "h", q1);
    } else if (y) {
        rotation(circuit, "rx", kHalfPi, q0);
        rotation(circuit, "rx", kHalfPi, q1);
    }
    circuit.attr("cx")(q0, q1);
    PyObject* doubled = PyNumber_Multiply(py::float_(2.0).ptr(), angle.ptr());
    if (doubled == nullptr) throw py::error_already_set();
    const double z_angle = to_float(py::reinterpret_steal<py::object>(doubled));
    rotation(circuit, "rz", z_angle, q1);
    circuit.attr("cx")(q0, q1);
    if (x) {
        gate(circuit, "h", q0);
        gate(circuit, "h", q1);
    } else if (y) {
        rotation(circuit, "rx", -kHalfPi, q0);
        rotation(circuit, "rx", -kHalfPi, q1);
    }
}

void emit_entangler(py::handle circuit, py::handle q0, py::handle q1, py::handle params, bool inverse) {
    // Sliced and indexed as an array: a short parameter vector fails with an
    // IndexError (or the unpacking error) instead of a read past its end.
    const RealArray p = as_real_array(params);
    const py::object q0_rotation = p[py::slice(0, 3, 1)];
    const py::object q1_rotation = p[py::slice(3, 6, 1)];
    auto pauli_angle = [&](int k) { return py::object(p[py::int_(6 + k)]); };
    const char axes[3][2] = {"X", "Y", "Z"};
    if (!inverse) {
        emit_axis_rotation(circuit, q0, q0_rotation);
        emit_axis_rotation(circuit, q1, q1_rotation);
        for (int k = 0; k < 3; ++k) emit_pauli_rotation(circuit, q0, q1, py::str(axes[k]), pauli_angle(k));
        return;
    }
    for (int k = 2; k >= 0; --k) emit_pauli_rotation(circuit, q0, q1, py::str(axes[k]), negated(pauli_angle(k)));
    emit_axis_rotation(circuit, q0, negated(q0_rotation));
    emit_axis_rotation(circuit, q1, negated(q1_rotation));
}

namespace {

py::object axis_rotation_function(const Arguments& a) {
    emit_axis_rotation(a[0], a[1], a[2]);
    return py::none();
}

py::object pauli_rotation_function(const Arguments& a) {
    emit_pauli_rotation(a[0], a[1], a[2], a[3], a[4]);
    return py::none();
}

py::object append_entangler_function(const Arguments& a) {
    // The parameters are converted before the direction is looked at.
    const RealArray p = as_real_array(a[3]);
    const int inverse = PyObject_IsTrue(a[4].ptr());
    if (inverse < 0) throw py::error_already_set();
    emit_entangler(a[0], a[1], a[2], p, inverse == 1);
    return py::none();
}

}  // namespace

void register_emission_functions(py::module_& m) {
    def_function(m, "_axis_rotation", {arg("circuit"), arg("qubit"), arg("vector")},
                 "Append exp(-i v.sigma / 2) for the rotation vector ``vector`` to ``circuit`` on ``qubit``\n"
                 "as rz, ry, rz; a vector of norm below 1e-12 appends nothing.",
                 axis_rotation_function);
    def_function(m, "_pauli_rotation", {arg("circuit"), arg("q0"), arg("q1"), arg("axis"), arg("angle")},
                 "Append exp(-i angle P(x)P) on (q0, q1) for the axis letter P (\"X\", \"Y\" or \"Z\") as a\n"
                 "cx-rz-cx group inside the basis change of the axis.",
                 pauli_rotation_function);
    def_function(m, "_append_entangler",
                 {arg("circuit"), arg("q0"), arg("q1"), arg("params"), kwonly("inverse", py::bool_(false))},
                 "Append the nine-parameter disentangler on (q0, q1) to ``circuit``: the rotations of q0 and\n"
                 "q1, then the X(x)X, Y(x)Y and Z(x)Z rotations; with ``inverse`` true its exact inverse.",
                 append_entangler_function);
}

}  // namespace bvc::corvinth
