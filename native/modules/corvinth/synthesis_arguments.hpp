// The checks and conversions of cvd_dmrg's arguments, each raising the
// message its argument is documented with.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "bind/arrays.hpp"
#include "bond_search.hpp"
#include "core/mps/mps.hpp"
#include "synthesis_run.hpp"

namespace bvc::corvinth {

namespace py = pybind11;

// `layers`, `maxiter`, `restarts`: an int (bool included) or NumPy integer, at least 1.
void require_positive_integer(py::handle value, const char* message);

// `layers` and `restarts` also count work done in turn: refused above the
// bound before anything is allocated or run for them.
std::int64_t positive_count(py::handle value, const char* message, const char* name);

// A float argument: numbers go through float(), anything else is refused
// with the argument's name.
double float_argument(py::handle value, const char* name);

// The qubit count for `psi0`: the given one, or log2 of its length rounded.
int resolve_qubit_count(const std::optional<py::int_>& given, const py::object& psi0, std::size_t& length);

// psi0 as a normalised, flat complex128 copy.
bvc::bind::ComplexArray normalised_state(const py::object& psi0, int n);

py::list resolve_renyi_indices(const py::object& given, std::int64_t layers, const py::object& module);

// `threads`: None for every core the process may use, else a positive integer.
std::uint64_t resolve_threads(const py::object& given);

GradientMode resolve_gradient(const py::str& given);

// type(value).__name__, as the circuit library names types in its messages.
std::string short_type_name(py::handle value);

// `state`: "dense" (the vector of 2^n amplitudes) or "mps".
bool resolve_mps_state(const py::str& given);

// ValueError unless the qubit count `n` of an MPS's native data agrees with
// the `n_qubits` the MPS reports and, for the DmrgResult `result` (None for
// a bare MPS), with its `n_qubits` and the length of its `psi0` where they
// exist.
void check_reported_qubits(const py::object& mps, const py::object& result, int n);

// `max_bond` and `cutoff` of the MPS path, checked by the circuit library's
// own rules; None keeps every Schmidt value above rounding, up to kMaxBond.
bvc::mps::Truncation resolve_truncation(const py::object& max_bond, const py::object& cutoff);

// `target_overlap` (None or a float in (0, 1]), `max_cnots` (None or a
// positive integer) and `refine_seconds` (None or a positive float, only with
// one of the others) into `s`; either of the first two also sets s.compact.
void resolve_quality_goal(const py::object& target_overlap, const py::object& max_cnots,
                          const py::object& refine_seconds, Settings& s);

}  // namespace bvc::corvinth
