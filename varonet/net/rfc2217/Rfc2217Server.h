#pragma once
// Net::Rfc2217Server: a TCP listener whose callers speak the Telnet Com Port
// Control option (RFC 2217) to control a serial port: "server:rfc2217:PORT".
//
// Each accepted connection is an IO::Device whose data is the caller's data
// (Telnet escapes removed, and added to what is written to it). The caller's
// settings (speed, data bits, parity, stop bits, flow control, DTR, RTS,
// break, purges) go to the serial port that setPortAccess names, and each
// setting is answered with what the port took; its modem lines (DCD, DSR,
// CTS, RI) are reported to the caller whenever they change. Without a port
// a connection keeps the settings it is given, reports them back, and its
// modem lines read low.

#include <functional>
#include <memory>

#include <varonet/base/Export.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/net/socket/TcpServer.h>

namespace Net {

struct Rfc2217PortAccess;

class VARONET_API Rfc2217Server : public TcpServer {
public:
    /// Runs a function on the controlled port with nothing else using it
    /// (UDL::Proxy::withDevice on a relay's side does that).
    using PortAccess = std::function<void(const std::function<void(IO::SerialDevice&)>&)>;

    /// As Net::TcpServer: listens on port (and bindAddress, family) at once.
    explicit Rfc2217Server(unsigned int port, const Base::String& bindAddress = "", EAddressFamily family = AnyFamily);
    Rfc2217Server(const Rfc2217Server&) = delete;
    Rfc2217Server& operator=(const Rfc2217Server&) = delete;
    ~Rfc2217Server() override;

    /// The port that callers control, for the connection being served and the
    /// ones after it. An empty access ends the control; it returns once a
    /// command that uses the port has finished. access is called on the thread
    /// that reads the connection, at most every 100 ms while it waits (for the
    /// modem lines) and for each setting.
    void setPortAccess(PortAccess access);
    /// The next caller as an open device (see above); the caller owns it.
    IO::Device* acceptInternal() override;

private:
    std::shared_ptr<Rfc2217PortAccess> mpAccess;
};

}  // namespace Net
