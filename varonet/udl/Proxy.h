#pragma once
// UDL::Proxy: relays what one device reads to another device.
//
//   serial port --read--> [proxy A] --write--> TCP connection
//   serial port <--write-- [proxy B] <--read-- TCP connection
//
// Each proxy is a thread that owns one device (resolved from a locator),
// keeps it open (opening it again whenever it is found closed or fails),
// reads what arrives and writes it to its receiver's device. Two partnered
// proxies relay both ways. Each side has a read lock, held by its own thread
// while it reads, asks or opens the device, and a write lock, held by the
// partner while it writes; each device is used as UDL::SharedDevice says: a
// full-duplex device (sockets, pipes, serial ports) is read and written at
// once, any other device never, and a write never waits for an open.
//
// The relay streams: each pass reads at most one chunk (ChunkBytes) into the
// side's one buffer, shows it to the observer, writes it to the receiver and
// goes on, so memory stays the same whatever the two ends' speeds. Bytes in
// hand are always passed on before a close or an error of the device is
// handled. Data read while the receiver is closed is dropped (and reported to
// the observer), unless setReceiverClosed(WaitForReceiver) asks otherwise.

#include <functional>

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>
#include <varonet/base/SharedHandle.h>
#include <varonet/base/Thread.h>
#include <varonet/udl/ProxyDumper.h>

namespace UDL {

class ProxyInternal;
struct ProxyHandle;

class VARONET_API Proxy : public Thread::Thread {
public:
    /// The most one pass reads (and so the most one write to the receiver carries).
    static constexpr long ChunkBytes = 128 * 1024;

    /// What a side does while its receiver is closed.
    enum EReceiverClosed {
        /// Reads on and drops what it reads (the observer hears of it through
        /// dropped). The default.
        DropWhileClosed,
        /// Reads nothing until the receiver is open; a server side does not
        /// even accept its caller until then (unless the receiver is a server
        /// side too). A chunk the receiver did not take waits for it to reopen.
        WaitForReceiver,
    };

    /// Resolves the locator; throws Base::Exception ErrProxy when it names no
    /// device. observer may be null and is never deleted.
    Proxy(const Base::String& locator, ProxyDumper* observer);
    /// Copies share one side (device, locks and receiver).
    Proxy(const Proxy& other);
    Proxy& operator=(const Proxy& other);
    /// Stops the relay thread (waking a device that waits), waits for it and
    /// releases this side.
    ~Proxy() override;

    /// Both ways: each side's receiver becomes the other side.
    void partner(Proxy& other);
    /// One way: only this side's receiver becomes the other side.
    void receiver(const Proxy& other);
    /// Throws Base::Exception ErrProxy without a receiver or a device.
    void check();
    /// The relay loop; started with start(). Ends on a stop request, or with
    /// Base::Exception ErrProxy when no receiver is set.
    void run() override;

    /// Pauses between attempts to open this side's device: firstMs after the
    /// first failed open, doubled after each further failure up to maxMs, and
    /// back to firstMs once an open succeeds. A stop ends a pause at once.
    /// (0, 0), the default, retries at once, paced only by the device's own
    /// time-outs. Copies share the setting.
    void setRetryPause(unsigned int firstMs, unsigned int maxMs);
    /// What this side does while its receiver is closed; copies share the setting.
    void setReceiverClosed(EReceiverClosed how);

    /// Runs f(IO::Device&) on this side's device with no relay thread
    /// reading, writing, opening or closing it meanwhile.
    /// The way to touch a running side's device.
    void withDevice(const std::function<void(IO::Device&)>& f);
    /// This side's device, borrowed (the proxy owns it). While the relay runs,
    /// use withDevice instead.
    IO::Device* getDevice() const;
    const Base::String& getLocator() const;

private:
    ProxyInternal& side() const;
    void ensureOpen();
    bool isDeviceOpen();
    bool receiverIsReady();
    bool mayOpen();
    void relayWhileOpen();
    long readChunk();
    void deliver(long length);
    unsigned int pauseAfterFailedOpen(unsigned int lastPause);

    Base::SharedHandle<ProxyHandle> mpHandle;
};

}  // namespace UDL
