// Typed arguments: the conversions a function body applies to an argument
// declared as an integer, a float or a string, with the package's messages.
#pragma once

#include <pybind11/pybind11.h>

#include <complex>
#include <cstdint>

namespace bvc::bind {

namespace py = pybind11;

// Integer conversion: an exact int is returned unchanged, an int subclass or
// an object with __index__ (NumPy integers) becomes a plain int, another real
// number is truncated toward zero; anything else, including a value whose
// number protocols refuse it with TypeError (an array of several elements),
// raises TypeError "Argument '<name>' has incorrect type (expected int, got <type>)".
py::int_ to_int(py::handle value, const char* name);

// Integer conversion to a C++ 64-bit integer; OverflowError naming the
// argument when it does not fit.
std::int64_t to_int64(py::handle value, const char* name);

// Float conversion through __float__ (or __index__); a value with neither
// raises TypeError "must be real number, not <type>".
double to_float(py::handle value);

// A number (anything with __complex__, __float__ or __index__) as a complex
// double; anything else raises TypeError "<what> must be a number, got <type>".
std::complex<double> to_complex(py::handle value, const char* what);

// Exact-str check: anything but an instance of exactly `str` raises
// TypeError "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)".
py::str require_str(py::handle value, const char* name);

}  // namespace bvc::bind
