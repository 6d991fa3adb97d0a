#pragma once
// UDL::ProxyDumper: an application's observer of a relay. Each call names
// this side's locator first and the receiving side's locator second.

#include <varonet/base/ByteArray.h>
#include <varonet/base/Exception.h>
#include <varonet/base/Export.h>
#include <varonet/base/String.h>

namespace UDL {

class VARONET_API ProxyDumper {
public:
    virtual ~ProxyDumper() = default;
    /// The device is open (called on every pass of the relay, also when it was open already).
    virtual void opened(const Base::String& self, const Base::String& other) = 0;
    /// A chunk read from this side, before it is written to the other.
    virtual void dump(const Base::String& self, const Base::String& other, const Base::ByteArray& data) = 0;
    /// The device was found closed after having been open (once per close).
    virtual void closed(const Base::String& self, const Base::String& other) = 0;
    /// Opening the device failed with error; the relay tries again (after the
    /// retry pause, when one is set). Observers that do not care need not override it.
    virtual void openFailed(const Base::String& self, const Base::String& other, const Base::Exception& error) {
        (void)self, (void)other, (void)error;
    }
    /// bytes of a chunk read from this side (and shown to dump) were not
    /// delivered: the other side was closed, or failed during the write.
    virtual void dropped(const Base::String& self, const Base::String& other, long bytes) {
        (void)self, (void)other, (void)bytes;
    }
};

}  // namespace UDL
