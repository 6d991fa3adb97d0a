// The relay: a side's thread reads chunks and writes them to its partner, reopening either side when it closes.
#include <varonet/udl/Proxy.h>

#include <algorithm>

#include <varonet/base/Exception.h>
#include <varonet/udl/BaseDeviceResolver.h>
#include <varonet/udl/ServerDevice.h>
#include <varonet/udl/UDLErrors.h>
#include <varonet/udl/detail/ProxyInternal.h>

// One pass of a side's thread:
//
//   side's thread                         receiver
//     open when closed (paused after failures, when asked; with WaitForReceiver
//       a server side opens only once the receiver is open)
//     observer: opened
//     wait for data (in slices a stop ends)
//     read at most ChunkBytes into the side's buffer
//     observer: dump(chunk)
//     write the chunk ----------------------> receiver device (SharedDevice::write)
//     observer: dropped(bytes it did not take)
//     ... next chunk, until the device is closed or fails
//     observer: closed (once per close)
//
// A receiver that is closed, or being opened, refuses the write at once: a
// writer never waits for a server side to get its caller.

namespace UDL {

namespace {
constexpr unsigned int kDataWaitMs = 1000;  // an idle side asks its device about once a second
constexpr unsigned int kStopCheckMs = 100;  // how quickly a waiting relay notices a stop request
}  // namespace

ProxyInternal::ProxyInternal(const Base::String& locator, ProxyDumper* observer)
    : msLocator(locator), mpObserver(observer) {
    BaseDeviceResolver resolver;
    mpDevice.reset(resolver.resolve(locator, nullptr, nullptr));
    if (!mpDevice) throw Base::Exception(ErrProxy, ".", __LINE__, "the locator names no device: '" + locator + "'");
    mpShared = std::make_unique<SharedDevice>(*mpDevice);
    mbServer = dynamic_cast<IO::ServerDevice*>(mpDevice.get()) != nullptr;
}

ProxyInternal::~ProxyInternal() = default;

Proxy::Proxy(const Base::String& locator, ProxyDumper* observer)
    : mpHandle(new ProxyHandle(Base::SharedHandle<ProxyInternal>(new ProxyInternal(locator, observer)))) {}

Proxy::Proxy(const Proxy& other) : ::Thread::Thread(), mpHandle(other.mpHandle) {}

Proxy& Proxy::operator=(const Proxy& other) {
    if (mpHandle.get() == other.mpHandle.get()) return *this;
    // The thread relays this proxy's side: it ends before the side is let go.
    stop();
    side().mpDevice->wakeUp();
    join();
    mpHandle = other.mpHandle;
    return *this;
}

Proxy::~Proxy() {
    stop();
    // A device that waits without limit (a server waiting for its caller) is woken.
    side().mpDevice->wakeUp();
    join();
}

ProxyInternal& Proxy::side() const { return *mpHandle->mpSide; }

IO::Device* Proxy::getDevice() const { return side().mpDevice.get(); }

const Base::String& Proxy::getLocator() const { return side().msLocator; }

void Proxy::withDevice(const std::function<void(IO::Device&)>& f) { side().mpShared->withDevice(f); }

void Proxy::partner(Proxy& other) {
    side().mpReceiver = other.mpHandle->mpSide;
    other.side().mpReceiver = mpHandle->mpSide;
}

void Proxy::receiver(const Proxy& other) { side().mpReceiver = other.mpHandle->mpSide; }

void Proxy::check() {
    if (!side().mpReceiver) throw Base::Exception(ErrProxy, ".", __LINE__, "the proxy has no receiver");
    if (!side().mpDevice) throw Base::Exception(ErrProxy, ".", __LINE__, "the proxy has no device");
}

void Proxy::setRetryPause(unsigned int firstMs, unsigned int maxMs) {
    side().muRetryFirstMs = firstMs;
    side().muRetryMaxMs = std::max(firstMs, maxMs);
}

void Proxy::setReceiverClosed(EReceiverClosed how) { side().meReceiverClosed = how; }

void Proxy::ensureOpen() {
    if (side().mpShared->isOpen()) return;
    side().mbOpened = false;
    side().mpShared->open();
    side().mbOpened = true;
}

bool Proxy::isDeviceOpen() { return side().mpShared->isOpen(); }

// True when this side may read: the receiver takes what it reads, or what it
// reads may be dropped.
bool Proxy::receiverIsReady() {
    return side().meReceiverClosed == DropWhileClosed || side().mpReceiver->mpShared->isWritable();
}

// A server side that waits for its receiver accepts no caller before it is open.
// Two server sides open each on their own: waiting for each other, neither would.
bool Proxy::mayOpen() {
    const ProxyInternal& self = side();
    if (!self.mbServer || self.mpReceiver->mbServer) return true;
    return receiverIsReady();
}

// At most one chunk, read into the side's buffer; 0 when nothing came.
long Proxy::readChunk() {
    SharedDevice& device = *side().mpShared;
    // The data wait is cut into slices so that a stop request ends it early.
    bool ready = false;
    for (unsigned int waited = 0; !ready && waited < kDataWaitMs && !isStopRequested(); waited += kStopCheckMs)
        ready = device.waitForData(kStopCheckMs);
    if (!ready) return 0;
    // One read of what is queued, bounded by the buffer: the chunk is passed on before
    // the device is asked anything else, so a close or error it reports next loses nothing.
    long n = device.read(side().mBuffer.chars(), ChunkBytes);
    if (n > 0) return n;
    // Readable but nothing to read (a peer that went away): do not spin.
    waitForStop(kDataWaitMs);
    return 0;
}

void Proxy::deliver(long length) {
    ProxyInternal& self = side();
    ProxyInternal& receiver = *self.mpReceiver;
    if (self.mpObserver) {
        // The observer sees exactly the chunk; the buffer keeps its memory for the next one.
        self.mBuffer.resize(static_cast<std::size_t>(length));
        self.mpObserver->dump(self.msLocator, receiver.msLocator, self.mBuffer);
        self.mBuffer.resize(static_cast<std::size_t>(ChunkBytes));
    }
    long done = receiver.mpShared->write(self.mBuffer.chars(), length);
    // Waiting for the receiver: the rest goes out once it is open again.
    while (done < length && self.meReceiverClosed == WaitForReceiver && !isStopRequested()) {
        long n =
            receiver.mpShared->isWritable() ? receiver.mpShared->write(self.mBuffer.chars() + done, length - done) : 0;
        if (n == 0) waitForStop(kStopCheckMs);  // closed, or failing until its thread finds out
        done += n;
    }
    if (done < length && self.mpObserver) self.mpObserver->dropped(self.msLocator, receiver.msLocator, length - done);
}

// Relays chunk by chunk until the device is closed. The stop request is read
// before every chunk, so that a relay over a device that stays open ends within
// one data wait. Whether the device is still open is asked only when a wait
// brought nothing: a device that closes says so then, or fails its next wait.
void Proxy::relayWhileOpen() {
    while (!isStopRequested()) {
        if (!receiverIsReady()) {
            waitForStop(kStopCheckMs);
            if (!isDeviceOpen()) return;
            continue;
        }
        long n = readChunk();
        if (n > 0) deliver(n);
        else if (!isDeviceOpen()) return;
    }
}

unsigned int Proxy::pauseAfterFailedOpen(unsigned int lastPause) {
    unsigned int first = side().muRetryFirstMs, most = side().muRetryMaxMs;
    if (first == 0) return 0;
    unsigned int pause = lastPause == 0 ? first : (lastPause > most / 2 ? most : lastPause * 2);
    waitForStop(pause);
    return pause;
}

void Proxy::run() {
    check();
    ProxyInternal& self = side();
    self.mBuffer.resize(static_cast<std::size_t>(ChunkBytes));
    unsigned int pause = 0;
    while (!isStopRequested()) {
        bool failedOpen = false;
        if (!mayOpen()) {
            waitForStop(kStopCheckMs);
            continue;
        }
        try {
            try {
                ensureOpen();
            } catch (const Base::Exception& e) {
                failedOpen = true;
                // An open that a stop request woke has not failed.
                if (self.mpObserver && !isStopRequested())
                    self.mpObserver->openFailed(self.msLocator, self.mpReceiver->msLocator, e);
                throw;
            }
            pause = 0;
            if (self.mpObserver) self.mpObserver->opened(self.msLocator, self.mpReceiver->msLocator);
            relayWhileOpen();
        } catch (const Base::Exception&) {
            // Opening or reading failed: try again (after the retry pause, when one is set).
        }
        if (self.mbNotifyClosed && self.mbOpened && !isDeviceOpen()) {
            if (self.mpObserver) self.mpObserver->closed(self.msLocator, self.mpReceiver->msLocator);
            self.mbOpened = false;
        }
        if (failedOpen) pause = pauseAfterFailedOpen(pause);
    }
}

}  // namespace UDL
