// A device over a byte array in memory (its own or the caller's), with a read position.
#include <varonet/base/MemoryDevice.h>

#include <cstring>

namespace Base {

MemoryDevice::MemoryDevice() : mpBuffer(&mOwn) {}
MemoryDevice::MemoryDevice(const char* data, long length)
    : mOwn(data, static_cast<std::size_t>(length > 0 ? length : 0)), mpBuffer(&mOwn) {}
MemoryDevice::MemoryDevice(ByteArray* buffer) : mpBuffer(buffer ? buffer : &mOwn) {}

long MemoryDevice::size() {
    return muPosition >= mpBuffer->size() ? 0 : static_cast<long>(mpBuffer->size() - muPosition);
}

long MemoryDevice::readInternal(char* buffer, long length) {
    long n = std::min(length, size());
    if (n <= 0) return 0;
    std::memcpy(buffer, mpBuffer->chars() + muPosition, static_cast<std::size_t>(n));
    muPosition += static_cast<std::size_t>(n);
    return n;
}

long MemoryDevice::write(const char* buffer, long length) {
    if (length <= 0) return 0;
    std::size_t end = muPosition + static_cast<std::size_t>(length);
    if (end > mpBuffer->size()) mpBuffer->resize(end);
    std::memcpy(mpBuffer->chars() + muPosition, buffer, static_cast<std::size_t>(length));
    muPosition = end;
    return length;
}

void MemoryDevice::seek(long position) {
    if (position < 0) position = 0;
    muPosition = std::min(static_cast<std::size_t>(position), mpBuffer->size());
}

void MemoryDevice::clear() {
    mpBuffer->clear();
    muPosition = 0;
}

}  // namespace Base
