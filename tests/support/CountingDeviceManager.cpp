// A test device manager that keeps, counts and orders what it is handed, with one lock per device.
#include "support/CountingDeviceManager.h"

#include <algorithm>

namespace TestSupport {

CountingDeviceManager::~CountingDeviceManager() {
    // Outermost devices first: a wrapper may still reach the device under it while it goes.
    for (auto it = managed.rbegin(); it != managed.rend(); ++it) {
        (*it)->setDeviceManager(nullptr);
        delete *it;
    }
    for (IO::DeviceServer* server : servers) delete server;
}

IO::DeviceServer* CountingDeviceManager::manageServer(IO::DeviceServer* server) {
    ++manageServerCalls;
    servers.push_back(server);
    return server;
}

IO::Device* CountingDeviceManager::manageDevice(IO::Device* device) {
    ++manageDeviceCalls;
    managed.push_back(device);
    device->setDeviceManager(this);
    return device;
}

void CountingDeviceManager::releaseDevice(IO::Device* device) {
    auto it = std::find(managed.begin(), managed.end(), device);
    if (it != managed.end()) managed.erase(it);
    delete device;
}

void CountingDeviceManager::releaseServer(IO::DeviceServer* server) {
    auto it = std::find(servers.begin(), servers.end(), server);
    if (it != servers.end()) servers.erase(it);
    delete server;
}

Base::Lockable& CountingDeviceManager::lockOf(IO::Device* device) {
    std::lock_guard<std::mutex> guard(mMutex);
    auto& slot = mLocks[device];
    if (!slot) slot = std::make_unique<Base::Lockable>();
    return *slot;
}

void CountingDeviceManager::unlockDevice(IO::Device* device) {
    ++unlockCalls;
    lockOf(device).unlock();
}

void CountingDeviceManager::lockDevice(IO::Device* device) {
    ++lockCalls;
    lockOf(device).lock();
}

bool CountingDeviceManager::trylockDevice(IO::Device* device, unsigned int ms) {
    ++trylockCalls;
    lastTrylockMs = ms;
    return lockOf(device).trylock(ms);
}

bool CountingDeviceManager::isDeviceLocked(IO::Device* device) { return lockOf(device).isLocked(); }

}  // namespace TestSupport
