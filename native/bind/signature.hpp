// Python-callable functions with a parameter list of their own.
//
// Each function is registered with `def_function` (or `def_method`) and a
// parameter list: positional-or-keyword and keyword-only parameters and
// defaults. A wrong number of positional arguments, a missing argument, an
// unexpected keyword or a duplicated one raises the TypeError every Python
// function raises, so a caller's error handling does not need to know which
// functions are native.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>
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
void def_function(py::module_& module, const char* name, std::vector<Param> params, const char* doc, Body body);

// Registers `name` on a class as a method; the first parameter is the
// instance (conventionally "self") and is listed in `params`. An "__init__"
// also becomes the class's own signature, so inspect.signature(cls) and
// help(cls) show the constructor's parameters.
void def_method(py::object cls, const char* name, std::vector<Param> params, const char* doc, Body body);

}  // namespace bvc::bind
