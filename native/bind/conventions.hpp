// Argument conventions shared by every extension module of the package.
//
// Each Python-callable function is registered with `def_function` (or
// `def_method`) and a parameter list (bind/signature). Inside the body, typed
// arguments are converted with `to_int`, `to_int64`, `to_float` and
// `require_str` (bind/typed_arguments), which raise the package's fixed
// messages (bind/errors); values are judged with the predicates of
// bind/predicates and iterables read with bind/iterables.
#pragma once

#include "bind/errors.hpp"
#include "bind/iterables.hpp"
#include "bind/predicates.hpp"
#include "bind/signature.hpp"
#include "bind/typed_arguments.hpp"
