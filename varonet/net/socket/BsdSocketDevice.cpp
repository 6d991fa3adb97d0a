#include <varonet/net/socket/BsdSocketDevice.h>

#include <varonet/net/socket/BsdSocketDeviceInternal.h>

namespace Net {

BsdSocketDevice::BsdSocketDevice(const BsdSocketType& type, unsigned int connectTimeout)
    : IO::UnreliableDevice(0), mpSocket(new BsdSocketDeviceInternal(type, connectTimeout)) {}

BsdSocketDevice::BsdSocketDevice(const BsdSocketType& type, int socket, unsigned int connectTimeout)
    : IO::UnreliableDevice(0), mpSocket(new BsdSocketDeviceInternal(type, socket, connectTimeout)) {}

BsdSocketDevice::BsdSocketDevice(BsdSocketDeviceInternal* socket) : IO::UnreliableDevice(0), mpSocket(socket) {}

BsdSocketDevice::BsdSocketDevice(const BsdSocketDevice& other)
    : IO::CommonDevice(other), IO::UnreliableDevice(other),
      mpSocket(new BsdSocketDeviceInternal(static_cast<const BsdSocket&>(*other.mpSocket))) {}

BsdSocketDevice& BsdSocketDevice::operator=(const BsdSocketDevice& other) {
    if (this != &other) {
        IO::UnreliableDevice::operator=(other);
        *mpSocket = *other.mpSocket;
    }
    return *this;
}

BsdSocketDevice::~BsdSocketDevice() { delete mpSocket; }

BsdSocket& BsdSocketDevice::getSocket() const { return *mpSocket; }

bool BsdSocketDevice::isOpen() { return mpSocket->isConnected(); }
bool BsdSocketDevice::isEOF() { return !mpSocket->isConnected(); }
void BsdSocketDevice::close() { mpSocket->close(); }
long BsdSocketDevice::size() { return mpSocket->getAvailable(); }
bool BsdSocketDevice::waitForData(unsigned int ms) { return mpSocket->waitFor(ms, BsdSocket::Read); }
long BsdSocketDevice::readInternal(char* buffer, long length) { return mpSocket->receive(buffer, length); }
void BsdSocketDevice::setConnectTimeout(unsigned int ms) { mpSocket->setConnectTimeout(ms); }
long BsdSocketDevice::write(const char* buffer, long length) { return mpSocket->send(buffer, length); }
void BsdSocketDevice::setBlocking(bool blocking) { mpSocket->setBlocking(blocking); }
void BsdSocketDevice::wakeUp() { mpSocket->wakeUp(); }

}  // namespace Net
