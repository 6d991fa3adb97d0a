#pragma once
// Base::SharedHandle<T>: a counted handle onto a record that copies share.
//
// T derives from Base::Reference, whose count starts at 1: a handle made from
// a new record adopts that first reference. Copying a handle adds one,
// destroying, resetting or assigning over it drops one, and the handle that
// drops the last one deletes the record. A record is therefore freed exactly
// once, however its handles come and go, and never while a handle still
// refers to it.
//
// Like Base::Reference the count is not atomic: handles onto one record are
// not copied or destroyed on two threads at once.
//
//   Base::SharedHandle<State> a(new State(...));  // count 1
//   Base::SharedHandle<State> b = a;             // count 2, one record
//   a.reset();                                   // count 1
//   // b going away deletes the record

#include <utility>

#include <varonet/base/Reference.h>

namespace Base {

template <class T>
class SharedHandle {
public:
    SharedHandle() = default;
    /// Adopts a new record (its first reference); null gives an empty handle.
    explicit SharedHandle(T* adopted) noexcept : mpRecord(adopted) {}
    SharedHandle(const SharedHandle& other) noexcept : mpRecord(other.mpRecord) {
        if (mpRecord) mpRecord->addReference();
    }
    SharedHandle(SharedHandle&& other) noexcept : mpRecord(std::exchange(other.mpRecord, nullptr)) {}
    /// Takes the other record first and lets go of the old one after, so that
    /// assigning a handle to itself (or to another handle onto the same record)
    /// never frees the record on the way.
    SharedHandle& operator=(SharedHandle other) noexcept {
        std::swap(mpRecord, other.mpRecord);
        return *this;
    }
    ~SharedHandle() { reset(); }

    /// Drops this handle's reference (deleting the record when it was the last).
    void reset() noexcept {
        T* record = std::exchange(mpRecord, nullptr);
        if (record && record->releaseReference()) delete record;
    }

    T* get() const noexcept { return mpRecord; }
    T& operator*() const noexcept { return *mpRecord; }
    T* operator->() const noexcept { return mpRecord; }
    explicit operator bool() const noexcept { return mpRecord != nullptr; }
    /// Handles sharing the record (0 for an empty handle).
    int useCount() const noexcept { return mpRecord ? mpRecord->getReferenceCount() : 0; }

private:
    T* mpRecord = nullptr;
};

}  // namespace Base
