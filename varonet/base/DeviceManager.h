#pragma once
// IO::DeviceManager: an application's keeper of devices and servers.
//
// The resolver hands every device it builds to the manager (manageDevice) and
// continues with the device the manager returns. A managed device's lock
// operations go to its manager, so the manager decides who may use it.

#include <varonet/base/Export.h>
#include <varonet/base/String.h>

namespace IO {

class Device;
class DeviceServer;

class VARONET_API DeviceManager {
public:
    virtual ~DeviceManager() = default;
    /// 1: takes over a new server (the manager owns it from now on); returns
    /// the server to use in its place, which stays the manager's.
    virtual DeviceServer* manageServer(DeviceServer* server) = 0;
    /// 2: takes over a new device (the manager owns it from now on); returns
    /// the device to use in its place, which stays the manager's.
    virtual Device* manageDevice(Device* device) = 0;
    /// 3: the device is no longer wanted; the manager forgets it, and deletes it when it is its own.
    virtual void releaseDevice(Device* device) = 0;
    /// 4: a managed server is given back by its user (a server device that goes away).
    virtual void releaseServer(DeviceServer* server) = 0;
    /// 5: the device's name changed from oldName.
    virtual void deviceRenamed(const Base::String& oldName, Device* device) = 0;
    /// 6 to 9: the lock operations of a managed device.
    virtual void unlockDevice(Device* device) = 0;
    virtual void lockDevice(Device* device) = 0;
    virtual bool trylockDevice(Device* device, unsigned int ms) = 0;
    virtual bool isDeviceLocked(Device* device) = 0;
};

}  // namespace IO
