// Reads into byte arrays that grow with the data, big-endian integers, skip, and locks a manager may take over.
#include <varonet/base/Device.h>

#include <algorithm>

#include <varonet/base/DeviceManager.h>
#include <varonet/base/Errors.h>
#include <varonet/base/IOException.h>

namespace IO {

long InputDevice::read(char* buffer, long length) { return readInternal(buffer, length); }

namespace {
// A read into a byte array asks for at most this much more than is ready.
constexpr long kReadStep = 64 * 1024;
}  // namespace

long InputDevice::read(Base::ByteArray& out, long length) {
    // The array grows with the bytes that arrive, never by the count asked
    // for: the first step is one read of up to kReadStep (or what is ready),
    // and further steps follow only while that many came and more is ready.
    long got = 0;
    while (got < length) {
        const long ready = getReadableBytes();
        if (got > 0 && ready <= 0) break;
        const long step = std::min(length - got, std::max(kReadStep, ready));
        const std::size_t start = out.size();
        out.resize(start + static_cast<std::size_t>(step));
        const long n = read(out.chars() + start, step);
        out.resize(start + static_cast<std::size_t>(n > 0 ? n : 0));
        if (n <= 0) break;
        got += n;
        if (n < step) break;
    }
    return got;
}

namespace {
void readExactly(InputDevice& device, char* buffer, long length) {
    long got = 0;
    while (got < length) {
        long n = device.read(buffer + got, length - got);
        if (n <= 0) throw Exception(ErrShortRead, ".", __LINE__);
        got += n;
    }
}
}  // namespace

std::uint32_t InputDevice::readInt32() {
    unsigned char b[4];
    readExactly(*this, reinterpret_cast<char*>(b), 4);
    return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) | b[3];
}

std::uint16_t InputDevice::readInt16() {
    unsigned char b[2];
    readExactly(*this, reinterpret_cast<char*>(b), 2);
    return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
}

void InputDevice::skip(long count) {
    char scratch[4096];
    while (count > 0) {
        long n = read(scratch, count < long(sizeof scratch) ? count : long(sizeof scratch));
        if (n <= 0) return;
        count -= n;
    }
}

void OutputDevice::writeInt32(std::uint32_t value) {
    const char b[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    write(b, 4);
}

void Device::lock() {
    if (mpManager) mpManager->lockDevice(this);
    else Lockable::lock();
}

bool Device::trylock() { return trylock(0u); }

bool Device::trylock(unsigned int ms) { return mpManager ? mpManager->trylockDevice(this, ms) : Lockable::trylock(ms); }

void Device::unlock() {
    if (mpManager) mpManager->unlockDevice(this);
    else Lockable::unlock();
}

bool Device::isLocked() { return mpManager ? mpManager->isDeviceLocked(this) : Lockable::isLocked(); }

}  // namespace IO
