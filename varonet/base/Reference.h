#pragma once
// Base::Reference: a plain reference count for records shared between copies.
// Not atomic: copies of one object are not made or destroyed concurrently.

namespace Base {

class Reference {
public:
    void addReference() { ++miCount; }
    /// Drops one reference while any is left; true when this was the last one.
    bool releaseReference() {
        if (miCount > 0) --miCount;
        return miCount == 0;
    }
    int getReferenceCount() const { return miCount; }

private:
    int miCount = 1;
};

}  // namespace Base
