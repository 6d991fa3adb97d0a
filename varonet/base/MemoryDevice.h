#pragma once
// Base::MemoryDevice: a seekable device over a byte array.
//
// Reads and writes start at the current position; a write past the end
// extends the array. size() is what is left to read from the position;
// getLength() is the whole array.

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>

namespace Base {

class VARONET_API MemoryDevice : public IO::Device {
public:
    /// Over an empty array of its own.
    MemoryDevice();
    /// Over a copy of length bytes.
    MemoryDevice(const char* data, long length);
    /// Over buffer, which stays the caller's and must outlive the device.
    explicit MemoryDevice(ByteArray* buffer);
    MemoryDevice(const MemoryDevice&) = delete;
    MemoryDevice& operator=(const MemoryDevice&) = delete;

    bool isOpen() override { return mbOpen; }
    void open() override { mbOpen = true; }
    void close() override { mbOpen = false; }
    String getName() override { return "MemoryDevice"; }

    long size() override;
    bool isEOF() override { return size() == 0; }
    /// Never waits: true when unread bytes are left.
    bool waitForData(unsigned int) override { return size() > 0; }
    long readInternal(char* buffer, long length) override;
    long write(const char* buffer, long length) override;
    using IO::OutputDevice::write;
    bool isReliable() override { return true; }

    /// Moves the position (clamped to the length).
    void seek(long position);
    long getPosition() const { return static_cast<long>(muPosition); }
    long getLength() const { return static_cast<long>(mpBuffer->size()); }
    /// Empties the array and rewinds.
    void clear();
    ByteArray& getBuffer() { return *mpBuffer; }

private:
    ByteArray mOwn;
    ByteArray* mpBuffer;
    std::size_t muPosition = 0;
    bool mbOpen = true;
};

}  // namespace Base
