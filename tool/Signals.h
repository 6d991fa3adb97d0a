#pragma once
// Tool::Signals: how a running subcommand is stopped.

#include <functional>
#include <utility>

namespace Tool {

/// SIGINT, SIGTERM and SIGHUP end the running subcommand: they are taken by
/// a watcher thread (no handler runs inside a library call), which sets the
/// stop flag, makes stopFd() readable and runs the registered wake-ups.
class Signals {
public:
    /// Call once, before any other thread starts.
    static void install();
    static bool stopRequested();
    /// A descriptor that turns readable once a stop is requested (for poll).
    static int stopFd();
    /// Runs wake on the watcher thread when a stop comes (at once if one came).
    /// Returns an id for remove().
    static int onStop(std::function<void()> wake);
    static void remove(int id);
    /// Requests a stop from inside the program (as a signal would).
    static void requestStop();
};

/// Removes an onStop registration when it goes out of scope.
class StopHook {
public:
    explicit StopHook(std::function<void()> wake) : miId(Signals::onStop(std::move(wake))) {}
    ~StopHook() { Signals::remove(miId); }
    StopHook(const StopHook&) = delete;
    StopHook& operator=(const StopHook&) = delete;

private:
    int miId;
};

}  // namespace Tool
