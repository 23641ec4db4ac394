#include "support.hpp"

#include <cmath>
#include <string>

#include "bind/conventions.hpp"
#include "core/gates.hpp"

namespace bvc::corvinth {

using namespace bvc::bind;

void raise_reshape_error(py::handle array, const py::tuple& shape) {
    array.attr("reshape")(shape);
    // Reached only if NumPy accepted the shape after all.
    raise(PyExc_ValueError, "cannot reshape array of size " + py::cast<std::string>(py::str(array.attr("size"))) +
                                " into shape " +
                                py::cast<std::string>(py::str(shape)));
}

namespace {

std::string format(double value, const char* pattern) {
    return py::cast<std::string>(py::module_::import("builtins").attr("format")(py::float_(value), pattern));
}

}  // namespace

void print_metrics_line(const std::string& head, double overlap_mod, const std::optional<double>& energy) {
    std::string line = head + ": |\u27e8\u03c8_DMRG|\u03c8_circuit\u27e9|=" + format(overlap_mod, ".12f") + ", energy=";
    line += energy ? format(*energy, ".12f") + " Hartree" : std::string("N/A");
    py::print(py::str(line), py::arg("flush") = true);
}

py::int_ power_of_two(const py::int_& exponent) {
    const long long e = std::min<long long>(65, PyLong_AsLongLong(exponent.ptr()));
    if (PyErr_Occurred()) PyErr_Clear();  // a huge exponent: capped below
    if (e < 0) return py::int_(0);
    PyObject* power = PyNumber_Lshift(py::int_(1).ptr(), py::int_(e).ptr());
    if (power == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::int_>(power);
}

bool less(const py::handle& a, const py::handle& b) {
    const int result = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_LT);
    if (result < 0) throw py::error_already_set();
    return result == 1;
}

bool rotation_components(const RealArray& v, double components[3]) {
    const double* data = v.data();
    double sum = 0.0;
    for (py::ssize_t k = 0; k < v.size(); ++k) sum += data[k] * data[k];
    const double theta = std::sqrt(sum);
    if (theta < bvc::cvd::kRotationNormFloor) return false;
    if (v.ndim() == 0) raise(PyExc_TypeError, "cannot unpack non-iterable numpy.float64 object");
    const py::ssize_t length = v.shape(0);
    if (length < 3) {
        raise(PyExc_ValueError, "not enough values to unpack (expected 3, got " + std::to_string(length) + ")");
    }
    if (length > 3) raise(PyExc_ValueError, "too many values to unpack (expected 3)");
    if (v.ndim() != 1) {
        raise(PyExc_ValueError, "rotation vector must have exactly three components, got shape " +
                                    py::cast<std::string>(py::str(v.attr("shape"))));
    }
    for (int k = 0; k < 3; ++k) components[k] = data[k];
    return true;
}

py::object numpy_attr(const char* name) { return py::module_::import("numpy").attr(name); }

}  // namespace bvc::corvinth
