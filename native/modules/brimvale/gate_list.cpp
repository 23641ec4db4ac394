// Reading a Circuit's gate arrays into checked operations for the simulators.
#include "gate_list.hpp"

#include <pybind11/numpy.h>

#include <string>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"

namespace bvc::brimvale {

using namespace bvc::bind;
using bvc::circuit::Gate;

namespace {

[[noreturn]] void invalid_gate(std::size_t k) {
    raise(PyExc_ValueError, "invalid gate at position " + std::to_string(k));
}

}  // namespace

std::vector<bvc::circuit::Operation> read_gate_list(py::handle codes_arg, py::handle qubits_arg,
                                                    py::handle angles_arg) {
    // Judged as 64-bit values before anything is narrowed: a gate code or a
    // qubit of 2**32 must not wrap around to a valid one.
    const IndexArray codes = as_index_array(codes_arg, "codes");
    const IndexArray qubits = as_index_array(qubits_arg, "qubits");
    auto angles = as_real_array(angles_arg);
    const auto count = static_cast<std::size_t>(codes.size());
    if (codes.ndim() != 1 || qubits.ndim() != 2 || qubits.shape(1) != 2 ||
        static_cast<std::size_t>(qubits.shape(0)) != count || static_cast<std::size_t>(angles.size()) != count) {
        raise(PyExc_ValueError, "gate arrays must have matching lengths");
    }
    std::vector<bvc::circuit::Operation> ops(count);
    auto c = codes.unchecked<1>();
    auto q = qubits.unchecked<2>();
    const double* theta = angles.data();
    constexpr std::int64_t kMaxQubit = 1 << 30;
    for (std::size_t k = 0; k < count; ++k) {
        const bool two = c(k) >= static_cast<int>(Gate::CX);
        if (c(k) < 0 || c(k) > static_cast<int>(Gate::SWAP) || q(k, 0) < 0 || q(k, 0) >= kMaxQubit ||
            (two && (q(k, 1) < 0 || q(k, 1) >= kMaxQubit || q(k, 1) == q(k, 0)))) {
            invalid_gate(k);
        }
        ops[k] = {static_cast<Gate>(c(k)), static_cast<int>(q(k, 0)), two ? static_cast<int>(q(k, 1)) : -1, theta[k]};
    }
    return ops;
}

void check_gate_qubits(const std::vector<bvc::circuit::Operation>& ops, std::int64_t n_qubits) {
    for (std::size_t k = 0; k < ops.size(); ++k) {
        if (ops[k].q0 >= n_qubits || ops[k].q1 >= n_qubits) invalid_gate(k);
    }
}

}  // namespace bvc::brimvale
