// A device that waits on its server for a caller in open and then talks to that connection.
#include <varonet/udl/ServerDevice.h>

#include <utility>

#include <varonet/base/DeviceManager.h>
#include <varonet/base/Exception.h>
#include <varonet/base/IOException.h>
#include <varonet/udl/UDLErrors.h>

namespace IO {

ServerDevice::ServerDevice(DeviceServer* server, unsigned int connectTimeoutMs)
    : mpServer(server), muConnectTimeout(connectTimeoutMs) {}

ServerDevice::~ServerDevice() {
    mpConnection.reset();
    if (DeviceManager* manager = getDeviceManager()) manager->releaseServer(mpServer.release());
}

void ServerDevice::setConnection(std::unique_ptr<Device> connection) {
    std::unique_ptr<Device> old;
    {
        std::lock_guard<std::mutex> guard(mConnectionMutex);
        old = std::exchange(mpConnection, std::move(connection));
    }
    // deleted outside the lock: closing a connection may take its time
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
    setConnection(std::unique_ptr<Device>(mpServer->accept()));  // replaces one that had closed by itself
    if (!mpConnection) throw Exception(UDL::ErrNoConnection, ".", __LINE__, "the server handed out no connection");
    if (!mpConnection->isOpen()) mpConnection->open();
}

void ServerDevice::close() {
    if (!mpConnection) return;
    mpConnection->close();
    setConnection(nullptr);
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

bool ServerDevice::isFullDuplex() {
    std::lock_guard<std::mutex> guard(mConnectionMutex);
    return mpConnection && mpConnection->isFullDuplex();
}

void ServerDevice::wakeUp() {
    // Both: a connection found closed sends the waker's thread back to the server, and a
    // wake-up given to the server stays pending until its next wait.
    {
        std::lock_guard<std::mutex> guard(mConnectionMutex);
        if (mpConnection) mpConnection->wakeUp();
    }
    mpServer->wakeUp();
}

void ServerDevice::lock() { mpServer->lock(); }
bool ServerDevice::trylock() { return mpServer->trylock(); }
void ServerDevice::unlock() { mpServer->unlock(); }
bool ServerDevice::isLocked() { return mpServer->isLocked(); }

}  // namespace IO
