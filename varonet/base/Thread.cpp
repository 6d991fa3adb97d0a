// Thread::Thread: start, a stop request its run loop can wait on, and join.
#include <varonet/base/Thread.h>

#include <chrono>

namespace Thread {

Thread::~Thread() {
    stop();
    join();
}

void Thread::start() {
    if (mThread.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(mMutex);
        mbStopRequested = false;
    }
    mbRunning = true;
    mFailure = nullptr;
    // An exception ends the thread, not the process; join() makes it visible through getFailure().
    mThread = std::thread([this] {
        try {
            run();
        } catch (...) {
            mFailure = std::current_exception();
        }
        mbRunning = false;
    });
}

void Thread::stop() {
    std::lock_guard<std::mutex> guard(mMutex);
    mbStopRequested = true;
    mStopped.notify_all();
}

bool Thread::isStopRequested() {
    std::lock_guard<std::mutex> guard(mMutex);
    return mbStopRequested;
}

void Thread::join() {
    if (mThread.joinable() && mThread.get_id() != std::this_thread::get_id()) mThread.join();
}

bool Thread::waitForStop(unsigned int ms) {
    std::unique_lock<std::mutex> guard(mMutex);
    return mStopped.wait_for(guard, std::chrono::milliseconds(ms), [this] { return mbStopRequested; });
}

void Thread::sleep(unsigned int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace Thread
