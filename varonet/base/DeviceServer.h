#pragma once
// IO::DeviceServer: something that waits for incoming connections and hands
// each one out as a new device.

#include <memory>

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>
#include <varonet/base/Lockable.h>

namespace IO {

class VARONET_API DeviceServer : public Base::Lockable {
public:
    DeviceServer() = default;
    DeviceServer(const DeviceServer&) = delete;
    DeviceServer& operator=(const DeviceServer&) = delete;
    ~DeviceServer() override = default;

    /// Blocking servers wait in acceptInternal; non-blocking ones return at once.
    virtual void setBlocking(bool blocking) { mbBlocking = blocking; }
    bool isBlocking() const { return mbBlocking; }
    /// Waits at most ms milliseconds for a caller; 0 only looks. True when one is waiting.
    virtual bool waitForConnection(unsigned int ms) = 0;
    /// An accept time-out of its own (0 = none): accept waits that long first.
    void setAcceptTimeout(unsigned int ms) { muAcceptTimeout = ms; }
    unsigned int getAcceptTimeout() const { return muAcceptTimeout; }
    /// Takes the next caller. With an accept time-out, waits that long first and
    /// throws Base::TimeoutException when nobody comes. The caller owns the
    /// result; null when the server has nothing to hand out.
    Device* accept();
    /// Turns the next caller away.
    void reject() { rejectInternal(); }
    /// Called once the server is configured (the resolver's hand-over without a manager).
    virtual void initialize() {}
    /// Ends a blocking wait or accept that another thread is in; servers whose
    /// waits are bounded anyway ignore it.
    virtual void wakeUp() {}

    virtual Device* acceptInternal() = 0;
    virtual void rejectInternal() = 0;

private:
    bool mbBlocking = true;
    unsigned int muAcceptTimeout = 0;
};

/// A server over a device (a modem line).
class VARONET_API WrapperDeviceServer : public DeviceServer {
public:
    /// With owns true the server takes ownership of device and deletes it with
    /// itself; with false the caller keeps it alive while the server runs.
    WrapperDeviceServer(Device* device, bool owns) : mpDevice(device), mpOwned(owns ? device : nullptr) {}
    Device* getDevice() const { return mpDevice; }

private:
    Device* mpDevice;                 // the served device, owned or not
    std::unique_ptr<Device> mpOwned;  // the same device when the server owns it
};

}  // namespace IO
