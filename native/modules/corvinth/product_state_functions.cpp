// The product-state approximation that starts every synthesis, bound for callers and tests
// (_product_state_approximation, _product_factor_rotation).
#include "product_state_functions.hpp"
#include "numpy_interop.hpp"

#include <pybind11/numpy.h>

#include <algorithm>
#include <cstring>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"
#include "core/synthesis/product_state.hpp"
#include "kernels.hpp"

namespace bvc::corvinth {

using namespace bvc::bind;

namespace {

py::array_t<cplx> to_array(const std::vector<cplx>& values) {
    auto out = new_array<cplx>({static_cast<py::ssize_t>(values.size())});
    std::memcpy(out.mutable_data(), values.data(), sizeof(cplx) * values.size());
    return out;
}

}  // namespace

py::tuple product_state_approximation(py::handle state, const py::int_& n_qubits) {
    const ComplexArray psi = as_complex_array(state);
    const py::array flat = psi.attr("reshape")(-1);
    long long n = PyLong_AsLongLong(n_qubits.ptr());
    if (n == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        n = less(n_qubits, py::int_(0)) ? 0 : 65;
    }
    // Every step halves the remainder; an odd one cannot be split into two
    // rows. A state of 2^62 amplitudes becomes odd within 62 halvings, so
    // capping the count keeps absurd qubit numbers cheap.
    py::ssize_t length = flat.size();
    if (length > 0) {
        for (long long step = 0; step + 1 < std::min(n, 65LL); ++step) {
            if (length % 2 != 0) {
                raise_reshape_error(flat[py::slice(0, length, 1)], py::make_tuple(2, -1));
            }
            length /= 2;
        }
    }
    bvc::lapack::Workspace workspace;
    const auto result = bvc::synthesis::product_state_approximation(psi.data(), static_cast<std::size_t>(flat.size()),
                                                                    static_cast<int>(std::max(0LL, n)), workspace);
    py::list factors;
    for (const auto& factor : result.factors) factors.append(to_array(factor));
    // A single qubit's factor is itself the product vector: one array for both.
    py::object product = result.factors.size() == 1 ? py::object(factors[0]) : py::object(to_array(result.product));
    return py::make_tuple(factors, product);
}

std::array<double, 3> product_factor_rotation(py::handle factor) {
    const ComplexArray f = as_complex_array(factor);
    if (f.ndim() != 1 || f.shape(0) != 2) {
        raise(PyExc_ValueError, "product factor must be a nonzero two-component vector");
    }
    return bvc::synthesis::product_factor_rotation(f.data()[0], f.data()[1]);
}

namespace {

py::object approximation_function(const Arguments& a) {
    const py::int_ n_qubits = to_int(a[1], "n_qubits");
    return product_state_approximation(a[0], n_qubits);
}

py::object factor_rotation_function(const Arguments& a) {
    const auto v = product_factor_rotation(a[0]);
    auto out = new_array<double>({3});
    std::copy(v.begin(), v.end(), out.mutable_data());
    return out;
}

}  // namespace

void register_product_state_functions(py::module_& m) {
    def_function(m, "_product_state_approximation", {arg("state"), arg("n_qubits")},
                 "Approximate ``state`` by a product state, peeling off one qubit at a time from the most\n"
                 "significant down by rank-1 singular value decompositions. Returns (factors, product):\n"
                 "the unit factors ordered by qubit (qubit 0 first) and their normalised Kronecker product.",
                 approximation_function);
    def_function(m, "_product_factor_rotation", {arg("factor")},
                 "Return the rotation vector (vx, vy, 0) whose rotation takes |0> to ``factor`` up to a\n"
                 "global phase.",
                 factor_rotation_function);
}

}  // namespace bvc::corvinth
