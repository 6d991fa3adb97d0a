// A device that waits on its server for a caller in open and then talks to that connection.
#include <varonet/udl/ServerDevice.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include <varonet/base/DeviceManager.h>
#include <varonet/base/Exception.h>
#include <varonet/base/IOException.h>
#include <varonet/udl/UDLErrors.h>
#include <varonet/udl/detail/CallerGroup.h>

namespace IO {

ServerDevice::ServerDevice(DeviceServer* server, unsigned int connectTimeoutMs)
    : mpServer(server), muConnectTimeout(connectTimeoutMs) {}

ServerDevice::~ServerDevice() {
    mpOthers.reset();
    mpConnection.reset();
    if (DeviceManager* manager = getDeviceManager()) manager->releaseServer(mpServer.release());
}

void ServerDevice::setExtraCallers(EExtraCallers how) {
    meExtraCallers = how;
    if (how == ShareWithExtraCallers && !mpOthers) mpOthers = std::make_unique<CallerGroup>();
}

void ServerDevice::setConnection(std::unique_ptr<Device> connection) {
    std::unique_ptr<Device> old;
    {
        std::lock_guard<std::mutex> guard(mConnectionMutex);
        old = std::exchange(mpConnection, std::move(connection));
    }
    mpReading = nullptr;
    // deleted outside the lock: closing a connection may take its time
}

Device& ServerDevice::reading() { return mpReading ? *mpReading : connection(); }

// Sharing: the first caller left, the longest-waiting other one takes its place
// (under the group's lock, so no write is using the one that goes).
bool ServerDevice::nextCallerTakesOver() {
    std::unique_lock<std::mutex> writes(mpOthers->lock());
    std::unique_ptr<Device> next = mpOthers->takeFirst();
    if (!next) return false;
    setConnection(std::move(next));
    return true;
}

// Sharing: admits new callers and looks at each in turn, the first one in
// short waits, until one has data or ms have passed.
bool ServerDevice::waitShared(unsigned int ms) {
    constexpr unsigned int kLookMs = 20;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        mpOthers->admit(*mpServer);
        if ((mpReading = mpOthers->readable())) return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        unsigned int look = static_cast<unsigned int>(std::clamp<long long>(left.count(), 0, kLookMs));
        try {
            if (connection().waitForData(look)) return true;
            if (!mpConnection->isOpen() && nextCallerTakesOver()) continue;
        } catch (const Base::Exception&) {
            if (nextCallerTakesOver()) continue;
            throw;
        }
        if (left.count() <= kLookMs) return false;
    }
}

Device& ServerDevice::connection() {
    if (!mpConnection) throw Base::Exception(UDL::ErrNotConnected, ".", __LINE__, "no caller connected");
    return *mpConnection;
}

bool ServerDevice::isOpen() { return mpConnection && mpConnection->isOpen(); }

void ServerDevice::open() {
    if (isOpen() || (mpOthers && nextCallerTakesOver())) return;
    if (!mpServer->waitForConnection(muConnectTimeout) && muConnectTimeout != 0)
        throw Base::TimeoutException(".", __LINE__, "no caller within the connect time-out");
    setConnection(std::unique_ptr<Device>(mpServer->accept()));  // replaces one that had closed by itself
    if (!mpConnection) throw Exception(UDL::ErrNoConnection, ".", __LINE__, "the server handed out no connection");
    if (!mpConnection->isOpen()) mpConnection->open();
}

void ServerDevice::close() {
    if (mpOthers) mpOthers->clear();
    if (!mpConnection) return;
    mpConnection->close();
    setConnection(nullptr);
}

Base::String ServerDevice::getName() { return mpConnection ? mpConnection->getName() : "Unknown ServerDevice"; }

long ServerDevice::read(char* buffer, long length) { return reading().read(buffer, length); }
void ServerDevice::skip(long count) { reading().skip(count); }
long ServerDevice::size() { return reading().size(); }
bool ServerDevice::isEOF() { return reading().isEOF(); }
unsigned int ServerDevice::getTimeout() { return mpConnection ? mpConnection->getTimeout() : 0; }
bool ServerDevice::waitForData(unsigned int ms) {
    mpReading = nullptr;
    if (mpOthers && meExtraCallers == ShareWithExtraCallers) return waitShared(ms);
    if (connection().waitForData(ms)) return true;
    // The connection stood through the wait: a caller waiting now is one too many. The
    // server is only looked at (a wait of 0), so a caller who comes back at once after
    // leaving is not mistaken for one.
    if (meExtraCallers == RejectExtraCallers)
        while (mpServer->waitForConnection(0)) mpServer->reject();
    return false;
}
long ServerDevice::readInternal(char* buffer, long length) { return reading().readInternal(buffer, length); }

long ServerDevice::write(const char* buffer, long length) {
    if (!mpOthers) return connection().write(buffer, length);
    // The others get what the first caller took, so that a write of the rest
    // (after a short one) reaches everybody once.
    std::lock_guard<std::mutex> writes(mpOthers->lock());
    long done = 0;
    for (long n = 1; done < length && n > 0; done += n) n = connection().write(buffer + done, length - done);
    mpOthers->write(buffer, done);
    return done;
}

void ServerDevice::flush() {
    if (!mpOthers) return connection().flush();
    std::lock_guard<std::mutex> writes(mpOthers->lock());
    mpOthers->flush();
    connection().flush();
}
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
