#pragma once
// IO::WrapperDevice: forwards every operation to a wrapped device.
//
// Whether the wrapper owns the wrapped device is an explicit flag: the
// resolver builds owning chains (deleting a modem releases its line and the
// port under it), while a modem server's call modems share the line without
// owning it.

#include <memory>

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>

namespace IO {

class VARONET_API WrapperDevice : public Device {
public:
    /// Wraps device, which may be null. With owns true the wrapper takes
    /// ownership of device and deletes it with itself; with false the caller
    /// keeps it and must keep it alive while the wrapper uses it.
    WrapperDevice(Device* device, bool owns);
    WrapperDevice(const WrapperDevice&) = delete;
    WrapperDevice& operator=(const WrapperDevice&) = delete;
    ~WrapperDevice() override;

    Device* getUnderlying() const { return mpDevice; }
    bool ownsUnderlying() const { return mpOwned != nullptr; }

    bool isOpen() override;
    void open() override;
    void close() override;
    Base::String getName() override;
    long read(char* buffer, long length) override;
    using InputDevice::read;
    long size() override;
    bool isEOF() override;
    unsigned int getTimeout() override;
    bool waitForData(unsigned int ms) override;
    long getReadableBytes() override;
    long readInternal(char* buffer, long length) override;
    long write(const char* buffer, long length) override;
    using OutputDevice::write;
    void flush() override;
    void initialize() override;
    bool isReliable() override;
    void wakeUp() override;

protected:
    /// The wrapped device; throws IO::Exception (ErrNotOpen) when there is none.
    Device& underlying() const;

private:
    Device* mpDevice;                 // the wrapped device, owned or not
    std::unique_ptr<Device> mpOwned;  // the same device when the wrapper owns it
};

}  // namespace IO
