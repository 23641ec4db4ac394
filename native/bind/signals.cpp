// Ctrl-C during long native loops: the interrupt hook that runs Python's signal handlers.
#include "bind/signals.hpp"

#include <pybind11/pybind11.h>

#include <atomic>

namespace bvc::bind {

namespace py = pybind11;

namespace {

// A Ctrl-C seen by a latch's handler that no poll has answered yet.
std::atomic<bool> pending_sigint{false};

}  // namespace

void check_signals() {
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) {
        pending_sigint = false;
        throw py::error_already_set();
    }
    if (pending_sigint.exchange(false)) {
        PyErr_SetNone(PyExc_KeyboardInterrupt);
        throw py::error_already_set();
    }
}

SigintLatch::SigintLatch() {
    py::module_ threading = py::module_::import("threading");
    if (!threading.attr("current_thread")().is(threading.attr("main_thread")())) return;
    signal_ = py::module_::import("signal");
    sigint_ = signal_.attr("SIGINT");
    py::object handler = signal_.attr("getsignal")(sigint_);
    if (!handler.is(signal_.attr("default_int_handler"))) return;
    previous_ = handler;
    pending_sigint = false;
    wrapper_ = py::cpp_function([handler](py::object signum, py::object frame) {
        pending_sigint = true;
        return handler(signum, frame);
    });
    signal_.attr("signal")(sigint_, wrapper_);
}

SigintLatch::~SigintLatch() {
    if (!previous_) return;
    // Answered or carried out by a KeyboardInterrupt by now; it must not
    // stop a later call.
    pending_sigint = false;
    // Put back unless someone replaced the wrapper meanwhile; an error here
    // (a KeyboardInterrupt arriving now) must not escape a destructor.
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* trace = nullptr;
    PyErr_Fetch(&type, &value, &trace);
    PyObject* current = PyObject_CallMethod(signal_.ptr(), "getsignal", "O", sigint_.ptr());
    if (current != nullptr && current == wrapper_.ptr()) {
        PyObject* restored = PyObject_CallMethod(signal_.ptr(), "signal", "OO", sigint_.ptr(), previous_.ptr());
        Py_XDECREF(restored);
    }
    Py_XDECREF(current);
    PyErr_Clear();
    PyErr_Restore(type, value, trace);
}

bvc::Interrupt signal_interrupt() { return bvc::Interrupt(check_signals); }

}  // namespace bvc::bind
