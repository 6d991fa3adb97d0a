// A re-entrant lock that any thread may release, built on a mutex and a condition variable.
#include <varonet/base/Lockable.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace Base {

struct Lockable::State {
    std::mutex mMutex;
    std::condition_variable mFree;
    std::thread::id mOwner;
    unsigned int muCount = 0;
};

Lockable::Lockable() : mpState(new State) {}

Lockable::Lockable(const Lockable&) : Lockable() {}

Lockable::~Lockable() { delete mpState; }

void Lockable::lock() {
    State& s = *mpState;
    std::unique_lock<std::mutex> guard(s.mMutex);
    auto self = std::this_thread::get_id();
    s.mFree.wait(guard, [&] { return s.muCount == 0 || s.mOwner == self; });
    s.mOwner = self;
    ++s.muCount;
}

bool Lockable::trylock() { return trylock(0u); }

bool Lockable::trylock(unsigned int ms) {
    State& s = *mpState;
    std::unique_lock<std::mutex> guard(s.mMutex);
    auto self = std::this_thread::get_id();
    if (!s.mFree.wait_for(guard, std::chrono::milliseconds(ms), [&] { return s.muCount == 0 || s.mOwner == self; }))
        return false;
    s.mOwner = self;
    ++s.muCount;
    return true;
}

void Lockable::unlock() {
    State& s = *mpState;
    std::lock_guard<std::mutex> guard(s.mMutex);
    if (s.muCount == 0) return;
    if (--s.muCount == 0) {
        s.mOwner = std::thread::id();
        s.mFree.notify_all();
    }
}

bool Lockable::isLocked() {
    State& s = *mpState;
    std::lock_guard<std::mutex> guard(s.mMutex);
    return s.muCount > 0;
}

}  // namespace Base
