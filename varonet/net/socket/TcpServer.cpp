// The TCP listener on IPv6 and IPv4.
#include <varonet/net/socket/TcpServer.h>

#include <sys/socket.h>

#include <cerrno>
#include <memory>

#include <varonet/base/Exception.h>
#include <varonet/base/IOException.h>
#include <varonet/net/socket/SocketErrors.h>
#include <varonet/net/socket/TcpDevice.h>
#include <varonet/net/socket/detail/BsdSocketDeviceInternal.h>
#include <varonet/net/socket/detail/InetAddress.h>

namespace Net {

namespace {
// Runs step; a system failure is raised again with a text that names the address and its family.
template <class Step>
void naming(const char* operation, const InetAddress& address, Step step) {
    try {
        step();
    } catch (const IO::SystemException& e) {
        IO::checkSystemError(static_cast<int>(e.getErrorCode()),
                             operation + (" " + Base::String(address.getFamilyName())) + " " + address.toString());
    }
}
}  // namespace

TcpServer::TcpServer(unsigned int port, const Base::String& bindAddress, EAddressFamily family)
    : BsdSocketServer(BsdSocketType::tcpIp6(), 0) {
    if (port > 65535)
        throw Base::Exception(ErrBadPort, ".", __LINE__,
                              "port " + Base::String::fromUnsigned(port) + " is not in 0..65535");
    InetAddress address =
        bindAddress.isEmpty() ? InetAddress::any(family, port) : InetAddress::lookUp(bindAddress, port, family).front();
    BsdSocket& socket = getSocket();
    socket.setFamily(address.getFamily());
    const bool both = family == AnyFamily && address.isAny() && address.getFamily() == AF_INET6;
    if (address.getFamily() == AF_INET6) {
        try {
            naming("listen on", address, [&] { socket.setV6Only(!both); });
        } catch (const IO::SystemException& e) {
            // A host without IPv6 still listens on every IPv4 address when no family was asked for.
            if (!both || e.getErrorCode() != EAFNOSUPPORT) throw;
            address = InetAddress::any(IPv4Only, port);
            socket.setFamily(AF_INET);
        }
    }
    naming("bind to", address, [&] { socket.bind(address.getSockAddr(), address.getSockAddrLength()); });
    socket.listen();
    const InetAddress local = InetAddress::ofSocket(socket, false);
    msListenAddress = local.toString();
    muLocalPort = local.getPort();
    mbEverywhere = local.isAny();
    miFamilies = local.getFamily() == AF_INET ? 4 : (both && socket.getType().getFamily() == AF_INET6 ? 46 : 6);
}

IO::Device* TcpServer::acceptInternal() {
    BsdSocket connection = getSocket().accept();
    std::unique_ptr<TcpDevice> device(new TcpDevice(std::make_unique<BsdSocketDeviceInternal>(connection)));
    if (!mbNoDelay) device->setNoDelay(false);
    return device.release();
}

void TcpServer::rejectInternal() { getSocket().reject(); }

const char* TcpServer::getFamilies() const {
    return miFamilies == 46 ? "IPv6 and IPv4" : miFamilies == 6 ? "IPv6" : "IPv4";
}

}  // namespace Net
