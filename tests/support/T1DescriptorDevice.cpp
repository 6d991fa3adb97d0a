#include "support/T1DescriptorDevice.h"

T1DescriptorDevice::T1DescriptorDevice(int fd, bool owns) : mFile(fd, owns) {}

bool T1DescriptorDevice::isEOF() {
    if (!mbEOF && mFile.isOpen() && mFile.waitReadable(0) && mFile.available() == 0) mbEOF = true;
    return mbEOF;
}

long T1DescriptorDevice::readInternal(char* buffer, long length) {
    if (length <= 0) return 0;
    long n = mFile.read(buffer, length);
    if (n == 0) mbEOF = true;
    return n;
}
