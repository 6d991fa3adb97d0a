#pragma once
// PyVaronet::InputBuffer: bytes read from a device but not yet handed out.
//
// A small read fills it with one read of up to a chunk, so that a stream read
// in small pieces costs one system call per chunk, not per piece; bytes read
// past a separator (read_until) or before an interruption wait here too.
// Taking from the front moves no bytes.

#include <memory>

namespace PyVaronet {

class InputBuffer {
public:
    long size() const { return mEnd - mFrom; }
    /// Moves up to most bytes from the front into out; the count.
    long take(char* out, long most);
    /// Puts length bytes in front of those held.
    void putBack(const char* data, long length);
    /// Fills the empty buffer with read(space, capacity), which returns the
    /// count it read (0 or less: nothing); that count.
    template <class Read>
    long refill(long capacity, Read read) {
        reserve(capacity);
        mFrom = mEnd = 0;
        long n = read(mData.get(), capacity);
        if (n > 0) mEnd = n;
        return n;
    }

private:
    void reserve(long capacity);

    std::unique_ptr<char[]> mData;
    long mCapacity = 0;
    long mFrom = 0;
    long mEnd = 0;
};

}  // namespace PyVaronet
