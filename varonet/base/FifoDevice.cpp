// An in-memory first-in first-out device whose reader waits for a writer or a close.
#include <varonet/base/FifoDevice.h>

#include <chrono>
#include <cstring>

namespace Base {

FifoDevice::FifoDevice(unsigned int timeoutMs) : muTimeout(timeoutMs) {}

bool FifoDevice::isOpen() {
    std::lock_guard<std::mutex> guard(mMutex);
    return mbOpen;
}

void FifoDevice::open() {
    std::lock_guard<std::mutex> guard(mMutex);
    mbOpen = true;
}

void FifoDevice::close() {
    std::lock_guard<std::mutex> guard(mMutex);
    mbOpen = false;
    mArrived.notify_all();
}

long FifoDevice::size() {
    std::lock_guard<std::mutex> guard(mMutex);
    return static_cast<long>(mvBuffer.size() - muHead);
}

bool FifoDevice::isEOF() {
    std::lock_guard<std::mutex> guard(mMutex);
    return !mbOpen && mvBuffer.size() == muHead;
}

bool FifoDevice::waitLocked(std::unique_lock<std::mutex>& guard, unsigned int ms) {
    return mArrived.wait_for(guard, std::chrono::milliseconds(ms), [this] {
        return mvBuffer.size() > muHead || !mbOpen;
    }) && mvBuffer.size() > muHead;
}

bool FifoDevice::waitForData(unsigned int ms) {
    std::unique_lock<std::mutex> guard(mMutex);
    return waitLocked(guard, ms);
}

long FifoDevice::readInternal(char* buffer, long length) {
    if (length <= 0) return 0;
    std::unique_lock<std::mutex> guard(mMutex);
    if (!waitLocked(guard, muTimeout)) return 0;
    std::size_t n = std::min(static_cast<std::size_t>(length), mvBuffer.size() - muHead);
    std::memcpy(buffer, mvBuffer.data() + muHead, n);
    muHead += n;
    if (muHead == mvBuffer.size()) {
        mvBuffer.clear();
        muHead = 0;
    } else if (muHead > 65536 && muHead * 2 > mvBuffer.size()) {
        mvBuffer.erase(mvBuffer.begin(), mvBuffer.begin() + static_cast<std::ptrdiff_t>(muHead));
        muHead = 0;
    }
    return static_cast<long>(n);
}

long FifoDevice::write(const char* buffer, long length) {
    if (length <= 0) return 0;
    std::lock_guard<std::mutex> guard(mMutex);
    mvBuffer.insert(mvBuffer.end(), buffer, buffer + length);
    mArrived.notify_all();
    return length;
}

}  // namespace Base
