// Settings of the workflow beyond its fixed ones: each is a keyword-only
// argument of MolecularDMRGWorkflow (appended after the fixed ones, stored as
// an attribute of the same name) and an option of the command line, and it
// reaches one stage as a keyword only when it differs from its default. A
// default run therefore makes exactly the fixed calls.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <vector>

#include "bind/conventions.hpp"

namespace bvc::workflow {

namespace py = pybind11;

// The keyword-only parameters of the opt-in settings, in table order.
std::vector<bvc::bind::Param> opt_in_params();

// The opt-in arguments of `a`, starting at position `first`, converted and
// checked in table order (TypeError naming the keyword for a wrong type,
// ValueError for a value outside the setting's choices).
std::vector<py::object> convert_opt_in_settings(const bvc::bind::Arguments& a, std::size_t first);

// Stores converted values on the workflow instance, in table order.
void store_opt_in_settings(const py::object& self, const std::vector<py::object>& values);

// The stage keywords of `stage` whose settings on `self` differ from their
// defaults, in table order; read from the instance at each call.
py::dict opt_in_stage_keywords(const py::object& self, std::size_t stage);

// The measurement stage's opt-in keywords, and with basis-rotation grouping
// its `integrals`, taken from the electronic-structure result `structure`.
py::dict measurement_keywords(const py::object& self, const py::object& structure);

// The measurement stage's `backend`: "mps" when the run holds its states as
// matrix product states, the workflow's `backend` setting otherwise.
py::object measurement_backend(const py::object& self);

// Adds the opt-in options to an argparse parser, after the fixed ones.
void add_opt_in_options(const py::object& parser);

// The workflow keywords of the opt-in options given on the command line
// (those that differ from their defaults), in table order.
py::dict opt_in_workflow_keywords(const py::object& options);

}  // namespace bvc::workflow
