#pragma once
// Thread::Thread: a joinable thread with a stop request under its lock.
//
// A subclass overrides run() and polls isStopRequested() (or waits with
// waitForStop) so that stop() can end it; join() waits for run() to return.

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include <varonet/base/Export.h>

namespace Thread {

class VARONET_API Runnable {
public:
    virtual ~Runnable() = default;
    virtual void run() = 0;
};

class VARONET_API Thread : public Runnable {
public:
    Thread() = default;
    /// Runs target's run() instead of this object's (the target is borrowed).
    explicit Thread(Runnable* target) : mpTarget(target) {}
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    /// Requests a stop and joins, so a thread never outlives its object.
    ~Thread() override;

    /// Starts run() on a new thread; does nothing when already running.
    void start();
    /// Asks run() to end; wakes a waitForStop.
    void stop();
    bool isStopRequested();
    /// Waits until run() has returned; does nothing when never started.
    void join();
    bool isRunning() const { return mbRunning.load(); }
    /// Sleeps up to ms milliseconds or until a stop is requested; true when stopped.
    bool waitForStop(unsigned int ms);
    /// The exception that ended run(), if one did (null otherwise). Valid after join().
    std::exception_ptr getFailure() const { return mFailure; }

    void run() override {
        if (mpTarget) mpTarget->run();
    }

    /// Sleeps the calling thread for ms milliseconds.
    static void sleep(unsigned int ms);

private:
    Runnable* mpTarget = nullptr;
    std::thread mThread;
    std::mutex mMutex;
    std::condition_variable mStopped;
    bool mbStopRequested = false;
    std::atomic<bool> mbRunning{false};
    std::exception_ptr mFailure;
};

}  // namespace Thread
