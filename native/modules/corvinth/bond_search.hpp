// The disentanglers of one brick group: for every bond the identity and
// `restarts` L-BFGS-B runs from seeded normal starts, the best kept by the
// strict-improvement rule in restart order.
//
// The pieces are independent: the runs of one bond, the bonds of the group
// and, inside a run, the ten evaluations of a difference gradient. With more
// than one thread they go to native workers. A worker holds the GIL only
// while it is in the optimiser's Python code; the objective releases it for
// its evaluations, so the workers overlap there. The calling thread waits
// with the GIL released and checks for signals every few hundredths of a
// second: an interrupt stops the workers at their next evaluation and is
// raised once they are done. Results are gathered by position and chosen in
// restart order afterwards, so they are the same for every thread count.
#pragma once

#include <pybind11/pybind11.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "bind/arrays.hpp"
#include "core/runtime/task_pool.hpp"
#include "core/synthesis/disentangler_objective.hpp"

namespace bvc::corvinth {

namespace py = pybind11;

enum class GradientMode {
    // The plain objective; SciPy forms its forward differences itself. The
    // reference the single-call gradient is checked against.
    kLibraryDifferences,
    // The same differences, formed natively in one call (jac=True).
    kForwardDifference,
    // The exact gradient (jac=True).
    kAnalytic,
};

struct SearchSettings {
    int n = 0;
    // As the caller gave it, for the optimiser's options.
    py::object maxiter;
    std::int64_t restarts = 0;
    double init_scale = 0.0;
    py::int_ seed;
    GradientMode gradient = GradientMode::kForwardDifference;
    // Threads to use; 1 runs everything on the calling thread.
    std::uint64_t threads = 1;
};

using EntanglerParams = std::array<double, synthesis::kEntanglerParams>;

// The objective of the bond (q0, q0 + 1) for the Renyi index `alpha`, scored
// against the input of a brick group: read off a state vector or a matrix
// product state. Called from worker threads without the GIL, several at once.
using ObjectiveFactory = std::function<std::shared_ptr<const synthesis::DisentanglerObjective>(int q0, double alpha)>;

class BondSearch {
public:
    // Starts the worker threads when more than one thread is asked for and
    // there is more than one task per group; they are joined on destruction.
    BondSearch(const SearchSettings& settings, const py::object& module);
    ~BondSearch();

    // Told, on the calling thread and with the GIL held, how many bonds of
    // the group are finished, whenever that number grows.
    using Progress = std::function<void(std::size_t finished_bonds)>;

    // The chosen parameters of the disentangler on (q0, q0 + 1) for each q0
    // of `bonds`, all scored against the one group input `objectives` reads
    // (kept alive by the caller). Call with the GIL held.
    std::vector<EntanglerParams> optimise_group(const ObjectiveFactory& objectives, const std::vector<int>& bonds,
                                                double alpha, std::int64_t layer_index, const Progress& progress = {});

private:
    struct Bond;
    struct Slot;
    struct Group;

    void execute(Group& group, std::vector<Slot>& window, const Progress& progress);
    void run_slot(Group& group, Slot& slot, std::size_t index, unsigned worker);
    void run_identity(Group& group, Slot& slot, unsigned worker);
    void run_restart(Group& group, Slot& slot, std::size_t index, unsigned worker);

    const SearchSettings& settings_;
    py::object minimize_module_;
    py::object default_rng_;
    std::unique_ptr<bvc::parallel::WorkerPool> pool_;
    // One per worker (one for the serial run).
    std::vector<synthesis::ObjectiveScratch> scratches_;
};

}  // namespace bvc::corvinth
