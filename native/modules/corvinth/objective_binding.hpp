// The disentangler objective as the optimiser sees it: a Python object whose
// call gives the entropy, and whose methods `forward_difference` and
// `value_and_gradient` give the entropy together with a gradient, for
// minimize(..., jac=True). Evaluations run without the GIL.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "core/runtime/task_pool.hpp"
#include "core/synthesis/disentangler_objective.hpp"

namespace bvc::corvinth {

namespace py = pybind11;

// The task of a synthesis pool an objective is evaluated for: the worker
// running the task lends its scratch, and the evaluations of a difference
// gradient are shared with idle workers.
struct TaskSlot {
    bvc::parallel::WorkerPool* pool = nullptr;  // null for the serial run
    std::vector<synthesis::ObjectiveScratch>* scratches = nullptr;
    std::size_t task = 0;
    unsigned worker = 0;
};

class NativeObjective {
public:
    // Standalone: evaluated with its own scratch, from any thread.
    explicit NativeObjective(std::shared_ptr<const synthesis::DisentanglerObjective> objective);
    // Inside a task, until detach().
    NativeObjective(std::shared_ptr<const synthesis::DisentanglerObjective> objective, const TaskSlot& slot);

    // The task is over: later calls (an optimiser may keep the callable)
    // use the object's own scratch.
    void detach();

    // Native evaluations; the caller releases the GIL around them.
    double value(const double* params);
    double value_and_gradient(const double* params, double* gradient);
    // The value and SciPy's forward-difference gradient, ten evaluations.
    double forward_difference(const double* params, double* gradient);
    std::vector<double> probabilities(const double* params);

    const synthesis::DisentanglerObjective& kernel() const { return *objective_; }
    std::uint64_t evaluations() const { return evaluations_.load(); }

private:
    synthesis::ObjectiveScratch& scratch();
    void check_not_aborted() const;

    std::shared_ptr<const synthesis::DisentanglerObjective> objective_;
    TaskSlot slot_;
    bool attached_ = false;
    synthesis::ObjectiveScratch own_;
    std::atomic<std::uint64_t> evaluations_{0};
    // Only matters when Python threads share one standalone objective.
    std::mutex mutex_;
};

// The nine parameters of a disentangler from any array-like; the message is
// the one of the entangler matrix for a vector of another shape.
void read_params(py::handle value, double out[synthesis::kEntanglerParams]);

// Registers `_DisentanglerObjective` and the factory `_disentangler_objective`.
void register_objective(py::module_& m);

}  // namespace bvc::corvinth
