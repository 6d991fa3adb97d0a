// Plain POSIX loopback sockets for socket tests: a listener, a full accept queue, raw clients and free ports.
#include "support/Loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace TestSupport {

namespace {
// A new TCP socket bound to 127.0.0.1:port (port 0: an ephemeral one) or, with connect, connected there.
int loopback(unsigned int port, bool connect, int flags = 0) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto* address = reinterpret_cast<sockaddr*>(&a);
    if ((connect ? ::connect(fd, address, sizeof a) : ::bind(fd, address, sizeof a)) < 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}
}  // namespace

unsigned int localPort(int fd) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

RawListener::RawListener(int backlog) : miFd(loopback(0, false)) {
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
        int fd = loopback(muPort, true, SOCK_NONBLOCK);
        if (fd < 0) return false;
        mvFillers.push_back(fd);
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 200) == 0) return true;
    }
    return false;
}

int connectRaw(unsigned int port) {
    int fd = loopback(port, true);
    timeval limit{5, 0};  // every read a test makes on it ends within 5 s
    if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

bool waitListening(unsigned int port, unsigned int ms) {
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    for (unsigned int waited = 0; waited <= ms; waited += 10) {
        for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
            std::ifstream lines(table);
            // "sl local_address rem_address st ...": st 0A is LISTEN
            for (std::string line, sl, local, remote, st; std::getline(lines, line);) {
                std::istringstream(line) >> sl >> local >> remote >> st;
                if (st == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0) return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool hasIPv6Loopback() {
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (fd >= 0) ::close(fd);
    return bound;
}

unsigned int unusedPort() {
    int fd = loopback(0, false);
    unsigned int port = localPort(fd);
    ::close(fd);
    return port;
}

}  // namespace TestSupport
