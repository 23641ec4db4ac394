// Stopping a long computation from outside. A loop whose length the caller
// chooses (shots, chain sites, gates) reports its progress to an Interrupt;
// every so often the Interrupt runs the caller's hook, which may throw to end
// the computation (the extension modules look for a pending Ctrl-C there).
// The core itself knows nothing of what the hook does.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

namespace bvc {

class Interrupt {
public:
    // Never stops anything.
    Interrupt() = default;
    explicit Interrupt(std::function<void()> hook) : hook_(std::move(hook)) {}

    // Reports `work` more elementary steps (amplitude updates, random draws,
    // ...); runs the hook once about every kPollWork of them, which keeps a
    // stop request answered within milliseconds at negligible cost.
    void progress(std::uint64_t work = 1) {
        if (!hook_) return;
        pending_ += work;
        if (pending_ >= kPollWork) {
            pending_ = 0;
            hook_();
        }
    }

    static constexpr std::uint64_t kPollWork = std::uint64_t{1} << 22;

private:
    std::function<void()> hook_;
    std::uint64_t pending_ = 0;
};

}  // namespace bvc
