#include "support/DescriptorDevice.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace TestSupport {

DescriptorDevice::DescriptorDevice(int fd, bool owns) : mFile(fd, owns) {}

bool DescriptorDevice::isEOF() {
    if (!mFile.isOpen()) return true;
    if (!mbEOF && mFile.waitReadable(0) && mFile.available() == 0) mbEOF = true;
    return mbEOF;
}

long DescriptorDevice::readInternal(char* buffer, long length) {
    if (length <= 0) return 0;
    long n = mFile.read(buffer, length);
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
