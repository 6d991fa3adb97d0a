#pragma once
// ServedPort: a serial port served with RFC 2217 by a relay in this process,
// as "varonet relay server:rfc2217:Port=0 PORT" serves it: two partnered
// proxies and the link that lets the server's callers control the port.

#include <functional>
#include <string>

#include <varonet/base/SerialDevice.h>
#include <varonet/udl/Proxy.h>
#include <varonet/udl/SerialPortLink.h>

namespace TestSupport {

class ServedPort {
public:
    /// Serves the port of locator (serial:...) on a free TCP port of every address.
    explicit ServedPort(const std::string& locator);
    /// The TCP port callers reach it on.
    unsigned int port() const;
    /// Runs f on the served port while the relay runs.
    void onPort(const std::function<void(IO::SerialDevice&)>& f);

private:
    UDL::Proxy mServer;
    UDL::Proxy mSide;
    UDL::SerialPortLink mLink;  // ends before the proxies do
};

}  // namespace TestSupport
