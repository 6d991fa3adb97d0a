// A server over a listening socket: blocking mode, waits for callers and wake-ups.
#include <varonet/net/socket/BsdSocketServer.h>

#include <varonet/net/socket/detail/BsdSocket.h>

namespace Net {

BsdSocketServer::BsdSocketServer(const BsdSocketType& type, unsigned int connectTimeout)
    : mpSocket(std::make_unique<BsdSocket>(type, connectTimeout)) {}

BsdSocketServer::BsdSocketServer(const BsdSocketServer& other)
    : IO::DeviceServer(), mpSocket(std::make_unique<BsdSocket>(*other.mpSocket)) {
    IO::DeviceServer::setBlocking(other.isBlocking());
}

BsdSocketServer& BsdSocketServer::operator=(const BsdSocketServer& other) {
    if (this != &other) {
        *mpSocket = *other.mpSocket;
        IO::DeviceServer::setBlocking(other.isBlocking());
    }
    return *this;
}

BsdSocketServer::~BsdSocketServer() = default;

void BsdSocketServer::setBlocking(bool blocking) {
    mpSocket->setBlocking(blocking);
    IO::DeviceServer::setBlocking(blocking);
}

bool BsdSocketServer::waitForConnection(unsigned int ms) { return mpSocket->waitFor(ms, BsdSocket::Accept); }

void BsdSocketServer::wakeUp() { mpSocket->wakeUp(); }

}  // namespace Net
