// The rotation-vector argument of the gate functions.
#pragma once

#include "bind/arrays.hpp"

namespace bvc::corvinth {

// The three components of a rotation vector with norm at least the floor.
// A wrong shape gets the error callers have always seen for it: TypeError
// for a scalar, the interpreter's unpacking ValueError for a first axis of
// another length; more than one axis is refused.
// Returns false (components untouched) when the norm is below the floor.
bool rotation_components(const bvc::bind::RealArray& v, double components[3]);

}  // namespace bvc::corvinth
