// The compact reverse preparation written onto a caller's circuit.
#include "compact_emission.hpp"

#include <cmath>

#include "bind/conventions.hpp"
#include "core/synthesis/compact_circuit.hpp"
#include "core/synthesis/gates.hpp"

namespace bvc::corvinth {

using namespace bvc::bind;
using bvc::circuit::Gate;

namespace {

// int() of a qubit column: truncation; NaN and infinities are refused.
int qubit_column(double value, int n_qubits) {
    if (!std::isfinite(value) || std::trunc(value) < 0.0 || std::trunc(value) >= n_qubits) return -1;
    return static_cast<int>(value);
}

}  // namespace

void emit_compact_reverse_preparation(py::handle circuit, int n_qubits,
                                      const std::vector<std::array<double, 3>>& rotations, const RealArray& rows) {
    if (rotations.size() != static_cast<std::size_t>(n_qubits)) {
        raise(PyExc_AssertionError, "one rotation per qubit is required");
    }
    const std::size_t count = static_cast<std::size_t>(rows.shape(0));
    for (std::size_t k = 0; k < count; ++k) {
        const double* row = rows.data() + k * bvc::synthesis::kGateRowWidth;
        const int q0 = qubit_column(row[0], n_qubits), q1 = qubit_column(row[1], n_qubits);
        if (q0 < 0 || q1 < 0 || q0 >= q1)
            raise(PyExc_ValueError, "two-qubit sites must satisfy 0 <= q0 < q1 < n_qubits");
    }
    std::vector<double> flat_rotations;
    for (const auto& v : rotations) flat_rotations.insert(flat_rotations.end(), v.begin(), v.end());
    std::vector<bvc::circuit::Operation> ops;
    {
        py::gil_scoped_release release;
        ops = bvc::synthesis::compact_reverse_preparation(n_qubits, flat_rotations.data(), rows.data(), count);
    }
    const py::object rx = circuit.attr("rx"), ry = circuit.attr("ry"), rz = circuit.attr("rz"), cx = circuit.attr("cx");
    for (const auto& op : ops) {
        switch (op.gate) {
            case Gate::RX: rx(py::float_(op.angle), py::int_(op.q0)); break;
            case Gate::RY: ry(py::float_(op.angle), py::int_(op.q0)); break;
            case Gate::RZ: rz(py::float_(op.angle), py::int_(op.q0)); break;
            case Gate::CX: cx(py::int_(op.q0), py::int_(op.q1)); break;
            default: raise(PyExc_AssertionError, "compact emission produced an unexpected gate");
        }
    }
}

}  // namespace bvc::corvinth
