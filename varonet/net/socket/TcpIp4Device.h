#pragma once
// Net::TcpIp4Device: a TCP connection over IPv4, plain bytes both ways.
//
// A client device is built for a host and port and connects in open, with
// the connect time-out when one is set; it can be opened again after a close.
// A device accepted by Net::TcpIp4Server is open from the start. Both send
// small writes at once (TCP_NODELAY) unless setNoDelay(false) asks for Nagle's
// coalescing.

#include <memory>

#include <varonet/base/Export.h>
#include <varonet/base/String.h>
#include <varonet/net/socket/BsdSocketDevice.h>

namespace Net {

class TcpIp4Server;

class VARONET_API TcpIp4Device : public BsdSocketDevice {
public:
    /// host: dotted text or a name (looked up at open); nothing touches the
    /// network before open. connectTimeout in ms, 0 = as long as the system allows.
    /// A port outside 1..65535 raises Base::Exception ErrBadPort.
    TcpIp4Device(const Base::String& host, unsigned int port, unsigned int connectTimeout);
    /// Wraps a connected socket descriptor; open at once, addresses empty, ports 0.
    TcpIp4Device(int socket, unsigned int connectTimeout);
    /// Copies share the connection and carry the addresses and settings.
    TcpIp4Device(const TcpIp4Device& other) = default;
    TcpIp4Device& operator=(const TcpIp4Device& other) = default;
    ~TcpIp4Device() override = default;

    /// Resolves the host (IO::Exception ErrHostNotFound; an empty host or 0.0.0.0
    /// names no peer: EADDRNOTAVAIL), connects (the refusal's errno, or
    /// Base::TimeoutException after the connect time-out; both texts name the
    /// peer) and reads back the local address. Opening an open device does nothing.
    void open() override;
    /// "host:port" as built, or the peer's dotted address and port when accepted.
    Base::String getName() override;
    bool isReliable() override { return true; }
    /// Takes effect at the next open.
    void setConnectTimeout(unsigned int ms) override;
    /// true (the default): small writes leave at once (TCP_NODELAY); false:
    /// the system may hold them back to coalesce them. Applies at once when
    /// open, and at every later open.
    void setNoDelay(bool on);
    bool getNoDelay() const { return mbNoDelay; }

    const Base::String& getPeerIP() const { return msPeerIP; }
    unsigned int getPeerPort() const { return muPeerPort; }
    const Base::String& getLocalIP() const { return msLocalIP; }
    unsigned int getLocalPort() const { return muLocalPort; }
    /// The connect time-out the next open uses (ms, 0 = none).
    unsigned int getConnectTimeout() const { return muConnectTimeout; }

protected:
    friend class TcpIp4Server;
    /// An accepted connection: adopts socket and reads both addresses from it.
    explicit TcpIp4Device(std::unique_ptr<BsdSocketDeviceInternal> socket);
    void getLocalAddress();
    void getPeerAddress();

private:
    Base::String msPeerIP;
    unsigned int muPeerPort;
    Base::String msLocalIP;
    unsigned int muLocalPort = 0;
    unsigned int muConnectTimeout;
    bool mbNoDelay = true;
};

}  // namespace Net
