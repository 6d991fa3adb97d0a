#include <varonet/net/socket/TcpIp4Device.h>

#include <cerrno>

#include <varonet/base/IOException.h>
#include <varonet/net/socket/BsdSocketAddressIPv4.h>
#include <varonet/net/socket/BsdSocketDeviceInternal.h>

namespace Net {

TcpIp4Device::TcpIp4Device(const Base::String& host, unsigned int port, unsigned int connectTimeout)
    : BsdSocketDevice(BsdSocketType::tcpIp4(), connectTimeout), msPeerIP(host), muPeerPort(port), msLocalIP(""),
      muConnectTimeout(connectTimeout) {}

TcpIp4Device::TcpIp4Device(int socket, unsigned int connectTimeout)
    : BsdSocketDevice(BsdSocketType::tcpIp4(), socket, connectTimeout), msPeerIP(""), muPeerPort(0), msLocalIP(""),
      muConnectTimeout(connectTimeout) {}

TcpIp4Device::TcpIp4Device(BsdSocketDeviceInternal* socket)
    : BsdSocketDevice(socket), muPeerPort(0), muConnectTimeout(socket->getConnectTimeout()) {
    getLocalAddress();
    getPeerAddress();
}

TcpIp4Device::TcpIp4Device(const TcpIp4Device& other)
    : IO::CommonDevice(other), BsdSocketDevice(other), msPeerIP(other.msPeerIP), muPeerPort(other.muPeerPort),
      msLocalIP(other.msLocalIP), muLocalPort(other.muLocalPort), muConnectTimeout(other.muConnectTimeout) {}

TcpIp4Device& TcpIp4Device::operator=(const TcpIp4Device& other) {
    if (this != &other) {
        BsdSocketDevice::operator=(other);
        msPeerIP = other.msPeerIP;
        muPeerPort = other.muPeerPort;
        msLocalIP = other.msLocalIP;
        muLocalPort = other.muLocalPort;
        muConnectTimeout = other.muConnectTimeout;
    }
    return *this;
}

void TcpIp4Device::open() {
    if (isOpen()) return;  // isOpen also drops a socket left over from a failed connect
    BsdSocketAddressIPv4 address = resolveHost(msPeerIP, muPeerPort);
    // Linux would take 0.0.0.0 (an empty host) as this machine; it names no peer.
    if (address.getIP() == "0.0.0.0") IO::checkSystemError(EADDRNOTAVAIL, "");
    getSocket().connect(address.getSockAddr(), address.getSockAddrLength());
    getLocalAddress();
}

Base::String TcpIp4Device::getName() { return msPeerIP + ":" + Base::String::fromUnsigned(muPeerPort); }

void TcpIp4Device::setConnectTimeout(unsigned int ms) {
    BsdSocketDevice::setConnectTimeout(ms);
    muConnectTimeout = ms;
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
