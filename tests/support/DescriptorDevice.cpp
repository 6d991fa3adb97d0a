// A device over a raw descriptor (socket pair end, pipe or pty) for tests.
#include "support/DescriptorDevice.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include <varonet/base/detail/FileInternal.h>

namespace TestSupport {

DescriptorDevice::DescriptorDevice(int fd, bool owns) : mpFile(std::make_unique<IO::FileInternal>(fd, owns)) {}

DescriptorDevice::~DescriptorDevice() = default;

bool DescriptorDevice::isOpen() { return mpFile->isOpen(); }

void DescriptorDevice::close() { mpFile->close(); }

long DescriptorDevice::size() { return mpFile->isOpen() ? mpFile->available() : 0; }

bool DescriptorDevice::waitForData(unsigned int ms) { return mpFile->isOpen() && mpFile->waitReadable(ms); }

long DescriptorDevice::write(const char* buffer, long length) { return mpFile->write(buffer, length); }

int DescriptorDevice::getHandle() const { return mpFile->getHandle(); }

bool DescriptorDevice::isEOF() {
    if (!mpFile->isOpen()) return true;
    if (!mbEOF && mpFile->waitReadable(0) && mpFile->available() == 0) mbEOF = true;
    return mbEOF;
}

long DescriptorDevice::readInternal(char* buffer, long length) {
    if (length <= 0) return 0;
    long n = mpFile->read(buffer, length);
    if (n == 0) mbEOF = true;
    return n;
}

SocketPair::SocketPair() {
    ::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd) != 0) throw std::runtime_error("socketpair");
}

SocketPair::~SocketPair() {
    for (int f : fd)
        if (f >= 0) ::close(f);
}

int SocketPair::take(int i) {
    int f = fd[i];
    fd[i] = -1;
    return f;
}

}  // namespace TestSupport
