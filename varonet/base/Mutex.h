#pragma once
// Thread::Mutex and Thread::Synchronized (a scoped holder of any lockable).

#include <varonet/base/Lockable.h>

namespace Thread {

/// A re-entrant mutex; any Base::Lockable works with Synchronized.
class Mutex : public Base::Lockable {};

/// Holds a lock for its scope.
class Synchronized {
public:
    explicit Synchronized(Base::Lockable& lockable) : mrLockable(lockable) { mrLockable.lock(); }
    ~Synchronized() { mrLockable.unlock(); }
    Synchronized(const Synchronized&) = delete;
    Synchronized& operator=(const Synchronized&) = delete;

private:
    Base::Lockable& mrLockable;
};

}  // namespace Thread
