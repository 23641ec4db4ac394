// Binding of the measurement sampler: basis rotation and outcome drawing of
// native/core/statevector/sampling.hpp, on a copy of the caller's state.
#include "sampling_binding.hpp"

#include <pybind11/numpy.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"
#include "bind/signals.hpp"
#include "core/statevector/sampling.hpp"

namespace py = pybind11;
using namespace bvc::bind;

namespace {

std::uint64_t to_uint64(py::handle value, const char* name) {
    py::int_ converted = to_int(value, name);
    const unsigned long long out = PyLong_AsUnsignedLongLong(converted.ptr());
    if (out == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        PyErr_Clear();
        raise(PyExc_ValueError, std::string(name) + " must be an integer between 0 and 2**64 - 1");
    }
    return static_cast<std::uint64_t>(out);
}

template <class T>
py::array_t<T> to_numpy(const std::vector<std::uint64_t>& values) {
    auto out = new_array<T>({static_cast<py::ssize_t>(values.size())});
    T* data = out.mutable_data();
    for (std::size_t i = 0; i < values.size(); ++i) data[i] = static_cast<T>(values[i]);
    return out;
}

py::object sample_outcomes(const Arguments& a) {
    auto state = as_complex_array(a[0]);
    const std::int64_t n_qubits = to_int64(a[1], "n_qubits");
    const std::int64_t shots = to_int64(a[2], "shots");
    const std::uint64_t seed = to_uint64(a[3], "seed");
    const std::uint64_t x_mask = to_uint64(a[4], "x_mask");
    const std::uint64_t y_mask = to_uint64(a[5], "y_mask");

    if (n_qubits < 0 || n_qubits > 62) raise(PyExc_ValueError, "n_qubits must be between 0 and 62");
    const std::uint64_t size = std::uint64_t{1} << n_qubits;
    if (state.ndim() != 1 || static_cast<std::uint64_t>(state.size()) != size) {
        raise(PyExc_ValueError, "state must hold exactly 2**n_qubits = " + std::to_string(size) +
                                    " amplitudes, got shape " + py::cast<std::string>(py::str(state.attr("shape"))));
    }
    if (shots < 0) raise(PyExc_ValueError, "shots must be non-negative, got " + std::to_string(shots));
    if (((x_mask | y_mask) >> n_qubits) != 0) {
        raise(PyExc_ValueError, "x_mask and y_mask must only mark qubits below n_qubits = " + std::to_string(n_qubits));
    }
    if ((x_mask & y_mask) != 0) raise(PyExc_ValueError, "x_mask and y_mask must not mark the same qubit");

    bvc::sampling::Histogram histogram;
    std::string failure;
    {
        py::gil_scoped_release release;
        try {
            if (x_mask == 0 && y_mask == 0) {
                histogram = bvc::sampling::sample_outcomes(state.data(), static_cast<int>(n_qubits),
                                                           static_cast<std::uint64_t>(shots), seed, signal_interrupt());
            } else {
                // The caller's array is only read: rotate a private copy.
                std::vector<bvc::sv::cplx> rotated(state.data(), state.data() + size);
                bvc::sampling::rotate_to_pauli_basis(rotated.data(), static_cast<int>(n_qubits), x_mask, y_mask);
                histogram = bvc::sampling::sample_outcomes(rotated.data(), static_cast<int>(n_qubits),
                                                           static_cast<std::uint64_t>(shots), seed, signal_interrupt());
            }
        } catch (const std::invalid_argument& error) {
            failure = error.what();
        }
    }
    if (!failure.empty()) raise(PyExc_ValueError, failure);
    return py::make_tuple(to_numpy<std::uint64_t>(histogram.outcomes), to_numpy<std::int64_t>(histogram.counts));
}

}  // namespace

void register_sampling(py::module_& m) {
    def_function(m, "sample_outcomes",
                 {arg("state"), arg("n_qubits"), arg("shots"), arg("seed"), kwonly("x_mask", py::int_(0)),
                  kwonly("y_mask", py::int_(0))},
                 "Draw `shots` computational-basis outcomes of `state` after turning the qubits of `x_mask` from "
                 "the X basis and those of `y_mask` from the Y basis into the Z basis (H, resp. S-dagger then H).\n\n"
                 "Returns (outcomes, counts): the distinct basis indices drawn, ascending (uint64), and how often "
                 "each was drawn (int64). The same seed (0 <= seed < 2**64) gives the same draws on every run; "
                 "the state itself is not modified.",
                 sample_outcomes);
}
