// Electron-chain states as dense state vectors in the spin-blocked qubit
// order, with the fermionic sign of the mode reordering.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "bind/conventions.hpp"
#include "core/chemistry/fermion_order.hpp"
#include "mallorek.hpp"

namespace bvc::mallorek {

using namespace bvc::bind;
using namespace pybind11::literals;
namespace fermion = bvc::fermion;

namespace {

// The interleaved-position -> qubit map of the module's orbital map, as a
// vector; looked up on the module at call time.
std::vector<int> mode_mapping(long long n_sites) {
    py::object mapping = this_module().attr("interleaved_to_spin_blocked_map")(py::int_(n_sites));
    std::vector<int> out;
    out.reserve(static_cast<std::size_t>(2 * n_sites));
    for (long long mode = 0; mode < 2 * n_sites; ++mode) {
        // Any value outside the qubit range is refused by the check below.
        const std::int64_t qubit = to_int64(mapping[py::int_(mode)], "qubit of the orbital map");
        out.push_back(qubit >= 0 && qubit < 2 * n_sites ? static_cast<int>(qubit) : -1);
    }
    try {
        fermion::check_mapping(static_cast<int>(n_sites), out);
    } catch (const std::invalid_argument& error) {
        raise(PyExc_ValueError, error.what());
    }
    return out;
}

template <class T>
bool try_reorder(const py::array& in, py::array& out, int n_sites, const std::vector<int>& mapping,
                 const py::dtype& dtype) {
    if (!dtype.is(py::dtype::of<T>()) && !dtype.equal(py::dtype::of<T>())) return false;
    const T* src = static_cast<const T*>(in.data());
    T* dst = static_cast<T*>(out.mutable_data());
    py::gil_scoped_release release;
    fermion::reorder_to_qubits(src, dst, n_sites, mapping);
    return true;
}

bool reorder_half(const py::array& in, py::array& out, int n_sites, const std::vector<int>& mapping,
                  const py::dtype& dtype) {
    if (dtype.kind() != 'f' || dtype.itemsize() != 2) return false;
    static_assert(sizeof(fermion::Half) == 2);
    const auto* src = static_cast<const fermion::Half*>(in.data());
    auto* dst = static_cast<fermion::Half*>(out.mutable_data());
    py::gil_scoped_release release;
    fermion::reorder_to_qubits(src, dst, n_sites, mapping);
    return true;
}

// Multiplying by an int8 sign promotes the element type (bool -> int8,
// uint8 -> int16, ...); the result keeps that rule for every input.
py::object electron_tensor_to_dense(py::handle theta, py::handle n_qubits_arg) {
    py::module_ np = py::module_::import("numpy");
    const py::int_ n_qubits = to_int(n_qubits_arg, "n_qubits");
    const py::int_ n_sites_py = n_qubits >> py::int_(1);
    // A charge-conserving TeNPy array is read as its dense entries.
    py::object values =
        py::hasattr(theta, "to_ndarray") ? theta.attr("to_ndarray")() : py::reinterpret_borrow<py::object>(theta);
    py::array arr = np.attr("asarray")(values);
    const py::ssize_t size = arr.size();

    bool matches = false;
    long long n_sites = 0;
    if (!less(n_sites_py, py::int_(0)) && less(n_sites_py, py::int_(fermion::kMaxSites + 1))) {
        n_sites = py::cast<long long>(n_sites_py);
        matches = size == (py::ssize_t{1} << (2 * n_sites));
    }
    if (!matches) {
        raise(PyExc_ValueError, "electron tensor has " + std::to_string(size) + " amplitudes for " +
                                    py::cast<std::string>(py::str(n_qubits)) + " qubits");
    }
    if (!equal(n_qubits & py::int_(1), py::int_(0))) {
        raise(PyExc_ValueError, "fermionic DMRG requires an even qubit count");
    }
    const std::vector<int> mapping = mode_mapping(n_sites);
    const int sites = static_cast<int>(n_sites);

    py::dtype result_dtype = np.attr("result_type")(arr.attr("dtype"), np.attr("int8"));
    py::array source = np.attr("ascontiguousarray")(arr.attr("reshape")(-1), "dtype"_a = result_dtype);
    py::array out = np.attr("empty")(py::int_(size), "dtype"_a = result_dtype);

    using cfloat = std::complex<float>;
    using cdouble = std::complex<double>;
    const bool done = try_reorder<cdouble>(source, out, sites, mapping, result_dtype) ||
                      try_reorder<double>(source, out, sites, mapping, result_dtype) ||
                      try_reorder<cfloat>(source, out, sites, mapping, result_dtype) ||
                      try_reorder<float>(source, out, sites, mapping, result_dtype) ||
                      try_reorder<std::int8_t>(source, out, sites, mapping, result_dtype) ||
                      try_reorder<std::int16_t>(source, out, sites, mapping, result_dtype) ||
                      try_reorder<std::int32_t>(source, out, sites, mapping, result_dtype) ||
                      try_reorder<std::int64_t>(source, out, sites, mapping, result_dtype) ||
                      reorder_half(source, out, sites, mapping, result_dtype);
    if (done) return out;

    // Any other element type (long double, objects, ...): the index map and
    // signs from C++, the multiplication by the array library itself.
    py::array_t<std::int64_t> destination(size);
    py::array_t<std::int8_t> sign(size);
    {
        auto* dst = destination.mutable_data();
        auto* sgn = sign.mutable_data();
        py::gil_scoped_release release;
        fermion::destinations_and_signs(sites, mapping, dst, sgn);
    }
    out[destination] = source * sign;
    return out;
}

py::object mps_to_dense(const Arguments& a) {
    const py::object& psi = a[0];
    const py::int_ n_qubits = to_int(a[1], "n_qubits");
    py::object n_sites = psi.attr("L");
    if (!equal(n_sites, n_qubits >> py::int_(1))) {
        raise(PyExc_ValueError, "electron MPS has " + py::cast<std::string>(py::str(n_sites)) + " sites for " +
                                    py::cast<std::string>(py::str(n_qubits)) + " qubits");
    }
    py::object get_full_wavefunction = import_name("tenpy.algorithms.exact_diag", "get_full_wavefunction");
    py::object theta = get_full_wavefunction(psi, "undo_sort_charge"_a = true);
    if (py::hasattr(theta, "to_ndarray")) theta = theta.attr("to_ndarray")();
    return electron_tensor_to_dense(theta, n_qubits);
}

}  // namespace

void register_chain_statevector(py::module_& m) {
    def_function(m, "_electron_tensor_to_dense", {arg("theta"), arg("n_qubits")},
                 "Dense state in spin-blocked qubit order (with fermionic signs) of a 4**L electron-chain tensor.",
                 [](const Arguments& a) -> py::object { return electron_tensor_to_dense(a[0], a[1]); });
    def_function(m, "_mps_to_dense", {arg("psi"), arg("n_qubits")},
                 "Dense state in spin-blocked qubit order of a finite TeNPy MPS with n_qubits / 2 sites.",
                 mps_to_dense);
}

}  // namespace bvc::mallorek
