// Ctrl-C inside native loops. The interpreter only notices a signal when it
// runs Python code; a long loop in C++ (often without the GIL) would leave the
// user waiting for hours. Such loops report their progress to this Interrupt.
#pragma once

#include "core/interrupt.hpp"

namespace bvc::bind {

// Takes the GIL for a moment, lets the interpreter run its signal handlers,
// and throws error_already_set when one of them raised (KeyboardInterrupt for
// Ctrl-C). Usable with or without the GIL held.
void check_signals();

// An Interrupt whose every poll is check_signals().
bvc::Interrupt signal_interrupt();

}  // namespace bvc::bind
