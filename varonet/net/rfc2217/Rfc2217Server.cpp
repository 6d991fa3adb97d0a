// The RFC 2217 server: a TCP listener whose connections control a serial port.
#include <varonet/net/rfc2217/Rfc2217Server.h>

#include <memory>

#include <varonet/net/rfc2217/detail/Rfc2217Connection.h>
#include <varonet/net/rfc2217/detail/Rfc2217PortAccess.h>

namespace Net {

Rfc2217Server::Rfc2217Server(unsigned int port, const Base::String& bindAddress, EAddressFamily family)
    : TcpServer(port, bindAddress, family), mpAccess(std::make_shared<Rfc2217PortAccess>()) {}

Rfc2217Server::~Rfc2217Server() = default;

void Rfc2217Server::setPortAccess(PortAccess access) { mpAccess->set(std::move(access)); }

IO::Device* Rfc2217Server::acceptInternal() {
    std::unique_ptr<IO::Device> transport(TcpServer::acceptInternal());
    return new Rfc2217Connection(std::move(transport), mpAccess);
}

}  // namespace Net
