#include "base/UnreliableDevice.h"

#include "base/StopWatch.h"

namespace IO {

long UnreliableDevice::read(char* buffer, long length) {
    if (length <= 0) return 0;
    unsigned int timeout = getTimeout();
    if (timeout == 0) return readInternal(buffer, length);
    OS::StopWatch watch;
    long got = 0;
    while (got < length) {
        unsigned int left = watch.getRemaining(timeout);
        if (left == 0 && got > 0) break;
        if (!waitForData(left)) break;
        long n = readInternal(buffer + got, length - got);
        if (n <= 0) break;
        got += n;
    }
    return got;
}

}  // namespace IO
