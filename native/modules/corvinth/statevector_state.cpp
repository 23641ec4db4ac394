// The synthesis on a state vector of 2^n amplitudes: the default path.
#include "statevector_state.hpp"

#include <pybind11/numpy.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "bind/conventions.hpp"
#include "core/synthesis/gates.hpp"
#include "refine.hpp"
#include "snapshot.hpp"

namespace bvc::corvinth {

using namespace bvc::bind;
using namespace pybind11::literals;

DenseSynthesisState::DenseSynthesisState(ComplexArray psi0, int n_qubits, py::object module, double schmidt_cutoff)
    : psi0_(std::move(psi0)),
      disentangled_(as_complex_array(py::module_::import("numpy").attr("array")(psi0_))),
      n_(n_qubits),
      module_(std::move(module)),
      schmidt_cutoff_(schmidt_cutoff) {}

ObjectiveFactory DenseSynthesisState::objectives() {
    // Every bond of the group is scored against the same input: the array
    // stays as it is until apply_group replaces it.
    return [state = disentangled_.data(), n = n_, cutoff = schmidt_cutoff_](int q0, double alpha) {
        return std::make_shared<const synthesis::DisentanglerObjective>(state, n, q0, alpha, cutoff);
    };
}

void DenseSynthesisState::apply_group(const std::vector<int>& bonds, const std::vector<EntanglerParams>& params) {
    for (std::size_t b = 0; b < bonds.size(); ++b) {
        auto out = new_array<cplx>({static_cast<py::ssize_t>(std::size_t{1} << n_)});
        const bvc::sv::Mat4 u = synthesis::entangler_matrix(params[b].data());
        {
            py::gil_scoped_release release;
            synthesis::apply_two_qubit_unitary(disentangled_.data(), out.mutable_data(), bonds[b], bonds[b] + 1, n_, u);
        }
        disentangled_ = as_complex_array(out);
    }
}

py::tuple DenseSynthesisState::snapshot(const py::list& gate_rows, const py::object& pauli_terms, bool compact) {
    py::object snapshot = module_.attr("_reverse_preparation_snapshot");
    if (compact) return snapshot(psi0_, disentangled_, py::int_(n_), gate_rows, pauli_terms, "compact"_a = true);
    return snapshot(psi0_, disentangled_, py::int_(n_), gate_rows, pauli_terms);
}

py::tuple DenseSynthesisState::refine(const py::list& gate_rows, const py::object& pauli_terms, bool compact,
                                      const py::tuple& unrefined) {
    return bvc::corvinth::refine_reverse_preparation(module_, psi0_, disentangled_, py::int_(n_), gate_rows,
                                                     pauli_terms, compact, unrefined);
}

bvc::corvinth::RefineProblem DenseSynthesisState::refine_problem(const py::list& gate_rows,
                                                                 const py::object& pauli_terms, bool compact,
                                                                 unsigned threads, bool) {
    bvc::corvinth::RefineProblem problem =
        bvc::corvinth::reverse_preparation_problem(psi0_, disentangled_, n_, gate_rows, threads);
    problem.score = [module = module_, psi0 = psi0_, n = n_, pauli_terms, compact](
                        const bvc::corvinth::Rotations& rotations, const py::object& rows) {
        return bvc::corvinth::score_reverse_preparation(module, psi0, py::int_(n), rotations, rows, pauli_terms,
                                                        compact);
    };
    return problem;
}

void DenseSynthesisState::restart(const py::list& gate_rows) {
    const RealArray rows = as_real_array(as_real_array(gate_rows).attr("reshape")(-1, synthesis::kGateRowWidth));
    auto state = new_array<cplx>({static_cast<py::ssize_t>(std::size_t{1} << n_)});
    cplx* out = state.mutable_data();
    const cplx* psi0 = psi0_.data();
    const double* first_row = rows.data();
    const py::ssize_t count = rows.shape(0);
    {
        py::gil_scoped_release release;
        std::vector<cplx> scratch(std::size_t{1} << n_);
        std::copy_n(psi0, scratch.size(), out);
        for (py::ssize_t k = 0; k < count; ++k) {
            const double* row = first_row + k * synthesis::kGateRowWidth;
            synthesis::apply_two_qubit_unitary(out, scratch.data(), static_cast<int>(row[0]), static_cast<int>(row[1]),
                                               n_, synthesis::entangler_matrix(row + 2));
            std::copy(scratch.begin(), scratch.end(), out);
        }
    }
    disentangled_ = as_complex_array(state);
}

}  // namespace bvc::corvinth
