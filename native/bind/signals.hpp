// Ctrl-C inside native loops. The interpreter only notices a signal when it
// runs Python code; a long loop in C++ (often without the GIL) would leave the
// user waiting for hours. Such loops report their progress to this Interrupt.
#pragma once

#include <pybind11/pybind11.h>

#include "core/runtime/interrupt.hpp"

namespace bvc::bind {

namespace py = pybind11;

// Takes the GIL for a moment, lets the interpreter run its signal handlers,
// and throws error_already_set when one of them raised (KeyboardInterrupt for
// Ctrl-C). Usable with or without the GIL held.
void check_signals();

// An Interrupt whose every poll is check_signals().
bvc::Interrupt signal_interrupt();

// While alive, on the main thread and with Python's own SIGINT handler in
// place, wraps that handler so that every Ctrl-C is remembered; then
// check_signals() raises KeyboardInterrupt for a remembered one even when
// the interpreter raised it somewhere that discards exceptions (a finalizer
// run by the garbage collector, say) and the caller never saw it. A custom
// handler of the user's is left alone.
class SigintLatch {
public:
    SigintLatch();
    ~SigintLatch();
    SigintLatch(const SigintLatch&) = delete;
    SigintLatch& operator=(const SigintLatch&) = delete;

private:
    py::object signal_;
    py::object sigint_;
    py::object previous_;
    py::object wrapper_;
};

}  // namespace bvc::bind
