#pragma once
// Base::Lockable: a re-entrant lock that another thread may release.
//
// The holder may lock again (a count is kept); unlock may come from any
// thread, because a modem server locks a line on its own thread and the call
// it hands out releases the line later from the application's thread.
//
// The lock's state lives in the source file, so that the thread headers stay
// out of every device header.

#include <varonet/base/Export.h>

namespace Base {

class VARONET_API Lockable {
public:
    Lockable();
    Lockable(const Lockable&);  // a copy starts unlocked
    Lockable& operator=(const Lockable&) { return *this; }
    virtual ~Lockable();

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
    struct State;
    State* mpState;  // owned; a plain pointer keeps <memory> out of this header too
};

}  // namespace Base
