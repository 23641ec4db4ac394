// Binding of the MPS kernels: the native state behind brimvale.MPS and the
// MPS backend of Circuit.execute. Arguments reach these functions checked by
// the Python face; the checks here guard memory and sizes.
#include "mps_binding.hpp"

#include <pybind11/numpy.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"
#include "bind/signals.hpp"
#include "core/mps/mps.hpp"
#include "core/mps/mps_circuit.hpp"
#include "core/mps/mps_expectation.hpp"
#include "core/mps/mps_sampling.hpp"
#include "gate_list.hpp"

namespace bvc::brimvale {

using namespace bvc::bind;
namespace mps = bvc::mps;
// States are never changed after they are made; every operation returns a new one.
using State = std::shared_ptr<mps::Mps>;

namespace {

mps::Truncation read_truncation(py::handle max_bond, py::handle cutoff) {
    mps::Truncation t;
    if (!max_bond.is_none()) {
        const std::int64_t bond = to_int64(max_bond, "max_bond");
        if (bond < 1) raise(PyExc_ValueError, "max_bond must be at least 1, got " + std::to_string(bond));
        t.max_bond = static_cast<int>(std::min<std::int64_t>(bond, mps::kMaxBond));
    }
    t.cutoff = to_float(cutoff);
    if (!(t.cutoff >= 0.0 && t.cutoff < 1.0)) raise(PyExc_ValueError, "cutoff must be at least 0 and below 1");
    return t;
}

const mps::Mps& state_of(py::handle value) { return *value.cast<State>(); }

py::object wrap(mps::Mps state) { return py::cast(std::make_shared<mps::Mps>(std::move(state))); }

int bond_index(const mps::Mps& state, py::handle bond_arg) {
    const std::int64_t bond = to_int64(bond_arg, "bond");
    if (bond < 0 || bond + 1 >= state.size()) {
        raise(PyExc_ValueError, "bond " + std::to_string(bond) + " out of range for an MPS of " +
                                    std::to_string(state.size()) + " qubits (bonds 0 to " +
                                    std::to_string(state.size() - 2) + ")");
    }
    return static_cast<int>(bond);
}

py::object from_dense(const Arguments& a) {
    ComplexArray vector = as_complex_array(a[0]);
    const mps::Truncation truncation = read_truncation(a[1], a[2]);
    const py::ssize_t size = vector.size();
    int n = 0;
    while (n <= mps::kMaxDenseQubits && (py::ssize_t{1} << n) < size) ++n;
    if (vector.ndim() != 1 || n < 1 || n > mps::kMaxDenseQubits || (py::ssize_t{1} << n) != size) {
        raise(PyExc_ValueError,
              "vector must be one-dimensional with 2**n amplitudes, 1 <= n <= " + std::to_string(mps::kMaxDenseQubits) +
                  ", got shape " + py::cast<std::string>(py::str(vector.attr("shape"))));
    }
    mps::Mps out;
    {
        py::gil_scoped_release release;
        bvc::Interrupt interrupt = signal_interrupt();
        out = mps::from_dense(vector.data(), n, truncation, interrupt);
    }
    return wrap(std::move(out));
}

// The (left, 2, right) arrays of `items` as column-major site tensors.
std::vector<mps::Tensor> read_tensors(py::handle items) {
    std::vector<mps::Tensor> tensors;
    for (py::handle item : items) {
        ComplexArray t = as_complex_array(item);
        const std::size_t k = tensors.size();
        if (t.ndim() != 3 || t.shape(1) != 2 || t.shape(0) < 1 || t.shape(2) < 1 || t.shape(0) > mps::kMaxBond ||
            t.shape(2) > mps::kMaxBond) {
            raise(PyExc_ValueError, "tensor " + std::to_string(k) +
                                        " must have shape (left, 2, right) with bonds "
                                        "between 1 and " +
                                        std::to_string(mps::kMaxBond) + ", got " +
                                        py::cast<std::string>(py::str(t.attr("shape"))));
        }
        if (k >= static_cast<std::size_t>(mps::kMaxSites)) {
            raise(PyExc_ValueError, "an MPS holds at most " + std::to_string(mps::kMaxSites) + " tensors");
        }
        const int left = static_cast<int>(t.shape(0)), right = static_cast<int>(t.shape(2));
        mps::Tensor tensor(left, right);
        auto view = t.unchecked<3>();
        for (int b = 0; b < right; ++b)
            for (int s = 0; s < 2; ++s)
                for (int i = 0; i < left; ++i)
                    tensor.data[i + static_cast<std::size_t>(left) * (s + 2 * b)] = view(i, s, b);
        tensors.push_back(std::move(tensor));
    }
    return tensors;
}

py::list write_tensors(const mps::Mps& state, double first_scale) {
    py::list out;
    for (int k = 0; k < state.size(); ++k) {
        const mps::Tensor& t = state.sites[k];
        auto array = new_array<cplx>({t.left, 2, t.right});
        auto view = array.mutable_unchecked<3>();
        const double scale = k == 0 ? first_scale : 1.0;
        for (int b = 0; b < t.right; ++b)
            for (int s = 0; s < 2; ++s)
                for (int i = 0; i < t.left; ++i)
                    view(i, s, b) = t.data[i + static_cast<std::size_t>(t.left) * (s + 2 * b)] * scale;
        out.append(std::move(array));
    }
    return out;
}

py::object from_tensors(const Arguments& a) {
    const mps::Truncation truncation = read_truncation(a[1], a[2]);
    std::vector<mps::Tensor> tensors = read_tensors(a[0]);
    mps::Mps out;
    {
        py::gil_scoped_release release;
        bvc::Interrupt interrupt = signal_interrupt();
        out = mps::canonicalize(std::move(tensors), 0, truncation, 0.0, interrupt);
    }
    return wrap(std::move(out));
}

py::object truncated(const Arguments& a) {
    const State state = a[0].cast<State>();
    const mps::Truncation truncation = read_truncation(a[1], a[2]);
    mps::Mps out;
    {
        py::gil_scoped_release release;
        bvc::Interrupt interrupt = signal_interrupt();
        out = mps::truncated(*state, truncation, interrupt);
    }
    return wrap(std::move(out));
}

// The canonical form as plain values (site tensors without the norm, Schmidt
// values of bonds 1 ... n-1, norm, discarded weight), and back: a pickle
// restores the state exactly.
py::object parts(const Arguments& a) {
    const mps::Mps& state = state_of(a[0]);
    py::list schmidt;
    for (int b = 1; b < state.size(); ++b) {
        const std::vector<double>& values = state.schmidt[b];
        auto array = new_array<double>({static_cast<py::ssize_t>(values.size())});
        std::copy(values.begin(), values.end(), array.mutable_data());
        schmidt.append(std::move(array));
    }
    return py::make_tuple(write_tensors(state, 1.0), schmidt, state.norm, state.discarded_weight);
}

py::object restore(const Arguments& a) {
    mps::Mps state;
    state.sites = read_tensors(a[0]);
    const int n = state.size();
    if (n < 1) raise(PyExc_ValueError, "an MPS needs at least one tensor");
    state.schmidt.assign(n + 1, std::vector<double>{1.0});
    int b = 1;
    for (py::handle item : a[1]) {
        RealArray values = as_real_array(item);
        if (b >= n || values.ndim() != 1 || values.size() != state.sites[b].left) {
            raise(PyExc_ValueError, "the Schmidt values do not match the bonds of the tensors");
        }
        state.schmidt[b++].assign(values.data(), values.data() + values.size());
    }
    if (b != n) raise(PyExc_ValueError, "the Schmidt values do not match the bonds of the tensors");
    state.norm = to_float(a[2]);
    state.discarded_weight = to_float(a[3]);
    if (!(state.norm > 0.0) || !std::isfinite(state.norm)) raise(PyExc_ValueError, "the norm must be positive");
    bool chained = state.sites[0].left == 1 && state.sites[n - 1].right == 1;
    for (int k = 0; k + 1 < n; ++k) chained = chained && state.sites[k].right == state.sites[k + 1].left;
    if (!chained) raise(PyExc_ValueError, "the bonds of the tensors do not match");
    // Every operation trusts the canonical form; damaged data would give
    // wrong norms, samples and overlaps without any error, so it is refused.
    {
        py::gil_scoped_release release;
        bvc::Interrupt interrupt = signal_interrupt();
        mps::check_canonical(state, interrupt);
    }
    return wrap(std::move(state));
}

py::object zero_state(const Arguments& a) {
    const std::int64_t n = to_int64(a[0], "n_qubits");
    if (n < 1 || n > mps::kMaxSites) {
        raise(PyExc_ValueError,
              "n_qubits must be between 1 and " + std::to_string(mps::kMaxSites) + ", got " + std::to_string(n));
    }
    return wrap(mps::product_zero(static_cast<int>(n)));
}

py::object simulate_mps(const Arguments& a) {
    const State initial = a[0].cast<State>();
    const std::vector<bvc::circuit::Operation> ops = read_gate_list(a[1], a[2], a[3]);
    check_gate_qubits(ops, initial->size());
    const mps::Truncation truncation = read_truncation(a[4], a[5]);
    mps::Mps out;
    {
        py::gil_scoped_release release;
        out = mps::simulate(ops, *initial, truncation, signal_interrupt());
    }
    return wrap(std::move(out));
}

py::object to_dense(const Arguments& a) {
    const mps::Mps& state = state_of(a[0]);
    if (state.size() > mps::kMaxDenseQubits) {
        raise(PyExc_ValueError, "to_dense builds 2**n amplitudes and supports at most " +
                                    std::to_string(mps::kMaxDenseQubits) + " qubits; this MPS has " +
                                    std::to_string(state.size()));
    }
    auto out = new_array<cplx>({py::ssize_t{1} << state.size()});
    {
        py::gil_scoped_release release;
        bvc::Interrupt interrupt = signal_interrupt();
        mps::to_dense(state, out.mutable_data(), interrupt);
    }
    return out;
}

py::object overlap(const Arguments& a) {
    const mps::Mps& bra = state_of(a[0]);
    const mps::Mps& ket = state_of(a[1]);
    if (bra.size() != ket.size()) {
        raise(PyExc_ValueError, "the states have different numbers of qubits: " + std::to_string(bra.size()) + " and " +
                                    std::to_string(ket.size()));
    }
    cplx value;
    {
        py::gil_scoped_release release;
        bvc::Interrupt interrupt = signal_interrupt();
        value = mps::overlap(bra, ket, interrupt);
    }
    return py::cast(value);
}

// One factor (qubit, letter) of a Pauli term, appended to `string`.
void read_factor(const mps::Mps& state, py::handle term, py::handle factor, mps::PauliString& string) {
    std::int64_t qubit = 0;
    char letter = 0;
    PyObject* raw = factor.ptr();
    // The tuples of a PauliTerm are read directly; anything else through
    // the general conversions.
    if (PyTuple_CheckExact(raw) && PyTuple_GET_SIZE(raw) == 2 && PyLong_CheckExact(PyTuple_GET_ITEM(raw, 0)) &&
        PyUnicode_CheckExact(PyTuple_GET_ITEM(raw, 1)) && PyUnicode_GET_LENGTH(PyTuple_GET_ITEM(raw, 1)) == 1) {
        qubit = PyLong_AsLongLong(PyTuple_GET_ITEM(raw, 0));
        if (qubit == -1 && PyErr_Occurred()) throw py::error_already_set();
        const Py_UCS4 c = PyUnicode_READ_CHAR(PyTuple_GET_ITEM(raw, 1), 0);
        letter = c < 128 ? static_cast<char>(c) : '?';
    } else {
        const std::vector<py::object> pair = unpack_exact(factor, 2);
        qubit = to_int64(pair[0], "qubit");
        const std::string text = py::cast<std::string>(pair[1]);
        letter = text.size() == 1 ? text[0] : '?';
    }
    if (qubit < 0 || qubit >= state.size()) {
        raise(PyExc_ValueError, "Pauli term " + py::cast<std::string>(py::str(term)) + " acts outside the " +
                                    std::to_string(state.size()) + " qubits of the MPS");
    }
    if (letter != 'X' && letter != 'Y' && letter != 'Z') {
        raise(PyExc_ValueError,
              "Pauli letters must be 'X', 'Y' or 'Z' in Pauli term " + py::cast<std::string>(py::str(term)));
    }
    if (!string.empty() && string.back().site >= qubit) {
        raise(PyExc_ValueError, "the factors of Pauli term " + py::cast<std::string>(py::str(term)) +
                                    " must be on distinct qubits in ascending order");
    }
    string.push_back({static_cast<int>(qubit), static_cast<std::uint8_t>(1 + (letter - 'X'))});
}

// Pauli terms by their public fields: `coefficient` and `paulis`, the
// (qubit, letter) pairs in ascending qubit order.
py::object expectation(const Arguments& a) {
    const mps::Mps& state = state_of(a[0]);
    std::vector<mps::PauliString> strings;
    std::vector<cplx> coefficients;
    const py::str coefficient_name("coefficient"), paulis_name("paulis");
    for (py::handle term : a[1]) {
        coefficients.push_back(to_complex(term.attr(coefficient_name), "the coefficient of a Pauli term"));
        mps::PauliString string;
        for (py::handle factor : term.attr(paulis_name)) read_factor(state, term, factor, string);
        strings.push_back(std::move(string));
    }
    std::size_t memory = mps::kExpectationMemory;
    if (!a[2].is_none()) memory = static_cast<std::size_t>(std::max<std::int64_t>(0, to_int64(a[2], "memory")));
    std::vector<double> values;
    {
        py::gil_scoped_release release;
        values = mps::pauli_expectations(state, strings, signal_interrupt(), memory);
    }
    cplx total = 0.0;
    for (std::size_t k = 0; k < values.size(); ++k) total += coefficients[k] * values[k];
    return py::cast(total);
}

py::object sample(const Arguments& a) {
    const mps::Mps& state = state_of(a[0]);
    const std::int64_t shots = to_int64(a[1], "shots");
    if (shots < 0) raise(PyExc_ValueError, "shots must be non-negative, got " + std::to_string(shots));
    py::int_ seed_value = to_int(a[2], "seed");
    const unsigned long long seed = PyLong_AsUnsignedLongLong(seed_value.ptr());
    if (seed == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        PyErr_Clear();
        raise(PyExc_ValueError, "seed must be an integer between 0 and 2**64 - 1");
    }
    auto codes = ensure_array<py::array_t<std::uint8_t, py::array::c_style | py::array::forcecast>>(a[3]);
    if (!codes) raise(PyExc_TypeError, "bases must be an array of basis codes");
    if (codes.ndim() != 1 || codes.size() != state.size()) {
        raise(PyExc_ValueError, "bases must hold one code per qubit");
    }
    std::vector<mps::Basis> bases(state.size());
    for (int q = 0; q < state.size(); ++q) {
        if (codes.data()[q] > 2) raise(PyExc_ValueError, "basis codes are 0 (Z), 1 (X) and 2 (Y)");
        bases[q] = static_cast<mps::Basis>(codes.data()[q]);
    }
    mps::Samples samples;
    {
        py::gil_scoped_release release;
        samples = mps::sample(state, static_cast<std::uint64_t>(shots), seed, bases, signal_interrupt());
    }
    const auto distinct = static_cast<py::ssize_t>(samples.counts.size());
    auto outcomes = new_array<std::uint64_t>({distinct, static_cast<py::ssize_t>(samples.words)});
    std::copy(samples.outcomes.begin(), samples.outcomes.end(), outcomes.mutable_data());
    auto counts = new_array<std::int64_t>({distinct});
    std::copy(samples.counts.begin(), samples.counts.end(), counts.mutable_data());
    return py::make_tuple(outcomes, counts);
}

py::object tensors(const Arguments& a) {
    const mps::Mps& state = state_of(a[0]);
    return write_tensors(state, state.norm);
}

py::object schmidt_values(const Arguments& a) {
    const mps::Mps& state = state_of(a[0]);
    const std::vector<double>& values = state.schmidt[bond_index(state, a[1]) + 1];
    auto out = new_array<double>({static_cast<py::ssize_t>(values.size())});
    for (std::size_t i = 0; i < values.size(); ++i) out.mutable_data()[i] = values[i] * state.norm;
    return out;
}

}  // namespace

void register_mps(py::module_& m) {
    auto cls = py::class_<mps::Mps, State>(
        m, "MpsData", "A matrix product state in canonical form (the native part of brimvale.MPS).");
    cls.def_property_readonly("n_qubits", [](const mps::Mps& s) { return s.size(); })
        .def_property_readonly("norm", [](const mps::Mps& s) { return s.norm; })
        .def_property_readonly("discarded_weight", [](const mps::Mps& s) { return s.discarded_weight; })
        .def_property_readonly("bond_dimensions", [](const mps::Mps& s) {
            py::list bonds;
            for (int k = 1; k < s.size(); ++k) bonds.append(s.sites[k].left);
            return bonds;
        });
    m.attr("MAX_MPS_QUBITS") = mps::kMaxSites;
    m.attr("MAX_BOND") = mps::kMaxBond;
    m.attr("MAX_DENSE_QUBITS") = mps::kMaxDenseQubits;
    def_function(m, "mps_zero", {arg("n_qubits")}, "|0...0> as an MPS.", zero_state);
    def_function(m, "mps_from_dense", {arg("vector"), arg("max_bond"), arg("cutoff")},
                 "The canonical MPS of a state vector (qubit 0 the least significant bit).", from_dense);
    def_function(m, "mps_from_tensors", {arg("tensors"), arg("max_bond"), arg("cutoff")},
                 "The canonical MPS of the product of (left, 2, right) tensors.", from_tensors);
    def_function(m, "mps_truncated", {arg("state"), arg("max_bond"), arg("cutoff")},
                 "The state within the truncation, its discarded weight added to the state's.", truncated);
    def_function(m, "mps_simulate",
                 {arg("initial"), arg("codes"), arg("qubits"), arg("angles"), arg("max_bond"), arg("cutoff")},
                 "Run a gate list on an MPS and return the final MPS.", simulate_mps);
    def_function(m, "mps_to_dense", {arg("state")}, "The 2**n amplitudes of an MPS.", to_dense);
    def_function(m, "mps_overlap", {arg("bra"), arg("ket")}, "<bra|ket>.", overlap);
    def_function(m, "mps_expectation", {arg("state"), arg("pauli_terms"), kwonly("memory", py::none())},
                 "<psi|H|psi> for H the sum of the Pauli terms, as a complex number; `memory` bounds the bytes of "
                 "environments kept at once (None: the default).",
                 expectation);
    def_function(m, "mps_sample", {arg("state"), arg("shots"), arg("seed"), arg("bases")},
                 "Draw `shots` outcomes; returns (outcomes as 64-bit words per outcome, counts).", sample);
    def_function(m, "mps_tensors", {arg("state")}, "The site tensors, the norm folded into the first.", tensors);
    def_function(m, "mps_parts", {arg("state")},
                 "(tensors without the norm, Schmidt values of bonds 1 ... n-1, norm, discarded weight).", parts);
    def_function(m, "mps_restore", {arg("tensors"), arg("schmidt_values"), arg("norm"), arg("discarded_weight")},
                 "The state of mps_parts, exactly; ValueError unless it is in canonical form (finite, right-isometric "
                 "sites, Schmidt values descending with unit sum of squares, positive norm, discarded weight in "
                 "[0, 1]).",
                 restore);
    def_function(m, "mps_schmidt_values", {arg("state"), arg("bond")},
                 "The Schmidt values across the bond between qubits bond and bond + 1.", schmidt_values);
}

}  // namespace bvc::brimvale
