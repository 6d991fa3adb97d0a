#pragma once
// Raw loopback helpers for socket tests: plain POSIX sockets on 127.0.0.1,
// so the library is tested against code that is not its own.

#include <memory>
#include <vector>

namespace TestSupport {

/// A listening socket on 127.0.0.1 with an ephemeral port.
class RawListener {
public:
    explicit RawListener(int backlog = 8);
    ~RawListener();
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;
    unsigned int getPort() const { return muPort; }
    /// Fills the accept queue so that further SYNs are dropped (Linux drops a SYN
    /// when the queue is full). Returns false when it could not be filled.
    bool fillAcceptQueue();

private:
    int miFd = -1;
    unsigned int muPort = 0;
    std::vector<int> mvFillers;
};

/// A blocking client socket connected to 127.0.0.1:port (reads time out after 5 s); -1 on failure.
int connectRaw(unsigned int port);
/// A port on 127.0.0.1 where nothing listens (bound once, then released).
unsigned int unusedPort();
/// The local port of a socket.
unsigned int localPort(int fd);
/// True once a TCP socket of this machine listens on port (any address), asked
/// of /proc/net/tcp and tcp6 every 10 ms for at most ms: a peer's readiness.
bool waitListening(unsigned int port, unsigned int ms);
/// True when this machine has the IPv6 loopback address ::1.
bool hasIPv6Loopback();

}  // namespace TestSupport
