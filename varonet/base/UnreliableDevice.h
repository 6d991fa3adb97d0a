#pragma once
// IO::UnreliableDevice: a device whose reads wait at most a read time-out.

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>

namespace IO {

class VARONET_API UnreliableDevice : public Device {
public:
    explicit UnreliableDevice(unsigned int timeoutMs = 0) : muTimeout(timeoutMs) {}

    unsigned int getTimeout() override { return muTimeout; }
    virtual void setTimeout(unsigned int ms) { muTimeout = ms; }

    /// With a time-out of 0: one readInternal. Otherwise collects bytes until
    /// length are in or the time-out has passed since the call; a short count
    /// means the time-out was reached (0: nothing came).
    long read(char* buffer, long length) override;
    using InputDevice::read;

    /// The read above for any device: with timeoutMs 0 one readInternal,
    /// otherwise waitForData and readInternal until length bytes are in or
    /// timeoutMs has passed since the call.
    static long readWithTimeout(InputDevice& device, char* buffer, long length, unsigned int timeoutMs);

private:
    unsigned int muTimeout;
};

}  // namespace IO
