// ServedPort: a pseudo-terminal served with RFC 2217 by a relay in the test's own process.
#include "support/ServedPort.h"

#include <varonet/net/socket/TcpServer.h>
#include <varonet/udl/ServerDevice.h>

namespace TestSupport {

ServedPort::ServedPort(const std::string& locator)
    : mServer("server:rfc2217:Port=0", nullptr), mSide(locator, nullptr), mLink(mServer, mSide) {
    mServer.partner(mSide);
    mServer.start();
    mSide.start();
}

unsigned int ServedPort::port() const {
    auto* served = static_cast<IO::ServerDevice*>(mServer.getDevice());
    return static_cast<Net::TcpServer*>(served->getServer())->getLocalPort();
}

void ServedPort::onPort(const std::function<void(IO::SerialDevice&)>& f) {
    mSide.withDevice([&f](IO::Device& device) { f(static_cast<IO::SerialDevice&>(device)); });
}

}  // namespace TestSupport
