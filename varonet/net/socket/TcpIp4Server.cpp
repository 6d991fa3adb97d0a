#include <varonet/net/socket/TcpIp4Server.h>

#include <varonet/net/socket/BsdSocketAddressIPv4.h>
#include <varonet/net/socket/BsdSocketDeviceInternal.h>
#include <varonet/net/socket/TcpIp4Device.h>

namespace Net {

TcpIp4Server::TcpIp4Server(unsigned int port) : BsdSocketServer(BsdSocketType::tcpIp4(), 0) {
    BsdSocketAddressIPv4 any("", port);
    getSocket().bind(any.getSockAddr(), any.getSockAddrLength());
    getSocket().listen();
}

IO::Device* TcpIp4Server::acceptInternal() {
    BsdSocket connection = getSocket().accept();
    return new TcpIp4Device(new BsdSocketDeviceInternal(connection));
}

void TcpIp4Server::rejectInternal() { getSocket().reject(); }

unsigned int TcpIp4Server::getLocalPort() const { return BsdSocketAddressIPv4::getLocal(getSocket()).getPort(); }

}  // namespace Net
