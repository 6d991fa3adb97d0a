// UDL::SharedDevice: the reader's and the writer's way to one device.
#include <varonet/udl/SharedDevice.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include <varonet/base/Exception.h>

namespace UDL {

namespace {
// How long one look at a device that is not full-duplex holds the read lock:
// the most a write to it waits for its turn.
constexpr unsigned int kLookMs = 20;

using Clock = std::chrono::steady_clock;

/// Releases a lock taken by hand, when one was taken.
class Held {
public:
    explicit Held(Base::Lockable* lock) : mpLock(lock) {}
    ~Held() {
        if (mpLock) mpLock->unlock();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

private:
    Base::Lockable* mpLock;
};
}  // namespace

SharedDevice::SharedDevice(IO::Device& device) : mrDevice(device), mbWritable(device.isOpen()) {}

void SharedDevice::setWritable(bool writable) {
    // Under the write lock: a write in progress ends before the device is opened or closed.
    ::Thread::Synchronized writing(mWriteLock);
    mbWritable = writable;
}

bool SharedDevice::open() {
    ::Thread::Synchronized reading(mReadLock);
    if (isOpen()) return false;  // which refused writes from here on, had they been taken
    // Only the read lock is held while the device opens, which may take as long as a
    // caller takes to come: writers find it not writable and return at once.
    mrDevice.open();
    setWritable(true);
    return true;
}

bool SharedDevice::isOpen() {
    ::Thread::Synchronized reading(mReadLock);
    // A device opened by someone else (the resolver opens some) takes writes from now on.
    bool open = mrDevice.isOpen();
    if (open != mbWritable) setWritable(open);
    return open;
}

bool SharedDevice::waitForData(unsigned int ms) {
    // Reads may run beside a write: the wait needs no lock.
    if (mrDevice.isFullDuplex()) return mrDevice.waitForData(ms);
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        unsigned int look = static_cast<unsigned int>(std::clamp<long long>(left, 0, kLookMs));
        // A lock freed is not a lock handed over: without this, each look could take it
        // again before a waiting writer wakes, for as long as the reader keeps looking.
        const Clock::time_point turn = Clock::now() + std::chrono::milliseconds(kLookMs);
        while (miWritersWaiting.load() > 0 && Clock::now() < turn)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        {
            ::Thread::Synchronized reading(mReadLock);
            if (mrDevice.waitForData(look)) return true;
        }
        if (left <= static_cast<long long>(kLookMs)) return false;
    }
}

long SharedDevice::read(char* buffer, long most) {
    ::Thread::Synchronized reading(mReadLock);
    long queued = mrDevice.size();
    if (queued <= 0) return 0;
    return mrDevice.read(buffer, std::min(queued, most));
}

long SharedDevice::inWriteTurn(const std::function<long()>& f) {
    if (!mbWritable) return 0;
    // A device that is not full-duplex is written between the reader's looks. Its read
    // lock is waited for in turns, so that an open or close beginning meanwhile ends the wait.
    Base::Lockable* readLock = nullptr;
    if (!mrDevice.isFullDuplex()) {
        ++miWritersWaiting;
        bool taken = false;
        while (!(taken = mReadLock.trylock(kLookMs)) && mbWritable) {}
        --miWritersWaiting;
        if (!taken) return 0;
        readLock = &mReadLock;
    }
    Held reading(readLock);
    ::Thread::Synchronized writing(mWriteLock);
    if (!mbWritable) return 0;
    return f();
}

long SharedDevice::write(const char* data, long length) {
    return inWriteTurn([&] {
        long done = 0;
        try {
            while (mbWritable && done < length) {
                long n = mrDevice.write(data + done, length - done);
                if (n <= 0) break;
                done += n;
            }
        } catch (const Base::Exception&) {
            // Closed or failed: the reader finds out and reopens; the rest is not written.
        }
        return done;
    });
}

void SharedDevice::flush() {
    inWriteTurn([&] {
        try {
            mrDevice.flush();
        } catch (const Base::Exception&) {
            // As for a write: the reader finds the device closed or failed.
        }
        return 0L;
    });
}

void SharedDevice::withDevice(const std::function<void(IO::Device&)>& f) {
    ++miWritersWaiting;
    mReadLock.lock();
    --miWritersWaiting;
    Held reading(&mReadLock);
    ::Thread::Synchronized writing(mWriteLock);
    // f may open or close the device: writes follow what it did, however f ends.
    struct Follow {
        SharedDevice& shared;
        ~Follow() { shared.mbWritable = shared.mrDevice.isOpen(); }
    } follow{*this};
    f(mrDevice);
}

}  // namespace UDL
