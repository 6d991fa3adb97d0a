#include <varonet/udl/Proxy.h>

#include <varonet/base/Exception.h>
#include <varonet/udl/BaseDeviceResolver.h>
#include <varonet/udl/ProxyInternal.h>

namespace UDL {

namespace {
constexpr unsigned int kDataWaitMs = 1000;  // an idle side asks its device about once a second
constexpr unsigned int kStopCheckMs = 100;  // how quickly a waiting relay notices a stop request
}

ProxyInternal::ProxyInternal(const Base::String& locator, ProxyDumper* observer)
    : msLocator(locator), mpObserver(observer) {
    ::Thread::Synchronized guard(mLock);
    BaseDeviceResolver resolver;
    mpDevice = resolver.resolve(locator, nullptr, nullptr);
    if (!mpDevice) throw Base::Exception(0, ".", __LINE__, "the locator names no device: '" + locator + "'");
}

ProxyInternal::~ProxyInternal() {
    setReceiver(nullptr);
    delete mpDevice;
}

void ProxyInternal::setReceiver(ProxyInternal* receiver) {
    if (receiver) receiver->addReference();
    ProxyInternal* old = mpReceiver;
    mpReceiver = receiver;
    if (old && old->releaseReference()) delete old;
}

Proxy::Proxy(const Base::String& locator, ProxyDumper* observer)
    : mpInternal(new ProxyInternal(locator, observer)) {}

Proxy::Proxy(const Proxy& other) : ::Thread::Thread(), mpInternal(other.mpInternal) {
    mpInternal->addReference();
    ++mpInternal->miHandles;
}

Proxy& Proxy::operator=(const Proxy& other) {
    if (mpInternal == other.mpInternal) return *this;
    release();
    mpInternal = other.mpInternal;
    mpInternal->addReference();
    ++mpInternal->miHandles;
    return *this;
}

Proxy::~Proxy() {
    stop();
    // A device that waits without limit (a server waiting for its caller) is woken.
    if (mpInternal && mpInternal->mpDevice) mpInternal->mpDevice->wakeUp();
    join();
    release();
}

IO::Device* Proxy::getDevice() const { return mpInternal->mpDevice; }

const Base::String& Proxy::getLocator() const { return mpInternal->msLocator; }

void Proxy::release() {
    if (!mpInternal) return;
    // The last proxy of a side lets go of its receiver, which breaks the cycle two partners form.
    if (--mpInternal->miHandles == 0) mpInternal->setReceiver(nullptr);
    if (mpInternal->releaseReference()) delete mpInternal;
    mpInternal = nullptr;
}

void Proxy::partner(Proxy& other) {
    mpInternal->setReceiver(other.mpInternal);
    other.mpInternal->setReceiver(mpInternal);
}

void Proxy::receiver(const Proxy& other) { mpInternal->setReceiver(other.mpInternal); }

void Proxy::check() {
    if (!mpInternal->mpReceiver) throw Base::Exception(0, ".", __LINE__, "the proxy has no receiver");
    if (!mpInternal->mpDevice) throw Base::Exception(0, ".", __LINE__, "the proxy has no device");
}

void Proxy::ensureOpen() {
    ::Thread::Synchronized guard(mpInternal->mLock);
    if (mpInternal->mpDevice->isOpen()) return;
    mpInternal->mbOpened = false;
    mpInternal->mpDevice->open();
    mpInternal->mbOpened = true;
}

bool Proxy::isDeviceOpen() {
    ::Thread::Synchronized guard(mpInternal->mLock);
    return mpInternal->mpDevice->isOpen();
}

Base::ByteArray Proxy::readChunk() {
    Base::ByteArray chunk;
    IO::Device* device = mpInternal->mpDevice;
    // The data wait is cut into slices so that a stop request ends it early.
    bool ready = false;
    for (unsigned int waited = 0; !ready && waited < kDataWaitMs && !isStopRequested(); waited += kStopCheckMs)
        ready = device->waitForData(kStopCheckMs);
    if (!ready) return chunk;
    ::Thread::Synchronized guard(mpInternal->mLock);
    for (long n = device->size(); n != 0 && !device->isEOF(); n = device->size())
        if (device->read(chunk, n) <= 0) break;
    // Readable but nothing to read (a peer that went away): do not spin.
    if (chunk.isEmpty()) waitForStop(kDataWaitMs);
    return chunk;
}

void Proxy::writeToReceiver(const Base::ByteArray& chunk) {
    if (chunk.isEmpty()) return;
    ProxyInternal* receiver = mpInternal->mpReceiver;
    ::Thread::Synchronized guard(receiver->mLock);
    try {
        long done = 0, length = static_cast<long>(chunk.size());
        while (done < length) {
            long n = receiver->mpDevice->write(chunk.chars() + done, length - done);
            if (n <= 0) break;
            done += n;
        }
    } catch (const Base::Exception&) {
        // The receiver failed: the rest of this chunk is dropped.
    }
}

void Proxy::run() {
    check();
    ProxyInternal& side = *mpInternal;
    while (!isStopRequested()) {
        try {
            ensureOpen();
            if (side.mpObserver) side.mpObserver->opened(side.msLocator, side.mpReceiver->msLocator);
            // The stop request is read before every chunk too, so that a relay over a
            // device that stays open ends within one data wait.
            while (!isStopRequested() && isDeviceOpen()) {
                Base::ByteArray chunk = readChunk();
                if (chunk.isEmpty()) continue;
                if (side.mpObserver) side.mpObserver->dump(side.msLocator, side.mpReceiver->msLocator, chunk);
                writeToReceiver(chunk);
            }
        } catch (const Base::Exception&) {
            // Opening or reading failed: try again at once; the device's own time-outs pace the attempts.
        }
        if (side.mbNotifyClosed && side.mbOpened && !isDeviceOpen()) {
            if (side.mpObserver) side.mpObserver->closed(side.msLocator, side.mpReceiver->msLocator);
            side.mbOpened = false;
        }
    }
}

}  // namespace UDL
