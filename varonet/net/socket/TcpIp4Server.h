#pragma once
// Net::TcpIp4Server: a TCP listener on every local IPv4 address.
//
// It listens from construction on. Each accepted connection is an open
// Net::TcpIp4Device owned by the caller, independent of the server.

#include <varonet/base/Export.h>
#include <varonet/net/socket/BsdSocketServer.h>

namespace Net {

class VARONET_API TcpIp4Server : public BsdSocketServer {
public:
    /// Binds 0.0.0.0:port (0 = a free port, see getLocalPort) and listens.
    /// A port in use raises EADDRINUSE; no server exists then.
    explicit TcpIp4Server(unsigned int port);
    TcpIp4Server(const TcpIp4Server& other) = default;
    TcpIp4Server& operator=(const TcpIp4Server& other) = default;

    /// The next queued caller as an open device named by its address and port.
    /// A blocking server waits for one (wakeUp ends the wait with EINTR); a
    /// non-blocking one raises IO::WouldBlockException when nobody waits.
    IO::Device* acceptInternal() override;
    /// Refuses the next queued caller: it sees its connection reset; the
    /// callers behind it are unaffected.
    void rejectInternal() override;
    /// The port the server listens on.
    unsigned int getLocalPort() const;
};

}  // namespace Net
