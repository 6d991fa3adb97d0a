// The link from a relay side's RFC 2217 server to the other side's serial port.
#include <varonet/udl/SerialPortLink.h>

#include <varonet/base/SerialDevice.h>
#include <varonet/net/rfc2217/Rfc2217Server.h>
#include <varonet/udl/ServerDevice.h>

namespace UDL {

SerialPortLink::SerialPortLink(Proxy& serverSide, Proxy& portSide) {
    serverSide.withDevice([this](IO::Device& device) {
        auto* served = dynamic_cast<IO::ServerDevice*>(&device);
        mpServer = served ? dynamic_cast<Net::Rfc2217Server*>(served->getServer()) : nullptr;
    });
    if (!mpServer) return;
    mpServer->setPortAccess([&portSide](const std::function<void(IO::SerialDevice&)>& f) {
        portSide.withDevice([&f](IO::Device& device) {
            if (auto* port = dynamic_cast<IO::SerialDevice*>(&device)) f(*port);
        });
    });
}

SerialPortLink::~SerialPortLink() {
    if (mpServer) mpServer->setPortAccess(nullptr);
}

}  // namespace UDL
