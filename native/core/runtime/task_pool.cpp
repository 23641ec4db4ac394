// The worker threads of one synthesis call, with failures reported in task order.
#include "core/runtime/task_pool.hpp"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <system_error>

#ifdef __linux__
#include <sched.h>
#endif

namespace bvc::parallel {

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// Lowers `slot` to `value` if that is smaller.
void lower_to(std::atomic<std::size_t>& slot, std::size_t value) {
    std::size_t seen = slot.load();
    while (value < seen && !slot.compare_exchange_weak(seen, value)) {}
}

}  // namespace

unsigned available_cores() {
#ifdef __linux__
    // The mask may be wider than a cpu_set_t on very large machines.
    for (int cpus = 1024; cpus <= (1 << 20); cpus *= 2) {
        cpu_set_t* set = CPU_ALLOC(cpus);
        if (set == nullptr) break;
        const std::size_t size = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(size, set);
        const int status = sched_getaffinity(0, size, set);
        const int error = errno;
        const int count = status == 0 ? CPU_COUNT_S(size, set) : 0;
        CPU_FREE(set);
        if (status == 0) {
            if (count > 0) return static_cast<unsigned>(count);
            break;
        }
        if (error != EINVAL) break;
    }
#endif
    return std::max(1u, std::thread::hardware_concurrency());
}

struct WorkerPool::Batch {
    const Task* task = nullptr;
    std::size_t count = 0;
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> finished{0};
    std::atomic<std::size_t> first_failure{kNone};
    std::vector<std::exception_ptr> errors;
};

struct WorkerPool::Shared {
    const Item* item = nullptr;
    std::size_t count = 0;
    std::atomic<std::size_t> next{0};
    // Workers inside run_items for these items; guarded by the pool's mutex.
    unsigned helpers = 0;
    std::mutex error_mutex;
    std::size_t failed = kNone;
    std::exception_ptr error;
};

WorkerPool::WorkerPool(unsigned workers) {
    workers = std::max(1u, workers);
    threads_.reserve(workers);
    for (unsigned w = 0; w < workers; ++w) {
        try {
            threads_.emplace_back(&WorkerPool::work, this, w);
        } catch (const std::system_error&) {
            if (threads_.empty()) throw;
            break;
        }
    }
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

bool WorkerPool::aborted(std::size_t index) const {
    if (cancelled_.load()) return true;
    const Batch* batch = current_.load();
    return batch != nullptr && batch->first_failure.load() < index;
}

void WorkerPool::run(std::size_t count, const Task& task, const Poll& poll, std::chrono::milliseconds interval) {
    Batch batch;
    batch.task = &task;
    batch.count = count;
    batch.errors.resize(count);
    if (count == 0) return;
    cancelled_.store(false);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        batch_ = &batch;
        current_.store(&batch);
        ++generation_;
        active_ = size();
    }
    wake_.notify_all();

    std::exception_ptr poll_error;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!done_.wait_for(lock, interval, [&] { return active_ == 0; })) {
            if (poll_error) continue;
            lock.unlock();
            try {
                poll();
            } catch (...) {
                poll_error = std::current_exception();
                cancelled_.store(true);
            }
            lock.lock();
            if (poll_error) wake_.notify_all();
        }
        batch_ = nullptr;
        current_.store(nullptr);
    }
    if (poll_error) std::rethrow_exception(poll_error);
    const std::size_t failed = batch.first_failure.load();
    if (failed != kNone) std::rethrow_exception(batch.errors[failed]);
}

void WorkerPool::work(unsigned worker) {
    unsigned long long seen = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
        if (stop_) return;
        seen = generation_;
        Batch& batch = *batch_;
        lock.unlock();
        run_tasks(batch, worker);
        lock.lock();

        // No task left for this worker: help the others with their items
        // until the batch is over.
        idle_.fetch_add(1);
        for (;;) {
            if (Shared* shared = pending_items()) {
                ++shared->helpers;
                lock.unlock();
                run_items(*shared, worker);
                lock.lock();
                if (--shared->helpers == 0) done_.notify_all();
                continue;
            }
            if (batch.finished.load() == batch.count) break;
            wake_.wait(lock);
        }
        idle_.fetch_sub(1);
        if (--active_ == 0) done_.notify_all();
    }
}

void WorkerPool::run_tasks(Batch& batch, unsigned worker) {
    for (;;) {
        const std::size_t index = batch.next.fetch_add(1);
        if (index >= batch.count) return;
        if (!aborted(index)) {
            try {
                (*batch.task)(index, worker);
            } catch (...) {
                batch.errors[index] = std::current_exception();
                lower_to(batch.first_failure, index);
            }
        }
        if (batch.finished.fetch_add(1) + 1 == batch.count) {
            // Taking the lock orders this with a helper's check of `finished`
            // before it waits, so the wake-up cannot be lost.
            { std::lock_guard<std::mutex> lock(mutex_); }
            wake_.notify_all();
        }
    }
}

WorkerPool::Shared* WorkerPool::pending_items() {
    for (Shared* shared : shared_) {
        if (shared->next.load() < shared->count) return shared;
    }
    return nullptr;
}

void WorkerPool::run_items(Shared& shared, unsigned worker) {
    for (;;) {
        const std::size_t index = shared.next.fetch_add(1);
        if (index >= shared.count) return;
        try {
            (*shared.item)(index, worker);
        } catch (...) {
            std::lock_guard<std::mutex> lock(shared.error_mutex);
            if (index < shared.failed) {
                shared.failed = index;
                shared.error = std::current_exception();
            }
        }
    }
}

void WorkerPool::share(std::size_t count, const Item& item, unsigned worker) {
    Shared shared;
    shared.item = &item;
    shared.count = count;
    // Handing items out costs a wake-up; only worth it when someone is idle.
    const bool posted = count > 1 && idle_.load() > 0;
    if (posted) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            shared_.push_back(&shared);
        }
        wake_.notify_all();
    }
    run_items(shared, worker);
    if (posted) {
        std::unique_lock<std::mutex> lock(mutex_);
        shared_.erase(std::find(shared_.begin(), shared_.end(), &shared));
        done_.wait(lock, [&] { return shared.helpers == 0; });
    }
    if (shared.error) std::rethrow_exception(shared.error);
}

}  // namespace bvc::parallel
