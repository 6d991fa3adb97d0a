#pragma once
// PyVaronet::Deadline: a Python time-out (seconds, None for none) cut into waits of at most one slice.

#include <algorithm>
#include <chrono>
#include <optional>

namespace PyVaronet {

class Deadline {
public:
    using Clock = std::chrono::steady_clock;
    /// The longest one wait lasts: signals are looked at between waits.
    static constexpr long SliceMs = 200;

    /// seconds: nothing waits without end; 0 only looks.
    explicit Deadline(std::optional<double> seconds)
        : mbEndless(!seconds),
          mEnd(Clock::now() +
               std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds.value_or(0.0)))) {}

    /// Milliseconds for the next wait: at most one slice, 0 once the time is up.
    unsigned int slice() const {
        if (mbEndless) return SliceMs;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(mEnd - Clock::now()).count();
        return static_cast<unsigned int>(std::clamp<long long>(left, 0, SliceMs));
    }
    bool passed() const { return !mbEndless && Clock::now() >= mEnd; }

private:
    bool mbEndless;
    Clock::time_point mEnd;
};

}  // namespace PyVaronet
