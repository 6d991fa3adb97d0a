#pragma once
// UDL::Proxy: relays what one device reads to another device.
//
//   serial port --read--> [proxy A] --write--> TCP connection
//   serial port <--write-- [proxy B] <--read-- TCP connection
//
// Each proxy is a thread that owns one device (resolved from a locator),
// keeps it open (opening it again whenever it is found closed or fails),
// reads what arrives and writes it to its receiver's device. Two partnered
// proxies relay both ways. Each device is guarded by its side's lock, held by
// its own thread while opening and reading and by the partner while writing,
// so a device is never read and written at once. Data read while the
// receiver is closed is lost.

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>
#include <varonet/base/Thread.h>
#include <varonet/udl/ProxyDumper.h>

namespace UDL {

class ProxyInternal;

class VARONET_API Proxy : public Thread::Thread {
public:
    /// Resolves the locator; throws Base::Exception 0 when it names no device.
    /// observer may be null and is never deleted.
    Proxy(const Base::String& locator, ProxyDumper* observer);
    /// Copies share one side (device, lock and receiver).
    Proxy(const Proxy& other);
    Proxy& operator=(const Proxy& other);
    /// Stops the relay thread, waits for it and releases this side.
    ~Proxy() override;

    /// Both ways: each side's receiver becomes the other side.
    void partner(Proxy& other);
    /// One way: only this side's receiver becomes the other side.
    void receiver(const Proxy& other);
    /// Throws Base::Exception 0 without a receiver or a device.
    void check();
    /// The relay loop; started with start(). Ends on a stop request, or with
    /// Base::Exception 0 when no receiver is set.
    void run() override;

    IO::Device* getDevice() const;
    const Base::String& getLocator() const;

private:
    void release();
    void ensureOpen();
    bool isDeviceOpen();
    Base::ByteArray readChunk();
    void writeToReceiver(const Base::ByteArray& chunk);

    ProxyInternal* mpInternal;
};

}  // namespace UDL
