#include "support/Loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace TestSupport {

namespace {
sockaddr_in loopback(unsigned int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}
}  // namespace

unsigned int localPort(int fd) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

RawListener::RawListener(int backlog) {
    miFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    ::bind(miFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(miFd, backlog);
    muPort = localPort(miFd);
}

RawListener::~RawListener() {
    for (int fd : mvFillers) ::close(fd);
    ::close(miFd);
}

bool RawListener::fillAcceptQueue() {
    // Connect until one attempt hangs: from then on the queue is full.
    for (int i = 0; i < 16; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        mvFillers.push_back(fd);
        sockaddr_in a = loopback(muPort);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) continue;
        if (errno != EINPROGRESS) return false;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 200) == 0) return true;
    }
    return false;
}

int connectRaw(unsigned int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Every read a test makes on it ends within 5 s.
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in a = loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

unsigned int unusedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    unsigned int port = localPort(fd);
    ::close(fd);
    return port;
}

std::vector<char> pattern(std::size_t count) {
    std::vector<char> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

}  // namespace TestSupport
