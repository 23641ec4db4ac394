// Tests of the task pool: every task runs, failures in order, cancellation.
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "check.hpp"
#include "core/runtime/task_pool.hpp"

namespace {

using bvc::parallel::WorkerPool;
using namespace std::chrono_literals;

const WorkerPool::Poll kNoPoll = [] {};

std::string message_of(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    }
}

}  // namespace

// Every task runs once on some worker, and items shared from inside tasks
// all run, whether or not idle workers pick them up.
BVC_TEST(task_pool_runs_every_task_and_item) {
    WorkerPool pool(3);
    BVC_CHECK(pool.size() == 3);
    std::vector<std::atomic<int>> runs(50);
    std::vector<std::atomic<int>> items(50 * 10);
    pool.run(
        50,
        [&](std::size_t task, unsigned worker) {
            BVC_CHECK(worker < 3);
            ++runs[task];
            pool.share(10, [&](std::size_t item, unsigned) { ++items[task * 10 + item]; }, worker);
        },
        kNoPoll, 10ms);
    for (auto& r : runs) BVC_CHECK(r.load() == 1);
    for (auto& i : items) BVC_CHECK(i.load() == 1);
}

// The lowest failed index is reported, all tasks before it run, and tasks
// after it see aborted() (or never start).
BVC_TEST(task_pool_reports_the_first_failure_in_order) {
    WorkerPool pool(2);
    std::vector<std::atomic<int>> runs(20);
    std::exception_ptr error;
    try {
        pool.run(
            20,
            [&](std::size_t task, unsigned) {
                if (task == 9) {
                    std::this_thread::sleep_for(50ms);
                    throw std::runtime_error("task 9");
                }
                if (task == 12) throw std::runtime_error("task 12");
                while (task > 12 && !pool.aborted(task)) std::this_thread::sleep_for(1ms);
                ++runs[task];
            },
            kNoPoll, 10ms);
    } catch (...) {
        error = std::current_exception();
    }
    BVC_CHECK(error != nullptr && message_of(error) == "task 9");
    for (std::size_t t = 0; t < 9; ++t) BVC_CHECK(runs[t].load() == 1);
}

// A throwing poll cancels the batch: running tasks see aborted() and the
// poll's exception reaches the caller once they have returned.
BVC_TEST(task_pool_poll_cancels_the_batch) {
    WorkerPool pool(2);
    std::atomic<int> returned{0};
    int polls = 0;
    std::exception_ptr error;
    try {
        pool.run(
            1000,
            [&](std::size_t task, unsigned) {
                while (!pool.aborted(task)) std::this_thread::sleep_for(1ms);
                ++returned;
            },
            [&] {
                if (++polls == 3) throw std::runtime_error("interrupted");
            },
            5ms);
    } catch (...) {
        error = std::current_exception();
    }
    BVC_CHECK(error != nullptr && message_of(error) == "interrupted");
    BVC_CHECK(returned.load() == 2);
    // The pool is usable again afterwards.
    std::atomic<int> runs{0};
    pool.run(5, [&](std::size_t, unsigned) { ++runs; }, kNoPoll, 10ms);
    BVC_CHECK(runs.load() == 5);
}

BVC_TEST(available_cores_is_positive) { BVC_CHECK(bvc::parallel::available_cores() >= 1); }
