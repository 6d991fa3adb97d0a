#pragma once
// OS::StopWatch: elapsed time on the monotonic clock, in milliseconds.

#include <chrono>
#include <cstdint>

#include <varonet/base/Export.h>

namespace OS {

class VARONET_API StopWatch {
public:
    StopWatch() { start(); }
    void start() { mStart = std::chrono::steady_clock::now(); }
    /// Milliseconds since construction or the last start.
    std::uint64_t getElapsed() const {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - mStart).count());
    }
    /// Milliseconds left of a budget of ms since the start (0 when spent).
    unsigned int getRemaining(unsigned int ms) const {
        std::uint64_t e = getElapsed();
        return e >= ms ? 0u : static_cast<unsigned int>(ms - e);
    }
    /// Two watches are equal when they were started at the same moment.
    bool operator==(const StopWatch&) const = default;

private:
    std::chrono::steady_clock::time_point mStart;
};

}  // namespace OS
