#pragma once
// Base::Lockable: a re-entrant lock that another thread may release.
//
// The holder may lock again (a count is kept); unlock may come from any
// thread, because a modem server locks a line on its own thread and the call
// it hands out releases the line later from the application's thread.

#include <condition_variable>
#include <mutex>
#include <thread>

namespace Base {

class Lockable {
public:
    Lockable() = default;
    Lockable(const Lockable&) : Lockable() {}  // a copy starts unlocked
    Lockable& operator=(const Lockable&) { return *this; }
    virtual ~Lockable() = default;

    /// Waits as long as it takes.
    virtual void lock();
    /// Takes the lock if nobody else holds it; never waits.
    virtual bool trylock();
    /// Waits at most ms milliseconds; 0 does not wait. True when taken.
    virtual bool trylock(unsigned int ms);
    /// Drops one level of the lock; the last level frees it. Unlocking a free lock does nothing.
    virtual void unlock();
    virtual bool isLocked();

private:
    std::mutex mMutex;
    std::condition_variable mFree;
    std::thread::id mOwner;
    unsigned int muCount = 0;
};

}  // namespace Base
