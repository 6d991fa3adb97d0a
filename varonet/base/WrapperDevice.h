#pragma once
// IO::WrapperDevice: forwards every operation to a wrapped device.
//
// Whether the wrapper owns the wrapped device is an explicit flag: the
// resolver builds owning chains (deleting a modem releases its line and the
// port under it), while a modem server's call modems share the line without
// owning it.

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>

namespace IO {

class VARONET_API WrapperDevice : public Device {
public:
    /// device may be null; with owns true the wrapper deletes it.
    WrapperDevice(Device* device, bool owns);
    WrapperDevice(const WrapperDevice&) = delete;
    WrapperDevice& operator=(const WrapperDevice&) = delete;
    ~WrapperDevice() override;

    Device* getUnderlying() const { return mpDevice; }
    bool ownsUnderlying() const { return mbOwns; }
    void setOwnsUnderlying(bool owns) { mbOwns = owns; }

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
    Device* mpDevice;
    bool mbOwns;
};

}  // namespace IO
