// PyVaronet::Device: one device read and written by Python threads, in slices.
#include "Device.h"

#include <algorithm>
#include <cstring>

#include <varonet/base/Errors.h>
#include <varonet/base/File.h>
#include <varonet/base/IOException.h>
#include <varonet/net/socket/SocketErrors.h>

namespace PyVaronet {

Device::Device(std::unique_ptr<IO::Device> device, std::string locator)
    : mpDevice(std::move(device)), msLocator(std::move(locator)), mbFullDuplex(mpDevice->isFullDuplex()),
      mbFile(dynamic_cast<IO::File*>(mpDevice.get()) != nullptr), mSessionView(*mpDevice, mHeld) {}

Device::~Device() { close(); }

std::unique_lock<std::mutex> Device::readTurn() {
    std::lock_guard<std::mutex> turn(mTurn);
    return std::unique_lock<std::mutex>(mReadLock);
}

void Device::open() {
    std::lock_guard<std::mutex> reading(mReadLock);
    mpDevice->open();
    mbEnded = false;
}

void Device::close() {
    if (mbClosed.exchange(true)) return;
    mpDevice->wakeUp();
    std::unique_lock<std::mutex> reading = readTurn();
    std::lock_guard<std::mutex> writing(mWriteLock);
    try {
        mpDevice->close();
    } catch (const Base::Exception&) {
        // Closing for good: a device that failed on its way out is closed all the same.
    }
}

bool Device::isOpen() {
    if (mbClosed) return false;
    std::unique_lock<std::mutex> reading = readTurn();
    return !mbEnded && mpDevice->isOpen();
}

long Device::takeHeldAtOnce(char* buffer, long length) {
    std::unique_lock<std::mutex> reading(mReadLock, std::try_to_lock);
    return reading.owns_lock() ? mHeld.take(buffer, length) : 0;
}

void Device::keep(const char* data, long length) {
    std::lock_guard<std::mutex> reading(mReadLock);
    mHeld.putBack(data, length);
}

long Device::readSlice(char* buffer, long length, unsigned int ms) {
    std::unique_lock<std::mutex> reading = mbFullDuplex ? std::unique_lock<std::mutex>(mReadLock) : readTurn();
    if (mHeld.size() > 0) return mHeld.take(buffer, length);
    if (mbClosed || mbEnded) return -1;
    if (!mbFullDuplex) ms = std::min(ms, LookMs);
    try {
        if (!mpDevice->waitForData(ms)) return mbClosed || (mbFile && mpDevice->isEOF()) ? -1 : 0;
        if (length >= ReadAheadBytes) {
            long n = mpDevice->readInternal(buffer, length);
            if (n > 0) return n;
        } else {
            long n = mHeld.refill(mlChunk, [&](char* space, long most) { return mpDevice->readInternal(space, most); });
            if (n == mlChunk) mlChunk = std::min(2 * mlChunk, ReadAheadBytes);
            if (n > 0) return mHeld.take(buffer, length);
        }
    } catch (const Base::Exception& e) {
        // A TCP peer that closed during the wait; anything after close() ends the read too.
        bool closedDuringWait = !e.isSystemError() && e.getErrorCode() == Net::ErrReadEventNoData;
        if (!closedDuringWait && !mbClosed) throw;
    }
    mbEnded = true;
    return -1;
}

long Device::inWaiting() {
    std::unique_lock<std::mutex> reading = readTurn();
    long queued = 0;
    if (!mbClosed && !mbEnded && mpDevice->isOpen()) queued = std::max(0L, mpDevice->size());
    return mHeld.size() + queued;
}

void Device::write(const char* data, long length) {
    std::unique_lock<std::mutex> reading;
    if (!mbFullDuplex) reading = readTurn();
    std::lock_guard<std::mutex> writing(mWriteLock);
    for (long done = 0; done < length;) {
        long n = mbClosed ? 0 : mpDevice->write(data + done, length - done);
        if (n <= 0) throw IO::Exception(Base::ErrNotOpen, ".", __LINE__, "the device took no more bytes");
        done += n;
    }
}

void Device::flush() {
    std::unique_lock<std::mutex> reading;
    if (!mbFullDuplex) reading = readTurn();
    std::lock_guard<std::mutex> writing(mWriteLock);
    if (!mbClosed && mpDevice->isOpen()) mpDevice->flush();
}

void Device::exclusive(const std::function<void(IO::Device&)>& f) {
    std::unique_lock<std::mutex> reading = readTurn();
    std::lock_guard<std::mutex> writing(mWriteLock);
    if (mbClosed) throw IO::Exception(Base::ErrNotOpen, ".", __LINE__, "the device is closed");
    f(*mpDevice);
}

}  // namespace PyVaronet
