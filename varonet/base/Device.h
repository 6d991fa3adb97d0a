#pragma once
// The device family: every byte stream of the library is an IO::Device.
//
//   CommonDevice (virtual base)   open / close / isOpen / getName
//   InputDevice                   read, readInternal, size, isEOF, waitForData
//   OutputDevice                  write, flush
//   Device                        all of it, plus a lock (its manager's when managed)
//
// Reading: readInternal is the device's own primitive; read is what callers use.
// A plain device's read is one readInternal. An IO::UnreliableDevice's read
// collects bytes until the request is met or its read time-out has passed.

#include <cstdint>

#include <varonet/base/ByteArray.h>
#include <varonet/base/Export.h>
#include <varonet/base/Lockable.h>
#include <varonet/base/String.h>

namespace IO {

class DeviceManager;

class VARONET_API CommonDevice {
public:
    virtual ~CommonDevice() = default;
    virtual bool isOpen() = 0;
    /// Opens the device; throws when it cannot. Opening an open device does nothing.
    virtual void open() = 0;
    /// Closes the device; closing a closed device does nothing.
    virtual void close() = 0;
    virtual Base::String getName() = 0;
};

class VARONET_API InputDevice : public virtual CommonDevice {
public:
    /// Reads at most length bytes into buffer and returns how many came.
    /// Fewer than asked means no more were available within the device's
    /// time-out (or the end of the stream); 0 means nothing came.
    virtual long read(char* buffer, long length);
    /// Appends up to length bytes to out; returns the count appended. The
    /// first 64 KiB (or what is ready, if more) are one read; beyond that only
    /// what is ready at once is taken. out grows with the bytes that came, so
    /// a large length costs no memory by itself.
    long read(Base::ByteArray& out, long length);
    /// Big-endian integers; throw IO::Exception (ErrShortRead) when the stream ends first.
    std::uint32_t readInt32();
    std::uint16_t readInt16();
    /// Reads and drops count bytes (stops early at the end of the stream).
    virtual void skip(long count);
    /// Bytes that can be read now without waiting.
    virtual long size() = 0;
    /// True when nothing more will come.
    virtual bool isEOF() = 0;
    /// The device's read time-out in ms (0 = none of its own).
    virtual unsigned int getTimeout() { return 0; }
    /// Waits at most ms milliseconds for a byte to read; 0 only looks. True when one is there.
    virtual bool waitForData(unsigned int ms) = 0;
    /// Bytes a read can take at once; size() unless the device knows better.
    virtual long getReadableBytes() { return size(); }
    /// The device's own read: at most length bytes, blocking until at least
    /// one is there (or the device's own rule says otherwise); 0 at the end of the stream.
    virtual long readInternal(char* buffer, long length) = 0;
};

class VARONET_API OutputDevice : public virtual CommonDevice {
public:
    /// Writes length bytes; returns how many were taken (all, unless the device says otherwise).
    virtual long write(const char* buffer, long length) = 0;
    long write(const Base::ByteArray& bytes) { return write(bytes.chars(), static_cast<long>(bytes.size())); }
    long write(const Base::String& text) { return write(text.data(), static_cast<long>(text.length())); }
    /// Writes a 32-bit big-endian integer.
    void writeInt32(std::uint32_t value);
    /// Pushes buffered output on its way.
    virtual void flush() {}
};

}  // namespace IO

namespace Base {
/// Something that can tell whether input is ready.
class VARONET_API Selectable {
public:
    virtual ~Selectable() = default;
    /// True when input arrives within ms milliseconds.
    virtual bool isReadable(unsigned int ms) = 0;
};
}  // namespace Base

namespace IO {

class VARONET_API Device : public InputDevice, public OutputDevice, public Base::Selectable, public Base::Lockable {
public:
    Device() = default;
    Device(const Device& other)
        : CommonDevice(other), InputDevice(other), OutputDevice(other), Base::Selectable(other), Base::Lockable(other),
          mpManager(other.mpManager) {}
    Device& operator=(const Device& other) {
        mpManager = other.mpManager;
        return *this;
    }
    ~Device() override = default;

    bool isReadable(unsigned int ms) override { return waitForData(ms); }

    /// Called once the device is configured (the resolver's hand-over without a manager).
    virtual void initialize() {}
    /// True when the transport guarantees delivery (TCP, pipes); false by default.
    virtual bool isReliable() { return false; }
    /// True when one thread may read (wait, size, read, isOpen) while another
    /// writes, even when either call finds the device closed or failed and
    /// closes it; open and close still need both sides quiet. False by default.
    virtual bool isFullDuplex() { return false; }
    /// Ends a blocking open, read or wait that another thread is in. Devices
    /// whose waits are bounded anyway ignore it.
    virtual void wakeUp() {}

    // Locks go to the device manager when the device has one.
    void lock() override;
    bool trylock() override;
    bool trylock(unsigned int ms) override;
    void unlock() override;
    bool isLocked() override;

    void setDeviceManager(DeviceManager* manager) { mpManager = manager; }
    DeviceManager* getDeviceManager() const { return mpManager; }

private:
    DeviceManager* mpManager = nullptr;
};

}  // namespace IO
