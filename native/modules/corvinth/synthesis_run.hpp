// The layer loop of the synthesis: the header, each layer's brick groups of
// bond searches, the gates applied to the state, the snapshot printed after
// every layer, the optional refinement and the CvdResult.
#pragma once

#include <pybind11/pybind11.h>

#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "bond_search.hpp"
#include "synthesis_state.hpp"

namespace bvc::corvinth {

namespace py = pybind11;

// The Schmidt cutoff of the quality-driven run's layer fits, as a fraction
// of the largest Schmidt value. The tail below it weighs less than 1e-8 in
// probability but is much of the dimension of a bond's eigenvalue problem:
// on the H2O preset, of the 128 eigenvalues of the widest bonds 53 are above
// 1e-8 of the largest. Measured on the H2O preset at 273 CNOTs and the H8
// chain at 360 (whole runs):
//
//   cutoff  H2O overlap, mHa, s     H8 overlap, s
//   none    0.999863  0.60  16.3    0.994480  166
//   1e-5    0.999851  0.68  14.8    0.993913  167
//   1e-4    0.999801  0.91  12.4    0.995593  160
//   3e-4    0.999815  0.86  11.6    0.993888  162
//   1e-3    0.999792  1.02  11.0    0.993176  146
//
// How far the last refinement gets swings with the fits it starts from, by
// a few 1e-4 on H8; 1e-4 measured best there and keeps H2O within 1 mHa.
inline constexpr double kQualitySchmidtCutoff = 1e-4;

struct Settings {
    std::int64_t layers = 0;
    py::list renyi_indices;
    // As the caller gave it, for the header (an int, a bool or a NumPy integer).
    py::object restarts_given;
    py::object pauli_terms;
    bool compact = false;
    bool refine = false;
    SearchSettings search;
    // A quality-driven run when either is set: layers (up to `layers`) are
    // added until the overlap reaches `target_overlap`, or as long as the
    // circuit stays within `max_cnots` CNOTs, each followed by a refinement
    // of the whole circuit that runs until it converges or
    // `refine_seconds` (the whole run's refinements together) are spent.
    std::optional<double> target_overlap;
    std::optional<std::int64_t> max_cnots;
    std::optional<double> refine_seconds;
    bool quality_driven() const { return target_overlap.has_value() || max_cnots.has_value(); }
    // Schmidt values of the cuts beside a bond at or below this fraction of
    // the largest are left out of its objective (0: only those at rounding
    // level).
    double schmidt_cutoff() const { return quality_driven() ? kQualitySchmidtCutoff : 0.0; }
    // corvinth itself.
    py::object module;
};

py::object run_cvd(SynthesisState& state, Settings& s);

// The quality-driven run (Settings::quality_driven).
py::object run_quality_cvd(SynthesisState& state, Settings& s);

// The state of `amplitudes` (normalised) in a form that does not depend on
// its global phase or on its last bits: turned so that the sum of psi_i
// |psi_i|^2 is real and positive (a phase that moves by rounding when the
// amplitudes do), then every part rounded to a multiple of 2^-36 and the
// whole normalised again. States that differ by a global phase or at
// rounding level then almost always become the same bits, so that the
// optimisations after them take the same path; the state moves by at most
// about 1e-11 per amplitude. Unchanged when that sum vanishes.
void canonicalise_state(std::complex<double>* amplitudes, std::size_t size);

// Shared by both runs.
py::int_ cnot_count(const py::object& circuit);

// What every layer's snapshot scored, for the record.
struct LayerHistory {
    py::list overlaps, energies, cnot_counts;
    void record(const py::object& circuit, const py::object& overlap, const py::object& energy);
};

// Prints the two header lines; returns the bounds of the overlap estimates
// (empty when the overlaps are exact).
std::string print_header(const SynthesisState& state, const Settings& s);

// Fits layer `layer_index` to the current state: its even bonds, then its
// odd ones, at most `most_bonds` of them in that order; the gates are applied
// to the state and appended to `gate_rows`.
void fit_layer(SynthesisState& state, BondSearch& bond_search, const Settings& s, std::int64_t layer_index,
               std::size_t most_bonds, py::list& gate_rows);

// The CvdResult of a run of `layers_run` layers; `appended` are the fields
// after the ones every run fills.
py::object cvd_result(const SynthesisState& state, const Settings& s, std::int64_t layers_run,
                      const py::list& gate_rows, const py::object& circuit, const py::object& overlap,
                      const py::object& energy, const LayerHistory& history, const std::string& estimate_bounds,
                      const py::dict& appended = py::dict());

}  // namespace bvc::corvinth
