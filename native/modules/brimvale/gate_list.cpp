#include "gate_list.hpp"

#include <pybind11/numpy.h>

#include <cstdint>
#include <string>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"

namespace brimvale {

using namespace bvc::bind;

std::vector<bvc::circuit::Operation> read_gate_list(int n_qubits, py::handle codes_arg, py::handle qubits_arg,
                                                    py::handle angles_arg) {
    auto codes = py::array_t<std::int32_t, py::array::c_style | py::array::forcecast>::ensure(codes_arg);
    auto qubits = py::array_t<std::int32_t, py::array::c_style | py::array::forcecast>::ensure(qubits_arg);
    auto angles = as_real_array(angles_arg);
    if (!codes || !qubits) throw py::error_already_set();
    const auto count = static_cast<std::size_t>(codes.size());
    if (qubits.ndim() != 2 || qubits.shape(1) != 2 || static_cast<std::size_t>(qubits.shape(0)) != count ||
        static_cast<std::size_t>(angles.size()) != count) {
        raise(PyExc_ValueError, "gate arrays must have matching lengths");
    }
    std::vector<bvc::circuit::Operation> ops(count);
    auto c = codes.unchecked<1>();
    auto q = qubits.unchecked<2>();
    const double* theta = angles.data();
    for (std::size_t k = 0; k < count; ++k) {
        const bool two = c(k) >= static_cast<int>(bvc::circuit::Gate::CX);
        if (c(k) < 0 || c(k) > static_cast<int>(bvc::circuit::Gate::SWAP) || q(k, 0) < 0 || q(k, 0) >= n_qubits ||
            (two && (q(k, 1) < 0 || q(k, 1) >= n_qubits || q(k, 1) == q(k, 0)))) {
            raise(PyExc_ValueError, "invalid gate at position " + std::to_string(k));
        }
        ops[k] = {static_cast<bvc::circuit::Gate>(c(k)), q(k, 0), q(k, 1), theta[k]};
    }
    return ops;
}

}  // namespace brimvale
