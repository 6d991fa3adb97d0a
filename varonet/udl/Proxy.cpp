// The relay: a side's thread reads chunks and writes them to its partner, reopening either side when it closes.
#include <varonet/udl/Proxy.h>

#include <algorithm>

#include <varonet/base/Exception.h>
#include <varonet/udl/BaseDeviceResolver.h>
#include <varonet/udl/UDLErrors.h>
#include <varonet/udl/detail/ProxyInternal.h>

// One pass of a side's thread:
//
//   side's thread                         receiver's locks
//     [own read + write lock] open when closed (paused after failures, when asked)
//     observer: opened
//     wait for data (outside the locks, in slices a stop ends)
//     [own read lock] size, read at most ChunkBytes into the side's buffer
//     observer: dump(chunk)
//     [receiver's write lock] write the chunk -------> receiver device
//     ... next chunk, until the device is closed or fails
//     observer: closed (once per close)
//
// A full-duplex receiver is written while its own thread reads it: a write that
// blocks until the far end reads can never hold up that side's reading, which
// is what lets an echoing far end drain (it is blocked sending back to us). A
// receiver that is not full-duplex is written under its read lock too.

namespace UDL {

namespace {
constexpr unsigned int kDataWaitMs = 1000;  // an idle side asks its device about once a second
constexpr unsigned int kStopCheckMs = 100;  // how quickly a waiting relay notices a stop request
}  // namespace

ProxyInternal::ProxyInternal(const Base::String& locator, ProxyDumper* observer)
    : msLocator(locator), mpObserver(observer) {
    ::Thread::Synchronized guard(mReadLock);
    BaseDeviceResolver resolver;
    mpDevice.reset(resolver.resolve(locator, nullptr, nullptr));
    if (!mpDevice) throw Base::Exception(ErrProxy, ".", __LINE__, "the locator names no device: '" + locator + "'");
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

void Proxy::withDevice(const std::function<void(IO::Device&)>& f) {
    ::Thread::Synchronized reading(side().mReadLock);
    ::Thread::Synchronized writing(side().mWriteLock);
    f(*side().mpDevice);
}

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

void Proxy::ensureOpen() {
    ::Thread::Synchronized reading(side().mReadLock);
    if (side().mpDevice->isOpen()) return;
    // Closed: a partner's write fails at once, so the write lock is never waited for long.
    ::Thread::Synchronized writing(side().mWriteLock);
    side().mbOpened = false;
    side().mpDevice->open();
    side().mbOpened = true;
}

bool Proxy::isDeviceOpen() {
    ::Thread::Synchronized guard(side().mReadLock);
    return side().mpDevice->isOpen();
}

// At most one chunk, read into the side's buffer; 0 when nothing came.
long Proxy::readChunk() {
    IO::Device& device = *side().mpDevice;
    // The data wait is cut into slices so that a stop request ends it early.
    bool ready = false;
    for (unsigned int waited = 0; !ready && waited < kDataWaitMs && !isStopRequested(); waited += kStopCheckMs)
        ready = device.waitForData(kStopCheckMs);
    if (!ready) return 0;
    ::Thread::Synchronized guard(side().mReadLock);
    // One read of what is queued, bounded by the buffer: the chunk is passed on before
    // the device is asked anything else, so a close or error it reports next loses nothing.
    long queued = device.size();
    if (queued > 0) {
        long n = device.read(side().mBuffer.chars(), std::min(queued, ChunkBytes));
        if (n > 0) return n;
    }
    // Readable but nothing to read (a peer that went away): do not spin.
    waitForStop(kDataWaitMs);
    return 0;
}

void Proxy::deliver(long length) {
    ProxyInternal& self = side();
    if (self.mpObserver) {
        // The observer sees exactly the chunk; the buffer keeps its memory for the next one.
        self.mBuffer.resize(static_cast<std::size_t>(length));
        self.mpObserver->dump(self.msLocator, self.mpReceiver->msLocator, self.mBuffer);
        self.mBuffer.resize(static_cast<std::size_t>(ChunkBytes));
    }
    writeToReceiver(self.mBuffer.chars(), length);
}

namespace {
void writeAll(IO::Device& device, const char* data, long length) {
    try {
        long done = 0;
        while (done < length) {
            long n = device.write(data + done, length - done);
            if (n <= 0) break;
            done += n;
        }
    } catch (const Base::Exception&) {
        // The receiver is closed or failed: the rest of this chunk is dropped.
    }
}
}  // namespace

void Proxy::writeToReceiver(const char* data, long length) {
    ProxyInternal& receiver = *side().mpReceiver;
    {
        // Asked under the write lock, which keeps the receiver from being opened or closed meanwhile.
        ::Thread::Synchronized writing(receiver.mWriteLock);
        if (receiver.mpDevice->isFullDuplex()) {
            writeAll(*receiver.mpDevice, data, length);
            return;
        }
    }
    ::Thread::Synchronized reading(receiver.mReadLock);
    ::Thread::Synchronized writing(receiver.mWriteLock);
    writeAll(*receiver.mpDevice, data, length);
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
            // The stop request is read before every chunk too, so that a relay over a
            // device that stays open ends within one data wait. Whether the device is
            // still open is asked only when a wait brought nothing: a device that closes
            // says so then, or fails its next wait.
            while (!isStopRequested()) {
                long n = readChunk();
                if (n > 0) deliver(n);
                else if (!isDeviceOpen()) break;
            }
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
