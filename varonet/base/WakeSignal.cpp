// The wake-up flag and the condition variable that ends a pause early.
#include <varonet/base/WakeSignal.h>

#include <chrono>
#include <utility>

namespace Thread {

void WakeSignal::wake() {
    {
        std::lock_guard<std::mutex> guard(mMutex);
        mbPending = true;
    }
    mWoken.notify_all();
}

bool WakeSignal::pause(unsigned int ms) {
    if (ms == 0) return false;
    std::unique_lock<std::mutex> guard(mMutex);
    const bool woken = mWoken.wait_for(guard, std::chrono::milliseconds(ms), [this] { return mbPending; });
    mbPending = false;
    return woken;
}

bool WakeSignal::take() {
    std::lock_guard<std::mutex> guard(mMutex);
    return std::exchange(mbPending, false);
}

}  // namespace Thread
