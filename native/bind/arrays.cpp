#include "bind/arrays.hpp"

namespace bvc::bind {

ComplexArray as_complex_array(py::handle value) {
    auto out = ComplexArray::ensure(value);
    if (!out) throw py::error_already_set();
    return out;
}

RealArray as_real_array(py::handle value) {
    auto out = RealArray::ensure(value);
    if (!out) throw py::error_already_set();
    return out;
}

}  // namespace bvc::bind
