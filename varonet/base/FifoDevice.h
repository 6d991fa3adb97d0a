#pragma once
// Base::FifoDevice: an in-memory byte queue; what is written is read back.
//
// A reader waits up to the device's time-out for the first byte; a writer on
// another thread wakes it. Closing wakes every reader; reads of a closed and
// drained FIFO return 0 at once.

#include <condition_variable>
#include <mutex>
#include <vector>

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>

namespace Base {

class VARONET_API FifoDevice : public IO::Device {
public:
    /// timeoutMs: how long a read waits for its first byte.
    explicit FifoDevice(unsigned int timeoutMs = 0x7FFFFFFF);

    bool isOpen() override;
    /// Re-opens a closed FIFO (what it still holds stays readable).
    void open() override;
    void close() override;
    Base::String getName() override { return "loopback:"; }

    long size() override;
    bool isEOF() override;
    unsigned int getTimeout() override { return muTimeout; }
    void setTimeout(unsigned int ms) { muTimeout = ms; }
    bool waitForData(unsigned int ms) override;
    /// Waits up to the time-out for the first byte, then takes what is there
    /// (at most length); 0 when the time-out passed or the FIFO is closed and empty.
    long readInternal(char* buffer, long length) override;
    /// Queues all bytes (even while closed, so nothing written is lost).
    long write(const char* buffer, long length) override;
    using IO::OutputDevice::write;
    bool isReliable() override { return true; }

private:
    bool waitLocked(std::unique_lock<std::mutex>& guard, unsigned int ms);

    unsigned int muTimeout;
    std::mutex mMutex;
    std::condition_variable mArrived;
    std::vector<char> mvBuffer;
    std::size_t muHead = 0;
    bool mbOpen = true;
};

}  // namespace Base
