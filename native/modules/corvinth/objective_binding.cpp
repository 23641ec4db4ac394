// The disentangler objective exposed to Python, for tests and for the optimiser's callers.
#include "objective_binding.hpp"

#include <pybind11/numpy.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"
#include "bind/instances.hpp"
#include "core/synthesis/entanglement.hpp"
#include "core/synthesis/forward_difference.hpp"
#include "core/synthesis/mps_local_form.hpp"
#include "mps_state.hpp"

namespace bvc::corvinth {

using namespace bvc::bind;

namespace {

// Gram dimension from which an evaluation costs enough (tens of
// microseconds) to be worth handing to an idle worker.
constexpr int kShareFromDimension = 16;

// Raised inside a task the pool has given up on; never reaches the caller,
// who sees the interrupt or the earlier task's failure instead.
class TaskAborted : public std::runtime_error {
public:
    TaskAborted() : std::runtime_error("synthesis task stopped") {}
};

}  // namespace

NativeObjective::NativeObjective(std::shared_ptr<const synthesis::DisentanglerObjective> objective)
    : objective_(std::move(objective)) {}

NativeObjective::NativeObjective(std::shared_ptr<const synthesis::DisentanglerObjective> objective,
                                 const TaskSlot& slot)
    : objective_(std::move(objective)), slot_(slot), attached_(true) {}

void NativeObjective::detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    attached_ = false;
}

synthesis::ObjectiveScratch& NativeObjective::scratch() { return attached_ ? (*slot_.scratches)[slot_.worker] : own_; }

void NativeObjective::check_not_aborted() const {
    if (attached_ && slot_.pool != nullptr && slot_.pool->aborted(slot_.task)) throw TaskAborted();
}

double NativeObjective::value(const double* params) {
    std::lock_guard<std::mutex> lock(mutex_);
    check_not_aborted();
    ++evaluations_;
    return objective_->value(params, scratch());
}

double NativeObjective::value_and_gradient(const double* params, double* gradient) {
    std::lock_guard<std::mutex> lock(mutex_);
    check_not_aborted();
    ++evaluations_;
    return objective_->value_and_gradient(params, gradient, scratch());
}

double NativeObjective::forward_difference(const double* params, double* gradient) {
    std::lock_guard<std::mutex> lock(mutex_);
    check_not_aborted();
    // Point 0 is x itself, point i + 1 is x shifted along coordinate i.
    constexpr std::size_t kPoints = synthesis::kEntanglerParams + 1;
    std::array<std::array<double, synthesis::kEntanglerParams>, kPoints> points;
    std::array<double, synthesis::kEntanglerParams> steps;
    for (auto& point : points) std::copy(params, params + synthesis::kEntanglerParams, point.begin());
    for (int i = 0; i < synthesis::kEntanglerParams; ++i) {
        const synthesis::DifferenceStep step = synthesis::forward_difference_step(params[i]);
        points[i + 1][i] = step.shifted;
        steps[i] = step.step;
    }
    std::array<double, kPoints> values;
    if (attached_ && slot_.pool != nullptr && objective_->gram_dimension() >= kShareFromDimension) {
        auto& scratches = *slot_.scratches;
        slot_.pool->share(
            kPoints,
            [&](std::size_t i, unsigned worker) { values[i] = objective_->value(points[i].data(), scratches[worker]); },
            slot_.worker);
    } else {
        synthesis::ObjectiveScratch& own = scratch();
        for (std::size_t i = 0; i < kPoints; ++i) values[i] = objective_->value(points[i].data(), own);
    }
    evaluations_ += kPoints;
    for (int i = 0; i < synthesis::kEntanglerParams; ++i)
        gradient[i] = synthesis::difference_quotient(values[i + 1], values[0], steps[i]);
    return values[0];
}

std::vector<double> NativeObjective::probabilities(const double* params) {
    std::lock_guard<std::mutex> lock(mutex_);
    check_not_aborted();
    ++evaluations_;
    synthesis::ObjectiveScratch& s = scratch();
    objective_->schmidt_probabilities(params, s);
    return s.probabilities;
}

void read_params(py::handle value, double out[synthesis::kEntanglerParams]) {
    // The optimiser passes a fresh float64 vector on every call; read it in place.
    if (py::isinstance<py::array_t<double>>(value)) {
        auto arr = py::reinterpret_borrow<py::array>(value);
        if (arr.ndim() == 1 && arr.shape(0) == synthesis::kEntanglerParams && arr.strides(0) == sizeof(double)) {
            std::memcpy(out, arr.data(), sizeof(double) * synthesis::kEntanglerParams);
            return;
        }
    }
    RealArray converted = as_real_array(value);
    if (converted.ndim() != 1 || converted.shape(0) != synthesis::kEntanglerParams) {
        raise(PyExc_ValueError, "entangler requires " + std::to_string(synthesis::kEntanglerParams) + " parameters");
    }
    std::memcpy(out, converted.data(), sizeof(double) * synthesis::kEntanglerParams);
}

namespace {

// Renyi index check of the objective factory.
double renyi_index(py::handle value) {
    const double alpha = to_float(value);
    synthesis::check_renyi_index(alpha);
    return alpha;
}

// (value, gradient) as the optimiser takes them with jac=True: a float and a
// new float64 array (it keeps the array it is given).
py::tuple value_with_gradient(double value, const double gradient[synthesis::kEntanglerParams]) {
    auto out = new_array<double>({synthesis::kEntanglerParams});
    std::copy(gradient, gradient + synthesis::kEntanglerParams, out.mutable_data());
    return py::make_tuple(py::float_(value), std::move(out));
}

// Every accessor goes through bound_instance: an instance made by __new__
// alone, or a foreign `self`, raises TypeError.
NativeObjective& objective_of(py::handle self, const char* method) {
    return bound_instance<NativeObjective>(self, method);
}

using GradientMethod = double (NativeObjective::*)(const double*, double*);

py::object call_with_gradient(const Arguments& a, const char* name, GradientMethod method) {
    NativeObjective& objective = objective_of(a[0], name);
    double params[synthesis::kEntanglerParams];
    read_params(a[1], params);
    double gradient[synthesis::kEntanglerParams];
    double value;
    {
        py::gil_scoped_release release;
        value = (objective.*method)(params, gradient);
    }
    return value_with_gradient(value, gradient);
}

}  // namespace

void register_objective(py::module_& m) {
    auto cls = py::class_<NativeObjective, std::unique_ptr<NativeObjective>>(
        m, "_DisentanglerObjective",
        "Renyi entropy across one bond of a fixed state after a candidate disentangler on that bond.\n"
        "Call it with the nine entangler parameters; it returns a float.");
    cls.def_property_readonly("left_rank",
                              [](py::handle self) { return objective_of(self, "left_rank").kernel().left_rank(); })
        .def_property_readonly("right_rank",
                               [](py::handle self) { return objective_of(self, "right_rank").kernel().right_rank(); })
        .def_property_readonly(
            "gram_dimension",
            [](py::handle self) { return objective_of(self, "gram_dimension").kernel().gram_dimension(); })
        .def_property_readonly("evaluations",
                               [](py::handle self) { return objective_of(self, "evaluations").evaluations(); });
    def_method(cls, "__call__", {arg("self"), arg("params")},
               "The Renyi entropy (nats) across the bond after the disentangler of `params`.",
               [](const Arguments& a) -> py::object {
                   NativeObjective& objective = objective_of(a[0], "__call__");
                   double params[synthesis::kEntanglerParams];
                   read_params(a[1], params);
                   double value;
                   {
                       py::gil_scoped_release release;
                       value = objective.value(params);
                   }
                   return py::float_(value);
               });
    def_method(cls, "forward_difference", {arg("self"), arg("params")},
               "(entropy, gradient) with the forward-difference gradient SciPy's L-BFGS-B forms when it is "
               "given no Jacobian, bit for bit: ten evaluations.",
               [](const Arguments& a) {
                   return call_with_gradient(a, "forward_difference", &NativeObjective::forward_difference);
               });
    def_method(cls, "value_and_gradient", {arg("self"), arg("params")},
               "(entropy, gradient) with the exact gradient, from one eigendecomposition.", [](const Arguments& a) {
                   return call_with_gradient(a, "value_and_gradient", &NativeObjective::value_and_gradient);
               });
    def_method(cls, "schmidt_probabilities", {arg("self"), arg("params")},
               "Normalised squared Schmidt values across the bond after the disentangler of `params`, "
               "largest first; values that are zero by rank are left out.",
               [](const Arguments& a) -> py::object {
                   NativeObjective& objective = objective_of(a[0], "schmidt_probabilities");
                   double params[synthesis::kEntanglerParams];
                   read_params(a[1], params);
                   std::vector<double> p;
                   {
                       py::gil_scoped_release release;
                       p = objective.probabilities(params);
                   }
                   auto out = new_array<double>({static_cast<py::ssize_t>(p.size())});
                   std::copy(p.begin(), p.end(), out.mutable_data());
                   return out;
               });

    def_function(m, "_disentangler_objective", {arg("state"), arg("n_qubits"), arg("q0"), arg("alpha")},
                 "The objective of the disentangler on (q0, q0 + 1) for `state`: a callable taking the nine "
                 "entangler parameters and returning the Renyi entropy of index `alpha` across that bond. "
                 "`state` is a vector of 2**n_qubits amplitudes or a brimvale MPS (read off its local form).",
                 [](const Arguments& a) -> py::object {
                     const std::int64_t n = to_int64(a[1], "n_qubits");
                     const std::int64_t q0 = to_int64(a[2], "q0");
                     const double alpha = renyi_index(a[3]);
                     if (q0 < 0 || q0 >= n - 1) raise(PyExc_ValueError, "bond must be between adjacent qubits");
                     if (py::isinstance(a[0], py::module_::import("brimvale").attr("MPS"))) {
                         const std::shared_ptr<const bvc::mps::Mps> state = native_mps(a[0]);
                         if (state->size() != n) raise(PyExc_ValueError, "state must have n_qubits qubits");
                         std::shared_ptr<const synthesis::DisentanglerObjective> objective;
                         {
                             py::gil_scoped_release release;
                             objective = std::make_shared<const synthesis::DisentanglerObjective>(
                                 bvc::mps::local_form(*state, static_cast<int>(q0)), static_cast<int>(n),
                                 static_cast<int>(q0), alpha);
                         }
                         return py::cast(std::make_unique<NativeObjective>(std::move(objective)));
                     }
                     ComplexArray state = as_complex_array(a[0]);
                     if (n > 62 || state.ndim() != 1 || state.size() != (py::ssize_t{1} << n)) {
                         raise(PyExc_ValueError, "state must hold exactly 2**n_qubits amplitudes");
                     }
                     std::shared_ptr<const synthesis::DisentanglerObjective> objective;
                     {
                         py::gil_scoped_release release;
                         objective = std::make_shared<const synthesis::DisentanglerObjective>(
                             state.data(), static_cast<int>(n), static_cast<int>(q0), alpha);
                     }
                     return py::cast(std::make_unique<NativeObjective>(std::move(objective)));
                 });
}

}  // namespace bvc::corvinth
