#include <varonet/net/socket/BsdSocketServer.h>

namespace Net {

BsdSocketServer::BsdSocketServer(const BsdSocketType& type, unsigned int connectTimeout)
    : mSocket(type, connectTimeout) {}

BsdSocketServer::BsdSocketServer(const BsdSocketServer& other)
    : IO::DeviceServer(), mSocket(other.mSocket) {
    IO::DeviceServer::setBlocking(other.isBlocking());
}

BsdSocketServer& BsdSocketServer::operator=(const BsdSocketServer& other) {
    if (this != &other) {
        mSocket = other.mSocket;
        IO::DeviceServer::setBlocking(other.isBlocking());
    }
    return *this;
}

void BsdSocketServer::setBlocking(bool blocking) {
    mSocket.setBlocking(blocking);
    IO::DeviceServer::setBlocking(blocking);
}

bool BsdSocketServer::waitForConnection(unsigned int ms) { return mSocket.waitFor(ms, BsdSocket::Accept); }

void BsdSocketServer::wakeUp() { mSocket.wakeUp(); }

}  // namespace Net
