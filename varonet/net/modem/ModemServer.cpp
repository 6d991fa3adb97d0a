// Answering calls on a modem line: polling for RING, answering, the line's lock, and the call modems' manager.
#include <varonet/net/modem/ModemServer.h>

#include <cerrno>
#include <memory>

#include <varonet/base/Exception.h>
#include <varonet/base/IOException.h>

namespace Net {

namespace {
// Each try for the template modem or its line waits this long before the next.
constexpr unsigned int kLockTryMs = 1000;
// acceptInternal polls the line in steps of this.
constexpr unsigned int kAcceptPollMs = 250;
}  // namespace

ModemServer::ModemServer(Modem* templateModem, bool owns)
    : IO::WrapperDeviceServer(templateModem, owns), mpTemplate(templateModem) {}

ModemServer::~ModemServer() {
    // A call modem that outlives its server must not call back into it.
    if (mpCall) mpCall->setDeviceManager(nullptr);
}

StatefulDevice* ModemServer::getLine() const { return dynamic_cast<StatefulDevice*>(mpTemplate->getUnderlying()); }

Base::String ModemServer::getLineName() {
    IO::Device* line = mpTemplate->getUnderlying();
    return line ? line->getName() : Base::String("");
}

void ModemServer::lockLoop(Base::Lockable& lockable) {
    // Another user of the modem delays the server without failing it.
    while (!lockable.trylock(kLockTryMs)) {}
}

void ModemServer::setBlocking(bool blocking) { IO::WrapperDeviceServer::setBlocking(blocking); }

bool ModemServer::waitForConnection(unsigned int ms) { return pollLine(ms) == Poll::Ring; }

ModemServer::Poll ModemServer::pollLine(unsigned int ms) {
    if (mbCallActive) return mWake.pause(ms) ? Poll::Woken : Poll::Nothing;
    lockLoop(*mpTemplate);
    bool ring = false;
    try {
        IO::Device* line = mpTemplate->getUnderlying();
        if (!line->isOpen()) line->open();
        mpTemplate->setRingDetected(false);
        ring = checkForRing(0);
    } catch (const Base::Exception&) {
        ring = false;  // a line that fails now may answer on the next poll
    } catch (...) {
        mpTemplate->unlock();
        throw;
    }
    mpTemplate->unlock();
    if (ring) return Poll::Ring;
    return mWake.pause(ms) ? Poll::Woken : Poll::Nothing;
}

IO::Device* ModemServer::acceptInternal() {
    if (!isBlocking()) {
        // A second answer while a call stands would share the line with it.
        if (!mpTemplate->isRingDetected() || mbCallActive) return nullptr;
        Modem* call = answer();
        mpTemplate->setRingDetected(false);
        return call;
    }
    for (;;) {
        while (!mpTemplate->isRingDetected() || mbCallActive)
            if (pollLine(kAcceptPollMs) == Poll::Woken) IO::checkSystemError(EINTR, "accept on " + getName());
        Modem* call = answer();
        mpTemplate->setRingDetected(false);
        if (call) return call;
    }
}

Modem* ModemServer::answer() {
    IO::Device* line = mpTemplate->getUnderlying();
    lockLoop(*line);
    std::unique_ptr<Modem> child;
    try {
        child.reset(createChild());
        child->accept();
    } catch (...) {
        if (child) child->setDeviceManager(nullptr);  // never handed out: nothing to give back
        child.reset();
        line->unlock();
        throw;
    }
    if (child->isOpen()) {
        mpCall = child.get();
        mbCallActive = true;
        return child.release();
    }
    child->setDeviceManager(nullptr);
    child.reset();
    line->unlock();
    return nullptr;
}

// --- the call modems' manager ------------------------------------------------------------

IO::DeviceServer* ModemServer::manageServer(IO::DeviceServer* server) {
    IO::DeviceManager* manager = mpTemplate->getDeviceManager();
    return manager ? manager->manageServer(server) : server;
}

IO::Device* ModemServer::manageDevice(IO::Device*) { return nullptr; }

void ModemServer::releaseDevice(IO::Device* device) {
    std::unique_ptr<IO::Device> call(device);  // the server's to end, whoever else hears of it
    if (IO::DeviceManager* manager = mpTemplate->getDeviceManager()) manager->releaseDevice(device);
}

void ModemServer::releaseServer(IO::DeviceServer*) {
    if (!mbCallActive) return;
    mpCall = nullptr;
    mbCallActive = false;
    mpTemplate->getUnderlying()->unlock();
}

void ModemServer::deviceRenamed(const Base::String&, IO::Device*) {}

void ModemServer::unlockDevice(IO::Device* device) {
    if (IO::DeviceManager* manager = mpTemplate->getDeviceManager()) manager->unlockDevice(device);
    else device->Base::Lockable::unlock();
}

void ModemServer::lockDevice(IO::Device* device) {
    if (IO::DeviceManager* manager = mpTemplate->getDeviceManager()) manager->lockDevice(device);
}

bool ModemServer::trylockDevice(IO::Device* device, unsigned int ms) {
    IO::DeviceManager* manager = mpTemplate->getDeviceManager();
    return manager ? manager->trylockDevice(device, ms) : true;
}

bool ModemServer::isDeviceLocked(IO::Device* device) {
    IO::DeviceManager* manager = mpTemplate->getDeviceManager();
    return manager && manager->isDeviceLocked(device);
}

}  // namespace Net
