// The TCP listener: accepting a caller as a device, and refusing one with a reset.
#include <varonet/net/socket/TcpIp4Server.h>

#include <memory>

#include <varonet/base/Exception.h>
#include <varonet/net/socket/SocketErrors.h>
#include <varonet/net/socket/TcpIp4Device.h>
#include <varonet/net/socket/detail/BsdSocketAddressIPv4.h>
#include <varonet/net/socket/detail/BsdSocketDeviceInternal.h>

namespace Net {

TcpIp4Server::TcpIp4Server(unsigned int port) : BsdSocketServer(BsdSocketType::tcpIp4(), 0) {
    if (port > 65535)
        throw Base::Exception(ErrBadPort, ".", __LINE__,
                              "port " + Base::String::fromUnsigned(port) + " is not in 0..65535");
    BsdSocketAddressIPv4 any("", port);
    getSocket().bind(any.getSockAddr(), any.getSockAddrLength());
    getSocket().listen();
}

IO::Device* TcpIp4Server::acceptInternal() {
    BsdSocket connection = getSocket().accept();
    std::unique_ptr<TcpIp4Device> device(new TcpIp4Device(std::make_unique<BsdSocketDeviceInternal>(connection)));
    if (!mbNoDelay) device->setNoDelay(false);
    return device.release();
}

void TcpIp4Server::rejectInternal() { getSocket().reject(); }

unsigned int TcpIp4Server::getLocalPort() const { return BsdSocketAddressIPv4::getLocal(getSocket()).getPort(); }

}  // namespace Net
