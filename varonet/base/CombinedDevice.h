#pragma once
// IO::CombinedDevice: reads from one device and writes to another.

#include <memory>

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>

namespace IO {

class VARONET_API CombinedDevice : public Device {
public:
    /// Reads from input and writes to output (they may be one device). With
    /// owns true this device takes ownership of both and deletes them with
    /// itself; with false the caller keeps them alive while it is used.
    CombinedDevice(Device* input, Device* output, bool owns = false);
    CombinedDevice(const CombinedDevice&) = delete;
    CombinedDevice& operator=(const CombinedDevice&) = delete;
    ~CombinedDevice() override;

    bool isOpen() override { return mpInput->isOpen() && mpOutput->isOpen(); }
    void open() override;
    void close() override;
    Base::String getName() override;
    long read(char* buffer, long length) override { return mpInput->read(buffer, length); }
    using InputDevice::read;
    long size() override { return mpInput->size(); }
    bool isEOF() override { return mpInput->isEOF(); }
    unsigned int getTimeout() override { return mpInput->getTimeout(); }
    bool waitForData(unsigned int ms) override { return mpInput->waitForData(ms); }
    long getReadableBytes() override { return mpInput->getReadableBytes(); }
    long readInternal(char* buffer, long length) override { return mpInput->readInternal(buffer, length); }
    long write(const char* buffer, long length) override { return mpOutput->write(buffer, length); }
    using OutputDevice::write;
    void flush() override { mpOutput->flush(); }
    bool isReliable() override { return mpInput->isReliable() && mpOutput->isReliable(); }

    Device* getInput() const { return mpInput; }
    Device* getOutput() const { return mpOutput; }

private:
    Device* mpInput;
    Device* mpOutput;
    std::unique_ptr<Device> mpOwnedInput;   // input when owned
    std::unique_ptr<Device> mpOwnedOutput;  // output when owned and not the input
};

}  // namespace IO
