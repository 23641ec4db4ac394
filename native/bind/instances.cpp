// Finding the C++ object behind `self`, refusing a first argument of another type.
#include "bind/instances.hpp"

#include "bind/conventions.hpp"

namespace bvc::bind::detail {

void* constructed_value(py::handle self, const std::type_info& type, const char* method) {
    const py::detail::type_info* info = py::detail::get_type_info(type);
    if (info == nullptr) raise(PyExc_TypeError, std::string("type ") + type.name() + " is not bound");
    const auto name = py::cast<std::string>(py::handle(reinterpret_cast<PyObject*>(info->type)).attr("__name__"));
    if (!PyObject_TypeCheck(self.ptr(), info->type)) {
        // The interpreter's wording for a method descriptor given a foreign object.
        PyErr_Format(PyExc_TypeError, "descriptor '%s' for '%s' objects doesn't apply to a '%.200s' object", method,
                     name.c_str(), Py_TYPE(self.ptr())->tp_name);
        throw py::error_already_set();
    }
    auto* instance = reinterpret_cast<py::detail::instance*>(self.ptr());
    py::detail::value_and_holder holder = instance->get_value_and_holder(info, false);
    if (!holder || !holder.holder_constructed() || holder.value_ptr() == nullptr) {
        raise(PyExc_TypeError, "'" + name + "' object is not initialised: it was made without its constructor");
    }
    return holder.value_ptr();
}

}  // namespace bvc::bind::detail
