// Worker threads for the independent pieces of one synthesis call: the
// optimiser runs of the bonds of a brick group, and inside each the
// evaluations of a difference gradient.
//
// A pool lives for one call: its threads start in the constructor and are
// joined in the destructor. run() hands a batch of tasks to the workers and
// waits; the caller's thread does no task work itself, so that it stays free
// to poll (the binding layer checks for signals there). Tasks are claimed in
// index order. Results never depend on the number of workers: every task and
// item writes only its own slot, and failures are reported by index, the
// lowest one winning, so the error a caller sees does not depend on the
// number of workers either.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace bvc::parallel {

// Number of cores this process may run on: its CPU affinity mask where the
// platform has one, else the hardware concurrency; at least 1.
unsigned available_cores();

class WorkerPool {
public:
    using Task = std::function<void(std::size_t index, unsigned worker)>;
    using Item = std::function<void(std::size_t item, unsigned worker)>;
    using Poll = std::function<void()>;

    // Starts `workers` threads (at least one). When the system refuses a
    // thread after the first, the pool keeps those it has; when it refuses
    // the first, std::system_error propagates.
    explicit WorkerPool(unsigned workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    unsigned size() const { return static_cast<unsigned>(threads_.size()); }

    // Runs task(i, worker) for i = 0 .. count-1 and returns when every task
    // has returned. An exception thrown by task i is kept; tasks after the
    // first failed index are skipped, and aborted() tells running ones to
    // stop, while all tasks before it still run. Meanwhile the calling thread
    // calls poll() every `interval`; when poll throws, the batch is cancelled
    // (aborted() is true for every task, no further task starts) and, once
    // the running tasks have returned, poll's exception is rethrown.
    // Otherwise the exception of the lowest failed index is rethrown.
    void run(std::size_t count, const Task& task, const Poll& poll, std::chrono::milliseconds interval);

    // True when task `index` of the current batch should stop early: the
    // batch was cancelled or a task before it failed.
    bool aborted(std::size_t index) const;

    // From inside a task running on `worker`: runs item(i, w) for
    // i = 0 .. count-1, the calling worker and any worker without a task
    // left sharing the items; returns when all are done, rethrowing the
    // exception of the lowest failed item.
    void share(std::size_t count, const Item& item, unsigned worker);

private:
    struct Batch;
    struct Shared;

    void work(unsigned worker);
    void run_tasks(Batch& batch, unsigned worker);
    static void run_items(Shared& shared, unsigned worker);
    Shared* pending_items();

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    // Workers wait here for a batch, for items to share and for the end of a batch.
    std::condition_variable wake_;
    // The caller of run() and of share() waits here.
    std::condition_variable done_;
    Batch* batch_ = nullptr;
    unsigned long long generation_ = 0;
    unsigned active_ = 0;
    std::atomic<unsigned> idle_{0};
    std::vector<Shared*> shared_;
    std::atomic<bool> cancelled_{false};
    std::atomic<Batch*> current_{nullptr};
    bool stop_ = false;
};

}  // namespace bvc::parallel
