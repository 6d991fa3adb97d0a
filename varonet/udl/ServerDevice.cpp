#include <varonet/udl/ServerDevice.h>

#include <varonet/base/DeviceManager.h>
#include <varonet/base/Exception.h>
#include <varonet/base/IOException.h>
#include <varonet/udl/UDLErrors.h>

namespace IO {

ServerDevice::ServerDevice(DeviceServer* server, unsigned int connectTimeoutMs)
    : mpServer(server), muConnectTimeout(connectTimeoutMs) {}

ServerDevice::~ServerDevice() {
    delete mpConnection;
    if (DeviceManager* manager = getDeviceManager()) manager->releaseServer(mpServer);
    else delete mpServer;
}

Device& ServerDevice::connection() {
    if (!mpConnection) throw Base::Exception(UDL::ErrNotConnected, ".", __LINE__, "no caller connected");
    return *mpConnection;
}

bool ServerDevice::isOpen() { return mpConnection && mpConnection->isOpen(); }

void ServerDevice::open() {
    if (isOpen()) return;
    if (!mpServer->waitForConnection(muConnectTimeout) && muConnectTimeout != 0)
        throw Base::TimeoutException(".", __LINE__, "no caller within the connect time-out");
    Device* accepted = mpServer->accept();
    delete mpConnection;  // a connection that had closed by itself
    mpConnection = accepted;
    if (!mpConnection) throw Exception(UDL::ErrNoConnection, ".", __LINE__, "the server handed out no connection");
    if (!mpConnection->isOpen()) mpConnection->open();
}

void ServerDevice::close() {
    if (!mpConnection) return;
    mpConnection->close();
    delete mpConnection;
    mpConnection = nullptr;
}

Base::String ServerDevice::getName() { return mpConnection ? mpConnection->getName() : "Unknown ServerDevice"; }

long ServerDevice::read(char* buffer, long length) { return connection().read(buffer, length); }
void ServerDevice::skip(long count) { connection().skip(count); }
long ServerDevice::size() { return connection().size(); }
bool ServerDevice::isEOF() { return connection().isEOF(); }
unsigned int ServerDevice::getTimeout() { return mpConnection ? mpConnection->getTimeout() : 0; }
bool ServerDevice::waitForData(unsigned int ms) { return connection().waitForData(ms); }
long ServerDevice::readInternal(char* buffer, long length) { return connection().readInternal(buffer, length); }
long ServerDevice::write(const char* buffer, long length) { return connection().write(buffer, length); }
void ServerDevice::flush() { connection().flush(); }
void ServerDevice::initialize() { mpServer->initialize(); }

void ServerDevice::wakeUp() {
    if (mpConnection) mpConnection->wakeUp();
    // After a caller left, open() waits on the server again while the old
    // connection is still held: the server's wait is woken too.
    mpServer->wakeUp();
}

void ServerDevice::lock() { mpServer->lock(); }
bool ServerDevice::trylock() { return mpServer->trylock(); }
void ServerDevice::unlock() { mpServer->unlock(); }
bool ServerDevice::isLocked() { return mpServer->isLocked(); }

}  // namespace IO
