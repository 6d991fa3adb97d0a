#pragma once
// PyVaronet::BlockingCall: a long library call that Ctrl-C can end.
//
//   Python thread (GIL)                 worker thread (no GIL)
//     run(work, wake, between) -------> work()          an open, a session, an exchange
//     waits a slice without the GIL       ...
//     takes the GIL: between(), signals   ...           poke() wakes the wait early
//     KeyboardInterrupt: wake() -------->  work ends
//     <------------------------------- done: its exception is raised here
//
// Signal handlers of Python run only on the main thread and only when it holds
// the GIL, so the call itself runs on a thread of its own while the caller
// waits in slices.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace PyVaronet {

class BlockingCall {
public:
    /// The longest the caller waits without looking at signals and events.
    static constexpr std::chrono::milliseconds SliceMs{100};

    /// Runs work on a worker thread and waits for it. After each slice, and
    /// after each poke, between (may be empty) runs with the GIL; then pending
    /// signals are handled. A Python exception there (KeyboardInterrupt, or one
    /// raised by between) calls wake, waits for work to end and is raised;
    /// otherwise an exception of work is rethrown once it ends. Needs the GIL.
    void run(const std::function<void()>& work, const std::function<void()>& wake,
             const std::function<void()>& between = {});
    /// Ends the caller's current wait early (from the worker thread).
    void poke();

private:
    std::mutex mMutex;
    std::condition_variable mChanged;
    bool mbDone = false;
    bool mbPoked = false;
};

}  // namespace PyVaronet
