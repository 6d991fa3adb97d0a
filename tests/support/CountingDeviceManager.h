#pragma once
// A device manager for tests: keeps every device and server it is given
// (deleting them at the end), counts each call and records the order of the
// devices handed to it. Its lock operations use one lock per device, which a
// test can hold from another thread.

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <varonet/base/Device.h>
#include <varonet/base/DeviceManager.h>
#include <varonet/base/DeviceServer.h>
#include <varonet/base/Lockable.h>

namespace TestSupport {

class CountingDeviceManager : public IO::DeviceManager {
public:
    ~CountingDeviceManager() override;

    IO::DeviceServer* manageServer(IO::DeviceServer* server) override;
    IO::Device* manageDevice(IO::Device* device) override;
    void releaseDevice(IO::Device* device) override;
    void releaseServer(IO::DeviceServer* server) override;
    void deviceRenamed(const Base::String&, IO::Device*) override {}
    void unlockDevice(IO::Device* device) override;
    void lockDevice(IO::Device* device) override;
    bool trylockDevice(IO::Device* device, unsigned int ms) override;
    bool isDeviceLocked(IO::Device* device) override;

    /// The lock this manager keeps for a device.
    Base::Lockable& lockOf(IO::Device* device);

    std::vector<IO::Device*> managed;  // in the order handed over
    std::vector<IO::DeviceServer*> servers;
    int manageDeviceCalls = 0, manageServerCalls = 0, lockCalls = 0, trylockCalls = 0, unlockCalls = 0;
    unsigned int lastTrylockMs = 0;

private:
    std::mutex mMutex;
    std::map<IO::Device*, std::unique_ptr<Base::Lockable>> mLocks;
};

}  // namespace TestSupport
