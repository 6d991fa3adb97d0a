#pragma once
// UDL::ProxyInternal: one side of a relay, shared by the copies of a proxy
// and held by the side that sends to it.

#include <atomic>
#include <memory>

#include <varonet/base/ByteArray.h>
#include <varonet/base/Device.h>
#include <varonet/base/Reference.h>
#include <varonet/base/SharedHandle.h>
#include <varonet/udl/ProxyDumper.h>
#include <varonet/udl/SharedDevice.h>

namespace UDL {

class ProxyInternal : public Base::Reference {
public:
    /// Resolves the locator (no logger, no manager); the device stays closed.
    /// Throws Base::Exception ErrProxy when the locator names no device.
    ProxyInternal(const Base::String& locator, ProxyDumper* observer);
    virtual ~ProxyInternal();
    ProxyInternal(const ProxyInternal&) = delete;
    ProxyInternal& operator=(const ProxyInternal&) = delete;

    std::unique_ptr<IO::Device> mpDevice;
    // This side's thread reads, opens and closes through it; the partner's thread writes.
    std::unique_ptr<SharedDevice> mpShared;
    // A server side (one that waits for a caller when it opens).
    bool mbServer = false;
    Base::String msLocator;
    // Held, not borrowed, so that deleting one partner while the other still
    // writes into it is safe; see ProxyHandle for how the cycle is broken.
    Base::SharedHandle<ProxyInternal> mpReceiver;
    bool mbNotifyClosed = true;
    bool mbOpened = false;
    ProxyDumper* mpObserver;  // not owned
    // The pause after a failed open: first, then doubled up to max (0, 0: none).
    std::atomic<unsigned int> muRetryFirstMs{0};
    std::atomic<unsigned int> muRetryMaxMs{0};
    std::atomic<int> meReceiverClosed{0};  // a Proxy::EReceiverClosed
    // The one buffer this side reads into, used by this side's thread only.
    Base::ByteArray mBuffer;
};

/// What the copies of one proxy share. When the last copy goes (its thread
/// has ended), the side lets go of its receiver, which breaks the cycle two
/// partners form; the side itself lives on while a partner still sends to it.
struct ProxyHandle : Base::Reference {
    explicit ProxyHandle(Base::SharedHandle<ProxyInternal> side) : mpSide(std::move(side)) {}
    ~ProxyHandle() { mpSide->mpReceiver.reset(); }
    ProxyHandle(const ProxyHandle&) = delete;
    ProxyHandle& operator=(const ProxyHandle&) = delete;

    Base::SharedHandle<ProxyInternal> mpSide;
};

}  // namespace UDL
