// brimvale._native: the state-vector simulator behind brimvale.Circuit.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"
#include "bind/lapack_loader.hpp"
#include "core/circuit.hpp"
#include "gate_list.hpp"
#include "mps_binding.hpp"

namespace py = pybind11;
using namespace bvc::bind;

namespace {

py::object simulate(const Arguments& a) {
    const auto n_qubits = static_cast<int>(to_int64(a[0], "n_qubits"));
    if (n_qubits < 1 || n_qubits > 30) raise(PyExc_ValueError, "n_qubits must be between 1 and 30");
    const std::vector<bvc::circuit::Operation> ops = brimvale::read_gate_list(n_qubits, a[1], a[2], a[3]);
    auto state = new_array<cplx>({py::ssize_t{1} << n_qubits});
    {
        py::gil_scoped_release release;
        bvc::circuit::simulate(ops, n_qubits, state.mutable_data());
    }
    return std::move(state);
}

}  // namespace

PYBIND11_MODULE(_native, m) {
    m.doc() = "State-vector and matrix-product-state simulators of the brimvale circuit library.";
    load_lapack();
    def_function(m, "simulate", {arg("n_qubits"), arg("codes"), arg("qubits"), arg("angles")},
                 "Run a gate list from |0...0> and return the state (complex128).", simulate);
    brimvale::register_mps(m);
}
