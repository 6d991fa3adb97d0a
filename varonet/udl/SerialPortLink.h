#pragma once
// UDL::SerialPortLink: lets the RFC 2217 server on one side of a relay
// control the serial port on the other side.
//
//   caller --RFC 2217--> [server:rfc2217:4000] proxy A <==> proxy B [serial:ttyUSB0@115200]
//                          settings, DTR, RTS, break -----------> the port (under B's locks)
//                          <------------------------------------- its modem lines
//
// Each command runs on the port through Proxy::withDevice, so no relay thread
// reads, writes, opens or closes the port meanwhile. A port side that is not
// a serial port (or is closed) refuses what it cannot take, and the caller is
// told what holds.

#include <varonet/base/Export.h>
#include <varonet/udl/Proxy.h>

namespace Net {
class Rfc2217Server;
}

namespace UDL {

class VARONET_API SerialPortLink {
public:
    /// Links when serverSide's device is a server:rfc2217: one (see isLinked);
    /// otherwise does nothing. Both proxies must outlive the link; they may
    /// run already.
    SerialPortLink(Proxy& serverSide, Proxy& portSide);
    SerialPortLink(const SerialPortLink&) = delete;
    SerialPortLink& operator=(const SerialPortLink&) = delete;
    /// Ends the control, after a command that runs has finished.
    ~SerialPortLink();

    /// True when the server side is an RFC 2217 server, now controlling the port side.
    bool isLinked() const { return mpServer != nullptr; }

private:
    Net::Rfc2217Server* mpServer = nullptr;  // the server side's, alive while its proxy is
};

}  // namespace UDL
