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
    /// A port in use raises EADDRINUSE and a port above 65535 Base::Exception
    /// ErrBadPort; no server exists then.
    explicit TcpIp4Server(unsigned int port);
    TcpIp4Server(const TcpIp4Server& other) = default;
    TcpIp4Server& operator=(const TcpIp4Server& other) = default;

    /// The next queued caller as an open device named by its address and port,
    /// with TCP_NODELAY as setNoDelay chose; the caller owns it. A blocking
    /// server waits for one (wakeUp ends the wait with EINTR); a non-blocking
    /// one raises IO::WouldBlockException when nobody waits.
    IO::Device* acceptInternal() override;
    /// Refuses the next queued caller: it sees its connection reset; the
    /// callers behind it are unaffected.
    void rejectInternal() override;
    /// The port the server listens on.
    unsigned int getLocalPort() const;
    /// TCP_NODELAY for connections accepted from now on (true by default; see
    /// TcpIp4Device::setNoDelay).
    void setNoDelay(bool on) { mbNoDelay = on; }
    bool getNoDelay() const { return mbNoDelay; }

private:
    bool mbNoDelay = true;
};

}  // namespace Net
