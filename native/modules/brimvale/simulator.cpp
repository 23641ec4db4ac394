// brimvale._native: the state-vector simulator behind brimvale.Circuit, and
// (mps_binding) the matrix product states behind brimvale.MPS.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"
#include "bind/lapack_loader.hpp"
#include "bind/signals.hpp"
#include "core/runtime/defaults.hpp"
#include "core/statevector/circuit.hpp"
#include "gate_list.hpp"
#include "mps_binding.hpp"

namespace py = pybind11;
using namespace bvc::bind;

namespace {

py::object simulate(const Arguments& a) {
    // Judged as a 64-bit value before anything is narrowed: 2**32 + 3 qubits
    // must not wrap around to a valid count.
    const std::int64_t n_qubits = to_int64(a[0], "n_qubits");
    const std::vector<bvc::circuit::Operation> ops = bvc::brimvale::read_gate_list(a[1], a[2], a[3]);
    if (n_qubits < 1 || n_qubits > bvc::defaults::kMaxDenseQubits) {
        raise(PyExc_ValueError, "n_qubits must be between 1 and " + std::to_string(bvc::defaults::kMaxDenseQubits));
    }
    bvc::brimvale::check_gate_qubits(ops, n_qubits);
    auto state = new_array<cplx>({py::ssize_t{1} << n_qubits});
    {
        py::gil_scoped_release release;
        bvc::circuit::simulate(ops, static_cast<int>(n_qubits), state.mutable_data(), signal_interrupt());
    }
    return state;
}

}  // namespace

PYBIND11_MODULE(_native, m) {
    m.doc() = "State-vector and matrix-product-state simulators of the brimvale circuit library.";
    load_lapack();
    def_function(m, "simulate", {arg("n_qubits"), arg("codes"), arg("qubits"), arg("angles")},
                 "Run a gate list from |0...0> and return the state (complex128).", simulate);
    bvc::brimvale::register_mps(m);
}
