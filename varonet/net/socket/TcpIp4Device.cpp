// The TCP client: connecting with its time-out, TCP_NODELAY, and the addresses of both ends.
#include <varonet/net/socket/TcpIp4Device.h>

#include <cerrno>

#include <varonet/base/IOException.h>
#include <varonet/net/socket/SocketErrors.h>
#include <varonet/net/socket/detail/BsdSocketAddressIPv4.h>
#include <varonet/net/socket/detail/BsdSocketDeviceInternal.h>

namespace Net {

namespace {
unsigned int checkedPort(const Base::String& host, unsigned int port) {
    if (port == 0 || port > 65535)
        throw Base::Exception(ErrBadPort, ".", __LINE__,
                              "port " + Base::String::fromUnsigned(port) + " of " + host + " is not in 1..65535");
    return port;
}
}  // namespace

TcpIp4Device::TcpIp4Device(const Base::String& host, unsigned int port, unsigned int connectTimeout)
    : BsdSocketDevice(BsdSocketType::tcpIp4(), connectTimeout), msPeerIP(host), muPeerPort(checkedPort(host, port)),
      msLocalIP(""), muConnectTimeout(connectTimeout) {}

TcpIp4Device::TcpIp4Device(int socket, unsigned int connectTimeout)
    : BsdSocketDevice(BsdSocketType::tcpIp4(), socket, connectTimeout), msPeerIP(""), muPeerPort(0), msLocalIP(""),
      muConnectTimeout(connectTimeout) {}

TcpIp4Device::TcpIp4Device(std::unique_ptr<BsdSocketDeviceInternal> socket)
    : BsdSocketDevice(std::move(socket)), muPeerPort(0), muConnectTimeout(getSocket().getConnectTimeout()) {
    getLocalAddress();
    getPeerAddress();
    getSocket().setNoDelay(mbNoDelay);
}

void TcpIp4Device::open() {
    if (isOpen()) return;  // isOpen also drops a socket left over from a failed connect
    BsdSocketAddressIPv4 address = resolveHost(msPeerIP, muPeerPort);
    // Linux would take 0.0.0.0 (an empty host) as this machine; it names no peer.
    if (address.getIP() == "0.0.0.0")
        IO::checkSystemError(EADDRNOTAVAIL, "connect to 0.0.0.0:" + Base::String::fromUnsigned(muPeerPort));
    getSocket().connect(address.getSockAddr(), address.getSockAddrLength());
    getSocket().setNoDelay(mbNoDelay);
    getLocalAddress();
}

Base::String TcpIp4Device::getName() { return msPeerIP + ":" + Base::String::fromUnsigned(muPeerPort); }

void TcpIp4Device::setConnectTimeout(unsigned int ms) {
    BsdSocketDevice::setConnectTimeout(ms);
    muConnectTimeout = ms;
}

void TcpIp4Device::setNoDelay(bool on) {
    mbNoDelay = on;
    getSocket().setNoDelay(on);
}

void TcpIp4Device::getLocalAddress() {
    BsdSocketAddressIPv4 local = BsdSocketAddressIPv4::getLocal(getSocket());
    msLocalIP = local.getIP();
    muLocalPort = local.getPort();
}

void TcpIp4Device::getPeerAddress() {
    BsdSocketAddressIPv4 peer = BsdSocketAddressIPv4::getPeer(getSocket());
    msPeerIP = peer.getIP();
    muPeerPort = peer.getPort();
}

}  // namespace Net
