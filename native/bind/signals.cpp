#include "bind/signals.hpp"

#include <pybind11/pybind11.h>

namespace bvc::bind {

namespace py = pybind11;

void check_signals() {
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

bvc::Interrupt signal_interrupt() { return bvc::Interrupt(check_signals); }

}  // namespace bvc::bind
