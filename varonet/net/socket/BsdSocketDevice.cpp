// A device over a connected stream socket: reads, writes, waits and wake-ups passed to the socket.
#include <varonet/net/socket/BsdSocketDevice.h>

#include <varonet/net/socket/detail/BsdSocketDeviceInternal.h>

namespace Net {

BsdSocketDevice::BsdSocketDevice(const BsdSocketType& type, unsigned int connectTimeout)
    : IO::UnreliableDevice(0), mpSocket(std::make_unique<BsdSocketDeviceInternal>(type, connectTimeout)) {}

// The handle adopts the descriptor before the device's own memory is asked for,
// so a failed allocation still closes it.
BsdSocketDevice::BsdSocketDevice(const BsdSocketType& type, int socket, unsigned int connectTimeout)
    : BsdSocketDevice(std::make_unique<BsdSocketDeviceInternal>(BsdSocket(type, socket, connectTimeout))) {}

BsdSocketDevice::BsdSocketDevice(std::unique_ptr<BsdSocketDeviceInternal> socket)
    : IO::UnreliableDevice(0), mpSocket(std::move(socket)) {}

BsdSocketDevice::BsdSocketDevice(const BsdSocketDevice& other)
    : IO::CommonDevice(other), IO::UnreliableDevice(other),
      mpSocket(std::make_unique<BsdSocketDeviceInternal>(static_cast<const BsdSocket&>(*other.mpSocket))) {}

BsdSocketDevice& BsdSocketDevice::operator=(const BsdSocketDevice& other) {
    if (this != &other) {
        IO::UnreliableDevice::operator=(other);
        *mpSocket = *other.mpSocket;
    }
    return *this;
}

BsdSocketDevice::~BsdSocketDevice() = default;

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
