// The lines the synthesis prints: its header and the metrics line per layer
// and after a refinement.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <string>

namespace bvc::corvinth {

// Prints one metrics line of the synthesis: `head` (two blanks, the label
// and its padding), then ": |<psi_DMRG|psi_circuit>|=" with the overlap to
// 12 decimals and ", energy=" with the energy to 12 decimals and " Hartree",
// or "N/A" without an energy.
void print_metrics_line(const std::string& head, double overlap_mod, const std::optional<double>& energy);

// One line on standard output, flushed.
void print_line(const std::string& text);

// The metrics line of layer `layer`, its number left-aligned in two columns.
void print_layer_metrics(const pybind11::int_& layer, double overlap_mod, const std::optional<double>& energy);

}  // namespace bvc::corvinth
