#pragma once
// Thread::WakeSignal: ends the pauses of a thread that waits in steps.
//
// A server that polls a line (a serial port asked for its first byte, a
// modem asked for "RING") pauses between looks. wake, from any thread, ends
// the pause in progress at once, or the next one when none is running; the
// wake-up is used up by the pause it ends. A look (a pause of 0 ms) leaves a
// pending wake-up for the wait that follows it.

#include <condition_variable>
#include <mutex>

#include <varonet/base/Export.h>

namespace Thread {

class VARONET_API WakeSignal {
public:
    WakeSignal() = default;
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    /// Ends the pause in progress, or the next one.
    void wake();
    /// Pauses at most ms; true when a wake-up ended it (or was pending), which
    /// is then used up. 0 only looks: false, and a pending wake-up stays.
    bool pause(unsigned int ms);
    /// Uses up a pending wake-up without waiting; true when there was one.
    bool take();

private:
    std::mutex mMutex;
    std::condition_variable mWoken;
    bool mbPending = false;
};

}  // namespace Thread
