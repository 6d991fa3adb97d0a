// Reads with a time-out for devices whose own reads may return early or block.
#include <varonet/base/UnreliableDevice.h>

#include <varonet/base/StopWatch.h>

namespace IO {

long UnreliableDevice::read(char* buffer, long length) { return readWithTimeout(*this, buffer, length, getTimeout()); }

long UnreliableDevice::readWithTimeout(InputDevice& device, char* buffer, long length, unsigned int timeout) {
    if (length <= 0) return 0;
    if (timeout == 0) return device.readInternal(buffer, length);
    OS::StopWatch watch;
    long got = 0;
    while (got < length) {
        unsigned int left = watch.getRemaining(timeout);
        if (left == 0 && got > 0) break;
        if (!device.waitForData(left)) break;
        long n = device.readInternal(buffer + got, length - got);
        if (n <= 0) break;
        got += n;
    }
    return got;
}

}  // namespace IO
