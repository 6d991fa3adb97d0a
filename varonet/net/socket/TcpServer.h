#pragma once
// Net::TcpServer: a TCP listener on IPv6 and IPv4.
//
// Beside Net::TcpIp4Server (every IPv4 address): by default it listens on
// every address of both families at once (one IPv6 socket that takes IPv4
// callers too; on a host without IPv6, on every IPv4 address). A bind
// address keeps it to one address, a family to one family. It listens from
// construction on; each accepted connection is an open Net::TcpDevice owned
// by the caller, independent of the server.

#include <varonet/base/Export.h>
#include <varonet/base/String.h>
#include <varonet/net/socket/AddressFamily.h>
#include <varonet/net/socket/BsdSocketServer.h>

namespace Net {

class VARONET_API TcpServer : public BsdSocketServer {
public:
    /// Binds port (0 = a free port, see getLocalPort) on bindAddress ("" =
    /// every address; a numeric address or a name, whose first address of the
    /// family is used) and listens. A port in use raises EADDRINUSE, an
    /// address the host does not have EADDRNOTAVAIL, a family the host lacks
    /// EAFNOSUPPORT, each with a text that names the address and its family;
    /// a port above 65535 raises Base::Exception ErrBadPort and a name without
    /// address IO::Exception ErrHostNotFound. No server exists then.
    explicit TcpServer(unsigned int port, const Base::String& bindAddress = "", EAddressFamily family = AnyFamily);
    TcpServer(const TcpServer& other) = default;
    TcpServer& operator=(const TcpServer& other) = default;

    /// The next queued caller as an open Net::TcpDevice; the caller owns it. A
    /// blocking server waits for one (wakeUp ends the wait with EINTR); a
    /// non-blocking one raises IO::WouldBlockException when nobody waits.
    IO::Device* acceptInternal() override;
    /// Refuses the next queued caller: it sees its connection reset.
    void rejectInternal() override;

    /// Where the server listens, "ADDRESS:PORT" with the port in use:
    /// "[::]:4000" (every address of both families), "0.0.0.0:4000",
    /// "[::1]:4000", "127.0.0.1:4000".
    const Base::String& getListenAddress() const { return msListenAddress; }
    /// The port in use (the one the system chose for port 0).
    unsigned int getLocalPort() const { return muLocalPort; }
    /// True when the server listens on every address of its families.
    bool listensEverywhere() const { return mbEverywhere; }
    /// "IPv6 and IPv4", "IPv6" or "IPv4": who can call.
    const char* getFamilies() const;
    /// TCP_NODELAY for connections accepted from now on (true by default).
    void setNoDelay(bool on) { mbNoDelay = on; }
    bool getNoDelay() const { return mbNoDelay; }

private:
    Base::String msListenAddress;
    unsigned int muLocalPort = 0;
    bool mbEverywhere = false;
    int miFamilies = 0;  // 4, 6, or 46 for both
    bool mbNoDelay = true;
};

}  // namespace Net
