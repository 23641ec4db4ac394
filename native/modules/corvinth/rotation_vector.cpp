// The three components of a rotation-vector argument, checked once for every gate function.
#include "rotation_vector.hpp"

#include <cmath>
#include <string>

#include "bind/errors.hpp"
#include "core/synthesis/gates.hpp"

namespace bvc::corvinth {

using namespace bvc::bind;

bool rotation_components(const RealArray& v, double components[3]) {
    const double* data = v.data();
    double sum = 0.0;
    for (py::ssize_t k = 0; k < v.size(); ++k) sum += data[k] * data[k];
    const double theta = std::sqrt(sum);
    if (theta < bvc::synthesis::kRotationNormFloor) return false;
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

}  // namespace bvc::corvinth
