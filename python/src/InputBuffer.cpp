// PyVaronet::InputBuffer: the bytes a device's reader holds before handing them out.
#include "InputBuffer.h"

#include <algorithm>
#include <cstring>

namespace PyVaronet {

long InputBuffer::take(char* out, long most) {
    long n = std::min(most, size());
    std::memcpy(out, mData.get() + mFrom, static_cast<std::size_t>(n));
    mFrom += n;
    if (mFrom == mEnd) mFrom = mEnd = 0;
    return n;
}

void InputBuffer::putBack(const char* data, long length) {
    if (length <= 0) return;
    if (mFrom < length) {
        // Room in front for the bytes, and the held ones behind them.
        long held = size(), capacity = std::max(mCapacity, held + length);
        std::unique_ptr<char[]> grown(new char[static_cast<std::size_t>(capacity)]);
        std::memcpy(grown.get() + length, mData.get() + mFrom, static_cast<std::size_t>(held));
        mData = std::move(grown);
        mCapacity = capacity;
        mFrom = length;
        mEnd = length + held;
    }
    mFrom -= length;
    std::memcpy(mData.get() + mFrom, data, static_cast<std::size_t>(length));
}

void InputBuffer::reserve(long capacity) {
    if (mCapacity >= capacity) return;
    mData.reset(new char[static_cast<std::size_t>(capacity)]);
    mCapacity = capacity;
}

}  // namespace PyVaronet
