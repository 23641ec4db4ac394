// Argument conventions shared by every extension module of the package.
//
// Each Python-callable function is registered with `def_function` (or
// `def_method`) and a parameter list; binding then behaves like a function
// written in Python: positional-or-keyword and keyword-only parameters,
// defaults, and the interpreter's own TypeError wording for a wrong number of
// positional arguments, a missing argument, an unexpected keyword or a
// duplicated one. Inside the body, typed arguments are converted with
// `to_int`, `to_int64`, `to_float` and `require_str`, which raise the
// package's fixed messages.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace bvc::bind {

namespace py = pybind11;

struct Param {
    std::string name;
    bool keyword_only = false;
    bool has_default = false;
    py::object default_value;
};

// A positional-or-keyword parameter without default.
Param arg(const char* name);
// A positional-or-keyword parameter with a default.
Param arg(const char* name, py::object default_value);
// A keyword-only parameter with a default.
Param kwonly(const char* name, py::object default_value);
// A keyword-only parameter without default.
Param kwonly_required(const char* name);

// The bound arguments of one call, in parameter order.
class Arguments {
public:
    explicit Arguments(std::vector<py::object> values) : values_(std::move(values)) {}
    const py::object& operator[](std::size_t i) const { return values_.at(i); }
    std::size_t size() const { return values_.size(); }

private:
    std::vector<py::object> values_;
};

class Signature {
public:
    // `qualname` is what error messages show before "()", e.g.
    // "MolecularDMRGWorkflow.__init__" for a method.
    Signature(std::string qualname, std::vector<Param> params);

    Arguments bind(const py::args& args, const py::kwargs& kwargs) const;

    // "(a, b, *, c=1)", for the docstring's signature line; with
    // `skip_first`, without the first parameter (the instance of a method).
    std::string text(bool skip_first = false) const;

    const std::string& qualname() const { return qualname_; }

private:
    std::string qualname_;
    std::vector<Param> params_;
    std::vector<py::str> names_;  // params_[i].name as a Python string
    std::size_t positional_count_ = 0;
};

using Body = std::function<py::object(const Arguments&)>;

// Registers `name` on `module` as a plain function.
void def_function(py::module_& module, const char* name, std::vector<Param> params,
                  const char* doc, Body body);

// Registers `name` on a class as a method; the first parameter is the
// instance (conventionally "self") and is listed in `params`. An "__init__"
// also becomes the class's own signature, so inspect.signature(cls) and
// help(cls) show the constructor's parameters.
void def_method(py::object cls, const char* name, std::vector<Param> params, const char* doc,
                Body body);

// Integer conversion: an exact int is returned unchanged, an int subclass or
// an object with __index__ (NumPy integers) becomes a plain int, another real
// number is truncated toward zero; anything else, including a value whose
// number protocols refuse it with TypeError (an array of several elements),
// raises TypeError "Argument '<name>' has incorrect type (expected int, got <type>)".
py::int_ to_int(py::handle value, const char* name);

// Integer conversion to a C++ 64-bit integer; OverflowError naming the
// argument when it does not fit.
std::int64_t to_int64(py::handle value, const char* name);

// Float conversion: the interpreter's own float conversion and its errors.
double to_float(py::handle value);

// Exact-str check: anything but an instance of exactly `str` raises
// TypeError "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)".
py::str require_str(py::handle value, const char* name);

// Raises the TypeError above for any expected type name.
[[noreturn]] void raise_incorrect_type(const char* name, const char* expected, py::handle value);

// Raises a Python exception of type `exc` with `message` (no formatting).
[[noreturn]] void raise(PyObject* exc, const std::string& message);

// The same with a message assembled from Python strings (texts, str() or
// repr() of the caller's objects): any text, even one without a UTF-8 form
// (a lone surrogate), reaches the user as it is.
[[noreturn]] void raise(PyObject* exc, std::initializer_list<py::str> parts);

// The name of the object's type, as the interpreter prints it.
std::string type_name(py::handle value);

}  // namespace bvc::bind

namespace bvc::bind {

// Unpacking into exactly `count` names, with the interpreter's own errors:
// TypeError "cannot unpack non-iterable <type> object", ValueError
// "not enough values to unpack (expected N, got K)" and
// "too many values to unpack (expected N)". Items are read by iteration.
std::vector<py::object> unpack_exact(py::handle value, std::size_t count);

// The same with every item passed through `convert` as it is read, as in
// `a, b = (convert(v) for v in value)`: the conversion errors of the items
// come in iteration order, before the count is judged.
std::vector<py::object> unpack_exact(py::handle value, std::size_t count,
                                     const std::function<py::object(py::handle)>& convert);

// The truth value of `value` (bool(value)), with the error of a failing
// __bool__ or __len__ raised.
bool truth(py::handle value);

// The number of items `value` reports through len(), when it reports one:
// nothing for an object without a length (its TypeError is cleared), and
// SIZE_MAX for a length beyond the machine's sizes (len(range(2**64)) raises
// OverflowError). Any other error of __len__ is raised. Lets a caller judge a
// length before reading what may be an endless number of items.
std::optional<std::size_t> reported_length(py::handle value);

}  // namespace bvc::bind
