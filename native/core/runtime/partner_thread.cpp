// The partner thread: hand-over by a counter, spinning before sleeping.
#include "core/runtime/partner_thread.hpp"

#include <chrono>

namespace bvc::parallel {

namespace {

// How long a thread spins for its counterpart before it sleeps or yields:
// longer than a part of the split sweeps takes to hand over, short enough
// that an idle partner costs nothing worth noticing.
constexpr std::chrono::microseconds kSpin{200};

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

PartnerThread::PartnerThread() : thread_([this] { serve(); }) {}

PartnerThread::~PartnerThread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true);
    }
    wake_.notify_one();
    thread_.join();
}

void PartnerThread::run(const Job& job) {
    job_ = &job;
    std::uint64_t ticket;
    {
        // Under the mutex, so that a partner about to sleep sees it.
        std::lock_guard<std::mutex> lock(mutex_);
        ticket = posted_.fetch_add(1) + 1;
    }
    wake_.notify_one();
    job(1);
    const auto start = std::chrono::steady_clock::now();
    while (done_.load(std::memory_order_acquire) != ticket) {
        // On a busy machine the partner may wait for a core: then give ours up.
        if (std::chrono::steady_clock::now() - start < kSpin) {
            relax();
        } else {
            std::this_thread::yield();
        }
    }
}

void PartnerThread::serve() {
    std::uint64_t seen = 0;
    for (;;) {
        const auto start = std::chrono::steady_clock::now();
        while (posted_.load() == seen && !stop_.load() && std::chrono::steady_clock::now() - start < kSpin) relax();
        if (posted_.load() == seen) {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stop_.load() || posted_.load() != seen; });
        }
        if (stop_.load()) return;
        seen = posted_.load();
        (*job_)(0);
        done_.store(seen, std::memory_order_release);
    }
}

}  // namespace bvc::parallel
