// A second thread for work split in two equal parts that come in quick
// succession: the split sweeps of the refinement hand over a part every few
// hundred microseconds. The caller runs one part itself while the partner
// runs the other, and the partner waits for the next part spinning for a
// short while before it sleeps: handing each part to a sleeping pool
// worker instead made one evaluation on 14 qubits take 11.0 ms, not 6.9 ms.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace bvc::parallel {

class PartnerThread {
public:
    using Job = std::function<void(std::size_t part)>;

    // Starts the partner; std::system_error propagates when the system refuses it.
    PartnerThread();
    // Joins the partner.
    ~PartnerThread();
    PartnerThread(const PartnerThread&) = delete;
    PartnerThread& operator=(const PartnerThread&) = delete;

    // Runs job(0) on the partner and job(1) on the calling thread; returns
    // when both have returned. The job must not throw.
    void run(const Job& job);

private:
    void serve();

    std::mutex mutex_;
    std::condition_variable wake_;
    const Job* job_ = nullptr;
    // Parts handed over and parts finished; written under the mutex and
    // read by spinning.
    std::atomic<std::uint64_t> posted_{0};
    std::atomic<std::uint64_t> done_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace bvc::parallel
