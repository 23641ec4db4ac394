// The optimiser runs of a brick group's bonds, spread over the worker threads.
#include "bond_search.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <limits>
#include <optional>

#include "bind/conventions.hpp"
#include "bind/signals.hpp"
#include "objective_binding.hpp"

namespace bvc::corvinth {

using namespace pybind11::literals;

namespace {

// Tasks handed to the workers at once. Results are kept per task until the
// batch is folded, so this bounds their memory whatever `restarts` is.
constexpr std::size_t kBatchTasks = 4096;
constexpr auto kSignalPollInterval = std::chrono::milliseconds(50);
// SciPy's default `maxfun` for L-BFGS-B. It stops a run once its count of
// function evaluations exceeds this; with its own differences that count
// grows by ten per point (the value and nine differences), with jac=True by
// one, so the same stop needs 15000 // 10.
constexpr long kLibraryMaxfun = 15000;
constexpr long kSingleCallMaxfun = kLibraryMaxfun / (synthesis::kEntanglerParams + 1);
// The starting point of restart r on the bond at q0 in layer l is drawn from
// a generator seeded with seed + 1009 l + 37 q0 + r; other strides would
// change every circuit a given seed makes. The prime strides give each
// (layer, bond, restart) its own stream as long as r < 37 and q0 < 27 (the
// offsets within a layer stay below 1009); beyond that, streams may repeat.
constexpr std::int64_t kLayerSeedStride = 1009;
constexpr std::int64_t kBondSeedStride = 37;

using ObjectivePtr = std::shared_ptr<const synthesis::DisentanglerObjective>;

}  // namespace

struct BondSearch::Bond {
    int q0 = 0;
    // Built by the bond's first task, the identity; its runs wait for it.
    std::promise<ObjectivePtr> promise;
    std::shared_future<ObjectivePtr> objective = promise.get_future().share();
    EntanglerParams best_x{};
    double best_fun = 0.0;
};

// One task: slot 0 of a bond is the identity, slot r + 1 its run `r`.
struct BondSearch::Slot {
    std::size_t bond = 0;
    std::uint64_t slot = 0;
    double fun = std::numeric_limits<double>::quiet_NaN();
    // The optimiser's x, read only if the run wins.
    py::object x;
};

struct BondSearch::Group {
    const ObjectiveFactory& objectives;
    double alpha;
    std::int64_t layer_index;
    py::object minimize;
    std::vector<Bond> bonds;
    // Tasks still running per bond, and bonds with none left.
    std::unique_ptr<std::atomic<std::uint64_t>[]> unfinished;
    std::atomic<std::size_t> finished_bonds{0};

    void task_done(std::size_t bond) {
        if (unfinished[bond].fetch_sub(1) == 1) finished_bonds.fetch_add(1);
    }
};

BondSearch::BondSearch(const SearchSettings& settings, const py::object& module)
    : settings_(settings),
      minimize_module_(module),
      default_rng_(py::module_::import("numpy").attr("random").attr("default_rng")) {
    // The largest group has n / 2 bonds; more workers than its first batch
    // of tasks would only wait.
    const std::uint64_t bonds = static_cast<std::uint64_t>(settings.n / 2);
    const std::uint64_t per_bond = static_cast<std::uint64_t>(settings.restarts) + 1;
    const std::uint64_t tasks =
        bonds == 0 ? 0 : std::min<std::uint64_t>(kBatchTasks, bonds * std::min<std::uint64_t>(per_bond, kBatchTasks));
    const std::uint64_t workers = std::min(settings.threads, tasks);
    if (workers > 1) {
        py::gil_scoped_release release;
        pool_ = std::make_unique<bvc::parallel::WorkerPool>(static_cast<unsigned>(workers));
    }
    scratches_.resize(pool_ ? pool_->size() : 1);
}

BondSearch::~BondSearch() {
    if (pool_) {
        py::gil_scoped_release release;
        pool_.reset();
    }
}

std::vector<EntanglerParams> BondSearch::optimise_group(const ObjectiveFactory& objectives,
                                                        const std::vector<int>& bonds, double alpha,
                                                        std::int64_t layer_index, const Progress& progress) {
    Group group{objectives, alpha, layer_index, minimize_module_.attr("minimize"), std::vector<Bond>(bonds.size()), {}};
    // Tasks in the serial order (bond by bond, identity first), in batches.
    const std::uint64_t per_bond = static_cast<std::uint64_t>(settings_.restarts) + 1;
    group.unfinished = std::make_unique<std::atomic<std::uint64_t>[]>(bonds.size());
    for (std::size_t b = 0; b < bonds.size(); ++b) {
        group.bonds[b].q0 = bonds[b];
        group.unfinished[b] = per_bond;
    }

    std::size_t bond = 0;
    std::uint64_t slot = 0;
    while (bond < group.bonds.size()) {
        std::vector<Slot> batch;
        while (batch.size() < kBatchTasks && bond < group.bonds.size()) {
            batch.emplace_back();
            batch.back().bond = bond;
            batch.back().slot = slot;
            if (++slot == per_bond) {
                slot = 0;
                ++bond;
            }
        }
        execute(group, batch, progress);
        // The strict-improvement rule in restart order: ties and NaN keep the
        // earlier best, so the identity wins over an equal run.
        for (Slot& s : batch) {
            Bond& b = group.bonds[s.bond];
            if (s.slot == 0) {
                b.best_x.fill(0.0);
                b.best_fun = s.fun;
            } else if (s.fun < b.best_fun) {
                read_params(s.x, b.best_x.data());
                b.best_fun = s.fun;
            }
        }
    }

    std::vector<EntanglerParams> chosen;
    for (const Bond& b : group.bonds) chosen.push_back(b.best_x);
    return chosen;
}

void BondSearch::execute(Group& group, std::vector<Slot>& batch, const Progress& progress) {
    std::size_t reported = group.finished_bonds.load();
    auto report = [&] {
        const std::size_t finished = group.finished_bonds.load();
        if (progress && finished != reported) {
            reported = finished;
            progress(finished);
        }
    };
    if (!pool_) {
        for (std::size_t i = 0; i < batch.size(); ++i) {
            run_slot(group, batch[i], i, 0);
            group.task_done(batch[i].bond);
            report();
        }
        return;
    }
    auto task = [&](std::size_t index, unsigned worker) {
        run_slot(group, batch[index], index, worker);
        group.task_done(batch[index].bond);
    };
    auto poll = [&] {
        bvc::bind::check_signals();
        if (progress && group.finished_bonds.load() != reported) {
            py::gil_scoped_acquire gil;
            report();
        }
    };
    {
        py::gil_scoped_release release;
        pool_->run(batch.size(), task, poll, kSignalPollInterval);
    }
    report();
}

void BondSearch::run_slot(Group& group, Slot& slot, std::size_t index, unsigned worker) {
    if (slot.slot == 0) {
        run_identity(group, slot, worker);
    } else {
        run_restart(group, slot, index, worker);
    }
}

void BondSearch::run_identity(Group& group, Slot& slot, unsigned worker) {
    // Native work only: the serial run lets go of the GIL, workers never hold it here.
    std::optional<py::gil_scoped_release> release;
    if (!pool_) release.emplace();
    Bond& bond = group.bonds[slot.bond];
    ObjectivePtr objective;
    try {
        objective = group.objectives(bond.q0, group.alpha);
    } catch (...) {
        bond.promise.set_exception(std::current_exception());
        throw;
    }
    bond.promise.set_value(objective);
    const EntanglerParams zero{};
    synthesis::ObjectiveScratch& scratch = scratches_[worker];
    if (settings_.gradient == GradientMode::kAnalytic) {
        // The value of the same decomposition the runs are scored with.
        double gradient[synthesis::kEntanglerParams];
        slot.fun = objective->value_and_gradient(zero.data(), gradient, scratch);
    } else {
        slot.fun = objective->value(zero.data(), scratch);
    }
}

void BondSearch::run_restart(Group& group, Slot& slot, std::size_t index, unsigned worker) {
    Bond& bond = group.bonds[slot.bond];
    // Waited for before taking the GIL, which the bond's identity task does not need.
    ObjectivePtr objective = bond.objective.get();
    std::optional<py::gil_scoped_acquire> gil;
    if (pool_) gil.emplace();

    const std::int64_t restart = static_cast<std::int64_t>(slot.slot - 1);
    const std::int64_t offset =
        kLayerSeedStride * group.layer_index + kBondSeedStride * static_cast<std::int64_t>(bond.q0) + restart;
    py::object rng = default_rng_(settings_.seed.attr("__add__")(py::int_(offset)));
    py::object initial = rng.attr("normal")(0.0, settings_.init_scale, synthesis::kEntanglerParams);

    auto owned = std::make_unique<NativeObjective>(objective, TaskSlot{pool_.get(), &scratches_, index, worker});
    NativeObjective& native = *owned;
    py::object callable = py::cast(std::move(owned));
    // The optimiser may keep the callable; past this task it must not use
    // the worker's scratch or the pool.
    struct Detach {
        NativeObjective& objective;
        ~Detach() { objective.detach(); }
    } detach{native};

    py::dict options("maxiter"_a = settings_.maxiter, "ftol"_a = 1e-12);
    py::object candidate;
    switch (settings_.gradient) {
        case GradientMode::kLibraryDifferences:
            candidate = group.minimize(callable, initial, "method"_a = "L-BFGS-B", "options"_a = options);
            break;
        case GradientMode::kForwardDifference:
            options["maxfun"] = py::int_(kSingleCallMaxfun);
            candidate = group.minimize(callable.attr("forward_difference"), initial, "method"_a = "L-BFGS-B",
                                       "jac"_a = true, "options"_a = options);
            break;
        case GradientMode::kAnalytic:
            candidate = group.minimize(callable.attr("value_and_gradient"), initial, "method"_a = "L-BFGS-B",
                                       "jac"_a = true, "options"_a = options);
            break;
    }
    slot.fun = py::cast<double>(py::float_(candidate.attr("fun")));
    slot.x = candidate.attr("x");
}

}  // namespace bvc::corvinth
