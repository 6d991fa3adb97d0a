#pragma once
// Thread::Mutex and Thread::Synchronized (a scoped holder of any lockable).

#include <varonet/base/Export.h>
#include <varonet/base/Lockable.h>

namespace Thread {

/// A re-entrant mutex; any Base::Lockable works with Synchronized.
class VARONET_API Mutex : public Base::Lockable {};

/// Holds a lock for its scope.
class VARONET_API Synchronized {
public:
    explicit Synchronized(Base::Lockable& lockable) : mrLockable(lockable) { mrLockable.lock(); }
    ~Synchronized() { mrLockable.unlock(); }
    Synchronized(const Synchronized&) = delete;
    Synchronized& operator=(const Synchronized&) = delete;

private:
    Base::Lockable& mrLockable;
};

}  // namespace Thread
