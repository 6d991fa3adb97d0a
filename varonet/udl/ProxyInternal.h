#pragma once
// UDL::ProxyInternal: one side of a relay, shared by the copies of a proxy.

#include <memory>

#include <varonet/base/Device.h>
#include <varonet/base/Mutex.h>
#include <varonet/base/Reference.h>
#include <varonet/udl/ProxyDumper.h>

namespace UDL {

class ProxyInternal : public Base::Reference {
public:
    /// Resolves the locator (no logger, no manager); the device stays closed.
    /// Throws Base::Exception 0 when the locator names no device.
    ProxyInternal(const Base::String& locator, ProxyDumper* observer);
    virtual ~ProxyInternal();
    ProxyInternal(const ProxyInternal&) = delete;
    ProxyInternal& operator=(const ProxyInternal&) = delete;

    /// Points this side at a new receiver. The receiver is held by a reference
    /// so that deleting one partner while the other still writes into it is safe.
    void setReceiver(ProxyInternal* receiver);

    IO::Device* mpDevice = nullptr;       // owned
    Thread::Mutex mLock;                  // this side's reads and the partner's writes
    Base::String msLocator;
    ProxyInternal* mpReceiver = nullptr;  // referenced, see setReceiver
    bool mbNotifyClosed = true;
    bool mbOpened = false;
    ProxyDumper* mpObserver;              // not owned
    int miHandles = 1;                    // proxies sharing this side
};

}  // namespace UDL
