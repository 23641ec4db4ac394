// Argument binding of the package's Python-callable functions against their parameter lists.
#include "bind/signature.hpp"

#include <cstring>
#include <new>
#include <string_view>

#include "bind/builtin_callable.hpp"
#include "bind/errors.hpp"

namespace bvc::bind {

Param arg(const char* name) { return Param{name, false, false, py::object()}; }

Param arg(const char* name, py::object default_value) { return Param{name, false, true, std::move(default_value)}; }

Param kwonly(const char* name, py::object default_value) { return Param{name, true, true, std::move(default_value)}; }

namespace {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": the interpreter's listing.
std::string quoted_list(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() == 2) {
                out += " and ";
            } else if (i + 1 == names.size()) {
                out += ", and ";
            } else {
                out += ", ";
            }
        }
        out += "'" + names[i] + "'";
    }
    return out;
}

std::string plural(std::size_t n) { return n == 1 ? "" : "s"; }

}  // namespace

namespace {

// A default as source text for the signature line. The interpreter's
// signature parser accepts literals only, so any other default (a class such
// as numpy.complex128) is shown as "...", which it reads as Ellipsis.
std::string default_text(const py::object& value) {
    PyObject* v = value.ptr();
    const bool literal = v == Py_None || PyBool_Check(v) || PyLong_CheckExact(v) || PyFloat_CheckExact(v) ||
                         PyUnicode_CheckExact(v) || PyBytes_CheckExact(v);
    return literal ? py::cast<std::string>(py::repr(value)) : "...";
}

}  // namespace

Signature::Signature(std::string qualname, std::vector<Param> params)
    : qualname_(std::move(qualname)), params_(std::move(params)) {
    for (const auto& p : params_) {
        if (!p.keyword_only) ++positional_count_;
        names_.emplace_back(p.name);
    }
}

Arguments Signature::bind(const py::args& args, const py::kwargs& kwargs) const {
    const std::size_t given = args.size();
    std::vector<py::object> values(params_.size());
    std::vector<bool> set(params_.size(), false);
    for (std::size_t i = 0; i < given && i < positional_count_; ++i) {
        values[i] = py::reinterpret_borrow<py::object>(args[i]);
        set[i] = true;
    }

    // Keywords are matched before the positional count is judged: of several
    // mistakes in one call, the one reported is the one Python reports for
    // its own functions, so no message depends on a function being native.
    // Keys are compared as Python strings: any str is a valid keyword, even
    // one that has no UTF-8 form (a lone surrogate), and must get the
    // interpreter's TypeError rather than a conversion failure.
    std::size_t kwonly_given = 0;
    for (auto item : kwargs) {
        std::size_t index = params_.size();
        for (std::size_t i = 0; i < params_.size(); ++i) {
            const int order = PyUnicode_Compare(item.first.ptr(), names_[i].ptr());
            if (order == -1 && PyErr_Occurred()) throw py::error_already_set();
            if (order == 0) {
                index = i;
                break;
            }
        }
        if (index == params_.size()) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", qualname_.c_str(),
                         item.first.ptr());
            throw py::error_already_set();
        }
        if (set[index]) {
            raise(PyExc_TypeError, qualname_ + "() got multiple values for argument '" + params_[index].name + "'");
        }
        values[index] = py::reinterpret_borrow<py::object>(item.second);
        set[index] = true;
        if (params_[index].keyword_only) ++kwonly_given;
    }

    if (given > positional_count_) {
        std::size_t with_default = 0;
        for (std::size_t i = 0; i < positional_count_; ++i) {
            if (params_[i].has_default) ++with_default;
        }
        std::string takes = with_default > 0 ? "from " + std::to_string(positional_count_ - with_default) + " to " +
                                                   std::to_string(positional_count_)
                                             : std::to_string(positional_count_);
        bool plural_takes = with_default > 0 || positional_count_ != 1;
        std::string kwonly_note;
        if (kwonly_given > 0) {
            kwonly_note = " positional argument" + plural(given) + " (and " + std::to_string(kwonly_given) +
                          " keyword-only argument" + plural(kwonly_given) + ")";
        }
        raise(PyExc_TypeError, qualname_ + "() takes " + takes + " positional argument" + (plural_takes ? "s" : "") +
                                   " but " + std::to_string(given) + kwonly_note +
                                   (given == 1 && kwonly_given == 0 ? " was" : " were") + " given");
    }

    for (int pass = 0; pass < 2; ++pass) {
        const bool keyword_only = pass == 1;
        std::vector<std::string> missing;
        for (std::size_t i = 0; i < params_.size(); ++i) {
            if (params_[i].keyword_only != keyword_only || set[i]) continue;
            if (params_[i].has_default) {
                values[i] = params_[i].default_value;
            } else {
                missing.push_back(params_[i].name);
            }
        }
        if (!missing.empty()) {
            raise(PyExc_TypeError, qualname_ + "() missing " + std::to_string(missing.size()) + " required " +
                                       (keyword_only ? "keyword-only" : "positional") + " argument" +
                                       plural(missing.size()) + ": " + quoted_list(missing));
        }
    }
    return Arguments(std::move(values));
}

std::string Signature::text(bool skip_first) const {
    std::string out = "(";
    bool star_written = false;
    for (std::size_t i = skip_first ? 1 : 0; i < params_.size(); ++i) {
        const auto& p = params_[i];
        if (out.size() > 1) out += ", ";
        if (p.keyword_only && !star_written) {
            out += "*, ";
            star_written = true;
        }
        out += p.name;
        if (p.has_default) {
            out += '=';
            out += default_text(p.default_value);
        }
    }
    return out + ")";
}

namespace {

// Every name has exactly one signature: a new definition replaces whatever
// the module or class (or a base class) had under that name, never overloads it.
py::cpp_function make_callable(Signature signature, Body body, const char* name, const char* doc, py::handle scope,
                               py::handle method_of) {
    // The docstring carries the signature in the interpreter's internal form
    // ("name(...)\n--\n\n"), so __doc__ is exactly `doc` and
    // inspect.signature() reports the real parameters.
    std::string full_doc = std::string(name) + signature.text() + "\n--\n\n" + doc;
    py::options options;
    options.disable_function_signatures();
    auto call = [signature = std::move(signature), body = std::move(body)](
                    py::args args, py::kwargs kwargs) -> py::object { return body(signature.bind(args, kwargs)); };
    // pybind11 keeps a pointer to the docstring; the string must outlive it.
    const char* stored_doc = (new std::string(std::move(full_doc)))->c_str();
    if (method_of) {
        return py::cpp_function(std::move(call), py::name(name), py::is_method(method_of), py::doc(stored_doc));
    }
    return py::cpp_function(std::move(call), py::name(name), py::scope(scope), py::doc(stored_doc));
}

}  // namespace

void def_function(py::module_& module, const char* name, std::vector<Param> params, const char* doc, Body body) {
    auto fn = make_callable(Signature(name, std::move(params)), std::move(body), name, doc, module, py::handle());
    module.add_object(name, fn, true);
}

namespace {

// A class made with `type(...)` whose constructor is a builtin: inspect finds
// no Python __init__ and reads the class's internal docstring instead, so
// that docstring gets the constructor's signature line, the form in which the
// interpreter's own extension types carry theirs. __doc__ (the class
// dictionary's) stays as it is.
void set_class_signature(const py::object& cls, const Signature& init) {
    auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
    if (!PyType_Check(cls.ptr()) || !(type->tp_flags & Py_TPFLAGS_HEAPTYPE)) {
        raise(PyExc_TypeError, "a constructor's signature can only be given to a heap type");
    }
    py::object doc = cls.attr("__doc__");
    const std::string internal = std::string(type->tp_name) + init.text(true) + "\n--\n\n" +
                                 (doc.is_none() ? std::string() : py::cast<std::string>(doc));
    // The interpreter frees a heap type's tp_doc with PyObject_Free.
    auto* copy = static_cast<char*>(PyObject_Malloc(internal.size() + 1));
    if (copy == nullptr) throw std::bad_alloc();
    std::memcpy(copy, internal.c_str(), internal.size() + 1);
    PyObject_Free(const_cast<char*>(type->tp_doc));
    type->tp_doc = copy;
    PyType_Modified(type);
}

}  // namespace

void def_method(py::object cls, const char* name, std::vector<Param> params, const char* doc, Body body) {
    std::string qualname = py::cast<std::string>(cls.attr("__qualname__")) + "." + name;
    if (std::string_view(name) == "__init__" || std::string_view(name) == "__setstate__") {
        // pybind11 would take these for constructors of its own classes.
        Signature signature(qualname, std::move(params));
        if (std::string_view(name) == "__init__") set_class_signature(cls, signature);
        std::string full_doc = std::string(name) + signature.text() + "\n--\n\n" + doc;
        auto call = [signature = std::move(signature), body = std::move(body)](
                        const py::args& args, const py::kwargs& kwargs) { return body(signature.bind(args, kwargs)); };
        py::setattr(cls, name, make_builtin_callable(name, full_doc, std::move(call), true));
        return;
    }
    auto fn = make_callable(Signature(qualname, std::move(params)), std::move(body), name, doc, cls, cls);
    py::setattr(cls, name, fn);
}

}  // namespace bvc::bind
