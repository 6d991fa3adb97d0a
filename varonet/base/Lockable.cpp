#include <varonet/base/Lockable.h>

#include <chrono>

namespace Base {

void Lockable::lock() {
    std::unique_lock<std::mutex> guard(mMutex);
    auto self = std::this_thread::get_id();
    mFree.wait(guard, [&] { return muCount == 0 || mOwner == self; });
    mOwner = self;
    ++muCount;
}

bool Lockable::trylock() { return trylock(0u); }

bool Lockable::trylock(unsigned int ms) {
    std::unique_lock<std::mutex> guard(mMutex);
    auto self = std::this_thread::get_id();
    if (!mFree.wait_for(guard, std::chrono::milliseconds(ms), [&] { return muCount == 0 || mOwner == self; }))
        return false;
    mOwner = self;
    ++muCount;
    return true;
}

void Lockable::unlock() {
    std::lock_guard<std::mutex> guard(mMutex);
    if (muCount == 0) return;
    if (--muCount == 0) {
        mOwner = std::thread::id();
        mFree.notify_all();
    }
}

bool Lockable::isLocked() {
    std::lock_guard<std::mutex> guard(mMutex);
    return muCount > 0;
}

}  // namespace Base
