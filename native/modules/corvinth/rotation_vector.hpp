// The rotation-vector argument of the gate functions.
#pragma once

#include "bind/arrays.hpp"

namespace bvc::corvinth {

// The three components of a rotation vector with norm at least the floor,
// as the three-way unpacking of `v / |v|` would see them: a scalar cannot be
// unpacked (TypeError), a first axis of another length gives the
// interpreter's unpacking ValueError, and more than one axis is refused.
// Returns false (components untouched) when the norm is below the floor.
bool rotation_components(const bvc::bind::RealArray& v, double components[3]);

}  // namespace bvc::corvinth
