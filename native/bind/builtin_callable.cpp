// Builtin function objects over C++ callables, for methods pybind11 cannot bind on `type(...)` classes.
#include "bind/builtin_callable.hpp"

#include <new>

namespace bvc::bind {

namespace {

constexpr const char* kCapsuleName = "bvc.builtin_callable";

// Owns the method table entry the function object points at; it lives as
// long as the function, through the capsule that is the function's `self`.
struct CallableRecord {
    std::string name;
    std::string doc;
    RawCall call;
    PyMethodDef def{};
};

PyObject* trampoline(PyObject* capsule, PyObject* args, PyObject* kwargs) {
    auto* record = static_cast<CallableRecord*>(PyCapsule_GetPointer(capsule, kCapsuleName));
    if (record == nullptr) return nullptr;
    try {
        auto positional = py::reinterpret_borrow<py::args>(args);
        auto keywords = kwargs != nullptr ? py::reinterpret_borrow<py::kwargs>(kwargs) : py::kwargs();
        return record->call(positional, keywords).release().ptr();
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (py::builtin_exception& e) {
        e.set_error();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
    return nullptr;
}

void destroy_record(PyObject* capsule) {
    delete static_cast<CallableRecord*>(PyCapsule_GetPointer(capsule, kCapsuleName));
}

}  // namespace

py::object make_builtin_callable(const std::string& name, const std::string& doc, RawCall call, bool method) {
    auto* record = new CallableRecord{name, doc, std::move(call)};
    record->def.ml_name = record->name.c_str();
    record->def.ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&trampoline));
    record->def.ml_flags = METH_VARARGS | METH_KEYWORDS;
    record->def.ml_doc = record->doc.c_str();

    PyObject* capsule = PyCapsule_New(record, kCapsuleName, &destroy_record);
    if (capsule == nullptr) {
        delete record;
        throw py::error_already_set();
    }
    auto owner = py::reinterpret_steal<py::object>(capsule);
    auto function = py::reinterpret_steal<py::object>(PyCFunction_NewEx(&record->def, owner.ptr(), nullptr));
    if (!function) throw py::error_already_set();
    if (!method) return function;
    auto bound = py::reinterpret_steal<py::object>(PyInstanceMethod_New(function.ptr()));
    if (!bound) throw py::error_already_set();
    return bound;
}

}  // namespace bvc::bind
