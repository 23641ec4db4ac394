// brimvale._native: the state-vector simulator behind brimvale.Circuit.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"
#include "bind/signals.hpp"
#include "core/circuit.hpp"

namespace py = pybind11;
using namespace bvc::bind;

namespace {

py::object simulate(const Arguments& a) {
    // Judged as 64-bit values before anything is narrowed: 2**32 + 3 qubits
    // or a gate code of 2**32 must not wrap around to a valid one.
    const std::int64_t n_qubits = to_int64(a[0], "n_qubits");
    const IndexArray codes = as_index_array(a[1], "codes");
    const IndexArray qubits = as_index_array(a[2], "qubits");
    auto angles = as_real_array(a[3]);
    const auto count = static_cast<std::size_t>(codes.size());
    if (n_qubits < 1 || n_qubits > 30) raise(PyExc_ValueError, "n_qubits must be between 1 and 30");
    if (codes.ndim() != 1 || qubits.ndim() != 2 || qubits.shape(1) != 2 ||
        static_cast<std::size_t>(qubits.shape(0)) != count || static_cast<std::size_t>(angles.size()) != count) {
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
        ops[k] = {static_cast<bvc::circuit::Gate>(c(k)), static_cast<int>(q(k, 0)), static_cast<int>(q(k, 1)),
                  theta[k]};
    }
    auto state = new_array<cplx>({py::ssize_t{1} << n_qubits});
    {
        py::gil_scoped_release release;
        bvc::circuit::simulate(ops, static_cast<int>(n_qubits), state.mutable_data(), signal_interrupt());
    }
    return std::move(state);
}

}  // namespace

PYBIND11_MODULE(_native, m) {
    m.doc() = "State-vector simulator of the brimvale circuit library.";
    def_function(m, "simulate", {arg("n_qubits"), arg("codes"), arg("qubits"), arg("angles")},
                 "Run a gate list from |0...0> and return the state (complex128).", simulate);
}
